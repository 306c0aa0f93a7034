#include "plugin/logging/LoggingHandler.h"

#include <oleauto.h>

#include <string>

#include "plugin/core/OleDate.h"
#include "plugin/core/Parleymanager.h"
#include "plugin/logging/LogManager.h"
#include "plugin/logging/ObjectCache.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/RichEditBridge.h"

namespace parleym {

LoggingHandler::~LoggingHandler() {
    try {
        Save();
    } catch (...) {
    }
}

void LoggingHandler::Start(CParleymanager* manager, HWND conversationWindow, HWND historyControl,
                           const CContactInfo& contact, int conversationNumber) {
    contact_ = contact;
    owner_ = manager;
    conversationWindow_ = conversationWindow;
    historyControl_ = historyControl;
    historyStart_ = owner_ ? owner_->HistoryStartOf(conversationWindow) : 0;

    logEntry_.start = CurrentOleDate();
    if (conversationNumber == -1 && owner_) conversationNumber = owner_->LogStore().TakeNextNumber();
    conversationNumber_ = conversationNumber;
    logEntry_.number = conversationNumber;
    logEntry_.contact = contact_.signInName;
    Save();
}

void LoggingHandler::Save() {
    if (!owner_) return;
    CLogManager& store = owner_->LogStore();
    if (!store.IsLoggingEnabled()) return;
    if (!historyControl_ || !IsWindow(historyControl_)) return;
    const LONG length = HistoryTextLength(historyControl_);
    if (length < historyStart_) {
        // The messenger emptied the history: none of the earlier text is in it any more.
        historyStart_ = 0;
        owner_->SetHistoryStart(conversationWindow_, 0);
    }
    if (length == historyStart_) return;

    CMessageContent content;
    CRichEditBridge bridge(&owner_->ObjectCache(), historyControl_, true);
    // A failed capture keeps what is stored; the next change saves again.
    if (!bridge.CaptureFrom(historyStart_, content, true, true, &objectKeys_)) {
        bridge.Release();
        return;
    }
    logEntry_.end = CurrentOleDate();
    store.SaveConversation(logEntry_, content, &written_);
    bridge.Release();
}

} // namespace parleym

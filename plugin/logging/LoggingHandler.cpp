#include "plugin/logging/LoggingHandler.h"

#include <oleauto.h>

#include <string>

#include "plugin/core/Parleymanager.h"
#include "plugin/logging/LogManager.h"
#include "plugin/logging/ObjectCache.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/RichEditBridge.h"

namespace parleym {

double CurrentOleDate() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    now.wMilliseconds = 0;
    double date = 0;
    SystemTimeToVariantTime(&now, &date);
    return date;
}

namespace {

// The index is written only when the account closes; after a messenger that ended
// without that, its next number may name a conversation already stored. Such a
// stream is never reused, so the earlier conversation is not written over.
int TakeUnusedNumber(CLogManager& store) {
    for (;;) {
        const int number = store.TakeNextNumber();
        CMessageContent existing;
        if (store.LoadConversation(std::to_string(number).c_str(), existing) != S_OK) return number;
    }
}

} // namespace

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

    logEntry_.start = CurrentOleDate();
    if (conversationNumber == -1 && owner_) conversationNumber = TakeUnusedNumber(owner_->LogStore());
    conversationNumber_ = conversationNumber;
    logEntry_.number = conversationNumber;
    logEntry_.contact = contact_.signInName;
    Save();
}

void LoggingHandler::Save() {
    if (!owner_) return;
    CLogManager& store = owner_->LogStore();
    if (!store.IsLoggingEnabled()) return;
    if (!historyControl_ || !IsWindow(historyControl_) || GetWindowTextLengthA(historyControl_) == 0) return;

    CMessageContent content;
    CRichEditBridge bridge(&owner_->ObjectCache(), historyControl_, true);
    bridge.Capture(content, true, true, false);
    logEntry_.end = CurrentOleDate();
    store.SaveConversation(logEntry_, content);
    bridge.Release();
}

} // namespace parleym

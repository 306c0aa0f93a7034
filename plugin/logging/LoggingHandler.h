#pragma once
// Base of the handlers whose conversations are logged: keeps the window's log
// entry and writes the whole history control into the log store on Save.
#include <windows.h>

#include "plugin/core/ContactInfo.h"
#include "plugin/logging/ConversationHandler.h"
#include "plugin/logging/ConversationIndexCodec.h"
#include "plugin/logging/LogManager.h"
#include "plugin/storage/CapturedObjectKeys.h"

namespace parleym {

class LoggingHandler : public ConversationHandler {
public:
    // The last save: the window closed, the handler was replaced or the plug-in unloads.
    ~LoggingHandler() override;

    int GetConversationNumber() const override { return conversationNumber_; }

    // Rewrites the conversation's stream with everything the history shows.
    // Nothing while logging is off or the history is empty.
    void Save();

    const LogEntry& Entry() const { return logEntry_; }
    const CContactInfo& Contact() const { return contact_; }
    HWND ConversationWindow() const { return conversationWindow_; }
    HWND HistoryControl() const { return historyControl_; }

protected:
    LoggingHandler() = default;

    // conversationNumber -1 takes a new number from the log store; any other
    // value continues that conversation (a replacement handler on the same window).
    void Start(CParleymanager* manager, HWND conversationWindow, HWND historyControl, const CContactInfo& contact,
               int conversationNumber);

    int conversationNumber_ = -1;
    CContactInfo contact_;
    CParleymanager* owner_ = nullptr;
    HWND conversationWindow_ = nullptr;
    HWND historyControl_ = nullptr;
    LogEntry logEntry_;
    // Where this account's part of the history begins: the text before it was
    // logged under the account signed in before.
    LONG historyStart_ = 0;
    // What the last save wrote and which pictures it had stored: the next
    // save writes what changed and stores only pictures new to the history.
    WrittenConversation written_;
    CapturedObjectKeys objectKeys_;
};

} // namespace parleym

#include "plugin/logging/LogHandler.h"

#include "plugin/core/ClientProfile.h"
#include "plugin/core/Parleymanager.h"

namespace parleym {

LogHandler::LogHandler(const CContactInfo& contact) : createdFor_(contact) {}

BOOL LogHandler::Attach(CParleymanager* manager, HWND conversationWindow, int conversationNumber) {
    HWND history = nullptr;
    if (manager && manager->Profile()) history = manager->Profile()->FindConversationControls(conversationWindow).history;
    Start(manager, conversationWindow, history, createdFor_, conversationNumber);
    return TRUE;
}

BOOL LogHandler::IsForContact(const CContactInfo& contact) {
    return contact.SameNames(createdFor_) ? TRUE : FALSE;
}

void LogHandler::OnHistoryChanged(HWND control) {
    if (control && control == historyControl_) Save();
}

} // namespace parleym

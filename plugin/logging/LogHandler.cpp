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
    return contact.SameContact(createdFor_) ? TRUE : FALSE;
}

void LogHandler::UpdateContact(const CContactInfo& contact) {
    if (!contact.SameContact(createdFor_)) return;
    createdFor_.friendlyName = contact.friendlyName;
    createdFor_.status = contact.status;
    if (contact_.SameContact(contact)) {
        contact_.friendlyName = contact.friendlyName;
        contact_.status = contact.status;
    }
}

void LogHandler::OnHistoryChanged(HWND control) {
    if (control && control == historyControl_) Save();
}

} // namespace parleym

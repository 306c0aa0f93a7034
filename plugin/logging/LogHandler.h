#pragma once
// The handler of an ordinary conversation window: logs it, changes nothing.
#include "plugin/logging/LoggingHandler.h"

namespace parleym {

class LogHandler : public LoggingHandler {
public:
    explicit LogHandler(const CContactInfo& contact);

    BOOL Attach(CParleymanager* manager, HWND conversationWindow, int conversationNumber) override;
    void Detach() override {}
    const char* GetTitle() override { return nullptr; }
    void OnKeyDown(UINT, HWND) override {}
    void OnButton(HWND) override {}
    void OnSize() override {}
    void OnCommand(HWND, WPARAM, LPARAM) override {}
    // A logging window stays as it is whatever the contact does.
    BOOL OnContactStatus(const CContactInfo&) override { return TRUE; }
    BOOL IsForContact(const CContactInfo& contact) override;
    void UpdateContact(const CContactInfo& contact) override;
    int GetKind() override { return kLogHandlerKind; }
    void OnHistoryChanged(HWND control) override;
    void OnEditChange(HWND) override {}

private:
    CContactInfo createdFor_;
};

} // namespace parleym

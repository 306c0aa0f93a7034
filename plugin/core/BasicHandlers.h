#pragma once
// Handlers for the kinds whose features are not in the plug-in yet: they
// track their window and contact and otherwise leave the window alone.
#include <memory>

#include "plugin/core/ContactInfo.h"
#include "plugin/logging/ConversationHandler.h"

namespace parleym {

class BasicConversationHandler : public ConversationHandler {
public:
    BasicConversationHandler(int kind, const CContactInfo& contact, BOOL keepsWindow)
        : kind_(kind), contact_(contact), keepsWindow_(keepsWindow) {}

    BOOL Attach(CParleymanager*, HWND window, int conversationNumber) override {
        window_ = window;
        number_ = conversationNumber;
        return TRUE;
    }
    void Detach() override {}
    const char* GetTitle() override { return nullptr; }
    void OnKeyDown(UINT, HWND) override {}
    void OnButton(HWND) override {}
    void OnSize() override {}
    void OnCommand(HWND, WPARAM, LPARAM) override {}
    BOOL OnContactStatus(const CContactInfo&) override { return keepsWindow_; }
    BOOL IsForContact(const CContactInfo& contact) override { return contact.SameContact(contact_) ? 1 : 0; }
    int GetKind() override { return kind_; }
    void OnHistoryChanged(HWND) override {}
    void OnEditChange(HWND) override {}
    int GetConversationNumber() const override { return number_; }
    void UpdateContact(const CContactInfo& contact) override {
        if (contact.SameContact(contact_)) contact_ = contact;
    }

private:
    int kind_;
    CContactInfo contact_;
    BOOL keepsWindow_;
    HWND window_ = nullptr;
    int number_ = -1;
};

} // namespace parleym

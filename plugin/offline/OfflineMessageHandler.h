#pragma once
// The conversation window of a contact who is offline: what the user types is
// kept in the offline message store and shown over the history; when the
// contact comes online the kept messages are sent through the window.
#include <windows.h>

#include <memory>
#include <string>

#include "plugin/core/ContactInfo.h"
#include "plugin/logging/ConversationHandler.h"
#include "plugin/storage/RichEditBridge.h"

namespace parleym {

class CMessageContent;

class OfflineMessageHandler : public ConversationHandler {
public:
    explicit OfflineMessageHandler(const CContactInfo& contact);
    ~OfflineMessageHandler() override;

    BOOL Attach(CParleymanager* manager, HWND conversationWindow, int conversationNumber) override;
    void Detach() override;
    const char* GetTitle() override;
    void OnKeyDown(UINT virtualKey, HWND control) override;
    void OnButton(HWND control) override;
    void OnSize() override;
    void OnCommand(HWND window, WPARAM command, LPARAM parameter) override;
    BOOL OnContactStatus(const CContactInfo& contact) override;
    BOOL IsForContact(const CContactInfo& contact) override;
    int GetKind() override { return kOfflineMessageHandlerKind; }
    void OnHistoryChanged(HWND) override {}
    void OnEditChange(HWND) override {}
    int GetConversationNumber() const override { return conversationNumber_; }
    void UpdateContact(const CContactInfo& contact) override;

    HWND Overlay() const { return overlay_; }
    bool IsAccepting() const { return accepting_ != 0; }

private:
    void ShowPending();
    void Compose();
    // A message the store cannot take stays in the input, with a word why.
    void KeepUnstored();
    // Sends the kept messages in order, each leaving the store as it goes; stops
    // at a click the messenger refuses, or when the contact or account goes.
    void Deliver();
    void AppendToOverlay(const CMessageContent& content);
    void AppendEmptyParagraph();
    void FocusOverlayThenInput();
    void DestroyOverlay();

    int conversationNumber_ = -1;
    CParleymanager* owner_ = nullptr;
    CContactInfo contact_;
    std::string title_;
    std::string savedTitle_;
    HWND conversationWindow_ = nullptr;
    HWND historyControl_ = nullptr;
    HWND inputControl_ = nullptr;
    HWND sendButton_ = nullptr;
    HWND overlay_ = nullptr;
    int accepting_ = 1;
    bool delivering_ = false;
    std::unique_ptr<CRichEditBridge> overlayBridge_;
    bool historyClipped_ = false;  // we gave the history WS_CLIPSIBLINGS
};

// "[Offline message on <date and time>] " for this moment, in the user's default format.
std::string OfflineMessagePrefix();

} // namespace parleym

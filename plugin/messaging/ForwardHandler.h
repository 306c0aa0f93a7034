#pragma once
// The handler of a conversation window whose conversation is sent on, as it
// goes, to another contact through a second (minimised) conversation window.
// The conversation goes on being logged under its number.
#include <windows.h>

#include <string>

#include "plugin/core/ContactInfo.h"
#include "plugin/logging/LoggingHandler.h"

namespace parleym {

class ForwardHandler : public LoggingHandler {
public:
    ForwardHandler();
    ~ForwardHandler() override;

    BOOL Attach(CParleymanager* manager, HWND conversationWindow, int conversationNumber) override;
    // Gives the window back its title and its "Forward conversation..." item.
    void Detach() override;
    const char* GetTitle() override { return title_.empty() ? nullptr : title_.c_str(); }
    void OnKeyDown(UINT, HWND) override {}
    void OnButton(HWND) override {}
    void OnSize() override {}
    void OnCommand(HWND, WPARAM, LPARAM) override {}
    // Only the source contact going offline ends forwarding.
    BOOL OnContactStatus(const CContactInfo& contact) override;
    BOOL IsForContact(const CContactInfo& contact) override;
    void UpdateContact(const CContactInfo& contact) override;
    int GetKind() override { return kForwardHandlerKind; }
    void OnHistoryChanged(HWND control) override;
    // New text of the source history is forwarded.
    void OnEditChange(HWND control) override;

    // Takes the target and opens the window to it; FALSE when it cannot be opened.
    BOOL StartForward(const CContactInfo& target);
    BOOL OpenForwardWindow();
    // The forwarding title and the "Cancel forward" item in the source window.
    void ShowForwarding();

    const CContactInfo& SourceContact() const { return sourceContact_; }
    const CContactInfo& Target() const { return target_; }
    HWND ForwardWindow() const { return forwardWindow_; }

private:
    // New whole lines of the source history, read as the messenger writes them:
    // "Name says:" and the text that follows make one forwarded message, any
    // other line (a notice) is one of its own, blank lines are skipped.
    void ForwardNewText();
    // False once the handler has gone: a click of the forward window ran
    // events that ended it (the caller returns at once).
    bool TakeLine(const std::string& line);
    // The message gathered so far, if any, behind the header before the first.
    bool SendPending();
    bool SendToForwardWindow(const std::string& text, UINT sendId);

    CParleymanager* manager_ = nullptr;
    HWND sourceWindow_ = nullptr;
    HWND sourceHistory_ = nullptr;
    HWND sourceInput_ = nullptr;
    HWND sourceSend_ = nullptr;
    std::string title_;
    std::string savedTitle_;
    CContactInfo target_;
    CContactInfo sourceContact_;
    LONG forwardedUpTo_ = 0;
    HWND forwardWindow_ = nullptr;
    HWND forwardInput_ = nullptr;
    HWND forwardSend_ = nullptr;
    std::string pendingSays_;  // "Name says:" of the message being gathered
    std::string pendingText_;
    int headerDue_ = 1;
};

// Replaces, in the "Parleym" popup of the window's menu bar (searched from the
// last item), the item `from` by `text` with command `to`. False when absent.
bool ReplaceParleymMenuItem(HWND window, UINT from, UINT to, const char* text);

} // namespace parleym

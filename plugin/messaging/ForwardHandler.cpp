#include "plugin/messaging/ForwardHandler.h"

#include <richedit.h>

#include <cstdio>

#include "plugin/core/ClientProfile.h"
#include "plugin/core/Parleymanager.h"
#include "plugin/core/PluginMenus.h"
#include "plugin/core/UserMessage.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/RichEditBridge.h"
#include "shared/Protocol.h"

namespace parleym {
namespace {

// The selection of the history, put back after the handler looked at its text.
class SavedSelection {
public:
    explicit SavedSelection(HWND control) : control_(control) {
        SendMessageA(control_, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range_));
    }
    ~SavedSelection() { SendMessageA(control_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range_)); }
    SavedSelection(const SavedSelection&) = delete;
    SavedSelection& operator=(const SavedSelection&) = delete;

private:
    HWND control_;
    CHARRANGE range_{};
};

LONG EndOfText(HWND control) {
    SendMessageA(control, EM_SETSEL, 0, -1);
    CHARRANGE all{};
    SendMessageA(control, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&all));
    return all.cpMax;
}

// The last character already handled: the history's closing line end, which
// the next piece's leading line ends strip again. Never before the start.
LONG HandledUpTo(LONG end) { return end > 0 ? end - 1 : 0; }

bool OnlyBlankLines(const std::string& text) {
    return text.find_first_not_of("\r\n ") == std::string::npos;
}

// Forwarded text sent into a window whose own conversation is forwarded (two
// windows forwarding to each other) would be forwarded back at once, without
// end, inside the send: what forwarding writes is never forwarded again. All of
// it runs on the messenger's one user-interface thread.
int g_forwardSendsRunning = 0;

class ForwardSendRunning {
public:
    ForwardSendRunning() { ++g_forwardSendsRunning; }
    ~ForwardSendRunning() { --g_forwardSendsRunning; }
    ForwardSendRunning(const ForwardSendRunning&) = delete;
    ForwardSendRunning& operator=(const ForwardSendRunning&) = delete;
};

} // namespace

bool ReplaceParleymMenuItem(HWND window, UINT from, UINT to, const char* text) {
    HMENU menuBar = window ? GetMenu(window) : nullptr;
    if (!menuBar) return false;
    for (int i = GetMenuItemCount(menuBar) - 1; i >= 0; --i) {
        char itemText[256] = {};
        GetMenuStringA(menuBar, static_cast<UINT>(i), itemText, sizeof(itemText), MF_BYPOSITION);
        if (lstrcmpiA(itemText, kParleymMenuText) != 0) continue;
        HMENU popup = GetSubMenu(menuBar, i);
        if (!popup) return false;
        const bool replaced = ModifyMenuA(popup, from, MF_BYCOMMAND | MF_STRING, to, text) != FALSE;
        DrawMenuBar(window);
        return replaced;
    }
    return false;
}

ForwardHandler::ForwardHandler() = default;
ForwardHandler::~ForwardHandler() = default;

BOOL ForwardHandler::Attach(CParleymanager* manager, HWND conversationWindow, int conversationNumber) {
    manager_ = manager;
    sourceWindow_ = conversationWindow;
    CClientProfile* profile = manager ? manager->Profile() : nullptr;
    if (profile) {
        const ConversationControls controls = profile->FindConversationControls(conversationWindow);
        sourceHistory_ = controls.history;
        sourceInput_ = controls.input;
        sourceSend_ = controls.sendButton;
    }
    if (sourceHistory_) {
        // Every change of the history must reach OnEditChange.
        const LRESULT mask = SendMessageA(sourceHistory_, EM_GETEVENTMASK, 0, 0);
        SendMessageA(sourceHistory_, EM_SETEVENTMASK, 0, mask | ENM_CHANGE);
    }
    if (profile) sourceContact_ = profile->FindConversationContact(*manager, conversationWindow);
    if (sourceHistory_) {
        // What the history already shows is never forwarded.
        SavedSelection keep(sourceHistory_);
        forwardedUpTo_ = HandledUpTo(EndOfText(sourceHistory_));
    }
    Start(manager, conversationWindow, sourceHistory_, sourceContact_, conversationNumber);
    return TRUE;
}

void ForwardHandler::Detach() {
    title_.clear();
    if (sourceWindow_ && IsWindow(sourceWindow_)) SetWindowTextA(sourceWindow_, savedTitle_.c_str());
    ReplaceParleymMenuItem(sourceWindow_, CMD_RESELECT_HANDLER, CMD_FORWARD_CONVERSATION, "Forward conversation...");
}

BOOL ForwardHandler::OnContactStatus(const CContactInfo& contact) {
    return (!contact.SameNames(sourceContact_) || contact.status == kContactOnline) ? TRUE : FALSE;
}

BOOL ForwardHandler::IsForContact(const CContactInfo& contact) {
    return contact.SameNames(sourceContact_) ? TRUE : FALSE;
}

void ForwardHandler::OnHistoryChanged(HWND control) {
    if (control && control == sourceHistory_) Save();
}

void ForwardHandler::OnEditChange(HWND control) {
    if (control && control == sourceHistory_) ForwardNewText();
}

BOOL ForwardHandler::StartForward(const CContactInfo& target) {
    target_ = target;
    char title[256] = {};
    if (sourceWindow_) GetWindowTextA(sourceWindow_, title, 255);
    savedTitle_ = title;
    title_ = savedTitle_ + "(Forward to " + target_.friendlyName + ")";
    return OpenForwardWindow();
}

BOOL ForwardHandler::OpenForwardWindow() {
    if (!manager_) return FALSE;
    HWND window = nullptr;
    HRESULT hr = E_FAIL;
    try {
        hr = manager_->OpenConversation(target_.signInName, window);
    } catch (...) {
        ShowUserMessage(sourceWindow_, "Failed to create messenger window. Unknown error", "Error",
                        MB_ICONERROR | MB_OK);
        return FALSE;
    }
    if (FAILED(hr)) {
        char text[160];
        std::snprintf(text, sizeof(text),
                      "Failed to open forward window. Unable to create messenger conversation window. Code: 0x%0lX",
                      static_cast<unsigned long>(hr));
        ShowUserMessage(sourceWindow_, text, "Error", MB_ICONERROR | MB_OK);
        return FALSE;
    }
    forwardWindow_ = window;
    ShowWindow(forwardWindow_, SW_MINIMIZE);
    PostMessageA(forwardWindow_, WM_COMMAND, CMD_TRACK_WINDOW, reinterpret_cast<LPARAM>(forwardWindow_));
    // The source comes back to the front once the forward window has been set up.
    PostMessageA(forwardWindow_, WM_COMMAND, CMD_SET_FOREGROUND, reinterpret_cast<LPARAM>(sourceWindow_));
    if (CClientProfile* profile = manager_->Profile()) {
        const ConversationControls controls = profile->FindConversationControls(forwardWindow_);
        forwardInput_ = controls.input;
        forwardSend_ = controls.sendButton;
    }
    SetForegroundWindow(sourceWindow_);
    return TRUE;
}

void ForwardHandler::ShowForwarding() {
    if (sourceWindow_) SetWindowTextA(sourceWindow_, title_.c_str());
    ReplaceParleymMenuItem(sourceWindow_, CMD_FORWARD_CONVERSATION, CMD_RESELECT_HANDLER, "Cancel forward");
}

void ForwardHandler::SendToForwardWindow(const std::string& text, UINT sendId) {
    ForwardSendRunning running;
    if (forwardInput_) SetWindowTextA(forwardInput_, text.c_str());
    SendMessageA(forwardWindow_, WM_COMMAND, MAKEWPARAM(sendId, BN_CLICKED), reinterpret_cast<LPARAM>(forwardSend_));
    SetForegroundWindow(sourceWindow_);
}

void ForwardHandler::ForwardNewText() {
    if (!manager_ || !sourceHistory_) return;
    SavedSelection keep(sourceHistory_);
    const LONG end = EndOfText(sourceHistory_);
    if (forwardedUpTo_ == end) return;
    // A history that was emptied starts over from its beginning.
    if (forwardedUpTo_ > end) forwardedUpTo_ = 0;
    if (g_forwardSendsRunning > 0) {
        forwardedUpTo_ = HandledUpTo(end);
        return;
    }
    SendMessageA(sourceHistory_, EM_SETSEL, static_cast<WPARAM>(forwardedUpTo_), end);
    CMessageContent content;
    {
        CRichEditBridge bridge(&manager_->ObjectCache(), sourceHistory_, true);
        bridge.Capture(content, false, false, true);
        bridge.Release();
    }
    forwardedUpTo_ = HandledUpTo(end);
    std::string text = content.text;
    if (OnlyBlankLines(text)) return;
    text.erase(0, text.find_first_not_of("\r\n"));
    // The piece's closing line end (the history's last paragraph mark comes with
    // it) would split the joined message into two lines.
    text.erase(text.find_last_not_of("\r\n") + 1);

    if (!forwardWindow_ || !IsWindow(forwardWindow_)) {
        // The user closed it; without a window this piece is dropped as if sent.
        if (!OpenForwardWindow()) {
            pendingText_.clear();
            return;
        }
    }
    const UINT sendId = static_cast<UINT>(GetDlgCtrlID(forwardSend_));
    if (pendingText_.empty()) {
        pendingText_ = "[FW] " + text;
        return;
    }
    pendingText_ += " " + text;
    if (headerDue_) {
        SendToForwardWindow("[Forward conversation with " + sourceContact_.friendlyName + "]", sendId);
        headerDue_ = 0;
    }
    SendToForwardWindow(pendingText_, sendId);
    pendingText_.clear();
}

} // namespace parleym

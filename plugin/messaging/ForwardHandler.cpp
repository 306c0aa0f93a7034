#include "plugin/messaging/ForwardHandler.h"

#include <richedit.h>

#include <cstdio>

#include "plugin/core/ClientProfile.h"
#include "plugin/core/Parleymanager.h"
#include "plugin/core/PluginMenus.h"
#include "plugin/core/TextConvert.h"
#include "plugin/core/UserMessage.h"
#include "shared/Protocol.h"

namespace parleym {
namespace {

// Characters in the control, a paragraph end counting as one (as positions do).
LONG TextLength(HWND control) {
    GETTEXTLENGTHEX query{GTL_NUMCHARS | GTL_PRECISE, 1200};
    const LRESULT length = SendMessageW(control, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&query), 0);
    return length > 0 ? static_cast<LONG>(length) : 0;
}

// The text between two positions, one character per position (paragraph ends
// as CR). Asked for as UTF-16 whatever the control's character set (the MSN
// profile's histories are RichEdit20A).
std::wstring TextRange(HWND control, LONG from, LONG to) {
    if (to <= from) return std::wstring();
    std::wstring text(static_cast<size_t>(to) + 1, L'\0');
    GETTEXTEX how{static_cast<DWORD>(text.size() * sizeof(wchar_t)), GT_DEFAULT, 1200, nullptr, nullptr};
    const LRESULT copied =
        SendMessageW(control, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&how), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    return text.size() > static_cast<size_t>(from) ? text.substr(static_cast<size_t>(from)) : std::wstring();
}

// The messenger's line before each message: "Name says:".
bool IsSaysLine(const std::string& line) {
    static const char kSays[] = " says:";
    const size_t length = sizeof(kSays) - 1;
    return line.size() > length && line.compare(line.size() - length, length, kSays) == 0;
}

bool IsBlank(const std::string& line) { return line.find_first_not_of(" \t\v") == std::string::npos; }

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
    // What the history already shows is never forwarded.
    if (sourceHistory_) forwardedUpTo_ = TextLength(sourceHistory_);
    Start(manager, conversationWindow, sourceHistory_, sourceContact_, conversationNumber);
    return TRUE;
}

void ForwardHandler::Detach() {
    title_.clear();
    if (sourceWindow_ && IsWindow(sourceWindow_)) SetWindowTextA(sourceWindow_, savedTitle_.c_str());
    ReplaceParleymMenuItem(sourceWindow_, CMD_RESELECT_HANDLER, CMD_FORWARD_CONVERSATION, "Forward conversation...");
}

BOOL ForwardHandler::OnContactStatus(const CContactInfo& contact) {
    return (!contact.SameContact(sourceContact_) || contact.status == kContactOnline) ? TRUE : FALSE;
}

// By sign-in name, like every handler: a renamed contact is still the one forwarded.
BOOL ForwardHandler::IsForContact(const CContactInfo& contact) {
    return contact.SameContact(sourceContact_) ? TRUE : FALSE;
}

void ForwardHandler::UpdateContact(const CContactInfo& contact) {
    if (!contact.SameContact(sourceContact_)) return;
    sourceContact_.friendlyName = contact.friendlyName;
    sourceContact_.status = contact.status;
    if (contact_.SameContact(contact)) {
        contact_.friendlyName = contact.friendlyName;
        contact_.status = contact.status;
    }
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
    // The boxes wait until the handlers are settled: one shown now would run the
    // messenger's events in the middle of a handler swap or of forwarding.
    try {
        hr = manager_->OpenConversation(target_.signInName, window);
    } catch (...) {
        ShowOwnedError(sourceWindow_, "Failed to create messenger window. Unknown error", "Error");
        return FALSE;
    }
    if (FAILED(hr)) {
        char text[160];
        std::snprintf(text, sizeof(text),
                      "Failed to open forward window. Unable to create messenger conversation window. Code: 0x%0lX",
                      static_cast<unsigned long>(hr));
        ShowOwnedError(sourceWindow_, text, "Error");
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

bool ForwardHandler::SendToForwardWindow(const std::string& text, UINT sendId) {
    const std::weak_ptr<const void> life = Life();
    ForwardSendRunning running;
    if (forwardInput_) SetWindowTextA(forwardInput_, text.c_str());
    SendMessageA(forwardWindow_, WM_COMMAND, MAKEWPARAM(sendId, BN_CLICKED), reinterpret_cast<LPARAM>(forwardSend_));
    // The click can run the messenger's events, and they may have ended this handler.
    if (life.expired()) return false;
    SetForegroundWindow(sourceWindow_);
    return true;
}

void ForwardHandler::ForwardNewText() {
    if (!manager_ || !sourceHistory_) return;
    const LONG end = TextLength(sourceHistory_);
    // A history that was emptied starts over from its beginning.
    if (forwardedUpTo_ > end) forwardedUpTo_ = 0;
    if (forwardedUpTo_ == end) return;
    if (g_forwardSendsRunning > 0) {
        forwardedUpTo_ = end;
        return;
    }
    // Whole lines only: the rest of a line (a message's text after a picture)
    // comes with a later insertion.
    const std::wstring added = TextRange(sourceHistory_, forwardedUpTo_, end);
    const size_t lastEnd = added.find_last_of(L"\r\n");
    if (lastEnd == std::wstring::npos) return;
    forwardedUpTo_ += static_cast<LONG>(lastEnd) + 1;
    std::wstring lines = added.substr(0, lastEnd + 1);
    for (wchar_t& c : lines)
        if (c == 0xFFFC) c = L' ';  // a picture
    size_t start = 0;
    while (start < lines.size()) {
        const size_t stop = lines.find_first_of(L"\r\n", start);
        if (!TakeLine(AnsiFromWide(lines.c_str() + start, static_cast<int>(stop - start)))) return;
        start = stop + 1;
    }
    // Nothing of the next line yet: the message is complete.
    if (lastEnd + 1 == added.size()) SendPending();
}

bool ForwardHandler::TakeLine(const std::string& line) {
    if (IsBlank(line)) return true;
    if (IsSaysLine(line)) {
        if (!SendPending()) return false;
        pendingSays_ = line;
        return true;
    }
    // A line after "Name says:" is that message's; any other is a notice of its own.
    if (pendingSays_.empty()) {
        if (!SendPending()) return false;
        pendingText_ = line;
        return SendPending();
    }
    pendingText_ += (pendingText_.empty() ? "" : "\r\n") + line;
    return true;
}

bool ForwardHandler::SendPending() {
    if (pendingText_.empty()) return true;
    const std::string message = "[FW] " + (pendingSays_.empty() ? pendingText_ : pendingSays_ + " " + pendingText_);
    pendingSays_.clear();
    pendingText_.clear();
    const std::weak_ptr<const void> life = Life();
    if (!forwardWindow_ || !IsWindow(forwardWindow_)) {
        // The user closed it; without a window this message is dropped as if sent.
        const bool opened = OpenForwardWindow();
        if (life.expired()) return false;
        if (!opened) return true;
    }
    const UINT sendId = static_cast<UINT>(GetDlgCtrlID(forwardSend_));
    if (headerDue_) {
        headerDue_ = 0;
        if (!SendToForwardWindow("[Forward conversation with " + sourceContact_.friendlyName + "]", sendId))
            return false;
    }
    return SendToForwardWindow(message, sendId);
}

} // namespace parleym

#include "plugin/offline/OfflineMessageHandler.h"

#include <oleauto.h>
#include <richedit.h>

#include <cstdio>

#include "plugin/core/ClientProfile.h"
#include "plugin/core/OleDate.h"
#include "plugin/core/Parleymanager.h"
#include "plugin/core/TextConvert.h"
#include "plugin/core/UserMessage.h"
#include "plugin/logging/LoggingHandler.h"
#include "plugin/logging/ObjectCache.h"
#include "plugin/offline/InputDraft.h"
#include "plugin/offline/OfflineMessageStore.h"
#include "plugin/storage/MessageContent.h"
#include "shared/Protocol.h"

namespace parleym {
namespace {

constexpr DWORD kOverlayStyle = 0x54200804;  // child, visible, clip siblings, vertical scroll bar, read-only, multi-line
constexpr char kPendingCaption[] = "Offline messages (not sent):";

CMessageContent EmptyParagraph() {
    CMessageContent content;
    content.isRtf = 1;
    content.text =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}}\\viewkind4\\uc1\\pard"
        "\\f0\\fs20\\par}";
    return content;
}

// ANSI text over the selection, whatever character set the control was made for.
void ReplaceSelection(HWND control, const std::string& text) {
    SETTEXTEX how{ST_SELECTION | ST_KEEPUNDO, CP_ACP};
    SendMessageA(control, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&how), reinterpret_cast<LPARAM>(text.c_str()));
}

bool IsEmptyControl(HWND control) {
    GETTEXTLENGTHEX query{GTL_NUMCHARS, 1200};
    return SendMessageW(control, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&query), 0) <= 0;
}

// What the history shows, closed so that a paragraph can follow it; empty when
// the history gave no RTF to continue.
std::string ContinuedHistory(const std::string& rtf) {
    const size_t brace = rtf.rfind('}');
    if (brace == std::string::npos) return std::string();
    std::string text = rtf.substr(0, brace);
    text += rtf.find("says") != std::string::npos ? "\\pard\\par\\par }" : "\\pard\\par }";
    return text;
}

} // namespace

std::string OfflineMessagePrefix() {
    std::string when;
    BstrHolder text;
    if (SUCCEEDED(VarBstrFromDate(CurrentOleDate(), LOCALE_USER_DEFAULT, LOCALE_NOUSEROVERRIDE, text.Put())))
        when = AnsiFromBstr(text.Get());
    return "[Offline message on " + when + "] ";
}

OfflineMessageHandler::OfflineMessageHandler(const CContactInfo& contact) : contact_(contact) {}

OfflineMessageHandler::~OfflineMessageHandler() {
    try {
        DestroyOverlay();
    } catch (...) {
    }
}

void OfflineMessageHandler::DestroyOverlay() {
    if (historyClipped_ && historyControl_ && IsWindow(historyControl_)) {
        SetWindowLongPtrA(historyControl_, GWL_STYLE,
                          GetWindowLongPtrA(historyControl_, GWL_STYLE) & ~static_cast<LONG_PTR>(WS_CLIPSIBLINGS));
        InvalidateRect(historyControl_, nullptr, TRUE);
    }
    historyClipped_ = false;
    if (overlayBridge_) {
        overlayBridge_->Release();
        overlayBridge_.reset();
    }
    if (overlay_) {
        if (IsWindow(overlay_)) DestroyWindow(overlay_);
        overlay_ = nullptr;
    }
}

BOOL OfflineMessageHandler::Attach(CParleymanager* manager, HWND conversationWindow, int conversationNumber) {
    owner_ = manager;
    conversationWindow_ = conversationWindow;
    conversationNumber_ = conversationNumber;
    if (owner_ && owner_->Profile()) {
        const ConversationControls controls = owner_->Profile()->FindConversationControls(conversationWindow);
        historyControl_ = controls.history;
        inputControl_ = controls.input;
        sendButton_ = controls.sendButton;
    }

    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(conversationWindow, GWLP_HINSTANCE));
    overlay_ = CreateWindowExA(0, "RichEdit20A", "", kOverlayStyle, 0, 0, 0, 0, conversationWindow, nullptr,
                               instance, nullptr);
    if (!overlay_) {
        char text[128];
        std::snprintf(text, sizeof(text), "Failed to initialize Parleym in this conversation window. Code: %d",
                      static_cast<int>(GetLastError()));
        // Shown once the handlers are settled: a box now would run the messenger's
        // events while the manager is still swapping this window's handler.
        ShowOwnedError(conversationWindow, text, "Error");
        // Without the overlay the window stays the messenger's own: nothing typed is taken.
        accepting_ = 0;
        return FALSE;
    }
    SetWindowPos(overlay_, HWND_TOP, 0, 0, 0, 0, 0);
    // The history must not paint over the overlay when it repaints itself
    // (after a resize, new text): it is clipped by its siblings while covered.
    if (historyControl_) {
        const LONG_PTR style = GetWindowLongPtrA(historyControl_, GWL_STYLE);
        historyClipped_ = (style & WS_CLIPSIBLINGS) == 0;
        if (historyClipped_) SetWindowLongPtrA(historyControl_, GWL_STYLE, style | WS_CLIPSIBLINGS);
    }
    overlayBridge_ = std::make_unique<CRichEditBridge>(owner_ ? &owner_->ObjectCache() : nullptr, overlay_, false);

    if (historyControl_) {
        CMessageContent history;
        CRichEditBridge bridge(owner_ ? &owner_->ObjectCache() : nullptr, historyControl_, true);
        bridge.Capture(history, true, true, false);
        bridge.Release();
        history.text = ContinuedHistory(history.text);
        if (history.text.empty()) history.objects.clear();
        overlayBridge_->Replay(history, false);
    }
    FocusOverlayThenInput();

    PostMessageA(conversationWindow_, WM_COMMAND, CMD_HANDLER_COMMAND, reinterpret_cast<LPARAM>(conversationWindow_));

    char saved[256] = {};
    GetWindowTextA(conversationWindow_, saved, sizeof(saved));
    savedTitle_ = saved;
    title_ = contact_.friendlyName + " - Offline message";
    SetWindowTextA(conversationWindow_, title_.c_str());

    OnSize();
    return TRUE;
}

void OfflineMessageHandler::Detach() {
    DestroyOverlay();
    title_.clear();
    if (historyControl_ && IsWindow(historyControl_)) {
        SetFocus(historyControl_);
        SendMessageA(historyControl_, EM_SETSEL, 0, 0);
        SendMessageA(historyControl_, EM_SETSEL, static_cast<WPARAM>(-1), -1);
    }
    if (inputControl_ && IsWindow(inputControl_)) SetFocus(inputControl_);
    if (conversationWindow_ && IsWindow(conversationWindow_)) SetWindowTextA(conversationWindow_, savedTitle_.c_str());
}

const char* OfflineMessageHandler::GetTitle() { return title_.empty() ? nullptr : title_.c_str(); }

void OfflineMessageHandler::OnKeyDown(UINT, HWND control) {
    // Shift+Return and Ctrl+Return break the line, as the input itself does.
    if (GetKeyState(VK_SHIFT) < 0 || GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0) return;
    if (control && control == inputControl_) Compose();
}

void OfflineMessageHandler::OnButton(HWND control) {
    if (control && control == sendButton_) Compose();
}

void OfflineMessageHandler::OnSize() {
    if (!overlay_ || !historyControl_) return;
    RECT rect{};
    GetWindowRect(historyControl_, &rect);
    POINT topLeft{rect.left, rect.top};
    POINT bottomRight{rect.right, rect.bottom};
    ScreenToClient(conversationWindow_, &topLeft);
    ScreenToClient(conversationWindow_, &bottomRight);
    MoveWindow(overlay_, topLeft.x, topLeft.y, bottomRight.x - topLeft.x, bottomRight.y - topLeft.y, TRUE);
}

void OfflineMessageHandler::OnCommand(HWND, WPARAM command, LPARAM) {
    if (LOWORD(command) == CMD_HANDLER_COMMAND) ShowPending();
}

void OfflineMessageHandler::AppendToOverlay(const CMessageContent& content) {
    if (overlayBridge_) overlayBridge_->Replay(content, true);
}

void OfflineMessageHandler::AppendEmptyParagraph() { AppendToOverlay(EmptyParagraph()); }

void OfflineMessageHandler::FocusOverlayThenInput() {
    if (overlay_) {
        SetFocus(overlay_);
        SendMessageA(overlay_, EM_SCROLLCARET, 0, 0);
    }
    if (inputControl_) SetFocus(inputControl_);
}

void OfflineMessageHandler::ShowPending() {
    if (!owner_ || !overlay_ || !inputControl_) return;
    const OfflineMessageList* pending = owner_->OfflineStore().GetMessages(contact_.signInName);
    if (!pending) return;
    CObjectCache& cache = owner_->ObjectCache();

    SendMessageA(inputControl_, WM_SETREDRAW, FALSE, 0);
    SendMessageA(overlay_, WM_SETREDRAW, FALSE, 0);
    // The input lends itself to turning the kept texts into pictures; what the
    // user is typing there comes back afterwards.
    CInputDraft draft(&cache, inputControl_);
    CRichEditBridge input(&cache, inputControl_, true);
    SetWindowTextA(inputControl_, kPendingCaption);
    CMessageContent caption;
    input.Capture(caption, false, true, false);
    AppendToOverlay(caption);
    AppendEmptyParagraph();

    for (const CMessageContent& message : *pending) {
        input.Replay(message, false);
        CMessageContent shown;
        input.Capture(shown, true, false, false);
        cache.ConvertCodesToObjects(shown);
        AppendToOverlay(shown);
        AppendEmptyParagraph();
    }
    input.Release();

    AppendEmptyParagraph();
    SetWindowTextA(inputControl_, "");
    draft.Restore();
    SendMessageA(inputControl_, WM_SETREDRAW, TRUE, 0);
    SendMessageA(overlay_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(inputControl_, nullptr, TRUE);
    InvalidateRect(overlay_, nullptr, TRUE);
    FocusOverlayThenInput();
}

void OfflineMessageHandler::Compose() {
    if (!accepting_ || delivering_ || !owner_ || !inputControl_) return;
    // Nothing but blanks: the messenger sends nothing either.
    if (!HoldsMessage(inputControl_)) return;
    if (!owner_->OfflineStore().IsLoaded()) {
        KeepUnstored();
        return;
    }
    CObjectCache& cache = owner_->ObjectCache();

    SendMessageA(inputControl_, EM_SETSEL, 0, 0);
    ReplaceSelection(inputControl_, OfflineMessagePrefix());

    CMessageContent content;
    CRichEditBridge input(&cache, inputControl_, true);
    input.Capture(content, true, false, false);
    input.Release();
    cache.ConvertObjectsToCodes(content);
    // Before the messenger reads the input for the same key or click: it finds
    // nothing to send, also when the store's write reports a failure first.
    SetWindowTextA(inputControl_, "");
    owner_->OfflineStore().AddMessage(contact_.signInName, content);

    cache.ConvertCodesToObjects(content);
    AppendToOverlay(content);
    AppendEmptyParagraph();
    FocusOverlayThenInput();
}

void OfflineMessageHandler::KeepUnstored() {
    // Not kept, so not shown as kept: the text stays the user's. It leaves the
    // input while the messenger handles this key or click (the messenger would
    // only say it cannot reach the contact, and empty the input) and comes back after.
    const char* why = owner_->IsSignedIn()
                          ? "This message cannot be kept for later: the offline messages could not be read. "
                            "It is still in the input box."
                          : "Offline messages cannot be kept while you are signed out. "
                            "Your message is still in the input box.";
    auto draft = std::make_shared<CInputDraft>(&owner_->ObjectCache(), inputControl_);
    owner_->AfterCurrentMessage([draft, why] {
        draft->Restore();
        ShowError(why, "Parleym");
    });
}

BOOL OfflineMessageHandler::OnContactStatus(const CContactInfo& contact) {
    if (!contact.SameContact(contact_)) return FALSE;
    // Asked again from inside one of the delivery's clicks: that delivery goes on.
    if (delivering_) return TRUE;
    if (contact.status == kContactOffline) return TRUE;
    accepting_ = 0;
    if (owner_) Deliver();
    // The caller checks Life(): this handler may be gone now.
    return FALSE;
}

void OfflineMessageHandler::Deliver() {
    COfflineMessageStore& store = owner_->OfflineStore();
    if (!store.GetMessages(contact_.signInName) || !inputControl_ || !sendButton_) return;
    // Each click can run the messenger's events, which may end this handler (the
    // window closed, another account signed in): from the first click on, only
    // these copies are used, and the handler only while it is alive.
    const std::weak_ptr<const void> life = Life();
    CParleymanager* const owner = owner_;
    const std::string contact = contact_.signInName;
    const std::string account = store.LoadedAccount();
    const HWND window = conversationWindow_, input = inputControl_, send = sendButton_;
    const int sendId = GetDlgCtrlID(send);
    delivering_ = true;
    CInputDraft draft(&owner->ObjectCache(), input);
    for (;;) {
        // Gone again, signed out or another account: what is left waits.
        if (!owner->IsSignedIn() || store.LoadedAccount() != account || !owner->IsContactOnline(contact)) break;
        CMessageContent message;
        if (!store.TakeFirstMessage(contact, message)) break;
        {
            CRichEditBridge bridge(&owner->ObjectCache(), input, true);
            bridge.Replay(message, false);
            bridge.Release();
        }
        SendMessageA(window, WM_COMMAND, MAKEWPARAM(sendId, BN_CLICKED), reinterpret_cast<LPARAM>(send));
        // The messenger empties the input when it takes a message; a window closed
        // by the click had taken it first.
        if (IsWindow(input) && !IsEmptyControl(input)) {
            SetWindowTextA(input, "");
            store.ReturnMessage(account, contact, message);
            break;
        }
        if (life.expired()) break;
    }
    draft.Restore();
    if (!life.expired()) delivering_ = false;
}

BOOL OfflineMessageHandler::IsForContact(const CContactInfo& contact) {
    return contact.SameContact(contact_) ? TRUE : FALSE;
}

void OfflineMessageHandler::UpdateContact(const CContactInfo& contact) {
    if (!contact.SameContact(contact_)) return;
    contact_.friendlyName = contact.friendlyName;
    contact_.status = contact.status;
    // The title names the contact as the messenger now does.
    if (title_.empty()) return;
    title_ = contact_.friendlyName + " - Offline message";
    if (conversationWindow_ && IsWindow(conversationWindow_)) SetWindowTextA(conversationWindow_, title_.c_str());
}

} // namespace parleym

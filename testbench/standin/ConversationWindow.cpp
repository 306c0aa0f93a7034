#include "testbench/standin/ConversationWindow.h"

#include "testbench/standin/RichEditText.h"
#include "testbench/standin/TextUtil.h"
#include "testbench/standin/Transcript.h"

#include <richedit.h>

#include <utility>

namespace standin {

namespace {

constexpr UINT kMenuClose = 2001;
constexpr UINT kMenuInvite = 2101;
constexpr UINT kMenuAbout = 2201;
constexpr UINT kMenuFont = 2301;

HMENU BuildMenuBar() {
    HMENU bar = CreateMenu();
    HMENU file = CreatePopupMenu();
    AppendMenuA(file, MF_STRING, kMenuInvite, "&Invite Someone to this Conversation...");
    AppendMenuA(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(file, MF_STRING, kMenuClose, "&Close");
    HMENU edit = CreatePopupMenu();
    AppendMenuA(edit, MF_STRING, kMenuFont, "Change &Font...");
    HMENU help = CreatePopupMenu();
    AppendMenuA(help, MF_STRING, kMenuAbout, "&About");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), "&File");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(edit), "&Edit");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(help), "&Help");
    return bar;
}

std::string TrimLineEnds(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

std::string WithCrLf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += "\r\n";
        else out += c;
    }
    return out;
}

}  // namespace

bool ConversationWindow::RegisterWindowClass(HINSTANCE instance, const Profile& profile) {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = profile.conversationClass.c_str();
    return RegisterClassExA(&wc) != 0;
}

ConversationWindow* ConversationWindow::Create(HINSTANCE instance, const Profile& profile, MessengerState& state,
                                               ContactPtr contact, DestroyedCallback onDestroyed, void* context) {
    auto* self = new ConversationWindow(profile, state, std::move(contact));
    self->onDestroyed_ = onDestroyed;
    self->context_ = context;
    // Cascade, so a screenshot shows every open conversation.
    static int opened = 0;
    const int offset = (opened++ % 8) * 24;
    HWND window = CreateWindowExA(0, profile.conversationClass.c_str(), "", WS_OVERLAPPEDWINDOW, 400 + offset,
                                  40 + offset, 420, 380, nullptr, BuildMenuBar(), instance, self);
    if (!window) {
        delete self;
        return nullptr;
    }
    self->UpdateTitle();
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    return self;
}

std::string ConversationWindow::Name() const {
    std::string name;
    for (const ContactPtr& person : people_) name += (name.empty() ? "" : ",") + person->signinName;
    return name;
}

bool ConversationWindow::Has(const std::string& signinName) const {
    for (const ContactPtr& person : people_)
        if (person->signinName == signinName) return true;
    return false;
}

std::string ConversationWindow::AddressText() const {
    std::string text;
    for (const ContactPtr& person : people_)
        text += (text.empty() ? "To: " : ", ") + person->friendlyName + " <" + person->signinName + ">";
    return text;
}

void ConversationWindow::Invite(const ContactPtr& contact) {
    people_.push_back(contact);
    SetWindowTextA(address_, AddressText().c_str());
    Log("invited conv:" + Name() + " address=" + Quote(AddressText()));
    UpdateTitle();
}

void ConversationWindow::UpdateTitle() {
    std::string names;
    for (const ContactPtr& person : people_) names += (names.empty() ? "" : ", ") + person->friendlyName;
    std::string title = names + " - Conversation";
    SetWindowTextW(window_, Widen(title).c_str());
    Log("title-set conv:" + Name() + " requested=" + Quote(title) + " shown=" + Quote(WindowText(window_)));
}

void ConversationWindow::CreateControls() {
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window_, GWLP_HINSTANCE));
    address_ = CreateWindowExA(WS_EX_CLIENTEDGE, "edit", AddressText().c_str(),
                               WS_CHILD | WS_VISIBLE | ES_READONLY | ES_AUTOHSCROLL, 0, 0, 0, 0, window_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(kAddressId)), instance, nullptr);
    history_ =
        CreateWindowExA(WS_EX_CLIENTEDGE, profile_.historyClass.c_str(), "",
                        WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 0, 0, 0, 0,
                        window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kHistoryId)), instance, nullptr);
    input_ = CreateWindowExA(
        WS_EX_CLIENTEDGE, profile_.inputClass.c_str(), "",
        WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN, 0, 0, 0, 0,
        window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kInputId)), instance, nullptr);
    send_ = CreateWindowExA(0, "Button", "&Send", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 0, 0,
                            window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kSendId)), instance, nullptr);
    if (input_) {
        SetWindowLongPtrA(input_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        inputDefault_ =
            reinterpret_cast<WNDPROC>(SetWindowLongPtrW(input_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&InputProc)));
        SendMessageA(input_, EM_SETEVENTMASK, 0, ENM_CHANGE);
    }
    Layout();
}

void ConversationWindow::Layout() {
    RECT client;
    GetClientRect(window_, &client);
    const int width = client.right, height = client.bottom;
    const int addressHeight = 22, inputHeight = 64, buttonWidth = 70, gap = 4;
    MoveWindow(address_, gap, gap, width - 2 * gap, addressHeight, TRUE);
    const int historyTop = gap * 2 + addressHeight;
    const int inputTop = height - gap - inputHeight;
    MoveWindow(history_, gap, historyTop, width - 2 * gap, inputTop - gap - historyTop, TRUE);
    MoveWindow(input_, gap, inputTop, width - 3 * gap - buttonWidth, inputHeight, TRUE);
    MoveWindow(send_, width - gap - buttonWidth, inputTop, buttonWidth, inputHeight, TRUE);
    // Wine leaves moved controls and the uncovered background unpainted otherwise.
    RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void ConversationWindow::Receive(const std::string& text) {
    AppendMessage(history_, contact_->friendlyName + " says:", WithCrLf(text));
    Log("received conv:" + Name() + " text=" + Quote(text));
}

void ConversationWindow::Note(const std::string& text) {
    AppendWithEmoticons(history_, WithCrLf(text));
    Log("noted conv:" + Name() + " text=" + Quote(text));
}

void ConversationWindow::Send() {
    std::string text = TrimLineEnds(TextWithCodes(ReadRichEdit(input_)));
    if (text.empty()) {
        Log("send conv:" + Name() + " nothing-to-send");
        return;
    }
    if (refusedSends_ > 0 && sendsBeforeRefusal_ > 0) {
        --sendsBeforeRefusal_;
    } else if (refusedSends_ > 0) {
        --refusedSends_;
        Log("send conv:" + Name() + " refused text=" + Quote(text));
        return;
    }
    bool deliverable = false;
    for (const ContactPtr& person : people_)
        deliverable = deliverable || (person->status != MISTATUS_OFFLINE && person->status != MISTATUS_UNKNOWN &&
                                      person->status < MISTATUS_LOCAL_FINDING_SERVER);
    deliverable = deliverable && state_.SignedIn();
    if (deliverable) AppendMessage(history_, state_.Self()->friendlyName + " says:", WithCrLf(text));
    else AppendMessage(history_, "The following message could not be delivered to all recipients:", WithCrLf(text));
    SendMessageW(input_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    Log("sent conv:" + Name() + " delivered=" + (deliverable ? "yes" : "no") + " text=" + Quote(text));
    if (afterSend_ && --sendsBeforeAction_ <= 0) std::exchange(afterSend_, nullptr)();
}

LRESULT CALLBACK ConversationWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        ConversationWindow* self;
        if (message == WM_NCCREATE) {
            self = static_cast<ConversationWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
            self->window_ = window;
            SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        } else {
            self = reinterpret_cast<ConversationWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        }
        if (!self) return DefWindowProcA(window, message, wParam, lParam);
        if (message == WM_NCDESTROY) {
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
            if (self->onDestroyed_) self->onDestroyed_(self->context_, self);
            delete self;
            return DefWindowProcA(window, message, wParam, lParam);
        }
        return self->Handle(message, wParam, lParam);
    } catch (...) {
        return 0;
    }
}

LRESULT ConversationWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: CreateControls(); return 0;
    case WM_SIZE: Layout(); return 0;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case kSendId:
            if (HIWORD(wParam) == BN_CLICKED) Send();
            return 0;
        case kMenuClose: DestroyWindow(window_); return 0;
        case kMenuInvite:
        case kMenuAbout:
        case kMenuFont: Log("messenger-command conv:" + Name() + " id=" + std::to_string(LOWORD(wParam))); return 0;
        default:
            if (HIWORD(wParam) == 0 && lParam == 0)
                Log("command conv:" + Name() + " id=" + std::to_string(LOWORD(wParam)));
            return DefWindowProcA(window_, message, wParam, lParam);
        }
    case WM_CLOSE: DestroyWindow(window_); return 0;
    default: return DefWindowProcA(window_, message, wParam, lParam);
    }
}

LRESULT CALLBACK ConversationWindow::InputProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        auto* self = reinterpret_cast<ConversationWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (!self || !self->inputDefault_) return DefWindowProcW(window, message, wParam, lParam);
        // Enter sends; Shift+Enter and Ctrl+Enter break the line as in the messenger.
        bool plainEnter = wParam == VK_RETURN && GetKeyState(VK_SHIFT) >= 0 && GetKeyState(VK_CONTROL) >= 0;
        if (message == WM_KEYDOWN && plainEnter) {
            self->Send();
            return 0;
        }
        if (message == WM_CHAR && wParam == '\r' && plainEnter) return 0;
        return CallWindowProcW(self->inputDefault_, window, message, wParam, lParam);
    } catch (...) {
        return 0;
    }
}

}  // namespace standin

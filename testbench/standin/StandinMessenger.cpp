#include "testbench/standin/StandinMessenger.h"

#include "testbench/standin/MenuText.h"
#include "testbench/standin/TextUtil.h"
#include "testbench/standin/Transcript.h"

#include <commctrl.h>

#include <algorithm>

namespace standin {

namespace {

constexpr UINT kSignIn = 1101, kSignOut = 1102, kClose = 1103, kExit = 1104;
constexpr UINT kSendMessage = 1201, kOptions = 1301, kAbout = 1401;
constexpr UINT kContextMessage = 1501, kContextMail = 1502, kContextProfile = 1503, kContextBlock = 1504,
               kContextDelete = 1505, kContextProperties = 1506;
constexpr UINT_PTR kMenuDriverTimer = 0x5B01;
constexpr UINT_PTR kHeartbeatTimer = 0x5B02;

HMENU BuildMainMenu(const Profile& profile) {
    HMENU bar = CreateMenu();
    HMENU file = CreatePopupMenu();
    AppendMenuA(file, MF_STRING, kSignIn, "Sign &In...");
    AppendMenuA(file, MF_STRING, kSignOut, "Sign &Out");
    AppendMenuA(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(file, MF_STRING, kClose, "&Close");
    AppendMenuA(file, MF_STRING, kExit, "E&xit");
    HMENU actions = CreatePopupMenu();
    AppendMenuA(actions, MF_STRING, kSendMessage, "Send an Instant &Message...");
    HMENU tools = CreatePopupMenu();
    AppendMenuA(tools, MF_STRING, kOptions, "&Options...");
    HMENU help = CreatePopupMenu();
    AppendMenuA(help, MF_STRING, kAbout, ("&About " + profile.productTitle).c_str());
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), "&File");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(actions), "&Actions");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(tools), "&Tools");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(help), "&Help");
    return bar;
}

HMENU BuildContextMenu(const std::string& signinName) {
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, kContextMessage, "Send an &Instant Message");
    AppendMenuA(menu, MF_STRING, kContextMail, ("Send &E-mail (" + signinName + ")").c_str());
    AppendMenuA(menu, MF_STRING, kContextProfile, "&View Profile");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, kContextBlock, "&Block");
    AppendMenuA(menu, MF_STRING, kContextDelete, "&Delete Contact");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, kContextProperties, "P&roperties");
    return menu;
}

// Drives an open popup menu with keys, as a user would, once the menu is up and its
// owner has had WM_INITMENU (which may add items).
struct MenuDriver {
    HMENU menu = nullptr;
    std::string itemText;
    bool found = false;
    bool grayed = false;
    bool keysSent = false;
    int ticks = 0;
};
MenuDriver g_driver;

void CALLBACK DriveMenu(HWND window, UINT, UINT_PTR timer, DWORD) {
    try {
        ++g_driver.ticks;
        HWND popup = FindWindowA("#32768", nullptr);
        if (!g_driver.keysSent && popup && IsWindowVisible(popup)) {
            g_driver.keysSent = true;
            int steps = 0;
            int count = GetMenuItemCount(g_driver.menu);
            for (int i = 0; i < count; ++i) {
                MENUITEMINFOA info = {};
                info.cbSize = sizeof info;
                info.fMask = MIIM_FTYPE | MIIM_STATE;
                GetMenuItemInfoA(g_driver.menu, static_cast<UINT>(i), TRUE, &info);
                if (info.fType & MFT_SEPARATOR) continue;
                ++steps;
                if (MenuItemMatches(MenuItemText(g_driver.menu, i), g_driver.itemText)) {
                    g_driver.found = true;
                    g_driver.grayed = (info.fState & (MFS_GRAYED | MFS_DISABLED)) != 0;
                    break;
                }
            }
            Log("context-menu shown items=" + Quote(DescribeMenu(g_driver.menu)));
            if (!g_driver.found || g_driver.grayed) {
                PostMessageA(popup, WM_KEYDOWN, VK_ESCAPE, 0);
            } else {
                for (int i = 0; i < steps; ++i) PostMessageA(popup, WM_KEYDOWN, VK_DOWN, 0);
                PostMessageA(popup, WM_KEYDOWN, VK_RETURN, 0);
            }
            return;
        }
        if (g_driver.ticks > 50) {  // menu never came up or keys were lost
            KillTimer(window, timer);
            EndMenu();
        }
    } catch (...) {
    }
}

}  // namespace

StandinMessenger::StandinMessenger(HINSTANCE instance, const Profile& profile, MessengerState& state)
    : instance_(instance), profile_(profile), state_(state), api_(new MessengerApi(state, *this)) {}

StandinMessenger::~StandinMessenger() { DestroyAll(); }

bool StandinMessenger::RegisterClasses() {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.hInstance = instance_;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpfnWndProc = WindowProc<&StandinMessenger::HandleMain>;
    wc.lpszClassName = profile_.mainClass.c_str();
    if (!RegisterClassExA(&wc)) return false;
    wc.lpfnWndProc = WindowProc<&StandinMessenger::HandleGeneric>;
    wc.lpszClassName = profile_.genericClass.c_str();
    if (!RegisterClassExA(&wc)) return false;
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = profile_.hiddenClass.c_str();
    if (!RegisterClassExA(&wc)) return false;
    wc.lpszClassName = profile_.uiManagerClass.c_str();
    if (!RegisterClassExA(&wc)) return false;
    return ConversationWindow::RegisterWindowClass(instance_, profile_);
}

bool StandinMessenger::Start(bool withApi, bool withUiManager) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    if (!RegisterClasses()) {
        Log("error cannot register window classes");
        return false;
    }
    hidden_ = CreateWindowExA(0, profile_.hiddenClass.c_str(), "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance_,
                              nullptr);
    main_ = CreateWindowExA(0, profile_.mainClass.c_str(), "", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 20, 40, 360, 480,
                            nullptr, BuildMainMenu(profile_), instance_, this);
    if (!hidden_ || !main_) {
        Log("error cannot create the main windows");
        return false;
    }
    // The messenger's thread is never quiet for long; hook libraries are mapped on the
    // first hooked message, so a steady timer makes that happen promptly.
    SetTimer(hidden_, kHeartbeatTimer, 200, nullptr);
    SetMainTitle();
    ShowWindow(main_, SW_SHOWNORMAL);
    UpdateWindow(main_);
    Log("window-created main class=" + profile_.mainClass +
        " hwnd=" + Hex32(static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(main_))));
    Log("window-created generic class=" + ClassNameOf(generic_) + " list=" + ClassNameOf(list_));
    Log("window-created hidden class=" + ClassNameOf(hidden_));
    if (withApi) api_->Register();
    if (withUiManager) CreateUiManager();
    return true;
}

void StandinMessenger::CreateUiManager() {
    if (uiManager_) return;
    // The plug-in looks for it with an empty title.
    uiManager_ = CreateWindowExA(0, profile_.uiManagerClass.c_str(), "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                 instance_, nullptr);
    Log("window-created uimanager class=" + profile_.uiManagerClass);
}

void StandinMessenger::DestroyAll() {
    while (!conversations_.empty()) DestroyWindow(conversations_.back()->Window());
    for (HWND* window : {&main_, &hidden_, &uiManager_}) {
        if (*window && IsWindow(*window)) DestroyWindow(*window);
        *window = nullptr;
    }
    generic_ = list_ = nullptr;
    api_->Revoke();
}

void StandinMessenger::SetMainTitle() {
    std::string title = profile_.productTitle;
    SetWindowTextA(main_, title.c_str());
    Log("title-set main requested=" + Quote(title) + " shown=" + Quote(WindowText(main_)));
}

void StandinMessenger::SignIn(const std::string& signinName, const std::string& friendlyName, HRESULT hr) {
    state_.SelectAccount(signinName, friendlyName);
    if (SUCCEEDED(hr)) {
        state_.SetSignedIn(true);
        RefreshContactList();
    }
    Log("signed-in account=" + Quote(signinName) + " friendly=" + Quote(state_.Self()->friendlyName) +
        " hr=" + Hex32(static_cast<unsigned long>(hr)));
    api_->FireSignin(hr);
}

void StandinMessenger::SignOut(bool contactsOffline) {
    state_.SetSignedIn(false);
    RefreshContactList();
    Log(contactsOffline ? "signed-out contacts-offline" : "signed-out");
    api_->FireSignout();
    if (!contactsOffline) return;
    // A copy: a sink may change the list while it hears of one of them.
    const std::vector<ContactPtr> contacts = state_.Contacts();
    for (const ContactPtr& contact : contacts) {
        if (contact->status == MISTATUS_OFFLINE) continue;
        contact->status = MISTATUS_OFFLINE;
        for (ConversationWindow* conversation : conversations_)
            if (conversation->Has(contact->signinName)) conversation->UpdateTitle();
        api_->FireContactStatusChange(contact, MISTATUS_OFFLINE);
    }
}

void StandinMessenger::AddContact(const std::string& signinName, const std::string& friendlyName, MISTATUS status,
                                  HRESULT hr) {
    if (SUCCEEDED(hr)) {
        ContactPtr contact = state_.AddContact(signinName, friendlyName, status);
        RefreshContactList();
        if (state_.SignedIn()) api_->FireContactListAdd(hr, contact);
        return;
    }
    // A failed add still names the contact in the event, as the messenger does.
    auto contact = std::make_shared<ContactRecord>();
    contact->signinName = signinName;
    contact->friendlyName = friendlyName.empty() ? signinName : friendlyName;
    contact->status = status;
    if (state_.SignedIn()) api_->FireContactListAdd(hr, contact);
}

bool StandinMessenger::RemoveContact(const std::string& signinName) {
    ContactPtr removed = state_.RemoveContact(signinName);
    if (!removed) return false;
    RefreshContactList();
    if (state_.SignedIn()) api_->FireContactListRemove(S_OK, removed);
    return true;
}

bool StandinMessenger::SetContactStatus(const std::string& signinName, MISTATUS status) {
    ContactPtr contact = state_.FindContact(signinName);
    if (!contact) return false;
    contact->status = status;
    RefreshContactList();
    for (ConversationWindow* conversation : conversations_)
        if (conversation->Has(signinName)) conversation->UpdateTitle();
    if (state_.SignedIn()) api_->FireContactStatusChange(contact, status);
    return true;
}

ConversationWindow* StandinMessenger::FindConversation(const std::string& name) const {
    for (ConversationWindow* conversation : conversations_)
        if (conversation->Name() == name) return conversation;
    return nullptr;
}

bool StandinMessenger::Invite(const std::string& name, const std::string& other) {
    ConversationWindow* conversation = FindConversation(name);
    ContactPtr contact = state_.FindContact(other);
    if (!conversation || !contact || conversation->Has(other)) return false;
    conversation->Invite(contact);
    return true;
}

ConversationWindow* StandinMessenger::OpenConversationWindow(const std::string& signinName) {
    if (ConversationWindow* existing = FindConversation(signinName)) {
        ShowWindow(existing->Window(), SW_SHOW);
        return existing;
    }
    ContactPtr contact = state_.FindContact(signinName);
    if (!contact) {
        // Someone outside the list: the messenger still opens a window.
        contact = std::make_shared<ContactRecord>();
        contact->signinName = signinName;
        contact->friendlyName = signinName;
        contact->status = MISTATUS_ONLINE;
    }
    ConversationWindow* conversation =
        ConversationWindow::Create(instance_, profile_, state_, contact, &OnConversationDestroyed, this);
    if (!conversation) {
        Log("error cannot create conversation window for " + Quote(signinName));
        return nullptr;
    }
    conversations_.push_back(conversation);
    Log("window-created conv:" + signinName + " class=" + ClassNameOf(conversation->Window()) +
        " history=" + ClassNameOf(conversation->History()) + " input=" + ClassNameOf(conversation->Input()) +
        " hwnd=" + Hex32(static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(conversation->Window()))));
    return conversation;
}

HWND StandinMessenger::OpenConversation(const std::string& signinName) {
    ConversationWindow* conversation = OpenConversationWindow(signinName);
    return conversation ? conversation->Window() : nullptr;
}

void StandinMessenger::OnConversationDestroyed(void* context, ConversationWindow* window) {
    auto* self = static_cast<StandinMessenger*>(context);
    auto& list = self->conversations_;
    list.erase(std::remove(list.begin(), list.end(), window), list.end());
    Log("window-destroyed conv:" + window->Name());
}

void StandinMessenger::RefreshContactList() {
    if (!list_) return;
    SendMessageA(list_, LVM_DELETEALLITEMS, 0, 0);
    if (!state_.SignedIn()) return;
    int index = 0;
    for (const ContactPtr& contact : state_.Contacts()) {
        std::string text = contact->friendlyName + " (" + StatusName(contact->status) + ")";
        LVITEMA item = {};
        item.mask = LVIF_TEXT;
        item.iItem = index++;
        item.pszText = &text[0];
        SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
}

UINT StandinMessenger::ChooseContextMenuItem(const std::string& signinName, const std::string& itemText,
                                             bool returnCommand, bool& found) {
    found = false;
    const auto& contacts = state_.Contacts();
    auto it = std::find_if(contacts.begin(), contacts.end(),
                           [&](const ContactPtr& c) { return c->signinName == signinName; });
    if (it == contacts.end() || !list_) {
        Log("context-menu contact " + Quote(signinName) + " not in the list");
        return 0;
    }
    int index = static_cast<int>(it - contacts.begin());
    // The plug-in checks which control is under the cursor when the menu opens.
    RECT itemRect = {};
    itemRect.left = LVIR_LABEL;
    SendMessageA(list_, LVM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&itemRect));
    POINT at = {(itemRect.left + itemRect.right) / 2, (itemRect.top + itemRect.bottom) / 2};
    ClientToScreen(list_, &at);
    SetForegroundWindow(main_);
    SetCursorPos(at.x, at.y);
    LVITEMA select = {};
    select.stateMask = select.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&select));

    HMENU menu = BuildContextMenu(signinName);
    g_driver = MenuDriver{};
    g_driver.menu = menu;
    g_driver.itemText = itemText;
    contextContact_ = signinName;
    SetTimer(generic_, kMenuDriverTimer, 100, DriveMenu);
    UINT flags = TPM_LEFTALIGN | TPM_RIGHTBUTTON | (returnCommand ? TPM_RETURNCMD : 0);
    UINT result = static_cast<UINT>(TrackPopupMenu(menu, flags, at.x, at.y, 0, generic_, nullptr));
    KillTimer(generic_, kMenuDriverTimer);
    found = g_driver.found;
    Log("context-menu contact=" + Quote(signinName) + " item=" + Quote(itemText) +
        (g_driver.found ? (g_driver.grayed ? " grayed" : " chosen") : " missing") +
        (returnCommand ? " returncmd" : "") + " result=" + std::to_string(result));
    DestroyMenu(menu);
    if (returnCommand && result) OnOwnCommand(result, "generic");
    return result;
}

void StandinMessenger::OnOwnCommand(UINT id, const char* where) {
    switch (id) {
    case kContextMessage:
        if (!contextContact_.empty()) OpenConversationWindow(contextContact_);
        break;
    case kSendMessage:
    case kContextMail:
    case kContextProfile:
    case kContextBlock:
    case kContextDelete:
    case kContextProperties:
    case kSignIn:
    case kSignOut:
    case kOptions:
    case kAbout: Log(std::string("messenger-command ") + where + " id=" + std::to_string(id)); break;
    case kClose: ShowWindow(main_, SW_HIDE); break;
    case kExit:
        Log("messenger-command exit");
        PostQuitMessage(0);
        break;
    default: Log(std::string("command ") + where + " id=" + std::to_string(id));
    }
}

template <LRESULT (StandinMessenger::*Handle)(HWND, UINT, WPARAM, LPARAM)>
LRESULT CALLBACK StandinMessenger::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        if (message == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
            SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<StandinMessenger*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (!self) return DefWindowProcA(window, message, wParam, lParam);
        return (self->*Handle)(window, message, wParam, lParam);
    } catch (...) {
        return 0;
    }
}

LRESULT StandinMessenger::HandleMain(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        generic_ = CreateWindowExA(0, profile_.genericClass.c_str(), "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                                   0, 0, window, nullptr, instance_, this);
        return generic_ ? 0 : -1;
    case WM_SIZE:
        if (generic_) MoveWindow(generic_, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    case WM_COMMAND:
        if (HIWORD(wParam) == 0 && lParam == 0) OnOwnCommand(LOWORD(wParam), "main");
        return 0;
    case WM_CLOSE:
        // The messenger keeps running in the notification area when its window closes.
        ShowWindow(window, SW_HIDE);
        return 0;
    case WM_DESTROY:
        main_ = nullptr;
        Log("window-destroyed main");
        return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

LRESULT StandinMessenger::HandleGeneric(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        list_ = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                                WS_CHILD | WS_VISIBLE | LVS_LIST | LVS_SINGLESEL | LVS_SHOWSELALWAYS, 0, 0, 0, 0,
                                window, nullptr, instance_, nullptr);
        return list_ ? 0 : -1;
    case WM_SIZE:
        if (list_) MoveWindow(list_, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->hwndFrom == list_ && header->code == NM_DBLCLK) {
            int index = static_cast<int>(SendMessageA(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
            const auto& contacts = state_.Contacts();
            if (index >= 0 && static_cast<size_t>(index) < contacts.size())
                OpenConversationWindow(contacts[static_cast<size_t>(index)]->signinName);
        }
        return 0;
    }
    case WM_COMMAND:
        if (HIWORD(wParam) == 0 && lParam == 0) OnOwnCommand(LOWORD(wParam), "generic");
        return 0;
    case WM_INITMENU: {
        POINT cursor = {};
        GetCursorPos(&cursor);
        HWND under = WindowFromPoint(cursor);
        Log("initmenu generic cursor-over=" + (under ? ClassNameOf(under) : std::string("none")));
        return 0;
    }
    case WM_DESTROY: generic_ = list_ = nullptr; return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace standin

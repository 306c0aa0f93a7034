#include "tests/core/CoreTestSupport.h"

#include <commctrl.h>

#include <cstring>

#include <gtest/gtest.h>

#include "plugin/core/UserMessage.h"
#include "plugin/core/UserSettingsFile.h"
#include "plugin/storage/StorageErrors.h"
#include "shared/Protocol.h"
#include "tests/support/MessagePump.h"

using namespace parleym;

namespace coretest {

std::vector<HandlerEvent> g_handlerEvents;
bool g_storeErrorOnHistory = false;
std::function<void(HWND)> g_duringContactStatus;

namespace {

std::vector<Received> g_loaderMessages;
TestManager* g_manager = nullptr;

LRESULT CALLBACK LoaderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if ((message >= LDR_SET_LOCKED && message <= LDR_SET_FOREGROUND) || message == WM_COMMAND || message == WM_CLOSE) {
        g_loaderMessages.push_back({message, wParam, lParam});
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// What the hook library does with posted commands: hand them to the manager.
LRESULT CALLBACK GetMessageHook(int code, WPARAM wParam, LPARAM lParam) {
    auto* msg = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && msg->message == WM_COMMAND && g_manager &&
        IsPluginCommand(LOWORD(msg->wParam))) {
        g_manager->OnCommand(msg->hwnd, msg->wParam, msg->lParam);
        msg->message = WM_NULL;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void RegisterPlainClass(const char* name) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = name;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    RegisterClassA(&wc);
}

class TestHost : public standin::MessengerHost {
public:
    explicit TestHost(Bench& bench) : bench_(bench) {}
    HWND OpenConversation(const std::string& signinName) override {
        return bench_.CreateConversationWindow("To: " + signinName);
    }
    HWND MainWindow() override { return nullptr; }

private:
    Bench& bench_;
};

class RecordingHandler : public ConversationHandler {
public:
    RecordingHandler(int kind, const CContactInfo& contact, BOOL keeps) : kind_(kind), contact_(contact), keeps_(keeps) {}
    ~RecordingHandler() override { Record("deleted"); }
    BOOL Attach(CParleymanager*, HWND window, int number) override {
        window_ = window;
        number_ = number == -1 ? ++s_nextNumber : number;
        Record("attach");
        return TRUE;
    }
    void Detach() override { Record("detach"); }
    const char* GetTitle() override { return kind_ == 1 ? "Offline title" : nullptr; }
    void OnKeyDown(UINT key, HWND) override { Record("key " + std::to_string(key)); }
    void OnButton(HWND) override { Record("button"); }
    void OnSize() override { Record("size"); }
    void OnCommand(HWND, WPARAM command, LPARAM) override { Record("command " + std::to_string(command)); }
    BOOL OnContactStatus(const CContactInfo&) override {
        const BOOL keeps = keeps_;
        if (g_duringContactStatus) {
            // This handler may be gone once it has run.
            const auto during = g_duringContactStatus;
            g_duringContactStatus = nullptr;
            during(window_);
        }
        return keeps;
    }
    BOOL IsForContact(const CContactInfo& contact) override { return contact.SameContact(contact_); }
    void UpdateContact(const CContactInfo& contact) override {
        if (contact.SameContact(contact_)) contact_ = contact;
    }
    const CContactInfo& Contact() const { return contact_; }
    int GetKind() override { return kind_; }
    void OnHistoryChanged(HWND) override {
        if (g_storeErrorOnHistory)
            ReportStorageError("Failed to save conversation with %s. Code: 0x%08X", contact_.signInName.c_str(),
                               0x80030070u);
        // Still inside the handler: it must exist.
        Record("history");
    }
    void OnEditChange(HWND) override { Record("edit"); }
    int GetConversationNumber() const override { return number_; }

private:
    void Record(const std::string& what) { g_handlerEvents.push_back({what, kind_, window_, number_}); }
    static int s_nextNumber;
    int kind_;
    CContactInfo contact_;
    BOOL keeps_;
    HWND window_ = nullptr;
    int number_ = -1;
};
int RecordingHandler::s_nextNumber = 100;

} // namespace

// ---------------------------------------------------------------- TestManager

std::unique_ptr<ConversationHandler> TestManager::CreateLogHandler(const CContactInfo& contact) {
    if (realLogHandlers) return CParleymanager::CreateLogHandler(contact);
    return std::make_unique<RecordingHandler>(kLogHandlerKind, contact, TRUE);
}
std::unique_ptr<ConversationHandler> TestManager::CreateOfflineMessageHandler(const CContactInfo& contact) {
    if (realOfflineHandlers) return CParleymanager::CreateOfflineMessageHandler(contact);
    return std::make_unique<RecordingHandler>(kOfflineMessageHandlerKind, contact, FALSE);
}
std::unique_ptr<ConversationHandler> TestManager::CreateForwardHandler() {
    if (realForwarding) return CParleymanager::CreateForwardHandler();
    return std::make_unique<RecordingHandler>(kForwardHandlerKind, CContactInfo("forward@x", "Forward", 1), TRUE);
}
bool TestManager::RunContactSelection(ContactSelectionMode mode, CContactInfo& chosen, const std::string& excluded) {
    calls.push_back(mode == ContactSelectionMode::kForward ? "select-forward" : "select-offline");
    selectionExcluded = excluded;
    if (duringSelection) duringSelection();
    chosen = selectionChoice;
    return selectionResult;
}
bool TestManager::AskLogsPath(std::string& path) {
    calls.push_back("ask-logs-path open=" + std::to_string(OpenDialog() != nullptr));
    if (whileAskingLogsPath) whileAskingLogsPath();
    if (realLogsDialog) return CParleymanager::AskLogsPath(path);
    path = logsPathAnswer;
    return !path.empty();
}
bool TestManager::HasPendingMessages(const std::string& signInName) {
    for (const std::string& name : pendingFor)
        if (name == signInName) return true;
    return false;
}

// ---------------------------------------------------------------- Bench

Bench::Bench(int kind) : clientKind(kind) {
    CoInitialize(nullptr);
    LoadLibraryA("RichEd20.dll");
    INITCOMMONCONTROLSEX init{sizeof(init), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&init);
    WriteUsersFile({});

    RegisterPlainClass(kLoaderClassName);
    // The real class name with our procedure: subclass a plain window.
    loader_ = CreateWindowExA(0, kLoaderClassName, kLoaderWindowTitle, 0, 0, 0, 0, 0, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(loader_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&LoaderProc));

    for (const char* name : {"MSBLUIManager", "MsnMsgrUIManager", "MSBLClass", "MSNMSBLClass", "MSBLGeneric",
                             "MSNMSBLGeneric", "IMWindowClass"})
        RegisterPlainClass(name);

    host_ = std::make_unique<TestHost>(*this);
    api_ = std::make_unique<standin::MessengerApi>(state_, *host_);
    api_->Register();
    g_loaderMessages.clear();
    g_handlerEvents.clear();
    g_storeErrorOnHistory = false;
    g_duringContactStatus = nullptr;
    messages_.OnShow([this](const ShownMessage& shown) {
        if (MessagesDeferred()) boxesWhileDeferred_.push_back(shown.text);
        // A real box dispatches messages until it is closed; a box shown meanwhile does not repeat the action.
        if (whileShowing_ && !showing_) {
            showing_ = true;
            const std::function<void(const std::string&)> action = whileShowing_;
            action(shown.text);
            showing_ = false;
        }
    });
    hook_ = SetWindowsHookExA(WH_GETMESSAGE, &GetMessageHook, nullptr, GetCurrentThreadId());
}

Bench::~Bench() {
    if (manager_) Stop();
    // No box may run its modal loop inside the plug-in's own work.
    EXPECT_EQ(std::vector<std::string>(), boxesWhileDeferred_);
    if (hook_) UnhookWindowsHookEx(hook_);
    whileShowing_ = nullptr;
    g_storeErrorOnHistory = false;
    api_->Revoke();
    api_.reset();
    for (HWND window : windows_)
        if (IsWindow(window)) DestroyWindow(window);
    if (uiManager_) DestroyWindow(uiManager_);
    DestroyWindow(loader_);
    Pump();
    CoUninitialize();
}

void Bench::WriteUsersFile(const std::vector<CUserSettings>& records) {
    // The writer replaces an existing file only.
    HANDLE file = CreateFileA(DataFile("users.dat").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    CloseHandle(file);
    ASSERT_EQ(SettingsFileResult::Ok, WriteUserSettingsFile(DataFile("users.dat"), records).kind);
}

void Bench::RemoveUsersFile() { DeleteFileA(DataFile("users.dat").c_str()); }

void Bench::CreateUiManagerWindow() {
    uiManager_ = CreateWindowExA(0, clientKind == 1 ? "MSBLUIManager" : "MsnMsgrUIManager", "", 0, 0, 0, 0, 0,
                                 nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

HWND Bench::CreateMainWindow() {
    HMENU bar = CreateMenu();
    HMENU file = CreatePopupMenu();
    AppendMenuA(file, MF_STRING, 100, "E&xit");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), "&File");
    HWND window = CreateWindowExA(0, clientKind == 1 ? "MSBLClass" : "MSNMSBLClass", "Messenger",
                                  WS_OVERLAPPEDWINDOW, 10, 10, 300, 400, nullptr, bar, GetModuleHandleA(nullptr),
                                  nullptr);
    windows_.push_back(window);
    return window;
}

HWND Bench::CreateGenericWindow(bool withList) {
    HWND window = CreateWindowExA(WS_EX_TOPMOST, clientKind == 1 ? "MSBLGeneric" : "MSNMSBLGeneric", "",
                                  WS_POPUP | WS_VISIBLE, 0, 0, 200, 200, nullptr, nullptr, GetModuleHandleA(nullptr),
                                  nullptr);
    if (withList)
        CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 200, 200, window, nullptr,
                        GetModuleHandleA(nullptr), nullptr);
    windows_.push_back(window);
    return window;
}

HWND Bench::CreateConversationWindow(const std::string& addressText) {
    HMENU bar = CreateMenu();
    HMENU file = CreatePopupMenu();
    AppendMenuA(file, MF_STRING, 100, "&Close");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), "&File");
    HWND window = CreateWindowExA(0, "IMWindowClass", "Conversation", WS_OVERLAPPEDWINDOW, 20, 20, 400, 300,
                                  nullptr, bar, GetModuleHandleA(nullptr), nullptr);
    CreateWindowExA(0, "edit", addressText.c_str(), WS_CHILD | WS_VISIBLE, 0, 0, 300, 20, window,
                    reinterpret_cast<HMENU>(9), GetModuleHandleA(nullptr), nullptr);
    windows_.push_back(window);
    return window;
}

void Bench::SignIn(const std::string& signIn, const std::string& friendly) {
    state_.SelectAccount(signIn, friendly);
    state_.SetSignedIn(true);
    state_.SetMyStatus(MISTATUS_ONLINE);
}

TestManager& Bench::Start(BOOL expected) {
    manager_ = new TestManager();
    g_manager = manager_;
    manager_->SetDataFolder(folder_.Path());
    EXPECT_EQ(expected, manager_->Init(clientKind));
    Pump();
    return *manager_;
}

void Bench::Stop() {
    if (!manager_) return;
    IPlugin* plugin = manager_;
    plugin->Uninit();
    g_manager = nullptr;
    manager_ = nullptr;
    delete plugin;
    Pump();
}

void Bench::Pump() { parleym::test::PumpMessages(3); }

std::vector<Received> Bench::LoaderMessages(UINT message) const {
    std::vector<Received> matching;
    for (const Received& received : g_loaderMessages)
        if (received.message == message) matching.push_back(received);
    return matching;
}

void Bench::ClearLoaderMessages() { g_loaderMessages.clear(); }
void Bench::WhileShowing(std::function<void(const std::string&)> action) { whileShowing_ = std::move(action); }

// ---------------------------------------------------------------- menus

std::vector<std::string> MenuTexts(HMENU menu) {
    std::vector<std::string> texts;
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        MENUITEMINFOA info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE;
        GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &info);
        if (info.fType & MFT_SEPARATOR) {
            texts.push_back("-");
            continue;
        }
        char text[256] = {};
        GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof(text), MF_BYPOSITION);
        texts.push_back(text);
    }
    return texts;
}

HMENU ParleymPopup(HWND window) {
    HMENU bar = GetMenu(window);
    const int count = GetMenuItemCount(bar);
    for (int i = 0; i < count; ++i) {
        char text[64] = {};
        GetMenuStringA(bar, static_cast<UINT>(i), text, sizeof(text), MF_BYPOSITION);
        if (std::string(text) == "Parleym") return GetSubMenu(bar, i);
    }
    return nullptr;
}

int CountParleymItems(HWND window) {
    int found = 0;
    for (const std::string& text : MenuTexts(GetMenu(window)))
        if (text == "Parleym") ++found;
    return found;
}

bool IsChecked(HMENU menu, UINT id) { return (GetMenuState(menu, id, MF_BYCOMMAND) & MF_CHECKED) != 0; }
bool IsGrayed(HMENU menu, UINT id) { return (GetMenuState(menu, id, MF_BYCOMMAND) & MF_GRAYED) != 0; }

bool ShowsWholeText(HWND label) {
    char text[256] = {};
    const int length = GetWindowTextA(label, text, sizeof(text));
    RECT client{};
    GetClientRect(label, &client);
    // Laid out as a label draws itself, with word breaks, in its own width; Wine's label
    // breaks the line a few pixels early (half an average character, measured by screenshots).
    HDC dc = GetDC(label);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(label, WM_GETFONT, 0, 0)));
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    const LONG room = client.right - (metrics.tmAveCharWidth + 1) / 2;
    RECT line{0, 0, 0, 0}, wrapped{0, 0, room, 0};
    DrawTextA(dc, text, length, &line, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    DrawTextA(dc, text, length, &wrapped, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    return length > 0 && wrapped.bottom <= line.bottom && wrapped.right <= room && client.bottom >= line.bottom;
}

namespace {
BOOL CALLBACK CheckLabel(HWND child, LPARAM lParam) {
    char className[16] = {}, text[256] = {};
    GetClassNameA(child, className, sizeof(className));
    GetWindowTextA(child, text, sizeof(text));
    const LONG_PTR kind = GetWindowLongPtrA(child, GWL_STYLE) & SS_TYPEMASK;
    const bool oneLineLabel = lstrcmpiA(className, "Static") == 0 && kind == SS_LEFT && text[0] && !strchr(text, '\n');
    if (oneLineLabel && !ShowsWholeText(child)) *reinterpret_cast<bool*>(lParam) = false;
    return TRUE;
}
} // namespace

bool AllLabelsShowWholeText(HWND dialog) {
    bool whole = true;
    EnumChildWindows(dialog, &CheckLabel, reinterpret_cast<LPARAM>(&whole));
    return whole;
}

} // namespace coretest

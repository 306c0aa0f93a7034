#include "bench/BenchMessenger.h"

#include <commctrl.h>

#include <cstdio>
#include <vector>

#include "plugin/core/UserMessage.h"
#include "plugin/core/UserSettingsFile.h"
#include "shared/Protocol.h"
#include "testbench/standin/EmoticonObject.h"

namespace bench {

namespace {

parleym::CParleymanager* g_manager = nullptr;

int PrintMessage(HWND, const char* text, const char* caption, UINT) {
    std::printf("message box: %s (%s)\n", text ? text : "", caption ? caption : "");
    return IDOK;
}

LRESULT CALLBACK GetMessageHook(int code, WPARAM wParam, LPARAM lParam) {
    auto* msg = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && msg->message == WM_COMMAND && g_manager &&
        parleym::IsPluginCommand(LOWORD(msg->wParam))) {
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
    RegisterClassA(&wc);
}

void RemoveFolder(const std::string& folder) {
    WIN32_FIND_DATAA found{};
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileA((folder + found.cFileName).c_str());
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    RemoveDirectoryA(folder.c_str());
}

} // namespace

class InProcessMessenger::Host : public standin::MessengerHost {
public:
    HWND OpenConversation(const std::string&) override { return nullptr; }
    HWND MainWindow() override { return nullptr; }
};

std::string TempPath(const std::string& name) {
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    std::string path = std::string(folder) + name;
    DeleteFileA(path.c_str());
    return path;
}

InProcessMessenger::InProcessMessenger() {
    CoInitialize(nullptr);
    LoadLibraryA("RichEd20.dll");
    INITCOMMONCONTROLSEX init{sizeof(init), ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&init);
    standin::RegisterEmoticonClass();
    parleym::SetUserMessageSink(&PrintMessage);

    folder_ = TempPath("parleym-bench-" + std::to_string(GetCurrentProcessId())) + "\\";
    CreateDirectoryA(folder_.c_str(), nullptr);
    // An empty settings file is what set-up leaves.
    CloseHandle(CreateFileA(DataFile("users.dat").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (parleym::WriteUserSettingsFile(DataFile("users.dat"), {}).kind != parleym::SettingsFileResult::Ok)
        std::printf("users.dat not written\n");

    for (const char* name : {"MSBLUIManager", "MSBLClass", "IMWindowClass"}) RegisterPlainClass(name);
    state_.SelectAccount(kAccount, "Me");
    state_.SetSignedIn(true);
    state_.SetMyStatus(MISTATUS_ONLINE);
    state_.AddContact(kContact, "Ann", MISTATUS_ONLINE);
    host_ = std::make_unique<Host>();
    api_ = std::make_unique<standin::MessengerApi>(state_, *host_);
    api_->Register();
    uiManager_ = CreateWindowExA(0, "MSBLUIManager", "", 0, 0, 0, 0, 0, nullptr, nullptr, GetModuleHandleA(nullptr),
                                 nullptr);
    HMENU bar = CreateMenu();
    HMENU file = CreatePopupMenu();
    AppendMenuA(file, MF_STRING, 100, "E&xit");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), "&File");
    main_ = CreateWindowExA(0, "MSBLClass", "Messenger", WS_OVERLAPPEDWINDOW, 10, 10, 300, 400, nullptr, bar,
                            GetModuleHandleA(nullptr), nullptr);
    hook_ = SetWindowsHookExA(WH_GETMESSAGE, &GetMessageHook, nullptr, GetCurrentThreadId());
}

InProcessMessenger::~InProcessMessenger() {
    Stop();
    if (hook_) UnhookWindowsHookEx(hook_);
    api_->Revoke();
    api_.reset();
    if (main_) DestroyWindow(main_);
    if (uiManager_) DestroyWindow(uiManager_);
    Pump();
    standin::RevokeEmoticonClass();
    parleym::SetUserMessageSink(nullptr);
    RemoveFolder(folder_);
    CoUninitialize();
}

parleym::CParleymanager* InProcessMessenger::Start() {
    Stop();
    manager_ = new parleym::CParleymanager();
    manager_->SetDataFolder(folder_);
    g_manager = manager_;
    if (!manager_->Init(1)) {
        Stop();
        return nullptr;
    }
    return manager_;
}

void InProcessMessenger::Stop() {
    if (!manager_) return;
    parleym::IPlugin* plugin = manager_;
    plugin->Uninit();
    g_manager = nullptr;
    manager_ = nullptr;
    delete plugin;
    Pump();
}

HWND InProcessMessenger::OpenConversation(HWND* window) {
    HMENU bar = CreateMenu();
    HMENU file = CreatePopupMenu();
    AppendMenuA(file, MF_STRING, 100, "&Close");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), "&File");
    *window = CreateWindowExA(0, "IMWindowClass", "Conversation", WS_OVERLAPPEDWINDOW, 20, 20, 400, 300, nullptr, bar,
                              GetModuleHandleA(nullptr), nullptr);
    CreateWindowExA(0, "edit", kContact, WS_CHILD | WS_VISIBLE, 0, 0, 300, 20, *window, reinterpret_cast<HMENU>(9),
                    GetModuleHandleA(nullptr), nullptr);
    HWND history = CreateWindowExA(0, "RichEdit20W", "", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_READONLY, 0, 30,
                                   380, 200, *window, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (manager_) manager_->OnCommand(nullptr, parleym::CMD_TRACK_WINDOW, reinterpret_cast<LPARAM>(*window));
    Pump();
    return history;
}

void InProcessMessenger::Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

} // namespace bench

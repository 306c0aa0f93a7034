#include "loader/Loader.h"

#include "loader/InstallationCheck.h"
#include "loader/LoaderMessage.h"
#include "loader/LoaderResources.h"
#include "loader/PluginMenu.h"
#include "shared/Protocol.h"
#include "shared/SwallowedFailure.h"

#include <shellapi.h>
#include <stdio.h>

namespace parleym {
namespace {

constexpr UINT kTrayIconId = 1;
constexpr const char kTrayTip[] = "Parleym";
// A hung window must not freeze the loader for good; responsive ones answer at once.
constexpr UINT kBroadcastTimeoutMs = 5000;

// Waits without handling posted messages, but answers messages sent to this
// thread: a plug-in shutting down in the messenger reports to the loader with
// SendMessage, and must not hang there while the loader waits.
void WaitAnsweringSentMessages(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds) return;
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_SENDMESSAGE) != WAIT_OBJECT_0)
            return;
        MSG ignored;
        PeekMessageA(&ignored, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

void ShowError(HWND owner, const char* text, UINT extraStyle = 0) {
    ShowLoaderMessage(owner, text, "Error", MB_OK | MB_ICONERROR | extraStyle);
}

} // namespace

Loader::Loader(HINSTANCE instance, const LoaderOptions& options) : instance_(instance), options_(options) {}

Loader::~Loader() {
    if (window_ && IsWindow(window_)) DestroyWindow(window_);
    if (classRegistered_) UnregisterClassA(kLoaderClassName, instance_);
}

bool Loader::Start() {
    if (FindWindowA(kLoaderClassName, kLoaderWindowTitle)) {
        ShowLoaderMessage(nullptr, "Parleym is already running", "Warning", MB_OK | MB_ICONWARNING);
        return false;
    }

    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = &Loader::WindowProc;
    windowClass.hInstance = instance_;
    windowClass.hIcon = LoadIconA(instance_, MAKEINTRESOURCEA(IDI_LOADER_LARGE));
    windowClass.hIconSm = LoadIconA(instance_, MAKEINTRESOURCEA(IDI_LOADER_SMALL));
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszMenuName = MAKEINTRESOURCEA(IDR_LOADER_MENU);
    windowClass.lpszClassName = kLoaderClassName;
    classRegistered_ = RegisterClassExA(&windowClass) != 0;

    window_ = CreateWindowExA(WS_EX_WINDOWEDGE, kLoaderClassName, kLoaderWindowTitle,
                              WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, nullptr, nullptr, instance_, this);
    if (!window_) return false;

    taskbarCreatedMessage_ = RegisterWindowMessageA("TaskbarCreated");
    if (!AddTrayIcon()) {
        ShowError(window_, "Failed to initialize tray icon");
        return false;
    }

    hookModule_ = LoadLibraryA(options_.hookLibrary);
    if (!hookModule_) {
        char text[96];
        snprintf(text, sizeof(text), "Failed to load hooks library. Code %d", static_cast<int>(GetLastError()));
        ShowError(nullptr, text);
        return false;
    }
    hooks_.SetModule(hookModule_);

    if (!options_.runInstallationChecks || CheckMessengerInstallation(window_)) {
        // Installed from the message loop, once the window is fully running.
        PostMessageA(window_, WM_COMMAND, ID_TOGGLE_ENABLE, 0);
        refreshMessage_ = RegisterWindowMessageA(kLoaderRefreshMessageName);
    } else {
        PostMessageA(window_, WM_CLOSE, 0, 0);
    }
    return true;
}

bool Loader::AddTrayIcon() {
    NOTIFYICONDATAA data = {};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE; // understood by every shell version
    data.hWnd = window_;
    data.uID = kTrayIconId;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = LDR_TRAY_NOTIFY;
    data.hIcon = static_cast<HICON>(
        LoadImageA(instance_, MAKEINTRESOURCEA(IDI_LOADER_SMALL), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    lstrcpynA(data.szTip, kTrayTip, sizeof(data.szTip));
    trayIconAdded_ = Shell_NotifyIconA(NIM_ADD, &data) != FALSE;
    if (data.hIcon) DestroyIcon(data.hIcon);
    return trayIconAdded_;
}

void Loader::Broadcast() {
    if (!refreshMessage_) return;
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(HWND_BROADCAST, refreshMessage_, 0, 0, SMTO_ABORTIFHUNG, kBroadcastTimeoutMs, &ignored);
}

void Loader::ApplyHookState() {
    if (enabled_) {
        if (!hooks_.Install()) {
            ShowError(nullptr, "Invalid hooks library. Failed to initialize plugin", MB_TASKMODAL);
            enabled_ = false;
        }
    } else {
        hooks_.Remove();
    }
    Broadcast();
}

LRESULT CALLBACK Loader::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        if (message == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
            SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* loader = reinterpret_cast<Loader*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (loader && loader->window_ == window) return loader->HandleMessage(message, wParam, lParam);
    } catch (...) {
        ReportSwallowed("loader window procedure");
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT Loader::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DESTROY:
        OnDestroy();
        return 0;
    case WM_CLOSE:
        // A polite end from outside (taskkill without /f) is an Exit, with its refusals:
        // removing the hooks would unload the plug-in under its own lock or dialog.
        Exit();
        return 0;
    case WM_COMMAND:
        return OnCommand(wParam, lParam);
    case LDR_SET_LOCKED:
        locked_ = wParam != 0;
        // Unlocked with the password: nothing is left for a later start.
        if (!locked_) lockOutlived_ = false;
        return 0;
    case LDR_SET_DIALOG_OPEN:
        dialogOpen_ = wParam != 0;
        return 0;
    case LDR_SET_PLUGIN_WINDOW:
        return SetPluginWindow(reinterpret_cast<HWND>(lParam));
    case LDR_SET_FOREGROUND:
        SetForegroundWindow(reinterpret_cast<HWND>(lParam));
        return 0;
    case LDR_TRAY_NOTIFY:
        if (lParam == WM_RBUTTONUP) ShowTrayMenu();
        return 0;
    default:
        // The shell lost its icons (Explorer restarted): put ours back.
        if (taskbarCreatedMessage_ && message == taskbarCreatedMessage_) {
            AddTrayIcon();
            return 0;
        }
        return DefWindowProcA(window_, message, wParam, lParam);
    }
}

LRESULT Loader::OnCommand(WPARAM wParam, LPARAM lParam) {
    const unsigned id = LOWORD(wParam);
    if (IsPluginCommand(id)) {
        // Any process can post to this window: only what the tray menu offers goes
        // on, never the plug-in's own commands that name windows (30005-30008, 30027).
        // Without a plug-in window the command has nowhere to go; posting to
        // window 0 would only land in the loader's own queue.
        if (pluginWindow_ && IsTrayMenuCommand(id)) PostMessageA(pluginWindow_, WM_COMMAND, MAKEWPARAM(id, 0), 0);
        return 0;
    }
    switch (id) {
    case ID_EXIT:
        Exit();
        return 0;
    case ID_TOGGLE_ENABLE:
        ToggleEnable();
        return 0;
    case ID_RESTART_HOOKS:
        RestartHooks(lParam);
        return 0;
    default:
        return DefWindowProcA(window_, WM_COMMAND, wParam, lParam);
    }
}

void Loader::ShowTrayMenu() {
    POINT cursor = {};
    GetCursorPos(&cursor);
    SetForegroundWindow(window_);

    HMENU popup = CreatePopupMenu();
    if (!popup) return;
    AppendMenuA(popup, MF_STRING, ID_TOGGLE_ENABLE, "Enable");
    AppendMenuA(popup, MF_SEPARATOR, 0, nullptr);
    CheckMenuItem(popup, ID_TOGGLE_ENABLE, MF_BYCOMMAND | (enabled_ ? MF_CHECKED : MF_UNCHECKED));
    AppendPluginMenuItems(popup, pluginWindow_);
    AppendMenuA(popup, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(popup, MF_STRING, ID_EXIT, "Exit");

    if (options_.showMenu) {
        options_.showMenu(popup, window_, cursor);
    } else {
        TrackPopupMenu(popup, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window_, nullptr);
        // Lets the menu close properly when the user clicks elsewhere.
        PostMessageA(window_, WM_NULL, 0, 0);
    }
    DestroyMenu(popup);
}

LRESULT Loader::SetPluginWindow(HWND window) {
    ForgetVanishedPlugin();
    if (!window) {
        // The plug-in is leaving; one that leaves locked (its process ending) leaves the lock behind.
        if (locked_) lockOutlived_ = true;
        locked_ = dialogOpen_ = false;
        pluginWindow_ = nullptr;
        pluginProcess_ = 0;
        return 0;
    }
    pluginWindow_ = window;
    pluginProcess_ = 0;
    GetWindowThreadProcessId(window, &pluginProcess_);
    return lockOutlived_ ? kLoaderLockOutlivedPlugin : 0;
}

void Loader::ForgetVanishedPlugin() {
    if (!pluginWindow_) return;
    DWORD process = 0;
    if (IsWindow(pluginWindow_) && GetWindowThreadProcessId(pluginWindow_, &process) && process == pluginProcess_)
        return;
    if (locked_) lockOutlived_ = true;
    locked_ = dialogOpen_ = false;
    pluginWindow_ = nullptr;
    pluginProcess_ = 0;
}

void Loader::ToggleEnable() {
    ForgetVanishedPlugin();
    if (enabled_) {
        if (locked_) {
            ShowError(window_, "Messenger client is locked. You must unlock it before disable Parleym");
            return;
        }
        if (dialogOpen_) {
            ShowError(window_, "You must close all Parleym windows and dialog boxes before disable Parleym");
            return;
        }
    }
    enabled_ = !enabled_;
    ApplyHookState();
}

void Loader::Exit() {
    ForgetVanishedPlugin();
    if (locked_) {
        ShowError(window_, "Messenger client is locked. You must unlock it before quit Parleym");
        return;
    }
    if (dialogOpen_) {
        ShowError(window_, "You must close all Parleym windows and dialog boxes before exit");
        return;
    }
    DestroyWindow(window_);
}

void Loader::RestartHooks(LPARAM clientIndex) {
    const char* managerClass = nullptr;
    if (clientIndex == 0) managerClass = kWindowsMessengerUiManagerClass;
    else if (clientIndex == 1) managerClass = kMsnMessengerUiManagerClass;
    else return;

    enabled_ = false;
    ApplyHookState();
    for (int attempt = 0; attempt < options_.restartPollCount; ++attempt) {
        WaitAnsweringSentMessages(options_.restartPollIntervalMs);
        if (FindWindowA(managerClass, "")) {
            enabled_ = true;
            ApplyHookState();
            return;
        }
    }
}

void Loader::OnDestroy() {
    if (enabled_) SendMessageA(window_, WM_COMMAND, ID_TOGGLE_ENABLE, 0);
    if (trayIconAdded_) {
        NOTIFYICONDATAA data = {};
        data.cbSize = NOTIFYICONDATAA_V1_SIZE; // understood by every shell version
        data.hWnd = window_;
        data.uID = kTrayIconId;
        Shell_NotifyIconA(NIM_DELETE, &data);
        trayIconAdded_ = false;
    }
    // Hooks left by a refused toggle must not outlive the library they point into.
    hooks_.Remove();
    hooks_.SetModule(nullptr);
    if (hookModule_) FreeLibrary(hookModule_);
    hookModule_ = nullptr;
    window_ = nullptr;
    if (options_.postQuitOnDestroy) PostQuitMessage(0);
}

} // namespace parleym

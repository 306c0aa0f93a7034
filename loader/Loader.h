#pragma once
// The loader's hidden window and everything its window procedure does:
// hook switching, tray menu, command relay and the plug-in's reports.
#include "loader/HookInstaller.h"

#include <windows.h>

namespace parleym {

struct LoaderOptions {
    const char* hookLibrary = "ParleymHk.dll";
    bool runInstallationChecks = true;
    // Shows the tray menu; the chosen command must arrive as WM_COMMAND.
    // Null: TrackPopupMenu at the cursor.
    void (*showMenu)(HMENU popup, HWND owner, POINT at) = nullptr;
    // Command 20000: how often and how long to look for the messenger's window.
    int restartPollCount = 100;
    DWORD restartPollIntervalMs = 1000;
    // Off for a loader embedded in a test, whose thread goes on afterwards.
    bool postQuitOnDestroy = true;
};

class Loader {
public:
    explicit Loader(HINSTANCE instance, const LoaderOptions& options = LoaderOptions());
    ~Loader();
    Loader(const Loader&) = delete;
    Loader& operator=(const Loader&) = delete;

    // Start-up; false when the program should end at once with exit code 0.
    bool Start();

    HWND Window() const { return window_; }
    bool Enabled() const { return enabled_; }
    bool Locked() const { return locked_; }
    // A lock that outlived its messenger, waiting for the next plug-in start.
    bool LockOutlivedPlugin() const { return lockOutlived_; }
    bool DialogOpen() const { return dialogOpen_; }
    HWND PluginWindow() const { return pluginWindow_; }
    bool HooksInstalled() const { return hooks_.AllInstalled(); }
    bool AnyHookInstalled() const { return hooks_.AnyInstalled(); }
    UINT RefreshMessage() const { return refreshMessage_; }

    // Installs or removes the hooks according to Enabled(), then tells every
    // top-level window's thread.
    void ApplyHookState();

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnCommand(WPARAM wParam, LPARAM lParam);
    void ShowTrayMenu();
    void ToggleEnable();
    void Exit();
    void RestartHooks(LPARAM clientIndex);
    LRESULT SetPluginWindow(HWND window);
    // The plug-in's window went away without a word (its messenger crashed or was
    // ended): what it reported no longer holds.
    void ForgetVanishedPlugin();
    void OnDestroy();
    bool AddTrayIcon();
    void Broadcast();

    HINSTANCE instance_;
    LoaderOptions options_;
    HWND window_ = nullptr;
    HMODULE hookModule_ = nullptr;
    HookInstaller hooks_;
    bool classRegistered_ = false;
    bool trayIconAdded_ = false;
    bool enabled_ = false;
    bool locked_ = false;
    bool dialogOpen_ = false;
    HWND pluginWindow_ = nullptr;
    DWORD pluginProcess_ = 0;
    bool lockOutlived_ = false;
    UINT refreshMessage_ = 0;
    UINT taskbarCreatedMessage_ = 0;
};

} // namespace parleym

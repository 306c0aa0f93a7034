#pragma once
// The plug-in object as the hook library sees it. The slot order is fixed:
// the hook library and the plug-in are separate binaries that call each other
// only through this table, so never reorder, insert or remove operations.
#include <windows.h>

namespace parleym {

class IPlugin {
public:
    // Slot 0: deleting destructor; the hook library deletes the object after Uninit.
    virtual ~IPlugin() = default;
    // 1: start-up; clientKind 1 = Windows Messenger, 2 = MSN Messenger. Returns 0 on failure.
    virtual BOOL Init(int clientKind) = 0;
    // 2: shut-down, before the library is unloaded.
    virtual void Uninit() = 0;
    // 3: TRUE for the messenger's main window, tracked conversation windows and
    // windows of kinds 1-4; calls OnWindowShown first when notifyShown is set.
    virtual BOOL IsMessengerWindow(HWND window, BOOL notifyShown) = 0;
    // 4
    virtual void OnWindowShown(HWND window) = 0;
    // 5
    virtual void OnWindowDestroyed(HWND window) = 0;
    // 6
    virtual void OnInitMenu(HWND window, HMENU menu) = 0;
    // 7: command identifier in the low word of wParam.
    virtual void OnCommand(HWND window, WPARAM wParam, LPARAM lParam) = 0;
    // 8: replacement title for a window whose text is being set, or null to keep
    // the messenger's own. The text stays owned by the plug-in and must remain
    // valid at least until the next call into the plug-in.
    virtual const char* GetWindowTitle(HWND window) = 0;
    // 9
    virtual void OnButtonClicked(HWND control) = 0;
    // 10
    virtual void OnKeyDown(UINT virtualKey, HWND control) = 0;
    // 11
    virtual void OnWindowSized(HWND window) = 0;
    // 12: the history control changed (command 30027).
    virtual void OnHistoryChanged(HWND control) = 0;
    // 13
    virtual void OnEditChanged(HWND control) = 0;
    // 14: any input message reached the messenger.
    virtual void OnUserActivity() = 0;

protected:
    IPlugin() = default;
    IPlugin(const IPlugin&) = default;
    IPlugin& operator=(const IPlugin&) = default;
};

// The plug-in library's single export, by the name "GetInstance"
// (plain C name, no decoration: use a .def file). Null when allocation fails.
using GetInstanceFunction = IPlugin* (*)();
constexpr const char kGetInstanceExportName[] = "GetInstance";

} // namespace parleym

#pragma once
// A loader running inside the test program, with its tray menu captured, and a
// stand-in for the plug-in's dispatch window.
#include "loader/Loader.h"
#include "loader/LoaderMessage.h"
#include "shared/Protocol.h"
#include "tests/hook/WineTestSupport.h"
#include "tests/support/MessageCapture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace parleym::test {

// "text" with " [x]" when checked and " (g)" when grayed; "-" for separators;
// a sub-menu as "text >" followed by its items indented by two blanks.
inline std::vector<std::string> DescribeMenu(HMENU menu, const std::string& indent = "") {
    std::vector<std::string> lines;
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        char text[128] = {};
        MENUITEMINFOA info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof(text);
        GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &info);
        if (info.fType & MFT_SEPARATOR) {
            lines.push_back(indent + "-");
            continue;
        }
        std::string line = indent + text;
        if (info.hSubMenu) line += " >";
        else line += " #" + std::to_string(info.wID);
        if (info.fState & MFS_CHECKED) line += " [x]";
        if (info.fState & MFS_GRAYED) line += " (g)";
        lines.push_back(line);
        if (info.hSubMenu) {
            auto sub = DescribeMenu(info.hSubMenu, indent + "  ");
            lines.insert(lines.end(), sub.begin(), sub.end());
        }
    }
    return lines;
}

struct MenuCapture {
    int shown = 0;
    std::vector<std::string> lines;
    UINT choose = 0; // posted as WM_COMMAND to the owner, as TrackPopupMenu would
};

inline MenuCapture& Menus() {
    static MenuCapture capture;
    return capture;
}

inline void CaptureMenu(HMENU popup, HWND owner, POINT) {
    Menus().shown++;
    Menus().lines = DescribeMenu(popup);
    if (Menus().choose) PostMessageA(owner, WM_COMMAND, Menus().choose, 0);
}

// The plug-in's side: answers the loader's queries, records relayed commands.
class FakePluginWindow {
public:
    LRESULT autoLock = CMD_AUTOLOCK_10;
    LRESULT logging = 1;
    std::vector<std::pair<WPARAM, LPARAM>> commands;

    FakePluginWindow() {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = &FakePluginWindow::Proc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "FakeParleymDispWnd";
        RegisterClassA(&windowClass);
        window = CreateWindowExA(0, "FakeParleymDispWnd", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 windowClass.hInstance, this);
    }
    ~FakePluginWindow() {
        if (window) DestroyWindow(window);
    }
    HWND window = nullptr;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE)
            SetWindowLongPtrA(hwnd, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
        auto* self = reinterpret_cast<FakePluginWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (self) {
            if (message == PLG_GET_AUTOLOCK) return self->autoLock;
            if (message == PLG_GET_LOGGING) return self->logging;
            if (message == WM_COMMAND) self->commands.emplace_back(wParam, lParam);
        }
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
};

// Counts the loader's broadcasts of its registered message.
class RefreshCounter {
public:
    int count = 0;
    RefreshCounter() {
        message_ = RegisterWindowMessageA(kLoaderRefreshMessageName);
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = &RefreshCounter::Proc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "LoaderRefreshCounter";
        RegisterClassA(&windowClass);
        window_ = CreateWindowExA(0, "LoaderRefreshCounter", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  windowClass.hInstance, this);
    }
    ~RefreshCounter() { DestroyWindow(window_); }

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE)
            SetWindowLongPtrA(hwnd, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
        auto* self = reinterpret_cast<RefreshCounter*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (self && message == self->message_) self->count++;
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    UINT message_ = 0;
    HWND window_ = nullptr;
};

} // namespace parleym::test

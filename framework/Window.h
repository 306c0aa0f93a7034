#pragma once
// The smallest window base that lets a C++ object receive its own window's
// messages through virtual handlers. Windows made by Create() use the
// framework's class; others can be attached (borrowed) without routing.
#include <windows.h>
#include <commctrl.h>

#include <string>

namespace parleym {

// The module whose resources (dialogs, menus, strings, icons) the framework
// loads: the plug-in DLL in production, the test program in tests.
HINSTANCE ResourceModule();
void SetResourceModule(HINSTANCE module);

// Loads a string resource of ResourceModule(); empty if it does not exist.
std::string LoadResourceString(UINT id);

// Tree views, list views and status bars need the common controls registered.
void EnsureCommonControls();

// The title-bar (small) and task-switcher (big) icons; a null one is not set.
void SetWindowIcons(HWND window, HICON smallIcon, HICON bigIcon);

class CWindow {
public:
    CWindow() = default;
    virtual ~CWindow();
    CWindow(const CWindow&) = delete;
    CWindow& operator=(const CWindow&) = delete;

    HWND GetSafeHwnd() const { return hwnd_; }
    explicit operator bool() const { return hwnd_ != nullptr; }

    // Borrow an existing window: no message routing, not destroyed by us.
    void Attach(HWND window);
    HWND Detach();

    // Creates a window of the framework's class whose messages reach WindowProc.
    bool CreateEx(DWORD exStyle, const char* title, DWORD style, int x, int y, int width, int height,
                  HWND parent, HMENU menuOrId);
    bool CreateEx(DWORD exStyle, const char* title, DWORD style, const RECT& rect, HWND parent, HMENU menuOrId) {
        return CreateEx(exStyle, title, style, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                        parent, menuOrId);
    }
    virtual bool DestroyWindow();

    // The object behind a window made by CreateEx, else null.
    static CWindow* FromHandle(HWND window);

protected:
    // Every message of a window made by CreateEx. The default routes to the
    // handlers below and falls back to DefWindowProcA.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    // Return true with `result` set to consume a message before the typed handlers.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // -1 fails the creation.
    virtual int OnCreate(CREATESTRUCTA* create);
    virtual void OnSize(UINT type, int width, int height);
    // True when handled.
    virtual bool OnCommand(WORD id, WORD code, HWND control);
    virtual bool OnNotify(NMHDR* header, LRESULT& result);
    virtual void OnClose();
    virtual void OnDestroy();
    // After the last message; the handle is already gone.
    virtual void PostNcDestroy();

    LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);
    void SetHandle(HWND window) { hwnd_ = window; }

private:
    static LRESULT CALLBACK StaticWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Route(UINT message, WPARAM wParam, LPARAM lParam);

    HWND hwnd_ = nullptr;
    bool owned_ = false;
};

} // namespace parleym

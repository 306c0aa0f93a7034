#include "framework/FrameWnd.h"

namespace parleym {

bool CFrameWnd::LoadFrame(UINT resourceId, DWORD style, HWND parent) {
    resourceId_ = resourceId;
    const std::string title = LoadResourceString(resourceId);
    HMENU menu = LoadMenuA(ResourceModule(), MAKEINTRESOURCEA(resourceId));
    loading_ = true;
    const bool created =
        CreateEx(0, title.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, parent, menu);
    loading_ = false;
    if (!created && menu && IsMenu(menu)) DestroyMenu(menu);
    return created;
}

bool CFrameWnd::OnCreateClient(CREATESTRUCTA*) { return true; }

bool CFrameWnd::CreateStatusBar(const UINT* indicators, int count) {
    if (!statusBar_.Create(GetSafeHwnd())) return false;
    return statusBar_.SetIndicators(indicators, count);
}

int CFrameWnd::OnCreate(CREATESTRUCTA* create) {
    SetWindowIcons(GetSafeHwnd(), nullptr, LoadIconA(ResourceModule(), MAKEINTRESOURCEA(resourceId_)));
    return OnCreateClient(create) ? 0 : -1;
}

void CFrameWnd::OnSize(UINT, int, int) { RecalcLayout(); }

void CFrameWnd::RecalcLayout() {
    if (!GetSafeHwnd()) return;
    RECT client{};
    GetClientRect(GetSafeHwnd(), &client);
    if (statusBar_.GetSafeHwnd()) {
        statusBar_.Reposition();
        client.bottom -= statusBar_.Height();
        if (client.bottom < 0) client.bottom = 0;
    }
    if (client_ && IsWindow(client_)) MoveWindow(client_, 0, 0, client.right, client.bottom, TRUE);
}

bool CFrameWnd::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT&) {
    if (message == WM_MENUSELECT && statusBar_.GetSafeHwnd()) {
        // The prompt of a menu item is the string resource of its identifier.
        const UINT flags = HIWORD(wParam);
        if (flags == 0xFFFF && lParam == 0)
            statusBar_.SetPaneText(0, "");
        else if (!(flags & MF_POPUP) && !(flags & MF_SEPARATOR))
            statusBar_.SetPaneText(0, LoadResourceString(LOWORD(wParam)));
    }
    return false;
}

void CFrameWnd::PostNcDestroy() {
    if (autoDelete_ && !loading_) delete this;
}

} // namespace parleym

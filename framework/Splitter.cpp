#include "framework/Splitter.h"

#include <windowsx.h>

namespace parleym {

bool CSplitterWnd::CreateStatic(HWND parent, int columns, UINT id) {
    if (columns < 1) return false;
    panes_.assign(static_cast<size_t>(columns), Pane{});
    RECT rect{0, 0, 0, 0};
    if (parent) GetClientRect(parent, &rect);
    return CreateEx(0, "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, rect, parent,
                    reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)));
}

bool CSplitterWnd::CreateView(int column, CView& view, int idealWidth) {
    if (column < 0 || column >= ColumnCount() || !GetSafeHwnd()) return false;
    RECT rect{0, 0, idealWidth, 0};
    if (!view.Create(GetSafeHwnd(), kFirstPaneId + static_cast<UINT>(column), rect)) return false;
    panes_[static_cast<size_t>(column)] = Pane{&view, idealWidth};
    RecalcLayout();
    return true;
}

CView* CSplitterWnd::GetPane(int column) const {
    if (column < 0 || column >= ColumnCount()) return nullptr;
    return panes_[static_cast<size_t>(column)].view;
}

int CSplitterWnd::ColumnWidth(int column) const {
    if (column < 0 || column >= ColumnCount()) return 0;
    return panes_[static_cast<size_t>(column)].width;
}

void CSplitterWnd::SetColumnWidth(int column, int width) {
    if (column < 0 || column >= ColumnCount()) return;
    panes_[static_cast<size_t>(column)].width = width < 0 ? 0 : width;
    RecalcLayout();
}

void CSplitterWnd::RecalcLayout() {
    if (!GetSafeHwnd()) return;
    RECT client{};
    GetClientRect(GetSafeHwnd(), &client);
    int x = 0;
    for (size_t i = 0; i < panes_.size(); ++i) {
        const bool last = i + 1 == panes_.size();
        int width = last ? client.right - x : panes_[i].width;
        if (width < 0) width = 0;
        if (panes_[i].view && panes_[i].view->GetSafeHwnd())
            MoveWindow(panes_[i].view->GetSafeHwnd(), x, 0, width, client.bottom, TRUE);
        x += width + kBarWidth;
    }
}

void CSplitterWnd::OnSize(UINT, int, int) { RecalcLayout(); }

int CSplitterWnd::BarAt(int x) const {
    int left = 0;
    for (size_t i = 0; i + 1 < panes_.size(); ++i) {
        left += panes_[i].width;
        if (x >= left && x < left + kBarWidth) return static_cast<int>(i);
        left += kBarWidth;
    }
    return -1;
}

bool CSplitterWnd::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
        // Panes report to the frame, as if they were its own children.
        result = SendMessageA(GetParent(GetSafeHwnd()), message, wParam, lParam);
        return true;
    case WM_SETCURSOR:
        if (reinterpret_cast<HWND>(wParam) == GetSafeHwnd() && LOWORD(lParam) == HTCLIENT) {
            SetCursor(LoadCursor(nullptr, IDC_SIZEWE));
            result = TRUE;
            return true;
        }
        return false;
    case WM_LBUTTONDOWN:
        draggedBar_ = BarAt(GET_X_LPARAM(lParam));
        if (draggedBar_ >= 0) SetCapture(GetSafeHwnd());
        return false;
    case WM_MOUSEMOVE:
        if (draggedBar_ >= 0 && GetCapture() == GetSafeHwnd()) {
            int left = 0;
            for (int i = 0; i < draggedBar_; ++i) left += panes_[static_cast<size_t>(i)].width + kBarWidth;
            SetColumnWidth(draggedBar_, GET_X_LPARAM(lParam) - left);
        }
        return false;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
        if (draggedBar_ >= 0) {
            draggedBar_ = -1;
            if (message == WM_LBUTTONUP && GetCapture() == GetSafeHwnd()) ReleaseCapture();
        }
        return false;
    default:
        return false;
    }
}

} // namespace parleym

#include "plugin/logging/LogRightView.h"

#include <cstdio>

#include "plugin/core/UserMessage.h"

namespace parleym {

namespace {
// Child, visible, clip-siblings, vertical scroll bar, read-only, multi-line.
constexpr DWORD kPaneStyle = 0x54200804;
// Wine's Rich Edit takes time growing with the square of the text to delete a
// long one (half a minute for 1 MB, the messenger frozen meanwhile), where
// destroying the control and making a new one takes a few milliseconds. A
// pane holding more than this is therefore made anew instead of emptied.
constexpr int kLongText = 64 * 1024;
}

HWND CLogRightView::CreateRichEdit(int width, int height) {
    return CreateWindowExA(0, "RichEdit20A", "", kPaneStyle, 0, 0, width, height, GetSafeHwnd(), nullptr,
                           ResourceModule(), nullptr);
}

int CLogRightView::OnCreate(CREATESTRUCTA*) {
    richEdit_ = CreateRichEdit(0, 0);
    if (!richEdit_) {
        char text[64];
        std::snprintf(text, sizeof(text), "Failed to log viewer. Code: %d", static_cast<int>(GetLastError()));
        ShowError(text, "Error");
        return -1;
    }
    return 0;
}

void CLogRightView::OnSize(UINT, int width, int height) {
    if (richEdit_) MoveWindow(richEdit_, 0, 0, width, height, TRUE);
}

void CLogRightView::Clear() {
    if (!richEdit_) return;
    if (GetWindowTextLengthA(richEdit_) > kLongText) {
        RECT area{};
        ::GetClientRect(GetSafeHwnd(), &area);
        if (HWND fresh = CreateRichEdit(area.right, area.bottom)) {
            const bool focused = GetFocus() == richEdit_;
            // Placed where the old one was among the siblings, for the tab order.
            ::SetWindowPos(fresh, richEdit_, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            ::DestroyWindow(richEdit_);
            richEdit_ = fresh;
            if (focused) ::SetFocus(fresh);
            return;
        }
    }
    SetWindowTextA(richEdit_, "");
}

} // namespace parleym

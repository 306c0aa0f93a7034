#include "plugin/logging/LogRightView.h"

#include <cstdio>

#include "plugin/core/UserMessage.h"

namespace parleym {

namespace {
// Child, visible, clip-siblings, vertical scroll bar, read-only, multi-line.
constexpr DWORD kPaneStyle = 0x54200804;
}

int CLogRightView::OnCreate(CREATESTRUCTA*) {
    richEdit_ = CreateWindowExA(0, "RichEdit20A", "", kPaneStyle, 0, 0, 0, 0, GetSafeHwnd(), nullptr,
                                ResourceModule(), nullptr);
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

void CLogRightView::Clear() const {
    if (richEdit_) SetWindowTextA(richEdit_, "");
}

} // namespace parleym

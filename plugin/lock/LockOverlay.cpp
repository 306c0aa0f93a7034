#include "plugin/lock/LockOverlay.h"

#include "plugin/lock/LockResources.h"

namespace parleym {

CLockConvDlg::CLockConvDlg() : CDialog(IDD_LOCK_CONV) {}

CLockOverlay::CLockOverlay() = default;

CLockOverlay::~CLockOverlay() {
    try {
        Remove();
    } catch (...) {
    }
}

void CLockOverlay::Show(HWND window) {
    Remove();
    lockedWindow_ = window;
    if (!window || !IsWindow(window)) return;

    WINDOWPLACEMENT placement{};
    placement.length = sizeof(placement);
    if (GetWindowPlacement(window, &placement) && placement.showCmd == SW_SHOWMINIMIZED)
        ShowWindow(window, SW_SHOWNORMAL);

    if (IsWindowEnabled(window)) {
        wasEnabled_ = true;
        EnableWindow(window, FALSE);
    }

    auto panel = std::make_unique<CLockConvDlg>();
    if (!panel->Create(window)) return;
    overlay_ = std::move(panel);
    HWND overlay = overlay_->GetSafeHwnd();

    // Half the window's outer size less half the panel's, taken as a point in
    // the window's client area.
    RECT windowRect{}, overlayRect{};
    GetWindowRect(window, &windowRect);
    GetWindowRect(overlay, &overlayRect);
    const int overlayWidth = overlayRect.right - overlayRect.left;
    const int overlayHeight = overlayRect.bottom - overlayRect.top;
    POINT origin{(windowRect.right - windowRect.left) / 2 - overlayWidth / 2,
                 (windowRect.bottom - windowRect.top) / 2 - overlayHeight / 2};
    ClientToScreen(window, &origin);
    MoveWindow(overlay, origin.x, origin.y, overlayWidth, overlayHeight, FALSE);
    ShowWindow(overlay, SW_SHOWNORMAL);
}

void CLockOverlay::Remove() {
    if (!overlay_ && !wasEnabled_) return;
    // The panel may already be gone with its owner; the object then holds no window.
    if (overlay_) {
        overlay_->DestroyWindow();
        overlay_.reset();
    }
    if (wasEnabled_) {
        wasEnabled_ = false;
        if (lockedWindow_ && IsWindow(lockedWindow_)) EnableWindow(lockedWindow_, TRUE);
    }
}

} // namespace parleym

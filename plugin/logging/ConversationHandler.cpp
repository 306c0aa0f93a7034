#include "plugin/logging/ConversationHandler.h"

namespace parleym {

namespace {
ConversationHandler::LockOverlayFactory g_lockOverlayFactory = nullptr;
}

ConversationHandler::LockOverlayFactory ConversationHandler::SetLockOverlayFactory(LockOverlayFactory factory) {
    LockOverlayFactory previous = g_lockOverlayFactory;
    g_lockOverlayFactory = factory;
    return previous;
}

ConversationHandler::~ConversationHandler() {
    RemoveLockOverlay();
}

void ConversationHandler::ShowLockOverlay(HWND window) {
    RemoveLockOverlay();
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

    if (!g_lockOverlayFactory) return;
    overlay_ = g_lockOverlayFactory(window);
    if (!overlay_) return;

    // Centre the panel on the window, taking the point as client coordinates.
    RECT windowRect{}, overlayRect{};
    GetWindowRect(window, &windowRect);
    GetWindowRect(overlay_, &overlayRect);
    const int overlayWidth = overlayRect.right - overlayRect.left;
    const int overlayHeight = overlayRect.bottom - overlayRect.top;
    POINT origin{(windowRect.right - windowRect.left) / 2 - overlayWidth / 2,
                 (windowRect.bottom - windowRect.top) / 2 - overlayHeight / 2};
    ClientToScreen(window, &origin);
    MoveWindow(overlay_, origin.x, origin.y, overlayWidth, overlayHeight, FALSE);
    ShowWindow(overlay_, SW_SHOWNORMAL);
}

void ConversationHandler::RemoveLockOverlay() {
    if (overlay_) {
        if (IsWindow(overlay_)) DestroyWindow(overlay_);
        overlay_ = nullptr;
    }
    if (wasEnabled_) {
        wasEnabled_ = false;
        if (lockedWindow_ && IsWindow(lockedWindow_)) EnableWindow(lockedWindow_, TRUE);
    }
}

} // namespace parleym

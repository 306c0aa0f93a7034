#include "plugin/lock/LockOverlay.h"

#include <set>

#include "framework/LabelFit.h"
#include "plugin/lock/LockResources.h"

namespace parleym {
namespace {

std::set<HWND>& Panels() {
    static std::set<HWND> panels;
    return panels;
}

} // namespace

CLockConvDlg::CLockConvDlg() : CDialog(IDD_LOCK_CONV) {}

BOOL CLockConvDlg::OnInitDialog() {
    Panels().insert(GetSafeHwnd());
    CDialog::OnInitDialog();
    // No focus for it: the dialog manager would activate the panel to give it.
    return FALSE;
}

void CLockConvDlg::OnSize(UINT, int, int) { CentreLabel(GetWindow(GetSafeHwnd(), GW_CHILD)); }

bool CLockConvDlg::OnDialogMessage(UINT message, WPARAM, LPARAM, INT_PTR& result) {
    if (message != WM_MOUSEACTIVATE) return false;
    SetWindowLongPtrA(GetSafeHwnd(), DWLP_MSGRESULT, MA_NOACTIVATE);
    result = TRUE;
    return true;
}

void CLockConvDlg::OnDestroy() {
    Panels().erase(GetSafeHwnd());
    CDialog::OnDestroy();
}

bool IsLockPanel(HWND window) { return window && Panels().count(window) != 0; }

CLockOverlay::CLockOverlay() = default;

CLockOverlay::~CLockOverlay() {
    try {
        Remove();
    } catch (...) {
    }
}

bool CLockOverlay::IsShown() const {
    HWND panel = Panel();
    return panel && IsWindow(panel);
}

void CLockOverlay::Show(HWND window) {
    // Shown again over the same window (a second lock round): only placed anew.
    if (window == lockedWindow_ && IsShown()) {
        Follow();
        return;
    }
    Remove();
    lockedWindow_ = window;
    if (!window || !IsWindow(window)) return;

    if (IsWindowEnabled(window)) {
        wasEnabled_ = true;
        EnableWindow(window, FALSE);
    }

    auto panel = std::make_unique<CLockConvDlg>();
    if (!panel->Create(window)) return;
    overlay_ = std::move(panel);
    Follow();
}

void CLockOverlay::Follow() {
    HWND panel = Panel();
    if (!panel || !IsWindow(panel) || !lockedWindow_ || !IsWindow(lockedWindow_)) return;
    // Nothing of the window shows: neither may its panel, which would float alone.
    if (!IsWindowVisible(lockedWindow_) || IsIconic(lockedWindow_)) {
        if (IsWindowVisible(panel)) ShowWindow(panel, SW_HIDE);
        return;
    }
    RECT client{};
    GetClientRect(lockedWindow_, &client);
    MapWindowPoints(lockedWindow_, nullptr, reinterpret_cast<POINT*>(&client), 2);
    // Without activation: the user may be typing the password.
    SetWindowPos(panel, nullptr, client.left, client.top, client.right - client.left, client.bottom - client.top,
                 SWP_NOACTIVATE | SWP_NOZORDER | SWP_SHOWWINDOW);
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

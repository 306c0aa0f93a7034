#pragma once
// The "Messenger client is locked" panel over one window, and what the lock
// did to that window, so that the unlock can undo exactly that.
#include <windows.h>

#include <memory>

#include "framework/Dialog.h"

namespace parleym {

// The panel itself: a modeless, captionless dialog owned by the locked window,
// its label in the middle of it.
class CLockConvDlg : public CDialog {
public:
    CLockConvDlg();

protected:
    BOOL OnInitDialog() override;
    // Escape or Enter on the panel must not take it away.
    void OnOK() override {}
    void OnCancel() override {}
    void OnSize(UINT type, int width, int height) override;
    // A click on the panel leaves the unlock dialog active.
    bool OnDialogMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    void OnDestroy() override;
};

// Whether the window is one of the panels.
bool IsLockPanel(HWND window);

class CLockOverlay {
public:
    CLockOverlay();
    ~CLockOverlay();
    CLockOverlay(const CLockOverlay&) = delete;
    CLockOverlay& operator=(const CLockOverlay&) = delete;

    // Disables the window if it was enabled and puts the panel over its whole
    // client area. A minimised window stays minimised and a hidden one hidden:
    // the panel shows whenever the window does (see Follow).
    void Show(HWND window);
    // Brings the panel over the window again after the window moved, changed
    // size, was hidden, shown, minimised or restored. Never activates the panel.
    void Follow();
    // Takes the panel away and enables the window again if Show disabled it.
    void Remove();

    bool IsShown() const;
    HWND LockedWindow() const { return lockedWindow_; }
    bool WasEnabled() const { return wasEnabled_; }
    HWND Panel() const { return overlay_ ? overlay_->GetSafeHwnd() : nullptr; }

private:
    HWND lockedWindow_ = nullptr;
    bool wasEnabled_ = false;
    std::unique_ptr<CLockConvDlg> overlay_;
};

} // namespace parleym

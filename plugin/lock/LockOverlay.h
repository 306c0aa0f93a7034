#pragma once
// The "Messenger client is locked" panel over one messenger window, and what
// the lock did to that window, so that the unlock can undo exactly that.
#include <windows.h>

#include <memory>

#include "framework/Dialog.h"

namespace parleym {

// The panel itself: a modeless, captionless dialog owned by the locked window.
class CLockConvDlg : public CDialog {
public:
    CLockConvDlg();

protected:
    // Escape or Enter on the panel must not take it away.
    void OnOK() override {}
    void OnCancel() override {}
};

class CLockOverlay {
public:
    CLockOverlay();
    ~CLockOverlay();
    CLockOverlay(const CLockOverlay&) = delete;
    CLockOverlay& operator=(const CLockOverlay&) = delete;

    // Restores a minimised window, disables it if it was enabled, and puts the
    // panel in its middle.
    void Show(HWND window);
    // Takes the panel away and enables the window again if Show disabled it.
    void Remove();

    bool IsShown() const { return overlay_ != nullptr; }
    HWND LockedWindow() const { return lockedWindow_; }
    bool WasEnabled() const { return wasEnabled_; }
    HWND Panel() const { return overlay_ ? overlay_->GetSafeHwnd() : nullptr; }

private:
    HWND lockedWindow_ = nullptr;
    bool wasEnabled_ = false;
    std::unique_ptr<CLockConvDlg> overlay_;
};

} // namespace parleym

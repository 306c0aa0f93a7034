#pragma once
// "Unlock messenger": disables every window of the messenger process while it
// runs, and gives them back only for the password in force when the lock began.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "plugin/core/ParleymDlg.h"

namespace parleym {

class CLockGuard;

// What the lock changes beyond the windows the dialog disables.
struct LockedDlgActions {
    // Windows left enabled (the panels, the About box).
    std::function<bool(HWND window)> usableWhileLocked;
    // The dialog while it exists, nullptr after: refused commands bring it forward.
    std::function<void(HWND dialog)> setLockDialog;
    // The panels over the messenger's windows, on or off.
    std::function<void(bool locked)> setLocked;
};

class CLockedDlg : public CParleymDlg {
public:
    enum Mode { kInitial = 0, kUnlock = 1 };

    // `digest`: the password digest of the account signed in when the lock
    // began; another account signing in meanwhile changes nothing. `guard`,
    // when given, keeps the windows locked while the dialog shows.
    CLockedDlg(IDialogHost& host, HWND parent, std::string digest, LockedDlgActions actions,
               CLockGuard* guard = nullptr);

    const std::vector<HWND>& DisabledWindows() const { return disabled_; }
    // Ends the lock: panels off, the loader told, every window enabled again.
    void GiveBack();

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    // Escape and the close box: the lock ends only with the password.
    void OnCancel() override;
    void OnDestroy() override;

private:
    static BOOL CALLBACK DisableWindow(HWND window, LPARAM lParam);

    LockedDlgActions actions_;
    std::string digest_;
    CLockGuard* guard_;
    HWND loaderWnd_ = nullptr;
    int mode_ = kInitial;
    HWND label_ = nullptr;
    HWND password_ = nullptr;
    std::vector<HWND> disabled_;
};

} // namespace parleym

#pragma once
// "Unlock messenger": disables every window of the messenger process while it
// runs, and gives them back only for the signed-in account's password.
#include <windows.h>

#include <vector>

#include "framework/Dialog.h"

namespace parleym {

class CParleymanager;

class CLockedDlg : public CDialog {
public:
    enum Mode { kInitial = 0, kUnlock = 1 };

    CLockedDlg(CParleymanager* manager, HWND parent);

    const std::vector<HWND>& DisabledWindows() const { return disabled_; }

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    // Escape and the close box: the lock ends only with the password.
    void OnCancel() override;
    void OnDestroy() override;

private:
    static BOOL CALLBACK DisableWindow(HWND window, LPARAM lParam);

    CParleymanager* manager_;
    HWND loaderWnd_ = nullptr;
    int mode_ = kInitial;
    HWND label_ = nullptr;
    HWND password_ = nullptr;
    std::vector<HWND> disabled_;
};

} // namespace parleym

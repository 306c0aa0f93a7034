#include "plugin/lock/SetPasswordDlg.h"

#include "framework/LabelFit.h"
#include "plugin/core/UserAccounts.h"
#include "plugin/core/UserMessage.h"
#include "plugin/lock/LockResources.h"
#include "plugin/lock/PasswordFocus.h"

namespace parleym {

CSetPasswordDlg::CSetPasswordDlg(IDialogHost& host, CUserAccounts& accounts, const std::string& signInName)
    : CParleymDlg(IDD_SET_PASSWORD, &host), accounts_(accounts), signInName_(signInName) {}

BOOL CSetPasswordDlg::OnInitDialog() {
    const BOOL result = CParleymDlg::OnInitDialog();
    // What it checks and sets is the password of the account signed in now.
    BindToAccount();
    FitLabelsToText(GetSafeHwnd());
    // Without a password there is nothing to confirm: an empty current password matches.
    if (!accounts_.IsPasswordSet()) EnableWindow(GetItem(IDC_PASSWORD_CURRENT), FALSE);
    return result;
}

void CSetPasswordDlg::OnOK() {
    if (!StillForItsAccount()) {
        EndDialog(IDCANCEL);
        return;
    }
    current_ = GetItemText(IDC_PASSWORD_CURRENT);
    new_ = GetItemText(IDC_PASSWORD_NEW);
    retyped_ = GetItemText(IDC_PASSWORD_RETYPE);
    const UINT style = MB_OK | MB_ICONERROR;
    if (new_.empty()) {
        ShowUserMessage(GetSafeHwnd(), "Password can not be empty", "Error", style);
        FocusAndSelect(GetSafeHwnd(), IDC_PASSWORD_NEW);
        return;
    }
    if (new_ != retyped_) {
        ShowUserMessage(GetSafeHwnd(), "You didn't retype password correctly", "Error", style);
        FocusAndSelect(GetSafeHwnd(), IDC_PASSWORD_RETYPE);
        return;
    }
    if (!accounts_.ChangePassword(signInName_, current_, new_)) {
        ShowUserMessage(GetSafeHwnd(), "Current password mismatch", "Error", style);
        return;
    }
    EndDialog(IDOK);
}

} // namespace parleym

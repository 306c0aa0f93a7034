#include "plugin/lock/ViewLogsPassDlg.h"

#include "framework/LabelFit.h"
#include "plugin/core/UserAccounts.h"
#include "plugin/core/UserMessage.h"
#include "plugin/lock/LockResources.h"
#include "plugin/lock/PasswordFocus.h"

namespace parleym {

CViewLogsPassDlg::CViewLogsPassDlg(IDialogHost& host, const CUserAccounts& accounts)
    : CParleymDlg(IDD_VIEW_LOGS_PASSWORD, &host, nullptr, kOpenDialog), accounts_(accounts) {}

BOOL CViewLogsPassDlg::OnInitDialog() {
    const BOOL result = CParleymDlg::OnInitDialog();
    // The password is one account's: the prompt goes when that account signs out.
    BindToAccount();
    FitLabelsToText(GetSafeHwnd());
    return result;
}

void CViewLogsPassDlg::OnOK() {
    // Typed for the account that signed out: it opens nothing.
    if (AccountChanged()) {
        EndDialog(IDCANCEL);
        return;
    }
    password_ = GetItemText(IDC_PASSWORD_NEW);
    if (accounts_.VerifyPassword(password_)) {
        EndDialog(IDOK);
        return;
    }
    ShowUserMessage(GetSafeHwnd(), "Wrong password", "Error", MB_OK | MB_ICONERROR);
    SetItemText(IDC_PASSWORD_NEW, "");
    FocusAndSelect(GetSafeHwnd(), IDC_PASSWORD_NEW);
}

} // namespace parleym

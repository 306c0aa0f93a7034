#include "plugin/lock/ViewLogsPassDlg.h"

#include "framework/LabelFit.h"
#include "plugin/core/Parleymanager.h"
#include "plugin/core/PluginResources.h"
#include "plugin/core/UserMessage.h"
#include "plugin/lock/LockResources.h"
#include "plugin/lock/PasswordFocus.h"

namespace parleym {

CViewLogsPassDlg::CViewLogsPassDlg(CParleymanager* manager) : CDialog(IDD_VIEW_LOGS_PASSWORD), manager_(manager) {}

BOOL CViewLogsPassDlg::OnInitDialog() {
    const BOOL result = CDialog::OnInitDialog();
    FitLabelsToText(GetSafeHwnd());
    if (manager_) manager_->SetOpenDialog(GetSafeHwnd());
    accountSession_ = manager_ ? manager_->AccountSession() : 0;
    HICON small = static_cast<HICON>(
        LoadImageA(ResourceModule(), MAKEINTRESOURCEA(IDI_PARLEYM_SMALL), IMAGE_ICON, 16, 16, LR_SHARED));
    if (small) SendMessageA(GetSafeHwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    return result;
}

void CViewLogsPassDlg::OnOK() {
    // Typed for the account that signed out: it opens nothing.
    if (manager_ && manager_->AccountSession() != accountSession_) {
        EndDialog(IDCANCEL);
        return;
    }
    password_ = GetItemText(IDC_PASSWORD_NEW);
    if (manager_ && manager_->VerifyPassword(password_)) {
        EndDialog(IDOK);
        return;
    }
    ShowUserMessage(GetSafeHwnd(), "Wrong password", "Error", MB_OK | MB_ICONERROR);
    SetItemText(IDC_PASSWORD_NEW, "");
    FocusAndSelect(GetSafeHwnd(), IDC_PASSWORD_NEW);
}

bool CViewLogsPassDlg::OnDialogMessage(UINT message, WPARAM, LPARAM, INT_PTR& result) {
    if (message != CParleymanager::kAccountEndedMessage) return false;
    EndDialog(IDCANCEL);
    result = TRUE;
    return true;
}

void CViewLogsPassDlg::OnDestroy() {
    if (manager_ && manager_->OpenDialog() == GetSafeHwnd()) manager_->SetOpenDialog(nullptr);
    CDialog::OnDestroy();
}

} // namespace parleym

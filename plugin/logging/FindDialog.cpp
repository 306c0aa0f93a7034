#include "plugin/logging/FindDialog.h"

#include "plugin/logging/LogFindResources.h"

namespace parleym {

CFindDialog::CFindDialog(IDialogHost* host, HWND owner, const std::string& text)
    : CParleymDlg(IDD_LOG_FIND, host, owner, kOpenDialog), text_(text) {}

BOOL CFindDialog::OnInitDialog() {
    CParleymDlg::OnInitDialog();
    HWND edit = GetItem(IDC_LOG_FIND_TEXT);
    SetWindowTextA(edit, text_.c_str());
    SendMessageA(edit, EM_SETSEL, 0, -1);
    SetFocus(edit);
    return FALSE;
}

void CFindDialog::OnOK() {
    text_ = GetItemText(IDC_LOG_FIND_TEXT);
    // Nothing to find: the dialog stays, as a find box does.
    if (text_.empty()) {
        MessageBeep(MB_OK);
        SetFocus(GetItem(IDC_LOG_FIND_TEXT));
        return;
    }
    EndDialog(IDOK);
}

} // namespace parleym

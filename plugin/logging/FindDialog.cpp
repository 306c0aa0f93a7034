#include "plugin/logging/FindDialog.h"

#include "plugin/core/Parleymanager.h"
#include "plugin/core/PluginResources.h"
#include "plugin/logging/LogFindResources.h"

namespace parleym {

CFindDialog::CFindDialog(CParleymanager* manager, HWND owner, const std::string& text)
    : CDialog(IDD_LOG_FIND, owner), manager_(manager), text_(text) {}

BOOL CFindDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    // The loader must not unload the plug-in under this dialog's loop.
    if (manager_) manager_->SetOpenDialog(GetSafeHwnd());
    HICON small = static_cast<HICON>(
        LoadImageA(ResourceModule(), MAKEINTRESOURCEA(IDI_PARLEYM_SMALL), IMAGE_ICON, 16, 16, LR_SHARED));
    if (small) SendMessageA(GetSafeHwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
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

void CFindDialog::OnDestroy() {
    if (manager_ && manager_->OpenDialog() == GetSafeHwnd()) manager_->SetOpenDialog(nullptr);
    CDialog::OnDestroy();
}

} // namespace parleym

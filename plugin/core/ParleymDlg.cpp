#include "plugin/core/ParleymDlg.h"

#include "plugin/core/Parleymanager.h"
#include "plugin/core/PluginResources.h"
#include "plugin/core/UserMessage.h"
#include "shared/Protocol.h"

namespace parleym {

CParleymDlg::CParleymDlg(UINT templateId, CParleymanager* manager)
    : CDialog(templateId, manager ? manager->HiddenWindow() : nullptr), manager_(manager) {}

BOOL CParleymDlg::OnInitDialog() {
    const BOOL result = CDialog::OnInitDialog();
    HWND self = GetSafeHwnd();
    if (manager_) manager_->SetOpenDialog(self);
    HICON small = static_cast<HICON>(
        LoadImageA(ResourceModule(), MAKEINTRESOURCEA(IDI_PARLEYM_SMALL), IMAGE_ICON, 16, 16, LR_SHARED));
    HICON big = LoadIconA(ResourceModule(), MAKEINTRESOURCEA(IDI_PARLEYM));
    if (small) SendMessageA(self, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    if (big) SendMessageA(self, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    if (manager_) manager_->SendToLoader(LDR_SET_FOREGROUND, 0, reinterpret_cast<LPARAM>(self));
    return result;
}

void CParleymDlg::BindToAccount() {
    boundToAccount_ = true;
    accountSession_ = manager_ ? manager_->AccountSession() : 0;
}

bool CParleymDlg::StillForItsAccount() {
    if (!boundToAccount_ || !manager_ || manager_->AccountSession() == accountSession_) return true;
    ShowUserMessage(GetSafeHwnd(), kAccountChangedText, "Parleym", MB_OK | MB_ICONERROR);
    return false;
}

void CParleymDlg::OnAccountEnded() { EndDialog(IDCANCEL); }

bool CParleymDlg::OnDialogMessage(UINT message, WPARAM, LPARAM, INT_PTR& result) {
    if (message != CParleymanager::kAccountEndedMessage) return false;
    if (boundToAccount_) OnAccountEnded();
    result = TRUE;
    return true;
}

void CParleymDlg::OnDestroy() {
    if (manager_ && manager_->OpenDialog() == GetSafeHwnd()) manager_->SetOpenDialog(nullptr);
    CDialog::OnDestroy();
}

} // namespace parleym

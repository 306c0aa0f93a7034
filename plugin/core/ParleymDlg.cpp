#include "plugin/core/ParleymDlg.h"

#include "plugin/core/DialogHost.h"
#include "plugin/core/PluginResources.h"
#include "plugin/core/UserMessage.h"
#include "shared/Protocol.h"

namespace parleym {

CParleymDlg::CParleymDlg(UINT templateId, IDialogHost* host)
    : CParleymDlg(templateId, host, host ? host->HiddenWindow() : nullptr, kOpenDialog | kBringForward | kBigIcon) {}

CParleymDlg::CParleymDlg(UINT templateId, IDialogHost* host, HWND parent, unsigned traits)
    : CDialog(templateId, parent), host_(host), traits_(traits) {}

BOOL CParleymDlg::OnInitDialog() {
    const BOOL result = CDialog::OnInitDialog();
    HWND self = GetSafeHwnd();
    if (host_ && (traits_ & kOpenDialog)) host_->SetOpenDialog(self);
    HICON small = static_cast<HICON>(
        LoadImageA(ResourceModule(), MAKEINTRESOURCEA(IDI_PARLEYM_SMALL), IMAGE_ICON, 16, 16, LR_SHARED));
    HICON big = (traits_ & kBigIcon) ? LoadIconA(ResourceModule(), MAKEINTRESOURCEA(IDI_PARLEYM)) : nullptr;
    SetWindowIcons(self, small, big);
    if (host_ && (traits_ & kBringForward)) host_->SendToLoader(LDR_SET_FOREGROUND, 0, reinterpret_cast<LPARAM>(self));
    return result;
}

void CParleymDlg::BindToAccount() {
    boundToAccount_ = true;
    accountSession_ = host_ ? host_->AccountSession() : 0;
}

bool CParleymDlg::AccountChanged() const {
    return boundToAccount_ && host_ && host_->AccountSession() != accountSession_;
}

bool CParleymDlg::StillForItsAccount() {
    if (!AccountChanged()) return true;
    ShowUserMessage(GetSafeHwnd(), kAccountChangedText, "Parleym", MB_OK | MB_ICONERROR);
    return false;
}

void CParleymDlg::OnAccountEnded() { EndDialog(IDCANCEL); }

bool CParleymDlg::OnDialogMessage(UINT message, WPARAM, LPARAM, INT_PTR& result) {
    if (message != IDialogHost::kAccountEndedMessage) return false;
    if (boundToAccount_) OnAccountEnded();
    result = TRUE;
    return true;
}

void CParleymDlg::OnDestroy() {
    if (host_ && (traits_ & kOpenDialog) && host_->OpenDialog() == GetSafeHwnd()) host_->SetOpenDialog(nullptr);
    CDialog::OnDestroy();
}

} // namespace parleym

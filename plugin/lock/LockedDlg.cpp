#include "plugin/lock/LockedDlg.h"

#include <algorithm>
#include <utility>

#include "framework/LabelFit.h"
#include "plugin/core/Parleymanager.h"
#include "plugin/core/PasswordDigest.h"
#include "plugin/core/PluginResources.h"
#include "plugin/core/UserMessage.h"
#include "plugin/lock/LockGuard.h"
#include "plugin/lock/LockResources.h"
#include "shared/Protocol.h"
#include "shared/SwallowedFailure.h"

namespace parleym {

CLockedDlg::CLockedDlg(CParleymanager* manager, HWND parent, std::string digest, CLockGuard* guard)
    : CDialog(IDD_LOCKED, parent), manager_(manager), digest_(std::move(digest)), guard_(guard) {}

BOOL CALLBACK CLockedDlg::DisableWindow(HWND window, LPARAM lParam) {
    try {
        auto* self = reinterpret_cast<CLockedDlg*>(lParam);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process != GetCurrentProcessId() || window == self->GetSafeHwnd() || !IsWindowEnabled(window) ||
            (self->manager_ && self->manager_->IsUsableWhileLocked(window)))
            return TRUE;
        if (std::find(self->disabled_.begin(), self->disabled_.end(), window) == self->disabled_.end())
            self->disabled_.push_back(window);
        EnableWindow(window, FALSE);
        return TRUE;
    } catch (...) {
        ReportSwallowed("locked dialog window enumeration");
        return TRUE;
    }
}

BOOL CLockedDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    HWND self = GetSafeHwnd();
    HICON small = static_cast<HICON>(
        LoadImageA(ResourceModule(), MAKEINTRESOURCEA(IDI_PARLEYM_SMALL), IMAGE_ICON, 16, 16, LR_SHARED));
    HICON big = LoadIconA(ResourceModule(), MAKEINTRESOURCEA(IDI_PARLEYM));
    if (small) SendMessageA(self, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    if (big) SendMessageA(self, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    label_ = GetItem(IDC_LOCK_LABEL);
    password_ = GetItem(IDC_LOCK_PASSWORD);
    FitLabelsToText(self);
    loaderWnd_ = FindWindowA(kLoaderClassName, kLoaderWindowTitle);

    if (manager_) manager_->SetLockDialog(self);
    // The main window, conversations, open plug-in dialogs and hidden windows alike.
    EnumWindows(&CLockedDlg::DisableWindow, reinterpret_cast<LPARAM>(this));

    mode_ = kUnlock;
    if (manager_) {
        manager_->SetLocked(true);
        manager_->SendToLoader(LDR_SET_LOCKED, 1, 0);
    }
    if (guard_) guard_->Start();
    if (password_) SetFocus(password_);
    return FALSE;
}

void CLockedDlg::GiveBack() {
    if (guard_) guard_->Stop();
    if (manager_) {
        manager_->SetLocked(false);
        manager_->SendToLoader(LDR_SET_LOCKED, 0, 0);
    }
    for (HWND window : disabled_)
        if (IsWindow(window)) EnableWindow(window, TRUE);
    disabled_.clear();
    if (guard_) guard_->Release();
}

void CLockedDlg::OnOK() {
    const std::string text = GetItemText(IDC_LOCK_PASSWORD);
    if (MakePasswordDigest(text) == digest_) {
        GiveBack();
        EndDialog(IDOK);
        return;
    }
    ShowUserMessage(GetSafeHwnd(), "Password mismatch", "Error", MB_OK | MB_ICONERROR);
    SetItemText(IDC_LOCK_PASSWORD, "");
    if (password_) SetFocus(password_);
}

void CLockedDlg::OnCancel() {
    if (mode_ == kUnlock) return;
    CDialog::OnCancel();
}

void CLockedDlg::OnDestroy() {
    if (manager_) manager_->SetLockDialog(nullptr);
    CDialog::OnDestroy();
}

} // namespace parleym

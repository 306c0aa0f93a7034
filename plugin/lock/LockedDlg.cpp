#include "plugin/lock/LockedDlg.h"

#include <algorithm>
#include <utility>

#include "framework/LabelFit.h"
#include "plugin/core/DialogHost.h"
#include "plugin/core/PasswordDigest.h"
#include "plugin/core/UserMessage.h"
#include "plugin/lock/LockGuard.h"
#include "plugin/lock/LockResources.h"
#include "shared/Protocol.h"
#include "shared/SwallowedFailure.h"

namespace parleym {

CLockedDlg::CLockedDlg(IDialogHost& host, HWND parent, std::string digest, LockedDlgActions actions,
                       CLockGuard* guard)
    : CParleymDlg(IDD_LOCKED, &host, parent, kBigIcon), actions_(std::move(actions)), digest_(std::move(digest)),
      guard_(guard) {}

BOOL CALLBACK CLockedDlg::DisableWindow(HWND window, LPARAM lParam) {
    try {
        auto* self = reinterpret_cast<CLockedDlg*>(lParam);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process != GetCurrentProcessId() || window == self->GetSafeHwnd() || !IsWindowEnabled(window) ||
            (self->actions_.usableWhileLocked && self->actions_.usableWhileLocked(window)))
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
    CParleymDlg::OnInitDialog();
    HWND self = GetSafeHwnd();
    label_ = GetItem(IDC_LOCK_LABEL);
    password_ = GetItem(IDC_LOCK_PASSWORD);
    FitLabelsToText(self);
    loaderWnd_ = FindWindowA(kLoaderClassName, kLoaderWindowTitle);

    if (actions_.setLockDialog) actions_.setLockDialog(self);
    // The main window, conversations, open plug-in dialogs and hidden windows alike.
    EnumWindows(&CLockedDlg::DisableWindow, reinterpret_cast<LPARAM>(this));

    mode_ = kUnlock;
    if (actions_.setLocked) actions_.setLocked(true);
    Host()->SendToLoader(LDR_SET_LOCKED, 1, 0);
    if (guard_) guard_->Start();
    if (password_) SetFocus(password_);
    return FALSE;
}

void CLockedDlg::GiveBack() {
    if (guard_) guard_->Stop();
    if (actions_.setLocked) actions_.setLocked(false);
    Host()->SendToLoader(LDR_SET_LOCKED, 0, 0);
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
    CParleymDlg::OnCancel();
}

void CLockedDlg::OnDestroy() {
    if (actions_.setLockDialog) actions_.setLockDialog(nullptr);
    CParleymDlg::OnDestroy();
}

} // namespace parleym

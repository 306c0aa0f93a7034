// The manager's side of passwords and the lock: the two password dialogs, the
// lock command, the panels, and which commands a locked messenger refuses.
#include <vector>

#include "framework/FrameWnd.h"
#include "plugin/core/Parleymanager.h"
#include "plugin/core/UserMessage.h"
#include "plugin/lock/LockedDlg.h"
#include "plugin/lock/SetPasswordDlg.h"
#include "plugin/lock/ViewLogsPassDlg.h"
#include "shared/Protocol.h"

namespace parleym {
namespace {

constexpr char kSetPasswordFirst[] = "You must set a password first";

// Sets a flag for as long as it lives, also when what runs meanwhile throws.
struct FlagDuring {
    bool& flag;
    explicit FlagDuring(bool& f) : flag(f) { flag = true; }
    ~FlagDuring() { flag = false; }
};

} // namespace

void CParleymanager::RunSetPasswordDialog() {
    CSetPasswordDlg dialog(this);
    dialog.DoModal();
}

bool CParleymanager::RunViewLogsPasswordDialog() {
    CViewLogsPassDlg dialog(this);
    return dialog.DoModal() == IDOK;
}

void CParleymanager::LockMessenger(bool fromTimer) {
    if (fromTimer && (locked_ || lockDialogShowing_ || !IsSignedIn())) return;
    if (!IsSignedIn()) {
        ShowError("Messenger client is not signed in", "Parleym");
        return;
    }
    if (!IsPasswordSet()) {
        if (!fromTimer) {
            ShowError(kSetPasswordFirst, "Error");
            return;
        }
        // The timer asks again every second while the user stays idle: one box
        // until the user has been active again, never a pile of them.
        if (noPasswordBoxShowing_ || noPasswordBoxShownWhileIdle_) return;
        noPasswordBoxShownWhileIdle_ = true;
        FlagDuring showing(noPasswordBoxShowing_);
        ShowError(kSetPasswordFirst, "Error");
        return;
    }
    if (lockDialogShowing_) return;
    FlagDuring showing(lockDialogShowing_);
    DestroyLogViewer();
    CLockedDlg dialog(this, lockWnd_);
    // Returns only after the right password.
    dialog.DoModal();
}

void CParleymanager::SetLocked(bool on) {
    locked_ = on ? 1 : 0;
    // Showing a panel runs window messages; take the windows first.
    std::vector<HWND> windows;
    for (const auto& entry : conversations_) windows.push_back(entry.first);
    for (HWND window : windows) {
        ConversationHandler* handler = HandlerOf(window);
        if (!handler) continue;
        if (on)
            handler->ShowLockOverlay(window);
        else
            handler->RemoveLockOverlay();
    }
    if (!on)
        RemoveLockOverlay();
    else if (mainWnd_ && IsWindow(mainWnd_))
        ShowLockOverlay(mainWnd_);
}

void CParleymanager::ShowLockOverlay(HWND window) { mainLockOverlay_.Show(window); }

void CParleymanager::RemoveLockOverlay() { mainLockOverlay_.Remove(); }

// While locked, nothing may act in the user's name or change a setting. What
// stays is what shows nothing of the user's (About), the bring-forward of an
// open log viewer, and the plug-in's own internal commands, which keep the
// conversations tracked, covered and logged.
bool CParleymanager::RefusedWhileLocked(UINT id) const {
    switch (id) {
    case CMD_SEND_OFFLINE_MESSAGE:
    case CMD_SEND_OFFLINE_TO_SELECTED:
    case CMD_BROADCAST:
    case CMD_FORWARD_CONVERSATION:
    case CMD_LOCK_MESSENGER:
    case CMD_STATISTICS:
    case CMD_TOGGLE_LOGGING:
    case CMD_SET_PASSWORD:
    case CMD_AUTOLOCK_DISABLED:
    case CMD_AUTOLOCK_5:
    case CMD_AUTOLOCK_6:
    case CMD_AUTOLOCK_10:
    case CMD_AUTOLOCK_15:
    case CMD_SET_LOGS_PATH:
        return true;
    case CMD_VIEW_LOGS:
        // The viewer was closed by the lock; opening it again waits for the unlock.
        return !(logViewer_ && logViewer_->GetSafeHwnd());
    default:
        return false;
    }
}

void CParleymanager::BringLockDialogForward() {
    if (!lockDialog_ || !IsWindow(lockDialog_)) return;
    SetForegroundWindow(lockDialog_);
    SendToLoader(LDR_SET_FOREGROUND, 0, reinterpret_cast<LPARAM>(lockDialog_));
    FLASHWINFO flash{};
    flash.cbSize = sizeof(flash);
    flash.hwnd = lockDialog_;
    flash.dwFlags = FLASHW_CAPTION;
    flash.uCount = 3;
    flash.dwTimeout = 100;
    FlashWindowEx(&flash);
}

} // namespace parleym

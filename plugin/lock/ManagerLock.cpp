// The manager's side of passwords and the lock: the two password dialogs, the
// lock command, the panels, and which commands a locked messenger refuses.
#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "framework/FrameWnd.h"
#include "plugin/core/Parleymanager.h"
#include "plugin/core/UserMessage.h"
#include "plugin/lock/LockGuard.h"
#include "plugin/lock/LockedDlg.h"
#include "plugin/lock/SetPasswordDlg.h"
#include "plugin/lock/ViewLogsPassDlg.h"
#include "plugin/storage/Scoped.h"
#include "shared/Protocol.h"
#include "shared/SwallowedFailure.h"

namespace parleym {
namespace {

constexpr char kSetPasswordFirst[] = "You must set a password first";
// The unlock dialog shown again this often without the password, each time
// ended from outside at once, means it cannot be kept up: the lock gives up
// rather than leave every window disabled with no way back.
constexpr int kMostRoundsWithoutDialog = 50;

bool IsOfClass(HWND window, const char* name) {
    char className[64] = {};
    return GetClassNameA(window, className, sizeof(className)) && lstrcmpiA(className, name) == 0;
}

} // namespace

void CParleymanager::RunSetPasswordDialog() {
    CSetPasswordDlg dialog(*this, accounts_, book_.Self().signInName);
    dialog.DoModal();
}

bool CParleymanager::RunViewLogsPasswordDialog() {
    CViewLogsPassDlg dialog(*this, accounts_);
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
        noPasswordBoxShowing_ = true;
        ScopeGuard showing([this] { noPasswordBoxShowing_ = false; });
        ShowError(kSetPasswordFirst, "Error");
        return;
    }
    if (lockDialogShowing_) return;
    lockDialogShowing_ = true;
    ScopeGuard showing([this] { lockDialogShowing_ = false; });
    DestroyLogViewer();
    lockPending_ = false;
    MessagesHeldWhileLocked errorsAfterUnlock;
    CLockGuard guard([this](HWND window) { return IsUsableWhileLocked(window); },
                     [this](HWND window) { OnLockedWindowChanged(window); });
    CLockedDlg dialog(*this, lockWnd_, accounts_.PasswordDigest(),
                      {[this](HWND window) { return IsUsableWhileLocked(window); },
                       [this](HWND lockDialog) { SetLockDialog(lockDialog); }, [this](bool on) { SetLocked(on); }},
                      &guard);
    bool quit = false;
    WPARAM quitCode = 0;
    for (int round = 0;; ++round) {
        // Returns once the right password was typed, or when something ended the dialog.
        const INT_PTR result = dialog.DoModal();
        if (!locked_) break;
        MSG quitMessage;
        if (PeekMessageA(&quitMessage, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
            // The messenger is told to quit: it may, once unlocked.
            quit = true;
            quitCode = quitMessage.wParam;
            continue;
        }
        if (result == -1 || round >= kMostRoundsWithoutDialog) {
            dialog.GiveBack();
            break;
        }
    }
    if (quit) PostQuitMessage(static_cast<int>(quitCode));
}

bool CParleymanager::IsUsableWhileLocked(HWND window) const {
    return window && (window == lockDialog_ || window == lockExemptDialog_ || IsLockPanel(window));
}

void CParleymanager::OnLockedWindowChanged(HWND window) {
    if (!locked_ || !window) return;
    if (window == mainWnd_ && mainLockOverlay_.IsShown()) {
        mainLockOverlay_.Follow();
        return;
    }
    if (ConversationHandler* handler = HandlerOf(window)) {
        handler->FollowLockOverlay();
        return;
    }
    auto it = otherLockOverlays_.find(window);
    if (it != otherLockOverlays_.end() && it->second->IsShown()) {
        it->second->Follow();
        return;
    }
    if (IsWindowVisible(window) && ShouldCoverOther(window)) CoverOther(window);
}

bool CParleymanager::ShouldCoverOther(HWND window) const {
    if (window == mainWnd_ || HandlerOf(window) || IsUsableWhileLocked(window) || !IsTopLevelWindow(window))
        return false;
    // The main window and conversations get their panels when they are tracked.
    if (profile_) {
        const int kind = profile_->ClassifyWindow(window);
        if (kind == kMainWindow || kind == kConversationWindow) return false;
    }
    // Menus are refused, tooltips show nothing of the user's.
    return !IsOfClass(window, "#32768") && !IsOfClass(window, TOOLTIPS_CLASSA);
}

void CParleymanager::CoverOther(HWND window) {
    std::unique_ptr<CLockOverlay>& overlay = otherLockOverlays_[window];
    if (!overlay) overlay = std::make_unique<CLockOverlay>();
    overlay->Show(window);
}

struct CParleymanager::OtherWindows {
    const CParleymanager* manager;
    std::vector<HWND> found;
};

BOOL CALLBACK CParleymanager::CollectOtherWindow(HWND window, LPARAM lParam) {
    try {
        auto* other = reinterpret_cast<OtherWindows*>(lParam);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId() && IsWindowVisible(window) && other->manager->ShouldCoverOther(window))
            other->found.push_back(window);
        return TRUE;
    } catch (...) {
        ReportSwallowed("lock cover window enumeration");
        return TRUE;
    }
}

void CParleymanager::SetLocked(bool on) {
    locked_ = on ? 1 : 0;
    // Showing a panel runs window messages; take the windows first.
    for (HWND window : conversations_.Windows()) {
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
    // Whatever else shows something (the plug-in's own dialogs, the messenger's):
    // covered too, not only disabled.
    if (on) {
        OtherWindows other{this, {}};
        EnumWindows(&CParleymanager::CollectOtherWindow, reinterpret_cast<LPARAM>(&other));
        for (HWND window : other.found) CoverOther(window);
    } else {
        std::map<HWND, std::unique_ptr<CLockOverlay>> overlays;
        overlays.swap(otherLockOverlays_);
        overlays.clear();
    }
}

void CParleymanager::ShowLockOverlay(HWND window) { mainLockOverlay_.Show(window); }

const CLockOverlay* CParleymanager::OtherLockOverlay(HWND window) const {
    auto it = otherLockOverlays_.find(window);
    return it == otherLockOverlays_.end() ? nullptr : it->second.get();
}

void CParleymanager::LockIfPending() {
    if (!lockPending_ || locked_ || lockDialogShowing_ || !dispWnd_ || !IsSignedIn() || !IsPasswordSet()) return;
    // Not inside the event or start-up that made it possible: from the message loop.
    PostMessageA(dispWnd_, kLockPendingMessage, 0, 0);
}

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
    dialogs_.BringForward(lockDialog_);
}

} // namespace parleym

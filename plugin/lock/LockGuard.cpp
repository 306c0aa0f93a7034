#include "plugin/lock/LockGuard.h"

#include <algorithm>

#include "shared/SwallowedFailure.h"

namespace parleym {
namespace {

// A thread hook has no context of its own; there is one lock per process.
CLockGuard* g_guard = nullptr;

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ThisModule), &module);
    return module;
}

bool IsMenuWindow(HWND window) {
    char name[16] = {};
    return GetClassNameA(window, name, sizeof(name)) && lstrcmpA(name, "#32768") == 0;
}

struct OwnedSearch {
    HWND owner;
    bool found;
};

BOOL CALLBACK FindEnabledOwned(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<OwnedSearch*>(lParam);
    if (window != search->owner && GetWindow(window, GW_OWNER) == search->owner && IsWindowEnabled(window)) {
        search->found = true;
        return FALSE;
    }
    return TRUE;
}

// A window the dialog owns (its own message box) holds it disabled for a while.
bool HeldByItsOwnWindow(HWND dialog) {
    OwnedSearch search{dialog, false};
    EnumThreadWindows(GetWindowThreadProcessId(dialog, nullptr), &FindEnabledOwned, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

} // namespace

bool IsTopLevelWindow(HWND window) {
    if (!window || !IsWindow(window) || (GetWindowLongPtrA(window, GWL_STYLE) & WS_CHILD)) return false;
    HWND parent = GetAncestor(window, GA_PARENT);
    return parent == nullptr || parent == GetDesktopWindow();
}

CLockGuard::CLockGuard(UsablePredicate usable, WindowChanged changed)
    : usable_(std::move(usable)), changed_(std::move(changed)) {}

CLockGuard::~CLockGuard() {
    try {
        Stop();
    } catch (...) {
    }
}

bool CLockGuard::Start() {
    if (Started()) return true;
    if (g_guard) return false;
    const DWORD thread = GetCurrentThreadId();
    afterHook_ = SetWindowsHookExA(WH_CALLWNDPROCRET, &CLockGuard::AfterWindowProc, ThisModule(), thread);
    trainingHook_ = SetWindowsHookExA(WH_CBT, &CLockGuard::ComputerBasedTraining, ThisModule(), thread);
    if (!afterHook_ || !trainingHook_) {
        Stop();
        return false;
    }
    g_guard = this;
    return true;
}

void CLockGuard::Stop() {
    if (recheckTimer_) KillTimer(nullptr, recheckTimer_);
    recheckTimer_ = 0;
    recheck_.clear();
    if (afterHook_) UnhookWindowsHookEx(afterHook_);
    if (trainingHook_) UnhookWindowsHookEx(trainingHook_);
    afterHook_ = trainingHook_ = nullptr;
    if (g_guard == this) g_guard = nullptr;
}

bool CLockGuard::Started() const { return g_guard == this && afterHook_ && trainingHook_; }

void CLockGuard::Hold(HWND window) {
    if (!window || !IsWindowEnabled(window)) return;
    if (std::find(held_.begin(), held_.end(), window) == held_.end()) held_.push_back(window);
    EnableWindow(window, FALSE);
}

void CLockGuard::Release() {
    std::vector<HWND> held;
    held.swap(held_);
    for (HWND window : held)
        if (IsWindow(window)) EnableWindow(window, TRUE);
}

bool CLockGuard::IsUsable(HWND window) const {
    if (!window) return false;
    // A control counts as its top-level window.
    HWND top = GetAncestor(window, GA_ROOT);
    for (HWND at = top ? top : window; at; at = GetWindow(at, GW_OWNER))
        if (usable_ && usable_(at)) return true;
    return false;
}

void CLockGuard::OnMessageHandled(const CWPRETSTRUCT& message) {
    HWND window = message.hwnd;
    switch (message.message) {
    case WM_ENABLE:
        if (!IsTopLevelWindow(window)) return;
        if (message.wParam) {
            // The messenger gave a window back (its own modal loop ended, say).
            if (!IsUsable(window)) Hold(window);
        } else if (usable_ && usable_(window)) {
            // Looked at once the disabling is done: a box of the window's own is made only after its owner is disabled.
            if (std::find(recheck_.begin(), recheck_.end(), window) == recheck_.end()) recheck_.push_back(window);
            if (!recheckTimer_) recheckTimer_ = SetTimer(nullptr, 0, 10, &CLockGuard::Recheck);
        }
        return;
    case WM_WINDOWPOSCHANGED: {
        const auto* position = reinterpret_cast<const WINDOWPOS*>(message.lParam);
        if (!position || !IsTopLevelWindow(window) || IsUsable(window)) return;
        const UINT still = SWP_NOMOVE | SWP_NOSIZE;
        const UINT shown = SWP_SHOWWINDOW | SWP_HIDEWINDOW | SWP_FRAMECHANGED;
        if ((position->flags & still) == still && !(position->flags & shown)) return;
        if (position->flags & SWP_SHOWWINDOW) Hold(window);
        if (changed_) changed_(window);
        return;
    }
    case WM_INITMENUPOPUP:
        // Where the system makes menu windows without asking (see ComputerBasedTraining).
        if (!IsUsable(window)) EndMenu();
        return;
    default:
        return;
    }
}

void CALLBACK CLockGuard::Recheck(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    try {
        CLockGuard* guard = g_guard;
        if (!guard || guard->recheckTimer_ != timer) return;
        guard->recheckTimer_ = 0;
        std::vector<HWND> windows;
        windows.swap(guard->recheck_);
        // Disabled by a task-modal box of the messenger's: without the window no password could be typed.
        for (HWND window : windows)
            if (IsWindow(window) && !IsWindowEnabled(window) && !HeldByItsOwnWindow(window)) EnableWindow(window, TRUE);
    } catch (...) {
        ReportSwallowed("lock recheck timer");
    }
}

bool CLockGuard::RefusesCreation(HWND window, const CREATESTRUCTA& create) const {
    return IsMenuWindow(window) && !IsUsable(create.hwndParent);
}

LRESULT CALLBACK CLockGuard::AfterWindowProc(int code, WPARAM wParam, LPARAM lParam) {
    try {
        CLockGuard* guard = g_guard;
        if (guard && code == HC_ACTION && lParam && !guard->handling_) {
            guard->handling_ = true;
            try {
                guard->OnMessageHandled(*reinterpret_cast<const CWPRETSTRUCT*>(lParam));
            } catch (...) {
                ReportSwallowed("lock window hook");
            }
            guard->handling_ = false;
        }
    } catch (...) {
        ReportSwallowed("lock window hook");
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK CLockGuard::ComputerBasedTraining(int code, WPARAM wParam, LPARAM lParam) {
    try {
        CLockGuard* guard = g_guard;
        if (guard) {
            HWND window = reinterpret_cast<HWND>(wParam);
            // The messenger's own popup menus (its notification-area menu) show nothing while locked.
            if (code == HCBT_CREATEWND && lParam) {
                const auto* create = reinterpret_cast<const CBT_CREATEWNDA*>(lParam);
                if (create->lpcs && guard->RefusesCreation(window, *create->lpcs)) return 1;
            }
            // Nothing takes the keyboard from the unlock dialog.
            if (code == HCBT_ACTIVATE && IsTopLevelWindow(window) && !guard->IsUsable(window)) return 1;
        }
    } catch (...) {
        ReportSwallowed("lock creation hook");
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace parleym

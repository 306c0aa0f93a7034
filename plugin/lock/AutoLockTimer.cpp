#include "plugin/lock/AutoLockTimer.h"

#include "shared/Protocol.h"
#include "shared/SwallowedFailure.h"

namespace parleym {

struct CAutoLockTimer::Count {
    UINT choice = CMD_AUTOLOCK_DISABLED;
    int idleLimit = 0;
    int idleSeconds = 0;
};

CAutoLockTimer::Count& CAutoLockTimer::ProcessCount() {
    static Count count;
    return count;
}

CAutoLockTimer::CAutoLockTimer() { ProcessCount().idleSeconds = 0; }

void CAutoLockTimer::Start() {
    ProcessCount() = Count{};
    timerId_ = SetTimer(nullptr, 0, 1000, &CAutoLockTimer::TimerProc);
}

void CAutoLockTimer::Stop() {
    if (timerId_) KillTimer(nullptr, timerId_);
    timerId_ = 0;
}

UINT CAutoLockTimer::Choice() { return ProcessCount().choice; }
int CAutoLockTimer::IdleSeconds() { return ProcessCount().idleSeconds; }

void CAutoLockTimer::Choose(UINT id) {
    Count& count = ProcessCount();
    count.choice = id;
    if (id == CMD_AUTOLOCK_DISABLED) return;
    static const int limits[] = {300, 360, 600, 900};
    count.idleSeconds = 0;
    count.idleLimit = limits[id - CMD_AUTOLOCK_5];
}

void CAutoLockTimer::OnActivity() { ProcessCount().idleSeconds = 0; }

void CALLBACK CAutoLockTimer::TimerProc(HWND, UINT, UINT_PTR, DWORD) {
    try {
        Count& count = ProcessCount();
        if (count.choice == CMD_AUTOLOCK_DISABLED) return;
        ++count.idleSeconds;
        if (count.idleSeconds >= count.idleLimit)
            PostThreadMessageA(GetCurrentThreadId(), WM_COMMAND, CMD_AUTOLOCK_TIMER, 0);
    } catch (...) {
        ReportSwallowed("auto-lock timer");
    }
}

} // namespace parleym

#pragma once
// The idle count behind auto-lock: the user's choice of minutes, and a thread
// timer counting idle seconds that asks for a lock once the choice is reached.
#include <windows.h>

namespace parleym {

class CAutoLockTimer {
public:
    // The count starts again.
    CAutoLockTimer();
    ~CAutoLockTimer() { Stop(); }
    CAutoLockTimer(const CAutoLockTimer&) = delete;
    CAutoLockTimer& operator=(const CAutoLockTimer&) = delete;

    // Each start begins disabled and counts from now, one tick a second.
    void Start();
    void Stop();
    // The process ends with the timer running: it goes with the thread.
    void Abandon() { timerId_ = 0; }

    // The timer has no object to reach, and there is one plug-in per
    // messenger process: the choice and the count are the process's.
    static UINT Choice();
    static int IdleSeconds();
    // One of the auto-lock commands (disabled, 5, 6, 10, 15 minutes).
    static void Choose(UINT id);
    static void OnActivity();
    static void CALLBACK TimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);

private:
    struct Count;
    static Count& ProcessCount();

    UINT_PTR timerId_ = 0;
};

} // namespace parleym

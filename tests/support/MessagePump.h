#pragma once
#include <windows.h>

#include <functional>

namespace parleym::test {

// Runs what is queued for this thread. Posting often posts more: `rounds` drains
// in a row, with `pauseMs` after each for timers and other threads.
void PumpMessages(int rounds = 1, DWORD pauseMs = 0);

// Waits for a handle while still answering messages sent to this thread's
// windows (the loader broadcasts to every top-level window).
bool WaitPumping(HANDLE handle, DWORD timeoutMs);

// Pumps until `done` holds or the time is up.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);

} // namespace parleym::test

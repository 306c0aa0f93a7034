#pragma once
// A get-message hook on the calling thread that shows each message retrieved
// for the thread to `Take` before it is dispatched. The messenger's message
// loop knows nothing of our modeless windows: it neither calls IsDialogMessage
// for them nor translates their keys, so this is where that is done.
//
// Take(window, msg) returns true when it has handled the message, which then
// reaches nobody (it becomes WM_NULL). A thread hook has no context pointer, so
// each Take serves one window at a time.
#include <windows.h>

#include "shared/SwallowedFailure.h"

namespace parleym {

template <bool (*Take)(HWND window, MSG& msg)>
class CThreadMessageHook {
public:
    CThreadMessageHook() = default;
    CThreadMessageHook(const CThreadMessageHook&) = delete;
    CThreadMessageHook& operator=(const CThreadMessageHook&) = delete;
    ~CThreadMessageHook() { Stop(); }

    // False when the hook cannot be installed or another window holds it.
    bool Start(HWND window) {
        Stop();
        if (hook_) return false;
        HMODULE self = nullptr;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&Proc), &self);
        hook_ = SetWindowsHookExA(WH_GETMESSAGE, &Proc, self, GetCurrentThreadId());
        if (!hook_) return false;
        window_ = window;
        started_ = true;
        return true;
    }

    void Stop() {
        if (!started_) return;
        started_ = false;
        if (hook_) UnhookWindowsHookEx(hook_);
        hook_ = nullptr;
        window_ = nullptr;
    }

    bool Started() const { return started_; }

private:
    static LRESULT CALLBACK Proc(int code, WPARAM wParam, LPARAM lParam) {
        try {
            // Only removed messages: a peeked one comes back and must not be handled twice.
            if (code == HC_ACTION && wParam == PM_REMOVE && lParam) {
                MSG* msg = reinterpret_cast<MSG*>(lParam);
                if (Take(window_, *msg)) {
                    msg->message = WM_NULL;
                    msg->wParam = 0;
                    msg->lParam = 0;
                }
            }
        } catch (...) {
            ReportSwallowed("thread message hook");
        }
        return CallNextHookEx(hook_, code, wParam, lParam);
    }

    static inline HHOOK hook_ = nullptr;
    static inline HWND window_ = nullptr;
    bool started_ = false;
};

} // namespace parleym

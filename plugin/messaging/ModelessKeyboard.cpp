#include "plugin/messaging/ModelessKeyboard.h"

namespace parleym {
namespace {

// A thread hook has no context pointer, hence the one dialog per process.
HHOOK g_hook = nullptr;
HWND g_dialog = nullptr;

LRESULT CALLBACK GetMessageHook(int code, WPARAM wParam, LPARAM lParam) {
    try {
        // Only removed messages: a peeked one comes back and must not be handled twice.
        if (code == HC_ACTION && wParam == PM_REMOVE && lParam) {
            MSG* msg = reinterpret_cast<MSG*>(lParam);
            if (CModelessKeyboard::Filter(g_dialog, *msg)) {
                msg->message = WM_NULL;
                msg->wParam = 0;
                msg->lParam = 0;
            }
        }
    } catch (...) {
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

} // namespace

bool CModelessKeyboard::Filter(HWND dialog, MSG& msg) {
    if (!dialog || !msg.hwnd || !IsWindow(dialog)) return false;
    // Keys only: IsDialogMessage dispatches whatever it is given, and other
    // messages are the messenger loop's to dispatch.
    if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return false;
    if (msg.hwnd != dialog && !IsChild(dialog, msg.hwnd)) return false;
    return IsDialogMessageA(dialog, &msg) != FALSE;
}

bool CModelessKeyboard::Start(HWND dialog) {
    Stop();
    if (g_hook) return false;  // another dialog holds it
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&GetMessageHook), &self);
    g_hook = SetWindowsHookExA(WH_GETMESSAGE, GetMessageHook, self, GetCurrentThreadId());
    if (!g_hook) return false;
    g_dialog = dialog;
    started_ = true;
    return true;
}

void CModelessKeyboard::Stop() {
    if (!started_) return;
    started_ = false;
    if (g_hook) UnhookWindowsHookEx(g_hook);
    g_hook = nullptr;
    g_dialog = nullptr;
}

} // namespace parleym

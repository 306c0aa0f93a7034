#include "plugin/logging/LogViewerKeys.h"

#include "plugin/logging/LogFindResources.h"

namespace parleym {
namespace {

// A thread hook has no context pointer; there is one viewer at most.
HHOOK g_hook = nullptr;
HWND g_viewer = nullptr;

bool Down(int key) { return (GetKeyState(key) & 0x8000) != 0; }

LRESULT CALLBACK GetMessageHook(int code, WPARAM wParam, LPARAM lParam) {
    try {
        // Only removed messages: a peeked one comes back and must not count twice.
        if (code == HC_ACTION && wParam == PM_REMOVE && lParam) {
            MSG* msg = reinterpret_cast<MSG*>(lParam);
            if (const WORD command = CLogViewerKeys::CommandFor(g_viewer, *msg)) {
                // Posted, not sent: "Find..." runs a dialog, which must not run inside this hook.
                PostMessageA(g_viewer, WM_COMMAND, command, 0);
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

WORD CLogViewerKeys::CommandFor(HWND viewer, const MSG& msg) {
    if (!viewer || !msg.hwnd || msg.message != WM_KEYDOWN || !IsWindow(viewer)) return 0;
    if (msg.hwnd != viewer && !IsChild(viewer, msg.hwnd)) return 0;
    const bool control = Down(VK_CONTROL);
    const bool shift = Down(VK_SHIFT);
    if (Down(VK_MENU)) return 0;
    switch (msg.wParam) {
    case 'F': return control && !shift ? ID_LOG_FIND : 0;
    case VK_F3: return control ? 0 : shift ? ID_LOG_FIND_PREVIOUS : ID_LOG_FIND_NEXT;
    case VK_ESCAPE: return control || shift ? 0 : ID_LOG_FIND_CANCEL;
    default: return 0;
    }
}

bool CLogViewerKeys::Start(HWND viewer) {
    Stop();
    if (g_hook) return false;
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&GetMessageHook), &self);
    g_hook = SetWindowsHookExA(WH_GETMESSAGE, GetMessageHook, self, GetCurrentThreadId());
    if (!g_hook) return false;
    g_viewer = viewer;
    started_ = true;
    return true;
}

void CLogViewerKeys::Stop() {
    if (!started_) return;
    started_ = false;
    if (g_hook) UnhookWindowsHookEx(g_hook);
    g_hook = nullptr;
    g_viewer = nullptr;
}

} // namespace parleym

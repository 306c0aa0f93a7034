#include "hook/HookDispatch.h"

#include "hook/PluginHost.h"
#include "shared/Protocol.h"
#include "shared/SwallowedFailure.h"

namespace parleym {

bool IsUserActivityMessage(UINT message) {
    switch (message) {
    case WM_MOUSEACTIVATE:
    case WM_NCHITTEST:
    case WM_NCMOUSEMOVE:
    case WM_NCLBUTTONDOWN:
    case WM_NCLBUTTONDBLCLK:
    case WM_NCRBUTTONDOWN:
    case WM_NCRBUTTONDBLCLK:
    case WM_NCMBUTTONDOWN:
    case WM_NCMBUTTONDBLCLK:
    case WM_KEYDOWN:
    case WM_CHAR:
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK:
        return true;
    default:
        return false;
    }
}

namespace {

void OnCallWndProc(IPlugin& plugin, WPARAM, const CWPSTRUCT& message) {
    switch (message.message) {
    case WM_DESTROY:
        if (plugin.IsMessengerWindow(message.hwnd, FALSE)) plugin.OnWindowDestroyed(message.hwnd);
        break;
    case EM_REPLACESEL:
        // Handled later, outside the control's own processing, as command 30027.
        PostThreadMessageA(GetCurrentThreadId(), WM_COMMAND, CMD_HISTORY_CHANGED,
                           reinterpret_cast<LPARAM>(message.hwnd));
        break;
    case WM_COMMAND:
        switch (HIWORD(message.wParam)) {
        case BN_CLICKED:
            plugin.OnButtonClicked(reinterpret_cast<HWND>(message.lParam));
            break;
        case EN_CHANGE:
            plugin.OnEditChanged(reinterpret_cast<HWND>(message.lParam));
            break;
        default:
            break;
        }
        break;
    case WM_INITMENU:
        if (plugin.IsMessengerWindow(message.hwnd, FALSE))
            plugin.OnInitMenu(message.hwnd, reinterpret_cast<HMENU>(message.wParam));
        break;
    default:
        break;
    }
}

void OnCallWndRetProc(IPlugin& plugin, WPARAM, const CWPRETSTRUCT& message) {
    switch (message.message) {
    case WM_SIZE:
        plugin.OnWindowSized(message.hwnd);
        break;
    case WM_SHOWWINDOW:
        if (message.wParam != 1) break;
        if (plugin.IsMessengerWindow(message.hwnd, FALSE)) {
            plugin.OnWindowShown(message.hwnd);
        } else {
            HWND parent = GetParent(message.hwnd);
            if (plugin.IsMessengerWindow(parent, FALSE)) plugin.OnWindowShown(parent);
        }
        break;
    default:
        break;
    }
}

// A messenger may peek at a message (PM_NOREMOVE) before it retrieves it; the hook
// sees both, so commands and keys count only when the message leaves the queue.
void OnGetMsg(IPlugin& plugin, WPARAM removal, const MSG& message) {
    if (removal != PM_REMOVE) return;
    switch (message.message) {
    case WM_KEYDOWN:
        plugin.OnKeyDown(static_cast<UINT>(message.wParam), message.hwnd);
        break;
    case WM_COMMAND:
        plugin.OnCommand(message.hwnd, message.wParam, message.lParam);
        break;
    default:
        break;
    }
}

// The common frame: activity first, then the procedure's own dispatch; the
// message always goes on to the next hook.
template <typename Record, typename Dispatch>
LRESULT RunHook(int code, WPARAM wParam, LPARAM lParam, Dispatch dispatch) {
    try {
        IPlugin* plugin = CurrentPlugin();
        if (plugin && code == HC_ACTION && lParam) {
            const Record& record = *reinterpret_cast<const Record*>(lParam);
            if (IsUserActivityMessage(record.message)) plugin->OnUserActivity();
            // The plug-in may have been stopped from inside OnUserActivity.
            plugin = CurrentPlugin();
            if (plugin) dispatch(*plugin, wParam, record);
        }
    } catch (...) {
        ReportSwallowed("message hook");
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

LRESULT DispatchCallWndProc(int code, WPARAM wParam, LPARAM lParam) {
    return RunHook<CWPSTRUCT>(code, wParam, lParam, OnCallWndProc);
}

LRESULT DispatchCallWndRetProc(int code, WPARAM wParam, LPARAM lParam) {
    return RunHook<CWPRETSTRUCT>(code, wParam, lParam, OnCallWndRetProc);
}

LRESULT DispatchGetMsgProc(int code, WPARAM wParam, LPARAM lParam) {
    return RunHook<MSG>(code, wParam, lParam, OnGetMsg);
}

} // namespace parleym

#include "plugin/messaging/ModelessKeyboard.h"

namespace parleym {

bool CModelessKeyboard::Filter(HWND dialog, MSG& msg) {
    if (!dialog || !msg.hwnd || !IsWindow(dialog)) return false;
    // Keys only: IsDialogMessage dispatches whatever it is given, and other
    // messages are the messenger loop's to dispatch.
    if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return false;
    if (msg.hwnd != dialog && !IsChild(dialog, msg.hwnd)) return false;
    return IsDialogMessageA(dialog, &msg) != FALSE;
}

} // namespace parleym

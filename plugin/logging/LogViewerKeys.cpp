#include "plugin/logging/LogViewerKeys.h"

#include "plugin/logging/LogFindResources.h"

namespace parleym {
namespace {

bool Down(int key) { return (GetKeyState(key) & 0x8000) != 0; }

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

bool CLogViewerKeys::Take(HWND viewer, MSG& msg) {
    const WORD command = CommandFor(viewer, msg);
    if (!command) return false;
    // Posted, not sent: "Find..." runs a dialog, which must not run inside the hook.
    PostMessageA(viewer, WM_COMMAND, command, 0);
    return true;
}

} // namespace parleym

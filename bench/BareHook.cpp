// Bench equipment: a hook library whose procedures do nothing but pass the
// message on, the floor the hook library's own cost is measured against.
#include <windows.h>

extern "C" {

LRESULT CALLBACK CallWndProc(int code, WPARAM wParam, LPARAM lParam) {
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK CallWndRetProc(int code, WPARAM wParam, LPARAM lParam) {
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK GetMsgProc(int code, WPARAM wParam, LPARAM lParam) {
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // extern "C"

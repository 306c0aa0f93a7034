#pragma once
// Puts the focus into a dialog's password box with its text selected, after a
// message about what was typed there.
#include <windows.h>

namespace parleym {

inline void FocusAndSelect(HWND dialog, int controlId) {
    HWND box = GetDlgItem(dialog, controlId);
    if (!box) return;
    SetFocus(box);
    SendMessageA(box, EM_SETSEL, 0, -1);
}

} // namespace parleym

#include "plugin/core/DialogGate.h"

#include "shared/Protocol.h"

namespace parleym {

bool CDialogGate::ForwardOpenDialog() {
    // A dialog that went without saying so must not block every later one.
    if (openDialog_ && !IsWindow(openDialog_)) SetOpenDialog(nullptr);
    if (!openDialog_) return false;
    BringForward(openDialog_);
    return true;
}

void CDialogGate::SetOpenDialog(HWND dialog) {
    openDialog_ = dialog;
    toLoader_(LDR_SET_DIALOG_OPEN, dialog ? 1 : 0, 0);
}

void CDialogGate::BringForward(HWND window) const {
    SetForegroundWindow(window);
    toLoader_(LDR_SET_FOREGROUND, 0, reinterpret_cast<LPARAM>(window));
    FLASHWINFO flash{};
    flash.cbSize = sizeof(flash);
    flash.hwnd = window;
    flash.dwFlags = FLASHW_CAPTION;
    flash.uCount = 3;
    flash.dwTimeout = 100;
    FlashWindowEx(&flash);
}

} // namespace parleym

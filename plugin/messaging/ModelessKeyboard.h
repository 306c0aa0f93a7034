#pragma once
// Tab, Enter and Escape for a modeless dialog inside the messenger. The messenger's
// message loop calls IsDialogMessage only for its own dialogs, so keys meant for
// ours would reach the focused control untranslated. While started, a get-message
// hook on the calling thread hands them to IsDialogMessage before they are
// dispatched. One dialog at a time: the plug-in has one modeless dialog.
#include <windows.h>

#include "framework/ThreadMessageHook.h"

namespace parleym {

class CModelessKeyboard {
public:
    // False when the hook cannot be installed (the dialog then works by mouse only).
    bool Start(HWND dialog) { return hook_.Start(dialog); }
    void Stop() { hook_.Stop(); }
    bool Started() const { return hook_.Started(); }

    // What the hook does with one retrieved message; true when it was the
    // dialog's and has been handled (the caller then makes it WM_NULL).
    static bool Filter(HWND dialog, MSG& msg);

private:
    CThreadMessageHook<&CModelessKeyboard::Filter> hook_;
};

} // namespace parleym

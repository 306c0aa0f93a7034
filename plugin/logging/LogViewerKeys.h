#pragma once
// Keys of the log viewer: Ctrl+F, F3, Shift+F3 and Escape. The messenger's
// message loop translates no accelerators of ours, so while started a
// get-message hook on the calling thread turns those keys, pressed in the
// viewer, into commands posted to it.
#include <windows.h>

#include "framework/ThreadMessageHook.h"

namespace parleym {

class CLogViewerKeys {
public:
    // False when the hook cannot be installed (the menu still works).
    bool Start(HWND viewer) { return hook_.Start(viewer); }
    void Stop() { hook_.Stop(); }

    // The command a key press in the viewer stands for, or 0. The modifier
    // keys are taken from the thread's key state.
    static WORD CommandFor(HWND viewer, const MSG& msg);

private:
    // Posts the command a key stands for; true when it did (the key is then spent).
    static bool Take(HWND viewer, MSG& msg);

    CThreadMessageHook<&CLogViewerKeys::Take> hook_;
};

} // namespace parleym

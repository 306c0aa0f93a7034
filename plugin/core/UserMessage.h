#pragma once
// Every message box the plug-in shows goes through here, so that tests can
// see text, caption and style without a person clicking.
#include <windows.h>

namespace parleym {

using UserMessageSink = int (*)(HWND owner, const char* text, const char* caption, UINT style);

int ShowUserMessage(HWND owner, const char* text, const char* caption, UINT style);

// Task-modal, no owner: the plug-in's usual form.
inline int ShowError(const char* text, const char* caption) {
    return ShowUserMessage(nullptr, text, caption, MB_TASKMODAL | MB_ICONERROR | MB_OK);
}

// Replaces MessageBoxA; pass nullptr to restore it. Returns the previous sink.
UserMessageSink SetUserMessageSink(UserMessageSink sink);

} // namespace parleym

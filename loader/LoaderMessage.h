#pragma once
// Every message box of the loader goes through here, so tests can see text,
// caption and style without a person clicking.
#include <windows.h>

namespace parleym {

using LoaderMessageSink = int (*)(HWND owner, const char* text, const char* caption, UINT style);

int ShowLoaderMessage(HWND owner, const char* text, const char* caption, UINT style);

// Replaces MessageBoxA; nullptr restores it. Returns the previous sink.
LoaderMessageSink SetLoaderMessageSink(LoaderMessageSink sink);

} // namespace parleym

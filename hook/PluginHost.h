#pragma once
// The plug-in as this process holds it: loaded only inside a supported
// messenger, started at library attach and stopped at detach.
#include "shared/IPlugin.h"

namespace parleym {

IPlugin* CurrentPlugin();
// For tests that drive the hook procedures with a plug-in of their own.
void SetCurrentPlugin(IPlugin* plugin);

// Library attach: detect the client, probe objcache.dat, load the plug-in from
// `folder` (with trailing backslash), patch the imports and call Init.
void StartPlugin(const char* folder);
// Library detach: restore the imports, Uninit, delete the object, free the library.
// When the process is ending the plug-in library has been detached already (it
// came after this one) and saves its stores itself: only the imports are restored.
void StopPlugin(bool processEnding = false);

// Patch / restore TrackPopupMenu, SetWindowTextA and SetWindowTextW in `module`'s imports.
void PatchMessengerImports(HMODULE module);
void RestoreMessengerImports(HMODULE module);

// The replacements written into the import table.
BOOL WINAPI HookedTrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner,
                                 const RECT* rect);
BOOL WINAPI HookedSetWindowTextA(HWND window, LPCSTR text);
BOOL WINAPI HookedSetWindowTextW(HWND window, LPCWSTR text);

} // namespace parleym

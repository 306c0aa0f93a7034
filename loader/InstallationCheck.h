#pragma once
// With both messenger clients installed on Windows XP, the plug-in cannot
// work: one must go. MSN Messenger must also run under the Windows 2000
// compatibility layer, which is what the hook library accepts it in.
#include <windows.h>

namespace parleym {

// FALSE: the loader closes.
BOOL CheckMessengerInstallation(HWND owner);
// The same for a given system version (only 5.1 is checked).
BOOL CheckMessengerInstallationOn(HWND owner, DWORD systemMajor, DWORD systemMinor);

BOOL UninstallMsnMessenger(HWND owner);
BOOL UninstallWindowsMessenger(HWND owner);

} // namespace parleym

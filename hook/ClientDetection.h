#pragma once
#include <windows.h>

namespace parleym {

// 0: not a supported messenger; 1: Windows Messenger 4.7 on XP or later;
// 2: MSN Messenger 5.0 seeing system version x.0 or below 5 (on XP only under
// the Windows 2000 compatibility layer).
int DetectMessengerClient();

// The decision itself, from the executable's file name (without folder),
// file version and system version.
int ClassifyMessengerClient(const char* exeName, WORD fileMajor, WORD fileMinor,
                            DWORD systemMajor, DWORD systemMinor);

} // namespace parleym

#include "hook/HookDispatch.h"
#include "hook/PluginHost.h"
#include "shared/SwallowedFailure.h"

#include <stdlib.h>
#include <string.h>

// The C++ library's default handler for an exception nobody catches prints its
// type's name, demangled: that demangler alone would be most of this library,
// which every process with a window maps. Such an exception ends the process
// either way (the hook procedures and DllMain catch everything they run).
namespace __gnu_cxx {
void __verbose_terminate_handler() { abort(); }
} // namespace __gnu_cxx

namespace {

// The folder this library was loaded from, with its trailing backslash.
bool LibraryFolder(HINSTANCE self, char (&folder)[MAX_PATH + 1]) {
    const DWORD length = GetModuleFileNameA(self, folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    char* slash = strrchr(folder, '\\');
    if (!slash) return false;
    slash[1] = '\0';
    return true;
}

} // namespace

extern "C" {

LRESULT CALLBACK CallWndProc(int code, WPARAM wParam, LPARAM lParam) {
    return parleym::DispatchCallWndProc(code, wParam, lParam);
}

LRESULT CALLBACK CallWndRetProc(int code, WPARAM wParam, LPARAM lParam) {
    return parleym::DispatchCallWndRetProc(code, wParam, lParam);
}

LRESULT CALLBACK GetMsgProc(int code, WPARAM wParam, LPARAM lParam) {
    return parleym::DispatchGetMsgProc(code, wParam, lParam);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    try {
        switch (reason) {
        case DLL_PROCESS_ATTACH: {
            // Mapped into every process with a user interface: threads are none of its business.
            DisableThreadLibraryCalls(instance);
            char folder[MAX_PATH + 1] = {};
            if (LibraryFolder(instance, folder)) parleym::StartPlugin(folder);
            break;
        }
        case DLL_PROCESS_DETACH:
            // A non-null reserved pointer: the process is ending, not the hooks.
            parleym::StopPlugin(reserved != nullptr);
            break;
        default:
            break;
        }
    } catch (...) {
        parleym::ReportSwallowed("hook library DllMain");
    }
    return TRUE;
}

} // extern "C"

// Test equipment: a process beside the stand-in messenger.
//   ForeignProcess.exe hung-loader SECONDS   installs the hooks of ParleymHk.dll (from its
//       own folder) like the loader, owns a "Parleym Loader" window, then answers nothing
//       for SECONDS and ends
//   ForeignProcess.exe conversation SECONDS  shows a window of the conversation window's
//       class, titled "Foreign", with an address box naming bob@parleym.example
#include "shared/Protocol.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>
#include <string>

namespace {

std::string OwnFolder() {
    char path[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    char* slash = strrchr(path, '\\');
    if (slash) slash[1] = '\0';
    return path;
}

HWND CreateTopLevel(const char* className, const char* title, DWORD style) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, className, title, style, 20, 20, 300, 200, nullptr, nullptr, windowClass.hInstance,
                           nullptr);
}

int HungLoader(DWORD seconds) {
    HMODULE hooks = LoadLibraryA((OwnFolder() + parleym::kHookLibraryName).c_str());
    if (!hooks) return 2;
    const struct {
        int type;
        const char* name;
    } procedures[] = {{WH_GETMESSAGE, "GetMsgProc"}, {WH_CALLWNDPROC, "CallWndProc"},
                      {WH_CALLWNDPROCRET, "CallWndRetProc"}};
    for (const auto& procedure : procedures) {
        auto address = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(hooks, procedure.name)));
        if (!address || !SetWindowsHookExA(procedure.type, address, hooks, 0)) return 3;
    }
    if (!CreateTopLevel(parleym::kLoaderClassName, parleym::kLoaderWindowTitle, WS_OVERLAPPEDWINDOW)) return 4;
    // Every thread with windows gets a message, so the hooks reach the messenger now.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(HWND_BROADCAST, RegisterWindowMessageA(parleym::kLoaderRefreshMessageName), 0, 0,
                        SMTO_ABORTIFHUNG, 2000, &ignored);
    Sleep(seconds * 1000);
    return 0;
}

int Conversation(DWORD seconds) {
    HWND window = CreateTopLevel("IMWindowClass", "Foreign", WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    if (!window) return 4;
    CreateWindowExA(0, "edit", "To: Bob <bob@parleym.example>", WS_CHILD | WS_VISIBLE, 5, 5, 280, 20, window,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(9)), GetModuleHandleA(nullptr), nullptr);
    const DWORD end = GetTickCount() + seconds * 1000;
    for (;;) {
        const DWORD now = GetTickCount();
        if (static_cast<int>(end - now) <= 0) return 0;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (__argc < 3) return 1;
    const DWORD seconds = static_cast<DWORD>(strtoul(__argv[2], nullptr, 10));
    if (strcmp(__argv[1], "hung-loader") == 0) return HungLoader(seconds);
    if (strcmp(__argv[1], "conversation") == 0) return Conversation(seconds);
    return 1;
}

// Installs ApiClientHook.dll's message hook for every thread, as the loader does with the
// hook library, and keeps it installed while it pumps messages for up to the number of
// seconds given on its command line (default 120).
#include <windows.h>

#include <cstdlib>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    try {
        char path[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        std::string folder = path;
        folder = folder.substr(0, folder.find_last_of('\\') + 1);
        HMODULE library = LoadLibraryA((folder + "ApiClientHook.dll").c_str());
        if (!library) return 2;
        auto proc = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(library, "GetMsgProc")));
        if (!proc) return 3;
        HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, proc, library, 0);
        if (!hook) return 4;
        long seconds = commandLine && *commandLine ? std::strtol(commandLine, nullptr, 10) : 120;
        const DWORD end = GetTickCount() + static_cast<DWORD>(seconds > 0 ? seconds : 120) * 1000;
        while (GetTickCount() < end) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        }
        UnhookWindowsHookEx(hook);
        FreeLibrary(library);
        return 0;
    } catch (...) {
        return 1;
    }
}

// Test equipment: a process beside the stand-in messenger.
//   ForeignProcess.exe hung-loader SECONDS   installs the hooks of ParleymHk.dll (from its
//       own folder) like the loader, owns a "Parleym Loader" window, then answers nothing
//       until the process that started it has ended, or SECONDS have passed
//   ForeignProcess.exe conversation SECONDS  shows a window of the conversation window's
//       class, titled "Foreign", with an address box naming bob@parleym.example
#include "shared/Protocol.h"

#include <windows.h>
#include <tlhelp32.h>

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

HANDLE OpenParentProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return nullptr;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    DWORD parent = 0;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
    CloseHandle(snapshot);
    return parent ? OpenProcess(SYNCHRONIZE, FALSE, parent) : nullptr;
}

int HungLoader(DWORD seconds) {
    HMODULE hooks = LoadLibraryA((OwnFolder() + parleym::kHookLibraryName).c_str());
    if (!hooks) return 2;
    const struct {
        int type;
        const char* name;
    } procedures[] = {{WH_GETMESSAGE, "GetMsgProc"}, {WH_CALLWNDPROC, "CallWndProc"},
                      {WH_CALLWNDPROCRET, "CallWndRetProc"}};
    HHOOK installed[3] = {};
    for (int i = 0; i < 3; ++i) {
        auto address = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(hooks, procedures[i].name)));
        installed[i] = address ? SetWindowsHookExA(procedures[i].type, address, hooks, 0) : nullptr;
        if (!installed[i]) return 3;
    }
    if (!CreateTopLevel(parleym::kLoaderClassName, parleym::kLoaderWindowTitle, WS_OVERLAPPEDWINDOW)) return 4;
    // Every thread with windows gets a message, so the hooks reach the messenger now.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(HWND_BROADCAST, RegisterWindowMessageA(parleym::kLoaderRefreshMessageName), 0, 0,
                        SMTO_ABORTIFHUNG, 2000, &ignored);
    HANDLE parent = OpenParentProcess();
    if (parent) {
        WaitForSingleObject(parent, seconds * 1000);
        CloseHandle(parent);
    } else {
        Sleep(seconds * 1000);
    }
    // Wine keeps the hooks of a process that ended without removing them.
    for (HHOOK hook : installed) UnhookWindowsHookEx(hook);
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

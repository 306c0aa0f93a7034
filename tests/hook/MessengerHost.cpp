// A minimal program that the bootstrap tests copy under a messenger's name
// (msmsgs.exe, msnmsgr.exe) or another one. It loads ParleymHk.dll from its
// own folder the way Windows maps a hook library, exercises the three patched
// functions, then frees the library the way Windows unmaps it after the
// hooks are removed (Wine never unloads hook libraries by itself). Each step
// is appended to probe.log beside it, interleaved with the probe plug-in's lines.
//
//   host.exe bootstrap   load, use the patched functions, free, check the import table
//   host.exe exit        load, then end the process with the library still in, as a
//                        messenger quit while the hooks are installed
//   host.exe run         messenger-like windows and a message loop for loader tests;
//                        WM_APP on the main window frees the hook library
#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

std::string g_folder;

void Log(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    FILE* file = fopen((g_folder + "probe.log").c_str(), "a");
    if (!file) return;
    fprintf(file, "host %s\n", line);
    fclose(file);
}

std::vector<void*> ImportTable() {
    std::vector<void*> entries;
    BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress); d->Name; ++d)
        for (void** e = reinterpret_cast<void**>(base + d->FirstThunk); *e; ++e) entries.push_back(*e);
    return entries;
}

HWND CreateTopLevel(const char* className, const char* title, WNDPROC procedure) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, className, title, WS_OVERLAPPEDWINDOW, 10, 10, 300, 200, nullptr, nullptr,
                           windowClass.hInstance, nullptr);
}

BOOL PickFromMenu(HWND owner, UINT id) {
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, id, "Item");
    PostMessageA(owner, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(owner, WM_KEYDOWN, VK_RETURN, 0);
    const BOOL result = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY, 20, 20, 0, owner, nullptr);
    DestroyMenu(menu);
    return result;
}

int Bootstrap() {
    const std::vector<void*> before = ImportTable();
    HMODULE hook = LoadLibraryA((g_folder + "ParleymHk.dll").c_str());
    Log("loaded %d", hook ? 1 : 0);
    const std::vector<void*> patched = ImportTable();
    size_t changed = 0;
    for (size_t i = 0; i < before.size() && i < patched.size(); ++i) changed += before[i] != patched[i];
    Log("patched entries %u", static_cast<unsigned>(changed));

    HWND window = CreateTopLevel("IMWindowClass", "", DefWindowProcA);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    char text[128] = {};
    SetWindowTextA(window, "Original A");
    GetWindowTextA(window, text, sizeof(text));
    Log("titleA %s", text);
    SetWindowTextW(window, L"Original W");
    GetWindowTextA(window, text, sizeof(text));
    Log("titleW %s", text);
    Log("menu %d", PickFromMenu(window, 30013));
    Log("menu %d", PickFromMenu(window, 105));
    DestroyWindow(window);

    if (hook) FreeLibrary(hook);
    Log("freed plugin-loaded %d", GetModuleHandleA("ParleymPlugin.dll") ? 1 : 0);
    Log("imports %s", ImportTable() == before ? "restored" : "changed");
    return 0;
}

int ExitWithHooks() {
    HMODULE hook = LoadLibraryA((g_folder + "ParleymHk.dll").c_str());
    Log("loaded %d", hook ? 1 : 0);
    Log("exiting");
    return 0;
}

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) {
        // What Windows does once the loader removed its hooks.
        HMODULE hook = GetModuleHandleA("ParleymHk.dll");
        if (hook) FreeLibrary(hook);
        Log("unmapped hook library");
        return 0;
    }
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}

int Run() {
    HWND main = CreateTopLevel("MSBLClass", "Host Messenger", MainProc);
    ShowWindow(main, SW_SHOW);
    Log("running");
    MSG message;
    const UINT_PTR timer = SetTimer(nullptr, 0, 120000, nullptr);
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.wParam == timer) break;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    Log("ended");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    char path[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    char* slash = strrchr(path, '\\');
    if (slash) slash[1] = '\0';
    g_folder = path;
    if (argc > 1 && strcmp(argv[1], "bootstrap") == 0) return Bootstrap();
    if (argc > 1 && strcmp(argv[1], "run") == 0) return Run();
    if (argc > 1 && strcmp(argv[1], "exit") == 0) return ExitWithHooks();
    return 2;
}

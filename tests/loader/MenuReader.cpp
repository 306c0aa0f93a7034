// Test equipment: menus cannot be read from another process under Wine, so a
// test hooks this library into the loader's thread. When the loader window
// is sent the registered message "ParleymTestReadMenu", the open pop-up menu
// is written, one item a line, to "menu.txt" beside this library.
#include <windows.h>

#include <stdio.h>
#include <string.h>
#include <string>

namespace {

HMODULE g_module = nullptr;

void Describe(FILE* out, HMENU menu, const std::string& indent) {
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        char text[128] = {};
        MENUITEMINFOA info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof(text);
        GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &info);
        if (info.fType & MFT_SEPARATOR) {
            fprintf(out, "%s-\n", indent.c_str());
            continue;
        }
        std::string line = indent + text;
        if (info.hSubMenu) line += " >";
        else line += " #" + std::to_string(info.wID);
        if (info.fState & MFS_CHECKED) line += " [x]";
        if (info.fState & MFS_GRAYED) line += " (g)";
        fprintf(out, "%s\n", line.c_str());
        if (info.hSubMenu) Describe(out, info.hSubMenu, indent + "  ");
    }
}

void WriteOpenMenu() {
    HWND menuWindow = FindWindowA("#32768", nullptr);
    HMENU menu = menuWindow ? reinterpret_cast<HMENU>(SendMessageA(menuWindow, 0x01E1 /* MN_GETHMENU */, 0, 0))
                            : nullptr;
    char path[MAX_PATH + 16] = {};
    GetModuleFileNameA(g_module, path, MAX_PATH);
    char* slash = strrchr(path, '\\');
    strcpy(slash ? slash + 1 : path, "menu.txt");
    FILE* out = fopen(path, "w");
    if (!out) return;
    if (menu) Describe(out, menu, "");
    fclose(out);
}

} // namespace

extern "C" LRESULT CALLBACK MenuReaderProc(int code, WPARAM wParam, LPARAM lParam) {
    static const UINT readMessage = RegisterWindowMessageA("ParleymTestReadMenu");
    if (code == HC_ACTION && lParam && reinterpret_cast<CWPSTRUCT*>(lParam)->message == readMessage) WriteOpenMenu();
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_module = instance;
    return TRUE;
}

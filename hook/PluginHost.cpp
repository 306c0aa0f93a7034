#include "hook/PluginHost.h"

#include "hook/ClientDetection.h"
#include "hook/ImportPatch.h"
#include "shared/Protocol.h"
#include "shared/SwallowedFailure.h"

#include <string.h>

namespace parleym {
namespace {

IPlugin* g_plugin = nullptr;
HMODULE g_pluginModule = nullptr;

using TrackPopupMenuFunction = BOOL(WINAPI*)(HMENU, UINT, int, int, int, HWND, const RECT*);
using SetWindowTextAFunction = BOOL(WINAPI*)(HWND, LPCSTR);
using SetWindowTextWFunction = BOOL(WINAPI*)(HWND, LPCWSTR);

// Import entries as bound when the executable was loaded; null while not patched.
void* g_savedTrackPopupMenu = nullptr;
void* g_savedSetWindowTextA = nullptr;
void* g_savedSetWindowTextW = nullptr;

// The original user32 function: the saved entry while patched, else user32's own.
template <typename Function>
Function Original(void* saved, const char* name) {
    if (saved) return reinterpret_cast<Function>(saved);
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), name)));
}

// `folder` followed by `name` in `path`; false when it does not fit. The
// library keeps to fixed buffers and the system's own calls: it is mapped into
// every process with a window, so it carries no C++ library of its own.
bool JoinPath(const char* folder, const char* name, char (&path)[MAX_PATH + 1]) {
    const size_t folderLength = folder ? strlen(folder) : 0;
    const size_t nameLength = strlen(name);
    if (folderLength + nameLength > MAX_PATH) return false;
    if (folderLength) memcpy(path, folder, folderLength);
    memcpy(path + folderLength, name, nameLength + 1);
    return true;
}

bool IsHeldByAnotherProcess(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

} // namespace

IPlugin* CurrentPlugin() { return g_plugin; }
void SetCurrentPlugin(IPlugin* plugin) { g_plugin = plugin; }

void PatchMessengerImports(HMODULE module) {
    PatchImport(module, "user32.dll", "TrackPopupMenu", reinterpret_cast<void*>(&HookedTrackPopupMenu),
                &g_savedTrackPopupMenu);
    PatchImport(module, "user32.dll", "SetWindowTextA", reinterpret_cast<void*>(&HookedSetWindowTextA),
                &g_savedSetWindowTextA);
    PatchImport(module, "user32.dll", "SetWindowTextW", reinterpret_cast<void*>(&HookedSetWindowTextW),
                &g_savedSetWindowTextW);
}

void RestoreMessengerImports(HMODULE module) {
    if (g_savedTrackPopupMenu)
        RestoreImport(module, reinterpret_cast<void*>(&HookedTrackPopupMenu), g_savedTrackPopupMenu);
    if (g_savedSetWindowTextA)
        RestoreImport(module, reinterpret_cast<void*>(&HookedSetWindowTextA), g_savedSetWindowTextA);
    if (g_savedSetWindowTextW)
        RestoreImport(module, reinterpret_cast<void*>(&HookedSetWindowTextW), g_savedSetWindowTextW);
    g_savedTrackPopupMenu = g_savedSetWindowTextA = g_savedSetWindowTextW = nullptr;
}

void StartPlugin(const char* folder) {
    if (g_plugin) return;
    const int kind = DetectMessengerClient();
    if (kind == CLIENT_KIND_NONE) return;

    char path[MAX_PATH + 1];
    // Only one messenger process runs the plug-in: the running one holds the
    // object cache open without sharing.
    if (JoinPath(folder, kObjectCacheFileName, path) && IsHeldByAnotherProcess(path)) return;

    HMODULE module = nullptr;
    DWORD code = ERROR_FILENAME_EXCED_RANGE;
    if (JoinPath(folder, kPluginLibraryName, path)) {
        module = LoadLibraryA(path);
        if (!module) code = GetLastError();
    }
    if (!module) {
        char text[96];
        wsprintfA(text, "Failed to load ParleymPlugin.dll. Code: %d", static_cast<int>(code));
        MessageBoxA(nullptr, text, "Error", MB_TASKMODAL | MB_ICONERROR | MB_OK);
        return;
    }
    auto getInstance = reinterpret_cast<GetInstanceFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, kGetInstanceExportName)));
    IPlugin* plugin = getInstance ? getInstance() : nullptr;
    if (!plugin) {
        // Nothing of the library is in use; keep no half-started state behind.
        FreeLibrary(module);
        return;
    }
    g_pluginModule = module;
    g_plugin = plugin;
    PatchMessengerImports(GetModuleHandleA(nullptr));
    plugin->Init(kind);
}

void StopPlugin(bool processEnding) {
    IPlugin* plugin = g_plugin;
    if (!plugin) return;
    RestoreMessengerImports(GetModuleHandleA(nullptr));
    // No hook event may reach a plug-in that is shutting down.
    g_plugin = nullptr;
    if (processEnding) {
        g_pluginModule = nullptr;
        return;
    }
    plugin->Uninit();
    delete plugin;
    if (g_pluginModule) FreeLibrary(g_pluginModule);
    g_pluginModule = nullptr;
}

BOOL WINAPI HookedTrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner,
                                 const RECT* rect) {
    const BOOL result =
        Original<TrackPopupMenuFunction>(g_savedTrackPopupMenu, "TrackPopupMenu")(menu, flags, x, y, reserved, owner, rect);
    try {
        if (g_plugin && IsPluginCommand(static_cast<unsigned>(result)))
            g_plugin->OnCommand(owner, LOWORD(result), 0);
    } catch (...) {
        ReportSwallowed("TrackPopupMenu hook");
    }
    return result;
}

BOOL WINAPI HookedSetWindowTextA(HWND window, LPCSTR text) {
    const char* replacement = nullptr;
    try {
        if (g_plugin) replacement = g_plugin->GetWindowTitle(window);
    } catch (...) {
        ReportSwallowed("SetWindowTextA hook");
        replacement = nullptr;
    }
    return Original<SetWindowTextAFunction>(g_savedSetWindowTextA, "SetWindowTextA")(
        window, replacement ? replacement : text);
}

namespace {

// A title converted for SetWindowTextW, on the process heap.
class WideText {
public:
    WideText() = default;
    WideText(const WideText&) = delete;
    WideText& operator=(const WideText&) = delete;
    ~WideText() { Clear(); }
    void Convert(const char* text) {
        Clear();
        const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
        if (length <= 0) return;
        text_ = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, static_cast<size_t>(length) * sizeof(wchar_t)));
        if (text_ && MultiByteToWideChar(CP_ACP, 0, text, -1, text_, length) != length) Clear();
    }
    void Clear() {
        if (text_) HeapFree(GetProcessHeap(), 0, text_);
        text_ = nullptr;
    }
    const wchar_t* Get() const { return text_; }

private:
    wchar_t* text_ = nullptr;
};

} // namespace

BOOL WINAPI HookedSetWindowTextW(HWND window, LPCWSTR text) {
    WideText wide;
    try {
        const char* replacement = g_plugin ? g_plugin->GetWindowTitle(window) : nullptr;
        if (replacement) wide.Convert(replacement);
    } catch (...) {
        ReportSwallowed("SetWindowTextW hook");
        wide.Clear();
    }
    return Original<SetWindowTextWFunction>(g_savedSetWindowTextW, "SetWindowTextW")(
        window, wide.Get() ? wide.Get() : text);
}

} // namespace parleym

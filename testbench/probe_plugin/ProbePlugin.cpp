// Test equipment: a stand-in for ParleymPlugin.dll that appends every IPlugin
// call to "probe.log" beside itself, and plays the plug-in's side of the
// loader protocol (dispatch window, lock and dialog reports) so the loader
// can be tested before and apart from the real plug-in.
//
// Environment:
//   PARLEYM_PROBE_TITLE      text returned by GetWindowTitle (else null)
//   PARLEYM_PROBE_NO_INSTANCE  when set, GetInstance returns null
//
// Commands it acts on (besides logging them): 30011 toggles "locked" (1025),
// 30012 toggles "dialog open" (1026), 30013 toggles logging (1029),
// 30020-30024 choose the auto-lock item (1028).
#include "shared/IPlugin.h"
#include "shared/Protocol.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

namespace parleym {
namespace {

HMODULE g_module = nullptr;

std::string ProbeFolder() {
    char path[MAX_PATH + 1] = {};
    GetModuleFileNameA(g_module, path, MAX_PATH);
    char* slash = strrchr(path, '\\');
    if (slash) slash[1] = '\0';
    return path;
}

void Log(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    const std::string path = ProbeFolder() + "probe.log";
    // Opened per line so that other processes may read it at any time.
    FILE* file = fopen(path.c_str(), "a");
    if (!file) return;
    fprintf(file, "%s\n", line);
    fclose(file);
}

std::string ClassOf(HWND window) {
    char name[128] = {};
    if (!window || !GetClassNameA(window, name, sizeof(name))) return "-";
    return name;
}

bool IsMessengerClass(const std::string& name) {
    static const char* const kClasses[] = {"MSBLClass",     "MSNMSBLClass",      "MSBLGeneric",
                                           "MSNMSBLGeneric", "IMWindowClass",    "HiddenWindowClass",
                                           "MSNHiddenWindowClass"};
    for (const char* known : kClasses)
        if (lstrcmpiA(known, name.c_str()) == 0) return true;
    return false;
}

HWND LoaderWindow() { return FindWindowA(kLoaderClassName, kLoaderWindowTitle); }

struct ProbeState {
    LRESULT autoLock = CMD_AUTOLOCK_DISABLED;
    LRESULT logging = 1;
    bool locked = false;
    bool dialogOpen = false;
} g_state;

LRESULT CALLBACK DispatchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case PLG_GET_AUTOLOCK:
        Log("Query autolock");
        return g_state.autoLock;
    case PLG_GET_LOGGING:
        Log("Query logging");
        return g_state.logging;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

class ProbePlugin final : public IPlugin {
public:
    ProbePlugin() { Log("GetInstance"); }
    ~ProbePlugin() override { Log("Destroy"); }

    BOOL Init(int clientKind) override {
        Log("Init %d", clientKind);
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DispatchWindowProc;
        windowClass.hInstance = g_module;
        windowClass.lpszClassName = kPluginDispatchWndClass;
        RegisterClassA(&windowClass);
        dispatchWindow_ = CreateWindowExA(0, kPluginDispatchWndClass, kPluginDispatchWndClass, 0, 0, 0, 0, 0,
                                          nullptr, nullptr, g_module, nullptr);
        SendMessageA(LoaderWindow(), LDR_SET_PLUGIN_WINDOW, 0, reinterpret_cast<LPARAM>(dispatchWindow_));
        Log("Reported window %d", LoaderWindow() ? 1 : 0);
        return TRUE;
    }
    void Uninit() override {
        Log("Uninit");
        SendMessageA(LoaderWindow(), LDR_SET_PLUGIN_WINDOW, 0, 0);
        if (dispatchWindow_) DestroyWindow(dispatchWindow_);
        dispatchWindow_ = nullptr;
        UnregisterClassA(kPluginDispatchWndClass, g_module);
    }
    BOOL IsMessengerWindow(HWND window, BOOL notifyShown) override {
        const bool result = IsMessengerClass(ClassOf(window));
        Log("IsMessengerWindow %s %d %d", ClassOf(window).c_str(), notifyShown ? 1 : 0, result ? 1 : 0);
        return result ? TRUE : FALSE;
    }
    void OnWindowShown(HWND window) override { Log("OnWindowShown %s", ClassOf(window).c_str()); }
    void OnWindowDestroyed(HWND window) override { Log("OnWindowDestroyed %s", ClassOf(window).c_str()); }
    void OnInitMenu(HWND window, HMENU) override { Log("OnInitMenu %s", ClassOf(window).c_str()); }
    void OnCommand(HWND window, WPARAM wParam, LPARAM lParam) override {
        const unsigned id = LOWORD(wParam);
        Log("OnCommand %u %s %s", id, ClassOf(window).c_str(), ClassOf(reinterpret_cast<HWND>(lParam)).c_str());
        if (id == CMD_LOCK_MESSENGER) {
            g_state.locked = !g_state.locked;
            SendMessageA(LoaderWindow(), LDR_SET_LOCKED, g_state.locked ? 1 : 0, 0);
            Log("Reported locked %d", g_state.locked ? 1 : 0);
        } else if (id == CMD_STATISTICS) {
            g_state.dialogOpen = !g_state.dialogOpen;
            SendMessageA(LoaderWindow(), LDR_SET_DIALOG_OPEN, g_state.dialogOpen ? 1 : 0, 0);
            Log("Reported dialog %d", g_state.dialogOpen ? 1 : 0);
        } else if (id == CMD_TOGGLE_LOGGING) {
            g_state.logging = !g_state.logging;
        } else if (id >= CMD_AUTOLOCK_DISABLED && id <= CMD_AUTOLOCK_15) {
            g_state.autoLock = id;
        }
    }
    const char* GetWindowTitle(HWND window) override {
        const char* title = getenv("PARLEYM_PROBE_TITLE");
        Log("GetWindowTitle %s %s", ClassOf(window).c_str(), title ? title : "(null)");
        if (!title) return nullptr;
        title_ = title;
        return title_.c_str();
    }
    void OnButtonClicked(HWND control) override { Log("OnButtonClicked %s", ClassOf(control).c_str()); }
    void OnKeyDown(UINT virtualKey, HWND control) override {
        Log("OnKeyDown %u %s", virtualKey, ClassOf(control).c_str());
    }
    void OnWindowSized(HWND window) override { Log("OnWindowSized %s", ClassOf(window).c_str()); }
    void OnHistoryChanged(HWND control) override { Log("OnHistoryChanged %s", ClassOf(control).c_str()); }
    void OnEditChanged(HWND control) override { Log("OnEditChanged %s", ClassOf(control).c_str()); }
    void OnUserActivity() override { Log("OnUserActivity"); }

private:
    HWND dispatchWindow_ = nullptr;
    std::string title_;
};

} // namespace
} // namespace parleym

extern "C" parleym::IPlugin* GetInstance() {
    try {
        if (getenv("PARLEYM_PROBE_NO_INSTANCE")) {
            parleym::Log("GetInstance null");
            return nullptr;
        }
        return new parleym::ProbePlugin();
    } catch (...) {
        return nullptr;
    }
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) parleym::g_module = instance;
    if (reason == DLL_PROCESS_DETACH && reserved) parleym::Log("Detach at process exit");
    return TRUE;
}

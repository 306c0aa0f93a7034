#pragma once
// Numbers and names that cross between the loader, the hook library and the
// plug-in. They are fixed: the three deliverables are built separately and
// may meet in different versions.

namespace parleym {

// Loader window, found by the plug-in with FindWindowA(class, title).
constexpr const char kLoaderClassName[] = "ParleymLdrClass";
constexpr const char kLoaderWindowTitle[] = "Parleym Loader";
// Registered window message broadcast by the loader after every hook change.
constexpr const char kLoaderRefreshMessageName[] = "ParleymLdrClass";

// Hidden windows of the plug-in (class name = title).
constexpr const char kPluginHiddenWndClass[] = "ParleymHiddenWnd";
constexpr const char kPluginLockWndClass[] = "ParleymLckWnd";
constexpr const char kPluginDispatchWndClass[] = "ParleymDispWnd";
constexpr const char kPluginBroadcastWndClass[] = "ParleymBroadcastWnd";

// The messengers' user-interface manager windows, by client index 0 / 1.
constexpr const char kWindowsMessengerUiManagerClass[] = "MSBLUIManager";
constexpr const char kMsnMessengerUiManagerClass[] = "MsnMsgrUIManager";

// Library and file names.
constexpr const char kHookLibraryName[] = "ParleymHk.dll";
constexpr const char kPluginLibraryName[] = "ParleymPlugin.dll";
constexpr const char kObjectCacheFileName[] = "objcache.dat";

// Window messages between loader and plug-in.
enum : unsigned {
    LDR_SET_LOCKED = 1025,        // plug-in -> loader, sent; wParam 1 locked / 0 unlocked
    LDR_SET_DIALOG_OPEN = 1026,   // plug-in -> loader, sent; wParam 1 / 0
    PLG_GET_AUTOLOCK = 1028,      // loader -> plug-in, sent; returns 30020..30024
    PLG_GET_LOGGING = 1029,       // loader -> plug-in, sent; non-zero while logging is on
    LDR_SET_PLUGIN_WINDOW = 1030, // plug-in -> loader, sent; lParam = dispatch window or 0
    LDR_SET_FOREGROUND = 1031,    // plug-in -> loader, sent; lParam = window to bring forward
    LDR_TRAY_NOTIFY = 1124,       // shell -> loader; lParam = mouse message
};

// The loader's answer to LDR_SET_PLUGIN_WINDOW with a window: a messenger that
// ended while locked (a crash, "End process") left its lock to the next start.
// A loader that predates it answers 0.
constexpr long kLoaderLockOutlivedPlugin = 1;

// Loader command identifiers (low word of WM_COMMAND's wParam).
enum : unsigned {
    ID_EXIT = 105,
    ID_RESTART_HOOKS = 20000,     // plug-in -> loader, posted; lParam = client index 0 / 1
    ID_TOGGLE_ENABLE = 32771,
};

// Plug-in commands; everything in [CMD_FIRST, CMD_LAST] reaches IPlugin::OnCommand.
enum : unsigned {
    CMD_FIRST = 30000,
    CMD_SEND_OFFLINE_MESSAGE = 30000,
    CMD_ABOUT = 30001,
    CMD_SEND_OFFLINE_TO_SELECTED = 30002,
    CMD_BROADCAST = 30003,
    CMD_FORWARD_CONVERSATION = 30004,
    CMD_TRACK_WINDOW = 30005,
    CMD_HANDLER_COMMAND = 30006,
    CMD_SET_FOREGROUND = 30007,
    CMD_RESELECT_HANDLER = 30008,
    CMD_LOCK_MESSENGER = 30011,
    CMD_STATISTICS = 30012,
    CMD_TOGGLE_LOGGING = 30013,
    CMD_VIEW_LOGS = 30014,
    CMD_AUTOLOCK_TIMER = 30017,
    CMD_SET_PASSWORD = 30019,
    CMD_AUTOLOCK_DISABLED = 30020,
    CMD_AUTOLOCK_5 = 30021,
    CMD_AUTOLOCK_6 = 30022,
    CMD_AUTOLOCK_10 = 30023,
    CMD_AUTOLOCK_15 = 30024,
    CMD_SET_LOGS_PATH = 30026,
    CMD_HISTORY_CHANGED = 30027,
    CMD_LAST = 30027,
};

constexpr bool IsPluginCommand(unsigned id) { return id >= CMD_FIRST && id <= CMD_LAST; }

// Client kinds passed to IPlugin::Init.
enum : int {
    CLIENT_KIND_NONE = 0,
    CLIENT_KIND_WINDOWS_MESSENGER = 1,
    CLIENT_KIND_MSN_MESSENGER = 2,
};

} // namespace parleym

#include "loader/PluginMenu.h"

#include "shared/Protocol.h"

namespace parleym {
namespace {

struct MenuEntry {
    unsigned id; // 0: separator
    const char* text;
};

void AppendEntry(HMENU menu, const MenuEntry& entry, bool enabled) {
    if (entry.id == 0) {
        AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        return;
    }
    AppendMenuA(menu, MF_STRING, entry.id, entry.text);
    if (!enabled) EnableMenuItem(menu, entry.id, MF_BYCOMMAND | MF_GRAYED);
}

// The plug-in answers on the messenger's thread; a hung messenger must not hang the tray.
LRESULT QueryPlugin(HWND dispatchWindow, UINT query) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(dispatchWindow, query, 0, 0, SMTO_ABORTIFHUNG, 1000, &result)) return 0;
    return static_cast<LRESULT>(result);
}

} // namespace

bool IsTrayMenuCommand(unsigned id) {
    switch (id) {
    case CMD_SEND_OFFLINE_MESSAGE:
    case CMD_ABOUT:
    case CMD_BROADCAST:
    case CMD_LOCK_MESSENGER:
    case CMD_STATISTICS:
    case CMD_TOGGLE_LOGGING:
    case CMD_VIEW_LOGS:
    case CMD_SET_PASSWORD:
    case CMD_AUTOLOCK_DISABLED:
    case CMD_AUTOLOCK_5:
    case CMD_AUTOLOCK_6:
    case CMD_AUTOLOCK_10:
    case CMD_AUTOLOCK_15:
    case CMD_SET_LOGS_PATH:
        return true;
    default:
        return false;
    }
}

HMENU AppendPluginMenuItems(HMENU menu, HWND dispatchWindow) {
    const bool enabled = dispatchWindow && IsWindow(dispatchWindow);

    static const MenuEntry kAutoLock[] = {
        {CMD_AUTOLOCK_DISABLED, "disabled"}, {CMD_AUTOLOCK_5, "at 5 minutes"},   {CMD_AUTOLOCK_6, "at 6 minutes"},
        {CMD_AUTOLOCK_10, "at 10 minutes"},  {CMD_AUTOLOCK_15, "at 15 minutes"},
    };
    HMENU autoLock = CreatePopupMenu();
    for (const MenuEntry& entry : kAutoLock) AppendEntry(autoLock, entry, enabled);
    if (enabled) {
        const LRESULT checked = QueryPlugin(dispatchWindow, PLG_GET_AUTOLOCK);
        if (checked >= static_cast<LRESULT>(CMD_AUTOLOCK_DISABLED) && checked <= static_cast<LRESULT>(CMD_AUTOLOCK_15))
            CheckMenuItem(autoLock, static_cast<UINT>(checked), MF_BYCOMMAND | MF_CHECKED);
    }

    static const MenuEntry kBefore[] = {
        {CMD_BROADCAST, "Broadcast message..."}, {CMD_SEND_OFFLINE_MESSAGE, "Send offline message..."},
        {CMD_STATISTICS, "Statistics..."},       {0, nullptr},
        {CMD_SET_PASSWORD, "Set password..."},
    };
    static const MenuEntry kAfter[] = {
        {CMD_LOCK_MESSENGER, "Lock messenger"}, {0, nullptr},
        {CMD_TOGGLE_LOGGING, "Enable logging"}, {CMD_VIEW_LOGS, "View logs..."},
        {CMD_SET_LOGS_PATH, "Set logs path..."}, {0, nullptr},
        {CMD_ABOUT, "About Parleym..."},
    };
    for (const MenuEntry& entry : kBefore) AppendEntry(menu, entry, enabled);
    // The sub-menu itself stays enabled; its items carry the graying.
    AppendMenuA(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(autoLock), "Auto lock messenger");
    for (const MenuEntry& entry : kAfter) AppendEntry(menu, entry, enabled);

    if (enabled && QueryPlugin(dispatchWindow, PLG_GET_LOGGING) != 0)
        CheckMenuItem(menu, CMD_TOGGLE_LOGGING, MF_BYCOMMAND | MF_CHECKED);
    return autoLock;
}

} // namespace parleym

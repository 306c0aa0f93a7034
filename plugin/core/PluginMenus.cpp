#include "plugin/core/PluginMenus.h"

#include <string>

#include "shared/Protocol.h"

namespace parleym {
namespace {

std::string ItemText(HMENU menu, int position, int capacity) {
    char text[256] = {};
    if (capacity > static_cast<int>(sizeof(text))) capacity = sizeof(text);
    GetMenuStringA(menu, static_cast<UINT>(position), text, capacity, MF_BYPOSITION);
    return text;
}

void AppendItem(HMENU menu, UINT id, const char* text, bool enabled) {
    AppendMenuA(menu, MF_STRING, id, text);
    if (!enabled) EnableMenuItem(menu, id, MF_BYCOMMAND | MF_GRAYED);
}

} // namespace

HMENU AppendPluginMenuItems(HMENU menu, HWND dispatchWindow) {
    const bool enabled = dispatchWindow && IsWindow(dispatchWindow);

    HMENU autoLock = CreatePopupMenu();
    AppendItem(autoLock, CMD_AUTOLOCK_DISABLED, "disabled", enabled);
    AppendItem(autoLock, CMD_AUTOLOCK_5, "at 5 minutes", enabled);
    AppendItem(autoLock, CMD_AUTOLOCK_6, "at 6 minutes", enabled);
    AppendItem(autoLock, CMD_AUTOLOCK_10, "at 10 minutes", enabled);
    AppendItem(autoLock, CMD_AUTOLOCK_15, "at 15 minutes", enabled);
    if (enabled) {
        const UINT checked = static_cast<UINT>(SendMessageA(dispatchWindow, PLG_GET_AUTOLOCK, 0, 0));
        CheckMenuItem(autoLock, checked, MF_BYCOMMAND | MF_CHECKED);
    }

    AppendItem(menu, CMD_BROADCAST, "Broadcast message...", enabled);
    AppendItem(menu, CMD_SEND_OFFLINE_MESSAGE, "Send offline message...", enabled);
    AppendItem(menu, CMD_STATISTICS, "Statistics...", enabled);
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendItem(menu, CMD_SET_PASSWORD, "Set password...", enabled);
    AppendMenuA(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(autoLock), "Auto lock messenger");
    AppendItem(menu, CMD_LOCK_MESSENGER, "Lock messenger", enabled);
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendItem(menu, CMD_TOGGLE_LOGGING, "Enable logging", enabled);
    AppendItem(menu, CMD_VIEW_LOGS, "View logs...", enabled);
    AppendItem(menu, CMD_SET_LOGS_PATH, "Set logs path...", enabled);
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendItem(menu, CMD_ABOUT, "About Parleym...", enabled);

    if (enabled && SendMessageA(dispatchWindow, PLG_GET_LOGGING, 0, 0) != 0)
        CheckMenuItem(menu, CMD_TOGGLE_LOGGING, MF_BYCOMMAND | MF_CHECKED);
    return autoLock;
}

bool MenuBarHasParleymItem(HMENU menuBar) {
    const int count = GetMenuItemCount(menuBar);
    for (int i = 0; i < count; ++i)
        if (lstrcmpiA(ItemText(menuBar, i, 255).c_str(), kParleymMenuText) == 0) return true;
    return false;
}

bool AppendParleymPopup(HWND window, HMENU popup) {
    HMENU menuBar = GetMenu(window);
    if (!menuBar || MenuBarHasParleymItem(menuBar)) {
        DestroyMenu(popup);
        return false;
    }
    char text[] = "Parleym";
    MENUITEMINFOA item{};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_SUBMENU | MIIM_TYPE;
    item.fType = MFT_STRING;
    item.hSubMenu = popup;
    item.dwTypeData = text;
    const int count = GetMenuItemCount(menuBar);
    if (!InsertMenuItemA(menuBar, static_cast<UINT>(count < 0 ? 0 : count), TRUE, &item)) {
        DestroyMenu(popup);
        return false;
    }
    DrawMenuBar(window);
    return true;
}

HMENU CreateConversationPopup() {
    HMENU popup = CreatePopupMenu();
    AppendMenuA(popup, MF_STRING, CMD_FORWARD_CONVERSATION, "Forward conversation...");
    AppendMenuA(popup, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(popup, MF_STRING, CMD_ABOUT, "About Parleym...");
    return popup;
}

bool RemoveParleymPopup(HWND window, bool scanFromLast) {
    HMENU menuBar = window ? GetMenu(window) : nullptr;
    if (!menuBar) return false;
    const int count = GetMenuItemCount(menuBar);
    for (int n = 0; n < count; ++n) {
        const int position = scanFromLast ? count - 1 - n : n;
        HMENU popup = GetSubMenu(menuBar, position);
        if (!popup || ItemText(menuBar, position, 255) != kParleymMenuText) continue;
        RemoveMenu(menuBar, static_cast<UINT>(position), MF_BYPOSITION);
        DestroyMenu(popup);
        DrawMenuBar(window);
        return true;
    }
    return false;
}

void AppendSendOfflineItem(HMENU menu, bool enabled) {
    // A menu the messenger keeps and opens again already has the item: only its state changes.
    if (GetMenuState(menu, CMD_SEND_OFFLINE_TO_SELECTED, MF_BYCOMMAND) != static_cast<UINT>(-1)) {
        EnableMenuItem(menu, CMD_SEND_OFFLINE_TO_SELECTED, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
        return;
    }
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING | (enabled ? 0 : MF_GRAYED), CMD_SEND_OFFLINE_TO_SELECTED, "Send offline message...");
}

} // namespace parleym

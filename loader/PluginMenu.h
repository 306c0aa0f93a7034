#pragma once
#include <windows.h>

namespace parleym {

// Appends the plug-in's commands to `menu` (the tray menu); returns the
// "Auto lock messenger" sub-menu. Items are grayed unless `dispatchWindow` is
// a live window; check marks are asked of it (auto-lock choice, logging).
HMENU AppendPluginMenuItems(HMENU menu, HWND dispatchWindow);

// The commands the tray menu offers: the only ones the loader relays to the plug-in.
bool IsTrayMenuCommand(unsigned id);

} // namespace parleym

#pragma once
#include <windows.h>

namespace parleym {

// Appends the plug-in's commands to `menu` (the tray menu); returns the
// "Auto lock messenger" sub-menu. Items are grayed unless `dispatchWindow` is
// a live window; check marks are asked of it (auto-lock choice, logging).
HMENU AppendPluginMenuItems(HMENU menu, HWND dispatchWindow);

} // namespace parleym

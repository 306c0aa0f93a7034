#pragma once
// The "Parleym" popups that the plug-in puts into the messenger's menus.
#include <windows.h>

namespace parleym {

constexpr char kParleymMenuText[] = "Parleym";

// Fills `menu` with the plug-in's items; the items are grayed when
// `dispatchWindow` is not a window. Returns the "Auto lock messenger" sub-menu.
HMENU AppendPluginMenuItems(HMENU menu, HWND dispatchWindow);

// True when the menu bar has an item whose text is "Parleym" (any case).
bool MenuBarHasParleymItem(HMENU menuBar);

// Appends a "Parleym" popup holding `popup` to the window's menu bar unless
// one is there. False (and `popup` destroyed) when nothing was inserted.
bool AppendParleymPopup(HWND window, HMENU popup);
// The conversation window's popup: "Forward conversation..." and "About Parleym...".
HMENU CreateConversationPopup();

// Removes the first (or last) "Parleym" popup of the window's menu bar and
// destroys its menu. False when there was none.
bool RemoveParleymPopup(HWND window, bool scanFromLast);

// The contact-list context menu: a separator and "Send offline message...",
// once; a menu that has the item only gets its state changed.
void AppendSendOfflineItem(HMENU menu, bool enabled);

} // namespace parleym

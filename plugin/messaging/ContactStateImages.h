#pragma once
// The online/offline/away pictures the contact lists of the messaging dialogs show.
#include <windows.h>
#include <commctrl.h>

namespace parleym {

// Creates the image list and gives it to the list view as its small images; the caller
// owns the list (ImageList_Destroy) once the list view is gone. Null when it cannot be made.
HIMAGELIST AttachContactStateImages(HWND listView);

} // namespace parleym

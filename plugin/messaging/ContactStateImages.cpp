#include "plugin/messaging/ContactStateImages.h"

#include "framework/Window.h"
#include "plugin/messaging/MessagingResources.h"

namespace parleym {

HIMAGELIST AttachContactStateImages(HWND listView) {
    // 24-bit: an 8-bit list maps the strip's own palette onto its own, and the
    // mask colour then no longer matches (magenta outlines showed).
    HIMAGELIST images = ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 9, 5);
    if (!images) return nullptr;
    HBITMAP strip = static_cast<HBITMAP>(
        LoadImageA(ResourceModule(), MAKEINTRESOURCEA(IDB_CONTACT_STATES), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (strip) {
        ImageList_AddMasked(images, strip, RGB(0xFF, 0x00, 0xFF));
        DeleteObject(strip);
    }
    SendMessageA(listView, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
    return images;
}

} // namespace parleym

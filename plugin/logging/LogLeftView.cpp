#include "plugin/logging/LogLeftView.h"

#include "plugin/logging/LogViewerResources.h"

namespace parleym {

namespace {

bool AddMaskedBitmap(HIMAGELIST images, UINT bitmapId, UINT maskId) {
    HBITMAP bitmap = LoadBitmapA(ResourceModule(), MAKEINTRESOURCEA(bitmapId));
    HBITMAP mask = LoadBitmapA(ResourceModule(), MAKEINTRESOURCEA(maskId));
    const bool added = bitmap && mask && ImageList_Add(images, bitmap, mask) >= 0;
    if (bitmap) DeleteObject(bitmap);
    if (mask) DeleteObject(mask);
    return added;
}

} // namespace

CLogLeftView::~CLogLeftView() {
    // The tree does not own its normal image list.
    if (GetSafeHwnd() && IsWindow(GetSafeHwnd())) SetImageList(nullptr);
    if (images_) ImageList_Destroy(images_);
}

bool CLogLeftView::Prepare() {
    AddStyle(TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS);
    if (!images_) {
        images_ = ImageList_Create(16, 16, ILC_COLOR8 | ILC_MASK, 3, 5);
        if (!images_) return false;
        const bool complete = AddMaskedBitmap(images_, IDB_TREE_DAY, IDB_TREE_DAY_MASK) &&
                              AddMaskedBitmap(images_, IDB_TREE_CONVERSATION, IDB_TREE_CONVERSATION_MASK) &&
                              AddMaskedBitmap(images_, IDB_TREE_ROOT, IDB_TREE_ROOT_MASK);
        if (!complete) {
            ImageList_Destroy(images_);
            images_ = nullptr;
            return false;
        }
    }
    SetImageList(images_);
    return true;
}

void CLogLeftView::Show(const std::vector<LogTreeGroup>& groups) {
    DeleteAllItems();
    HTREEITEM root = InsertItem("Parleym logs", kImageRoot);
    for (const LogTreeGroup& group : groups) {
        HTREEITEM groupItem = InsertItem(group.group.text, group.group.image, root, TVI_LAST, 0);
        for (const LogTreeItem& conversation : group.conversations)
            InsertItem(conversation.text, conversation.image, groupItem, TVI_LAST, conversation.number);
    }
    Expand(root);
}

} // namespace parleym

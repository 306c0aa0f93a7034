#include "plugin/logging/LogLeftView.h"

#include "plugin/logging/LogViewerResources.h"

#include <string>
#include <unordered_map>

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
    shown_.clear();
    root_ = InsertItem("Parleym logs", kImageRoot);
    shown_.reserve(groups.size());
    for (const LogTreeGroup& group : groups) shown_.push_back(InsertGroup(group, TVI_LAST));
    Expand(root_);
}

void CLogLeftView::Update(const std::vector<LogTreeGroup>& groups) {
    if (!root_ || GetRootItem() != root_) {
        Show(groups);
        return;
    }
    std::unordered_map<std::string, std::size_t> positions;
    for (std::size_t i = 0; i < shown_.size(); ++i) positions.emplace(shown_[i].key, i);
    std::vector<ShownGroup> next;
    next.reserve(groups.size());
    std::size_t old = 0;
    HTREEITEM after = TVI_FIRST;
    for (const LogTreeGroup& group : groups) {
        const auto found = positions.find(group.key);
        if (found != positions.end() && found->second >= old) {
            // Groups passed over are gone (or moved: they come back as new ones).
            for (; old < found->second; ++old) DeleteItem(shown_[old].group.handle);
            ShownGroup kept = std::move(shown_[old++]);
            if (kept.group.item.text != group.group.text || kept.group.item.image != group.group.image) {
                kept.group.item = group.group;
                SetItem(kept.group.handle, group.group);
            }
            UpdateConversations(kept, group.conversations);
            next.push_back(std::move(kept));
        } else {
            next.push_back(InsertGroup(group, after));
        }
        after = next.back().group.handle;
    }
    for (; old < shown_.size(); ++old) DeleteItem(shown_[old].group.handle);
    shown_ = std::move(next);
}

void CLogLeftView::UpdateConversations(ShownGroup& shown, const std::vector<LogTreeItem>& conversations) const {
    std::unordered_map<int, std::size_t> positions;
    for (std::size_t i = 0; i < shown.conversations.size(); ++i) positions.emplace(shown.conversations[i].item.number, i);
    std::vector<ShownItem> next;
    next.reserve(conversations.size());
    std::size_t old = 0;
    HTREEITEM after = TVI_FIRST;
    for (const LogTreeItem& conversation : conversations) {
        const auto found = positions.find(conversation.number);
        if (found != positions.end() && found->second >= old) {
            for (; old < found->second; ++old) DeleteItem(shown.conversations[old].handle);
            ShownItem kept = shown.conversations[old++];
            if (kept.item.text != conversation.text || kept.item.image != conversation.image) {
                kept.item = conversation;
                SetItem(kept.handle, conversation);
            }
            next.push_back(std::move(kept));
        } else {
            next.push_back(ShownItem{conversation, InsertItem(conversation.text, conversation.image,
                                                              shown.group.handle, after, conversation.number)});
        }
        after = next.back().handle;
    }
    for (; old < shown.conversations.size(); ++old) DeleteItem(shown.conversations[old].handle);
    shown.conversations = std::move(next);
}

HTREEITEM CLogLeftView::ItemOf(int number) const {
    if (number == 0) return nullptr;
    for (const ShownGroup& group : shown_)
        for (const ShownItem& conversation : group.conversations)
            if (conversation.item.number == number) return conversation.handle;
    return nullptr;
}

CLogLeftView::ShownGroup CLogLeftView::InsertGroup(const LogTreeGroup& group, HTREEITEM after) const {
    ShownGroup shown{group.key, ShownItem{group.group, InsertItem(group.group.text, group.group.image, root_, after, 0)},
                     {}};
    shown.conversations.reserve(group.conversations.size());
    for (const LogTreeItem& conversation : group.conversations)
        shown.conversations.push_back(ShownItem{
            conversation, InsertItem(conversation.text, conversation.image, shown.group.handle, TVI_LAST,
                                     conversation.number)});
    return shown;
}

void CLogLeftView::SetItem(HTREEITEM handle, const LogTreeItem& item) const {
    TVITEMA change{};
    change.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
    change.hItem = handle;
    change.pszText = const_cast<char*>(item.text.c_str());
    change.iImage = item.image;
    change.iSelectedImage = item.image;
    change.lParam = item.number;
    SendMessageA(GetSafeHwnd(), TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&change));
}

void CLogLeftView::DeleteItem(HTREEITEM handle) const {
    SendMessageA(GetSafeHwnd(), TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(handle));
}

} // namespace parleym

#pragma once
// The log viewer's tree of days or contacts and their conversations.
#include "framework/View.h"

#include <vector>

#include "plugin/logging/LogTree.h"

namespace parleym {

class CLogLeftView : public CTreeView {
public:
    ~CLogLeftView() override;

    // Tree styles and the three images; false when the images cannot be had.
    bool Prepare();
    // Replaces every item: the root "Parleym logs" with the groups under it.
    void Show(const std::vector<LogTreeGroup>& groups);
    // Makes the tree show `groups` touching only what differs from what it
    // shows: items that stay keep their handles, selection and expansion.
    // The selection may move when its item goes.
    void Update(const std::vector<LogTreeGroup>& groups);
    // The item of a conversation; null when the tree does not show it.
    HTREEITEM ItemOf(int number) const;

private:
    struct ShownItem {
        LogTreeItem item;
        HTREEITEM handle = nullptr;
    };
    struct ShownGroup {
        std::string key;
        ShownItem group;
        std::vector<ShownItem> conversations;
    };

    ShownGroup InsertGroup(const LogTreeGroup& group, HTREEITEM after) const;
    void UpdateConversations(ShownGroup& shown, const std::vector<LogTreeItem>& conversations) const;
    void SetItem(HTREEITEM handle, const LogTreeItem& item) const;
    void DeleteItem(HTREEITEM handle) const;

    HIMAGELIST images_ = nullptr;
    HTREEITEM root_ = nullptr;
    std::vector<ShownGroup> shown_;
};

} // namespace parleym

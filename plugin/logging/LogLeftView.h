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

private:
    HIMAGELIST images_ = nullptr;
};

} // namespace parleym

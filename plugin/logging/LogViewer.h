#pragma once
// The log viewer: a frame with the conversations of the signed-in account in a
// tree on the left and the selected conversation on the right. It only reads
// the log store. At most one exists; the manager keeps a pointer to it.
#include "framework/FrameWnd.h"
#include "plugin/logging/LogLeftView.h"
#include "plugin/logging/LogRightView.h"

#include <map>
#include <string>
#include <vector>

namespace parleym {

class CParleymanager;

class CLogViewer : public CFrameWnd {
public:
    explicit CLogViewer(CParleymanager* manager);

    // Rebuilds the tree from the log store's index and empties the right pane.
    void Refresh();
    // Brings the tree up to date with the index and the contacts' names after
    // a contact's status changed: only what differs changes; the selection,
    // grouping and the conversation on show stay.
    void Update();
    // Loads the conversation into the right pane unless it is shown already.
    void ShowConversation(int number);

    UINT Grouping() const { return grouping_; }
    int ShownConversation() const { return shownConversation_; }
    CLogLeftView& Tree() { return leftView_; }
    CLogRightView& Pane() { return rightView_; }

protected:
    int OnCreate(CREATESTRUCTA* create) override;
    bool OnCreateClient(CREATESTRUCTA* create) override;
    bool OnCommand(WORD id, WORD code, HWND control) override;
    bool OnNotify(NMHDR* header, LRESULT& result) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnDestroy() override;

private:
    void SetGrouping(UINT grouping);
    void ShowAccountInStatusBar();
    std::vector<LogTreeGroup> BuildTree();
    bool TreeIsCurrent() const;

    // What the tree was last built from, so an update with nothing new is cheap.
    struct BuiltFrom {
        std::vector<LogEntry> index;
        std::map<std::string, std::string> friendlyNames;
        UINT grouping = 0;
    };

    CParleymanager* manager_;
    CSplitterWnd splitter_;
    CLogLeftView leftView_;
    CLogRightView rightView_;
    UINT grouping_;
    UINT treeId_ = 0;
    int shownConversation_ = 0;
    // Set while the tree is changed by the viewer itself: selection changes then show nothing.
    bool changingTree_ = false;
    BuiltFrom builtFrom_;
};

// "View logs...": creates, shows and registers the viewer with the manager,
// or brings the open one forward. Null when the frame cannot be made.
CLogViewer* OpenLogViewer(CParleymanager& manager);
// Brings an open viewer up to date (a contact's status changed).
void RefreshLogViewer(CFrameWnd* viewer);

} // namespace parleym

// The log viewer frame on the real manager and log store: what selecting tree
// items does to the conversation pane, the commands, the status bar.
#include <gtest/gtest.h>

#include "plugin/logging/LogViewer.h"
#include "plugin/logging/LogViewerResources.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/RichEditBridge.h"
#include "tests/logging/ManagerHarness.h"

using namespace parleym_test;
using parleym::CLogViewer;
using parleym::CMessageContent;
using parleym::LogEntry;

namespace {

class LogViewerTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Two conversations with Bob on one day, one with Carol the day after.
        Log(1, "bob@parleym.example", 46000.40, 46000.45, "Bob says: hi ", "smile");
        Log(2, "bob@parleym.example", 46000.60, 46000.61, "Bob says: again", "");
        Log(3, "carol@parleym.example", 46001.50, 46001.52, "Carol says: hello ", "thumbs");
        viewer = parleym::OpenLogViewer(harness.Manager());
        ASSERT_NE(viewer, nullptr);
        PumpMessages();
    }
    void TearDown() override {
        if (harness.Manager().LogViewer()) DestroyWindow(harness.Manager().LogViewer()->GetSafeHwnd());
    }

    void Log(int number, const char* contact, double start, double end, const char* text, const char* picture) {
        HWND history = host.AddRichEdit();
        AppendText(history, text);
        if (*picture) AppendPicture(history, picture);
        shownText[number] = ControlText(history);
        CMessageContent content;
        parleym::CRichEditBridge(&harness.ObjectCache(), history, true).Capture(content, true, true, false);
        harness.LogStore().SaveConversation(LogEntry{start, end, contact, number}, content);
    }

    HTREEITEM Root() { return viewer->Tree().GetRootItem(); }
    HTREEITEM Child(HTREEITEM parent, int position) {
        HTREEITEM item = viewer->Tree().GetChildItem(parent);
        while (item && position-- > 0) item = viewer->Tree().GetNextSiblingItem(item);
        return item;
    }
    std::vector<std::string> GroupTexts() {
        std::vector<std::string> texts;
        for (HTREEITEM item = Child(Root(), 0); item; item = viewer->Tree().GetNextSiblingItem(item))
            texts.push_back(viewer->Tree().GetItemText(item));
        return texts;
    }
    std::string PaneText() { return ControlText(viewer->Pane().RichEdit()); }
    void Command(UINT id) {
        SendMessageA(viewer->GetSafeHwnd(), WM_COMMAND, id, 0);
        PumpMessages();
    }

    ManagerHarness harness;
    RichEditHost host;
    CLogViewer* viewer = nullptr;
    std::map<int, std::string> shownText;
};

TEST_F(LogViewerTest, SelectingAConversationShowsItAndGroupsChangeNothing) {
    EXPECT_EQ(viewer->Tree().GetItemText(Root()), "Parleym logs");
    ASSERT_EQ(GroupTexts().size(), 2u);  // two days, newest first
    HTREEITEM carolDay = Child(Root(), 0);
    HTREEITEM bobDay = Child(Root(), 1);
    HTREEITEM firstWithBob = Child(bobDay, 0);
    ASSERT_NE(firstWithBob, nullptr);
    EXPECT_EQ(viewer->Tree().GetItemData(firstWithBob), 1);
    EXPECT_EQ(viewer->Tree().GetItemData(Child(carolDay, 0)), 3);

    viewer->Tree().SelectItem(firstWithBob);
    EXPECT_EQ(viewer->ShownConversation(), 1);
    EXPECT_EQ(PaneText(), shownText[1]);
    ASSERT_EQ(PicturesIn(viewer->Pane().RichEdit()).size(), 1u);
    EXPECT_EQ(PicturesIn(viewer->Pane().RichEdit())[0].name, "smile");

    viewer->Tree().SelectItem(bobDay);
    viewer->Tree().SelectItem(Root());
    EXPECT_EQ(viewer->ShownConversation(), 1);
    EXPECT_EQ(PaneText(), shownText[1]);

    // Coming back to the conversation on show does not load it again.
    SetWindowTextA(viewer->Pane().RichEdit(), "left alone");
    viewer->Tree().SelectItem(firstWithBob);
    EXPECT_EQ(PaneText(), "left alone");

    viewer->Tree().SelectItem(Child(carolDay, 0));
    EXPECT_EQ(viewer->ShownConversation(), 3);
    EXPECT_EQ(PaneText(), shownText[3]);
}

TEST_F(LogViewerTest, UpdateEmptiesThePaneAndGroupingFollowsTheMenu) {
    viewer->Tree().SelectItem(Child(Child(Root(), 1), 1));
    EXPECT_EQ(PaneText(), shownText[2]);

    Command(ID_LOG_UPDATE);
    EXPECT_EQ(PaneText(), "");
    EXPECT_EQ(viewer->ShownConversation(), 0);

    Command(ID_LOG_GROUP_BY_USER);
    EXPECT_EQ(viewer->Grouping(), static_cast<UINT>(ID_LOG_GROUP_BY_USER));
    // Neither contact is in the (signed-out) contact list: sign-in names.
    EXPECT_EQ(GroupTexts(), (std::vector<std::string>{"bob@parleym.example", "carol@parleym.example"}));
    HMENU menu = GetMenu(viewer->GetSafeHwnd());
    SendMessageA(viewer->GetSafeHwnd(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(GetSubMenu(menu, 1)), 1);
    EXPECT_EQ(GetMenuState(menu, ID_LOG_GROUP_BY_USER, MF_BYCOMMAND) & MF_CHECKED, static_cast<UINT>(MF_CHECKED));
    EXPECT_EQ(GetMenuState(menu, ID_LOG_GROUP_BY_DATE, MF_BYCOMMAND) & MF_CHECKED, 0u);

    Command(ID_LOG_GROUP_BY_DATE);
    EXPECT_EQ(GroupTexts().size(), 2u);
    EXPECT_EQ(viewer->Tree().GetItemText(Child(Child(Root(), 0), 0)).rfind("carol@parleym.example(", 0), 0u);
}

TEST_F(LogViewerTest, SignedOutStatusBarAndNewConversationsAfterRefresh) {
    parleym::CStatusBar* statusBar = viewer->GetStatusBar();
    ASSERT_NE(statusBar, nullptr);
    EXPECT_EQ(statusBar->GetPaneText(1), "Offline");
    EXPECT_EQ(statusBar->GetPaneText(2), "N/A");
    EXPECT_EQ(statusBar->GetPaneWidth(1), statusBar->TextWidth("Offline"));

    Log(4, "dave@parleym.example", 46001.70, 46001.71, "Dave says: late", "");
    parleym::RefreshLogViewer(harness.Manager().LogViewer());
    EXPECT_EQ(viewer->Tree().GetItemData(Child(Child(Root(), 0), 1)), 4);
}

bool IsExpanded(parleym::CTreeView& tree, HTREEITEM item) {
    return (SendMessageA(tree.GetSafeHwnd(), TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item), TVIS_EXPANDED) &
            TVIS_EXPANDED) != 0;
}

TEST_F(LogViewerTest, AStatusChangeKeepsSelectionGroupingAndTheConversationOnShow) {
    for (UINT grouping : {ID_LOG_GROUP_BY_DATE, ID_LOG_GROUP_BY_USER}) {
        SCOPED_TRACE(grouping);
        Command(grouping);
        // Bob's second conversation on show, its group open, Carol's group open too.
        HTREEITEM bobGroup = Child(Root(), grouping == ID_LOG_GROUP_BY_DATE ? 1 : 0);
        HTREEITEM carolGroup = Child(Root(), grouping == ID_LOG_GROUP_BY_DATE ? 0 : 1);
        viewer->Tree().Expand(bobGroup);
        viewer->Tree().Expand(carolGroup);
        HTREEITEM reading = Child(bobGroup, 1);
        viewer->Tree().SelectItem(reading);
        ASSERT_EQ(viewer->ShownConversation(), 2);

        // Nothing new: nothing moves.
        parleym::RefreshLogViewer(harness.Manager().LogViewer());
        EXPECT_EQ(viewer->Tree().GetSelectedItem(), reading);
        EXPECT_EQ(PaneText(), shownText[2]);

        // Meanwhile a conversation with Carol was logged and Bob's first one went on.
        Log(10 + static_cast<int>(grouping), "carol@parleym.example", 46001.80, 46001.81, "Carol says: later", "");
        Log(1, "bob@parleym.example", 46000.40, 46000.55, "Bob says: hi and more", "");
        ManagerHarness::Messages().clear();
        parleym::RefreshLogViewer(harness.Manager().LogViewer());
        EXPECT_EQ(viewer->Grouping(), grouping);
        EXPECT_EQ(viewer->Tree().GetSelectedItem(), reading);
        EXPECT_EQ(viewer->Tree().GetItemData(reading), 2);
        EXPECT_EQ(viewer->ShownConversation(), 2);
        EXPECT_EQ(PaneText(), shownText[2]);
        EXPECT_TRUE(ManagerHarness::Messages().empty());
        // The groups are the same items, still open, with the new conversation in Carol's.
        EXPECT_EQ(Child(Root(), grouping == ID_LOG_GROUP_BY_DATE ? 1 : 0), bobGroup);
        EXPECT_EQ(Child(Root(), grouping == ID_LOG_GROUP_BY_DATE ? 0 : 1), carolGroup);
        EXPECT_TRUE(IsExpanded(viewer->Tree(), bobGroup));
        EXPECT_TRUE(IsExpanded(viewer->Tree(), carolGroup));
        HTREEITEM carolLast = Child(carolGroup, grouping == ID_LOG_GROUP_BY_DATE ? 1 : 0);
        while (viewer->Tree().GetNextSiblingItem(carolLast)) carolLast = viewer->Tree().GetNextSiblingItem(carolLast);
        EXPECT_EQ(viewer->Tree().GetItemData(carolLast), 10 + static_cast<int>(grouping));
        // The conversation that went on shows its new end, as a fresh tree would.
        const std::string updated = viewer->Tree().GetItemText(Child(bobGroup, 0));
        Command(ID_LOG_UPDATE);
        EXPECT_EQ(viewer->Tree().GetItemText(Child(Child(Root(), grouping == ID_LOG_GROUP_BY_DATE ? 1 : 0), 0)),
                  updated);
    }
}

TEST_F(LogViewerTest, OneViewerAtATimeAndExitLetsTheManagerKnow) {
    EXPECT_EQ(harness.Manager().LogViewer(), viewer);
    EXPECT_EQ(parleym::OpenLogViewer(harness.Manager()), viewer);
    EXPECT_EQ(GetWindowTextLengthA(viewer->GetSafeHwnd()), 10);  // "Log viewer"

    Command(ID_LOG_EXIT);
    EXPECT_EQ(harness.Manager().LogViewer(), nullptr);
    EXPECT_EQ(FindWindowA(nullptr, "Log viewer"), nullptr);
}

TEST_F(LogViewerTest, AConversationThatCannotBeReadIsReportedAndNothingChanges) {
    viewer->Tree().SelectItem(Child(Child(Root(), 1), 0));
    ManagerHarness::Messages().clear();
    viewer->ShowConversation(99);
    ASSERT_EQ(ManagerHarness::Messages().size(), 1u);
    EXPECT_EQ(ManagerHarness::Messages()[0].text, "Failed to open requested log file. Code: 0x80030002");
    EXPECT_EQ(ManagerHarness::Messages()[0].caption, "Error");
    EXPECT_TRUE(ManagerHarness::Messages()[0].style & MB_ICONERROR);
    EXPECT_EQ(viewer->ShownConversation(), 1);
    EXPECT_EQ(PaneText(), shownText[1]);
}

TEST_F(LogViewerTest, AFailedLoadOnSelectionIsShownOnlyOnceTheTreeHasFinishedSelecting) {
    // An item whose conversation the store cannot read.
    HTREEITEM carolItem = Child(Child(Root(), 0), 0);
    TVITEMA item{};
    item.mask = TVIF_PARAM;
    item.hItem = carolItem;
    item.lParam = 99;
    ASSERT_TRUE(SendMessageA(viewer->Tree().GetSafeHwnd(), TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    ManagerHarness::Messages().clear();
    viewer->Tree().SelectItem(carolItem);
    // A box here would run inside the tree's own selection change.
    EXPECT_TRUE(ManagerHarness::Messages().empty());
    PumpMessages();
    ASSERT_EQ(ManagerHarness::Messages().size(), 1u);
    EXPECT_EQ(ManagerHarness::Messages()[0].text, "Failed to open requested log file. Code: 0x80030002");
    EXPECT_EQ(ManagerHarness::Messages()[0].caption, "Error");
    EXPECT_EQ(ManagerHarness::Messages()[0].style, static_cast<UINT>(MB_TASKMODAL | MB_ICONERROR | MB_OK));
    EXPECT_EQ(viewer->ShownConversation(), 0);
    PumpMessages();
    EXPECT_EQ(ManagerHarness::Messages().size(), 1u);
}

} // namespace

namespace {
// The pane after a long conversation is a control made anew (Wine's Rich Edit
// takes half a minute to empty 1 MB): it must stand where the old one stood.
TEST_F(LogViewerTest, LeavingALongConversationLeavesAPaneLikeTheFirst) {
    std::string lines;
    while (lines.size() < 100 * 1024) lines += "Dave says: a line of a long conversation " + std::to_string(lines.size()) + "\r\n";
    Log(4, "dave@parleym.example", 46002.50, 46002.52, lines.c_str(), "smile");
    viewer->ShowConversation(4);
    HWND first = viewer->Pane().RichEdit();
    EXPECT_EQ(PaneText(), shownText[4]);
    RECT firstArea{};
    GetWindowRect(first, &firstArea);
    SetFocus(first);

    viewer->ShowConversation(3);
    HWND pane = viewer->Pane().RichEdit();
    EXPECT_FALSE(IsWindow(first));
    EXPECT_EQ(PaneText(), shownText[3]);
    ASSERT_EQ(PicturesIn(pane).size(), 1u);
    EXPECT_EQ(PicturesIn(pane)[0].name, "thumbs");
    EXPECT_EQ(GetParent(pane), viewer->Pane().GetSafeHwnd());
    EXPECT_TRUE(IsWindowVisible(pane));
    EXPECT_EQ(GetWindowLongPtrA(pane, GWL_STYLE) & ES_READONLY, ES_READONLY);
    EXPECT_EQ(GetFocus(), pane);
    RECT area{};
    GetWindowRect(pane, &area);
    EXPECT_TRUE(EqualRect(&area, &firstArea));

    // A short conversation leaves the control in place.
    viewer->ShowConversation(1);
    EXPECT_EQ(viewer->Pane().RichEdit(), pane);
    EXPECT_EQ(PaneText(), shownText[1]);
    // So does the pane emptied by a refresh.
    viewer->ShowConversation(4);
    viewer->Refresh();
    EXPECT_EQ(PaneText(), "");
}
} // namespace

// The window framework: dialogs from templates with routed handlers, a frame
// with status bar, static splitter and views, and the thread message hook.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/Dialog.h"
#include "framework/FrameWnd.h"
#include "framework/ListView.h"
#include "framework/ThreadMessageHook.h"
#include "tests/support/MessagePump.h"

using namespace parleym;

namespace {

using parleym::test::PumpMessages;

class EchoDialog : public CDialog {
public:
    EchoDialog() : CDialog(100) {}
    std::vector<std::string> seen;
    std::string typed;

protected:
    BOOL OnInitDialog() override {
        seen.push_back("init");
        SetItemText(101, "hello");
        PostMessageA(GetSafeHwnd(), WM_COMMAND, IDOK, 0);
        return TRUE;
    }
    void OnOK() override {
        typed = GetItemText(101);
        seen.push_back("ok");
        CDialog::OnOK();
    }
    void OnDestroy() override { seen.push_back("destroy"); }
};

} // namespace

TEST(FrameworkDialog, ModalDialogRoutesToItsHandlers) {
    EchoDialog dialog;
    EXPECT_EQ(IDOK, dialog.DoModal());
    EXPECT_EQ((std::vector<std::string>{"init", "ok", "destroy"}), dialog.seen);
    EXPECT_EQ("hello", dialog.typed);
    EXPECT_EQ(nullptr, dialog.GetSafeHwnd());
}

TEST(FrameworkDialog, ModelessDialogLetsGoOfItsHandleWhenDestroyed) {
    EchoDialog dialog;
    ASSERT_TRUE(dialog.Create());
    HWND window = dialog.GetSafeHwnd();
    ASSERT_TRUE(IsWindow(window));
    PumpMessages();  // the posted OK ends a modeless dialog by destroying it
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(nullptr, dialog.GetSafeHwnd());
    EXPECT_EQ("destroy", dialog.seen.back());
}

namespace {

bool g_frameDeleted = false;

class TestFrame : public CFrameWnd {
public:
    CSplitterWnd splitter;
    CTreeView tree;
    CView pane;
    std::vector<UINT> notifications;
    std::vector<WORD> commands;
    ~TestFrame() override { g_frameDeleted = true; }

protected:
    int OnCreate(CREATESTRUCTA* create) override {
        static const UINT indicators[] = {CStatusBar::kSeparator, 220, 220};
        if (!CreateStatusBar(indicators, 3)) return -1;
        return CFrameWnd::OnCreate(create);
    }
    bool OnCreateClient(CREATESTRUCTA*) override {
        if (!splitter.CreateStatic(GetSafeHwnd(), 2)) return false;
        if (!splitter.CreateView(0, tree, 120) || !splitter.CreateView(1, pane, 50)) return false;
        SetClientWindow(splitter.GetSafeHwnd());
        return true;
    }
    bool OnNotify(NMHDR* header, LRESULT&) override {
        notifications.push_back(header->code);
        return false;
    }
    bool OnCommand(WORD id, WORD, HWND) override {
        commands.push_back(id);
        return true;
    }
};

RECT ChildRect(HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

} // namespace

TEST(FrameworkFrame, SplitterViewsAndStatusBarShareTheClientArea) {
    g_frameDeleted = false;
    auto* frame = new TestFrame();
    ASSERT_TRUE(frame->LoadFrame(200));
    HWND window = frame->GetSafeHwnd();
    char title[64] = {};
    GetWindowTextA(window, title, sizeof(title));
    EXPECT_STREQ("Framework frame", title);
    EXPECT_NE(nullptr, GetMenu(window));

    SetWindowPos(window, nullptr, 0, 0, 500, 400, SWP_NOZORDER | SWP_NOMOVE);
    ShowWindow(window, SW_SHOW);
    PumpMessages();
    RECT client{};
    GetClientRect(window, &client);
    CStatusBar* status = frame->GetStatusBar();
    ASSERT_NE(nullptr, status);
    EXPECT_EQ(3, status->PaneCount());
    const RECT splitter = ChildRect(frame->splitter.GetSafeHwnd());
    EXPECT_EQ(client.bottom - status->Height(), splitter.bottom);
    EXPECT_EQ(client.right, splitter.right);
    const RECT left = ChildRect(frame->tree.GetSafeHwnd());
    const RECT right = ChildRect(frame->pane.GetSafeHwnd());
    EXPECT_EQ(120, left.right - left.left);
    EXPECT_EQ(120 + CSplitterWnd::kBarWidth, right.left);
    EXPECT_EQ(client.right, right.right);

    // Tree notifications and commands of the panes reach the frame.
    HTREEITEM root = frame->tree.InsertItem("root", 0);
    HTREEITEM child = frame->tree.InsertItem("child", 1, root, TVI_LAST, 42);
    frame->tree.Expand(root);
    EXPECT_EQ(42, frame->tree.GetItemData(child));
    EXPECT_EQ(2u, frame->tree.GetCount());
    frame->tree.SelectItem(child);
    bool changing = false;
    for (UINT code : frame->notifications)
        if (code == TVN_SELCHANGINGA || code == TVN_SELCHANGINGW) changing = true;
    EXPECT_TRUE(changing);
    SendMessageA(frame->pane.GetSafeHwnd(), WM_COMMAND, 0, 0);  // goes to the pane itself
    SendMessageA(frame->splitter.GetSafeHwnd(), WM_COMMAND, 210, 0);
    EXPECT_EQ((std::vector<WORD>{210}), frame->commands);

    status->SetPaneText(1, "alice@example.com");
    EXPECT_EQ("alice@example.com", status->GetPaneText(1));
    status->SetPaneWidth(1, status->TextWidth("alice@example.com"));
    EXPECT_GT(status->GetPaneWidth(1), 0);

    // Dragging the bar moves the boundary.
    SendMessageA(frame->splitter.GetSafeHwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(121, 10));
    SendMessageA(frame->splitter.GetSafeHwnd(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(200, 10));
    SendMessageA(frame->splitter.GetSafeHwnd(), WM_LBUTTONUP, 0, MAKELPARAM(200, 10));
    EXPECT_EQ(200, frame->splitter.ColumnWidth(0));

    DestroyWindow(window);
    PumpMessages();
    EXPECT_TRUE(g_frameDeleted);
}

TEST(FrameworkListView, RowsCarryTextDataAndChecks) {
    EnsureCommonControls();
    HWND list = CreateWindowExA(0, WC_LISTVIEWA, "", WS_POPUP | LVS_REPORT, 0, 0, 300, 200, nullptr, nullptr,
                                nullptr, nullptr);
    ASSERT_NE(nullptr, list);
    CListView view(list);
    view.SetExtendedStyle(LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    EXPECT_EQ(0, view.InsertColumn(0, "Name", 100));
    EXPECT_EQ(1, view.InsertColumn(1, "Status", 80));
    EXPECT_EQ(0, view.InsertItem(0, "Ann", 7));
    EXPECT_EQ(1, view.InsertItem(1, "Bob", 9));
    view.SetItemText(1, 1, "Online");
    EXPECT_EQ("Online", view.GetItemText(1, 1));
    EXPECT_EQ(9, view.GetItemData(1));
    EXPECT_EQ(1, view.FindItemByData(9));
    view.SetCheck(0, true);
    EXPECT_TRUE(view.GetCheck(0));
    EXPECT_FALSE(view.GetCheck(1));
    view.SelectRow(1);
    EXPECT_EQ(1, view.GetSelectedRow());
    EXPECT_TRUE(view.DeleteItem(0));
    EXPECT_EQ(1, view.GetItemCount());
    DestroyWindow(list);
}

namespace {

std::vector<UINT> g_offered;

// Takes the window's key-down messages and lets everything else through.
bool TakeKeyDown(HWND window, MSG& msg) {
    if (msg.hwnd != window) return false;
    g_offered.push_back(msg.message);
    return msg.message == WM_KEYDOWN;
}

// The message the thread retrieves after posting `message` to `window`.
UINT Retrieve(HWND window, UINT message) {
    PostMessageA(window, message, 'A', 0);
    MSG msg{};
    if (!PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) return 0xFFFFFFFF;
    return msg.message;
}

} // namespace

TEST(FrameworkThreadMessageHook, TakenMessagesBecomeNullForOneWindowAtATime) {
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    PumpMessages();
    g_offered.clear();
    {
        CThreadMessageHook<&TakeKeyDown> hook;
        ASSERT_TRUE(hook.Start(window));
        EXPECT_TRUE(hook.Started());
        CThreadMessageHook<&TakeKeyDown> second;
        EXPECT_FALSE(second.Start(window));  // the first holds the thread's hook

        EXPECT_EQ(static_cast<UINT>(WM_NULL), Retrieve(window, WM_KEYDOWN));
        EXPECT_EQ(static_cast<UINT>(WM_KEYUP), Retrieve(window, WM_KEYUP));
        // A message only looked at is offered once it is removed, not before.
        PostMessageA(window, WM_KEYDOWN, 'B', 0);
        MSG peeked{};
        ASSERT_TRUE(PeekMessageA(&peeked, window, 0, 0, PM_NOREMOVE));
        EXPECT_EQ(static_cast<UINT>(WM_KEYDOWN), peeked.message);
        EXPECT_EQ((std::vector<UINT>{WM_KEYDOWN, WM_KEYUP}), g_offered);
        MSG removed{};
        ASSERT_TRUE(PeekMessageA(&removed, window, 0, 0, PM_REMOVE));
        EXPECT_EQ(static_cast<UINT>(WM_NULL), removed.message);
        EXPECT_EQ((std::vector<UINT>{WM_KEYDOWN, WM_KEYUP, WM_KEYDOWN}), g_offered);

        hook.Stop();
        EXPECT_FALSE(hook.Started());
        EXPECT_EQ(static_cast<UINT>(WM_KEYDOWN), Retrieve(window, WM_KEYDOWN));
        ASSERT_TRUE(second.Start(window));  // free again once stopped
    }
    // Gone with its owner.
    g_offered.clear();
    EXPECT_EQ(static_cast<UINT>(WM_KEYDOWN), Retrieve(window, WM_KEYDOWN));
    EXPECT_TRUE(g_offered.empty());
    DestroyWindow(window);
}

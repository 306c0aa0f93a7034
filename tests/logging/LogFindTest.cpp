// The log viewer's Find on the real manager and log store: hits over several
// contacts and days, the match selected in the conversation pane, stepping,
// cancelling, the cache of read texts and what invalidates it, the keys.
#include <gtest/gtest.h>

#include <richedit.h>

#include "plugin/logging/LogFindResources.h"
#include "plugin/logging/LogViewer.h"
#include "plugin/logging/LogViewerKeys.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/RichEditBridge.h"
#include "tests/logging/ManagerHarness.h"

using namespace parleym_test;
using parleym::CLogFindPane;
using parleym::CLogViewer;
using parleym::CMessageContent;
using parleym::LogEntry;

namespace {

class LogFindTest : public ::testing::Test {
protected:
    void SetUp() override {
        Log(1, "bob@parleym.example", 46000.40, "Bob says: Tea at five? ", "smile");
        Log(2, "carol@parleym.example", 46001.50, "Carol says: no tea for me, thanks", "");
        Log(3, "dave@parleym.example", 46002.50, "Dave says: coffee", "");
        Log(4, "bob@parleym.example", 46003.50, "Bob says: TEA! and more tea", "");
        viewer = parleym::OpenLogViewer(harness.Manager());
        ASSERT_NE(viewer, nullptr);
        PumpMessages();
    }
    void TearDown() override {
        if (harness.Manager().LogViewer()) DestroyWindow(harness.Manager().LogViewer()->GetSafeHwnd());
    }

    void Log(int number, const char* contact, double start, const char* text, const char* picture) {
        HWND history = host.AddRichEdit();
        if (*picture) AppendPicture(history, picture);  // an object before the text moves every match
        AppendText(history, text);
        CMessageContent content;
        parleym::CRichEditBridge(&harness.ObjectCache(), history, true).Capture(content, true, true, false);
        harness.LogStore().SaveConversation(LogEntry{start, start + 0.01, contact, number}, content);
    }

    CLogFindPane& Find() { return viewer->FindPane(); }
    // Lets the timer run the search to its end.
    void SearchFor(const char* text) {
        Find().StartSearch(text);
        for (int i = 0; i < 500 && Find().Running(); ++i) {
            PumpMessages();
            Sleep(1);
        }
        ASSERT_FALSE(Find().Running());
    }
    std::string Selected() {
        HWND pane = viewer->Pane().RichEdit();
        CHARRANGE range{};
        SendMessageA(pane, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
        std::string text(static_cast<std::size_t>(range.cpMax - range.cpMin) * 2 + 2, '\0');
        const LRESULT length = SendMessageA(pane, EM_GETSELTEXT, 0, reinterpret_cast<LPARAM>(&text[0]));
        text.resize(static_cast<std::size_t>(length));
        return text;
    }

    ManagerHarness harness;
    RichEditHost host;
    CLogViewer* viewer = nullptr;
};

TEST_F(LogFindTest, HitsOverContactsAndDaysShowTheirConversationWithTheMatchSelected) {
    SearchFor("tea");
    ASSERT_NE(Find().Run(), nullptr);
    const auto& hits = Find().Run()->Search().Hits();
    ASSERT_EQ(hits.size(), 4u);
    EXPECT_EQ(hits[0].entry.contact, "bob@parleym.example");
    EXPECT_EQ(hits[1].entry.contact, "carol@parleym.example");
    EXPECT_EQ(hits[2].entry.number, 4);
    EXPECT_EQ(hits[3].entry.number, 4);
    EXPECT_NE(hits[0].snippet.find("Tea at five?"), std::string::npos);
    EXPECT_TRUE(Find().Visible());
    EXPECT_NE(Find().Summary().find("Found 4 matches of \"tea\" in 4 conversations"), std::string::npos)
        << Find().Summary();
    EXPECT_EQ(viewer->GetStatusBar()->GetPaneText(0), Find().Summary());

    // Behind the picture: the match is one character further on.
    Find().ChooseHit(0);
    EXPECT_EQ(viewer->ShownConversation(), 1);
    EXPECT_EQ(Selected(), "Tea");
    CHARRANGE range{};
    SendMessageA(viewer->Pane().RichEdit(), EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.cpMin, 11);
    // The tree follows, so the conversation can be chosen there again.
    EXPECT_EQ(viewer->Tree().GetItemData(viewer->Tree().GetSelectedItem()), 1);

    // F3 walks the hits in order, into the next conversation and within it.
    Find().Step(1);
    EXPECT_EQ(Find().SelectedHit(), 1);
    EXPECT_EQ(viewer->ShownConversation(), 2);
    EXPECT_EQ(Selected(), "tea");
    Find().Step(1);
    Find().Step(1);
    EXPECT_EQ(Find().SelectedHit(), 3);
    EXPECT_EQ(viewer->ShownConversation(), 4);
    EXPECT_EQ(Selected(), "tea");
    Find().Step(1);  // past the last: stays
    EXPECT_EQ(Find().SelectedHit(), 3);
    Find().Step(-1);
    EXPECT_EQ(Find().SelectedHit(), 2);
    EXPECT_EQ(Selected(), "TEA");

    // Escape (or the button) closes the finished search's pane.
    SendMessageA(viewer->GetSafeHwnd(), WM_COMMAND, ID_LOG_FIND_CANCEL, 0);
    EXPECT_FALSE(Find().Visible());
}

TEST_F(LogFindTest, SecondSearchAnswersFromMemoryAndSeesWhatWasSavedSince) {
    SearchFor("five");
    EXPECT_EQ(Find().Run()->FromCache(), 0u);
    SearchFor("thanks");
    EXPECT_EQ(Find().Run()->FromCache(), 4u);
    EXPECT_EQ(Find().Run()->Search().MatchCount(), 1u);

    // Dave's conversation goes on and is saved again; a new one with Erin starts.
    Log(3, "dave@parleym.example", 46002.50, "Dave says: coffee, thanks", "");
    Log(5, "erin@parleym.example", 46004.50, "Erin says: thanks!", "");
    SearchFor("THANKS");
    EXPECT_EQ(Find().Run()->FromCache(), 3u);
    const auto& hits = Find().Run()->Search().Hits();
    ASSERT_EQ(hits.size(), 3u);
    EXPECT_EQ(hits[1].entry.number, 3);
    EXPECT_EQ(hits[2].entry.contact, "erin@parleym.example");

    // Another sign-in starts from the store again.
    harness.ReopenLogs();
    EXPECT_EQ(harness.LogStore().TextCache().Count(), 0u);
    SearchFor("thanks");
    EXPECT_EQ(Find().Run()->FromCache(), 0u);
    EXPECT_EQ(Find().Run()->Search().MatchCount(), 3u);
}

TEST_F(LogFindTest, CancelKeepsWhatWasFoundAndNothingRunsOn) {
    Find().StartSearch("tea");
    ASSERT_TRUE(Find().Running());
    EXPECT_NE(viewer->GetStatusBar()->GetPaneText(0).find("Searching for \"tea\": 0 of 4"), std::string::npos);
    SendMessageA(viewer->GetSafeHwnd(), WM_COMMAND, ID_LOG_FIND_CANCEL, 0);
    EXPECT_FALSE(Find().Running());
    EXPECT_TRUE(Find().Visible());
    const std::size_t searched = Find().Run()->Search().Searched();
    EXPECT_LT(searched, 4u);
    EXPECT_EQ(Find().Summary().rfind("Search cancelled: ", 0), 0u) << Find().Summary();
    PumpMessages();
    Sleep(50);
    PumpMessages();
    EXPECT_EQ(Find().Run()->Search().Searched(), searched);
}

TEST_F(LogFindTest, KeysInTheViewerBecomeItsCommands) {
    BYTE keys[256] = {};
    MSG msg{viewer->Tree().GetSafeHwnd(), WM_KEYDOWN, VK_F3, 0, 0, {}};
    ASSERT_TRUE(SetKeyboardState(keys));
    EXPECT_EQ(parleym::CLogViewerKeys::CommandFor(viewer->GetSafeHwnd(), msg), ID_LOG_FIND_NEXT);
    msg.wParam = VK_ESCAPE;
    EXPECT_EQ(parleym::CLogViewerKeys::CommandFor(viewer->GetSafeHwnd(), msg), ID_LOG_FIND_CANCEL);
    msg.wParam = 'F';
    EXPECT_EQ(parleym::CLogViewerKeys::CommandFor(viewer->GetSafeHwnd(), msg), 0);  // F alone is typing
    keys[VK_CONTROL] = 0x80;
    ASSERT_TRUE(SetKeyboardState(keys));
    EXPECT_EQ(parleym::CLogViewerKeys::CommandFor(viewer->GetSafeHwnd(), msg), ID_LOG_FIND);
    keys[VK_CONTROL] = 0;
    keys[VK_SHIFT] = 0x80;
    ASSERT_TRUE(SetKeyboardState(keys));
    msg.wParam = VK_F3;
    EXPECT_EQ(parleym::CLogViewerKeys::CommandFor(viewer->GetSafeHwnd(), msg), ID_LOG_FIND_PREVIOUS);
    // Keys for other windows are theirs.
    msg.hwnd = host.Parent();
    EXPECT_EQ(parleym::CLogViewerKeys::CommandFor(viewer->GetSafeHwnd(), msg), 0);
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
}

} // namespace

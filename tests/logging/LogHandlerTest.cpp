// Logging handlers against the real manager, log store and object cache, on
// stand-in conversation windows with real rich-edit history controls.
#include <gtest/gtest.h>

#include <memory>

#include "plugin/logging/LogHandler.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/RichEditBridge.h"
#include "tests/logging/ManagerHarness.h"

using namespace parleym_test;
using parleym::CContactInfo;
using parleym::LogHandler;
using parleym::CMessageContent;
using parleym::LogEntry;

namespace {

class LogHandlerTest : public ::testing::Test {
protected:
    std::unique_ptr<LogHandler> AttachedHandler(HWND window, const CContactInfo& contact, int number = -1) {
        auto handler = std::make_unique<LogHandler>(contact);
        EXPECT_TRUE(handler->Attach(&harness.Manager(), window, number));
        return handler;
    }

    // The stored conversation, replayed into a fresh control.
    HWND Replayed(int number) {
        CMessageContent content;
        EXPECT_EQ(harness.LogStore().LoadConversation(std::to_string(number).c_str(), content), S_OK);
        HWND pane = host.AddRichEdit("RichEdit20A");
        parleym::CRichEditBridge(&harness.ObjectCache(), pane, true).Replay(content, false);
        return pane;
    }

    bool StreamExists(int number) {
        CMessageContent content;
        return harness.LogStore().LoadConversation(std::to_string(number).c_str(), content) == S_OK;
    }

    ManagerHarness harness;
    RichEditHost host;
    const CContactInfo bob{"bob@parleym.example", "Bob", parleym::kContactOnline};
    const CContactInfo carol{"carol@parleym.example", "Carol", parleym::kContactOnline};
};

TEST_F(LogHandlerTest, ConversationsWithEmoticonsAreLoggedOneEntryAndStreamPerWindow) {
    HWND bobHistory = nullptr, carolHistory = nullptr;
    HWND bobWindow = harness.NewConversationWindow(&bobHistory);
    HWND carolWindow = harness.NewConversationWindow(&carolHistory);
    auto bobHandler = AttachedHandler(bobWindow, bob);
    auto carolHandler = AttachedHandler(carolWindow, carol);
    const int bobNumber = bobHandler->GetConversationNumber();
    const int carolNumber = carolHandler->GetConversationNumber();
    EXPECT_NE(bobNumber, carolNumber);

    AppendText(bobHistory, "me says:\r\nhello ");
    AppendPicture(bobHistory, "smile");
    bobHandler->OnHistoryChanged(bobHistory);
    AppendText(bobHistory, "\r\nBob says:\r\nhi ");
    AppendPicture(bobHistory, "smile");
    AppendPicture(bobHistory, "thumbs");
    bobHandler->OnHistoryChanged(bobHistory);
    AppendText(carolHistory, "Carol says:\r\nanyone there?");
    carolHandler->OnHistoryChanged(carolHistory);
    // A change of some other control of the window is not this handler's business.
    AppendText(bobHistory, " (not yet saved)");
    bobHandler->OnHistoryChanged(carolHistory);

    const std::string bobShown = ControlText(bobHistory);
    const auto bobPictures = PicturesIn(bobHistory);
    bobHandler.reset();  // window closed: the last save takes everything
    carolHandler.reset();

    harness.ReopenLogs();  // the index as written to the file
    const auto& index = harness.LogStore().Index();
    ASSERT_EQ(index.size(), 2u);
    EXPECT_EQ(index[0].contact, bob.signInName);
    EXPECT_EQ(index[0].number, bobNumber);
    EXPECT_EQ(index[1].contact, carol.signInName);
    EXPECT_EQ(index[1].number, carolNumber);
    EXPECT_LE(index[0].start, index[0].end);

    HWND bobReplay = Replayed(bobNumber);
    EXPECT_EQ(ControlText(bobReplay), bobShown);
    EXPECT_EQ(PicturesIn(bobReplay), bobPictures);
    EXPECT_EQ(ControlText(Replayed(carolNumber)), ControlText(carolHistory));

    // Two distinct pictures, however often they were captured.
    EXPECT_EQ(harness.ObjectCache().Digests().size(), 2u);
    harness.ObjectCache().Close();
    EXPECT_EQ(StoragesInFile(harness.DataFile("objcache.dat")), 2);
}

TEST_F(LogHandlerTest, SecondSaveUpdatesTheSameEntryWithItsEndTime) {
    HWND history = nullptr;
    auto handler = AttachedHandler(harness.NewConversationWindow(&history), bob);
    AppendText(history, "first line");
    handler->OnHistoryChanged(history);
    ASSERT_EQ(harness.LogStore().Index().size(), 1u);
    const double firstEnd = harness.LogStore().Index()[0].end;
    const double start = harness.LogStore().Index()[0].start;

    Sleep(1100);  // times are kept in whole seconds
    AppendText(history, "\r\nsecond line");
    handler->OnHistoryChanged(history);
    ASSERT_EQ(harness.LogStore().Index().size(), 1u);
    EXPECT_GT(harness.LogStore().Index()[0].end, firstEnd);
    EXPECT_EQ(harness.LogStore().Index()[0].end, handler->Entry().end);
    EXPECT_EQ(harness.LogStore().Index()[0].start, start);
}

TEST_F(LogHandlerTest, WindowClosedWithEmptyHistoryLeavesNothing) {
    HWND history = nullptr;
    auto handler = AttachedHandler(harness.NewConversationWindow(&history), bob);
    const int number = handler->GetConversationNumber();
    handler->OnHistoryChanged(history);
    handler.reset();
    EXPECT_TRUE(harness.LogStore().Index().empty());
    EXPECT_FALSE(StreamExists(number));
}

TEST_F(LogHandlerTest, ReplacementHandlerKeepsWritingTheSameConversation) {
    HWND history = nullptr;
    HWND window = harness.NewConversationWindow(&history);
    auto handler = AttachedHandler(window, bob);
    const int number = handler->GetConversationNumber();
    AppendText(history, "before the status change");
    handler->OnHistoryChanged(history);

    // The manager replaces the handler and hands on its number.
    handler.reset();
    handler = AttachedHandler(window, bob, number);
    EXPECT_EQ(handler->GetConversationNumber(), number);
    AppendText(history, "\r\nafter it");
    handler->OnHistoryChanged(history);
    handler.reset();

    ASSERT_EQ(harness.LogStore().Index().size(), 1u);
    EXPECT_EQ(harness.LogStore().Index()[0].number, number);
    EXPECT_EQ(ControlText(Replayed(number)), ControlText(history));
    // No number was used up by the replacement.
    EXPECT_EQ(harness.LogStore().TakeNextNumber(), number + 1);
}

TEST_F(LogHandlerTest, ANewConversationNeverWritesOverAStoredOne) {
    // As after a messenger that ended without writing its index: stream 1 is
    // stored while the next number still says 1.
    HWND earlier = host.AddRichEdit();
    AppendText(earlier, "an earlier conversation");
    CMessageContent content;
    parleym::CRichEditBridge(&harness.ObjectCache(), earlier, true).Capture(content, true, true, false);
    harness.LogStore().SaveConversation(LogEntry{46000.0, 46000.1, carol.signInName, 1}, content);

    HWND history = nullptr;
    auto handler = AttachedHandler(harness.NewConversationWindow(&history), bob);
    EXPECT_EQ(handler->GetConversationNumber(), 2);
    AppendText(history, "a new conversation");
    handler->OnHistoryChanged(history);
    EXPECT_EQ(ControlText(Replayed(1)), "an earlier conversation");
    EXPECT_EQ(ControlText(Replayed(2)), "a new conversation");
}

TEST_F(LogHandlerTest, NothingIsWrittenWhileLoggingIsOffAndEverythingOnceItIsOn) {
    harness.LogStore().SetLoggingEnabled(0);
    HWND history = nullptr, closedHistory = nullptr;
    auto handler = AttachedHandler(harness.NewConversationWindow(&history), bob);
    auto closedHandler = AttachedHandler(harness.NewConversationWindow(&closedHistory), carol);
    AppendText(history, "said while logging was off ");
    AppendPicture(history, "smile");
    handler->OnHistoryChanged(history);
    AppendText(closedHistory, "closed while off");
    closedHandler->OnHistoryChanged(closedHistory);
    const int closedNumber = closedHandler->GetConversationNumber();
    closedHandler.reset();
    EXPECT_TRUE(harness.LogStore().Index().empty());
    EXPECT_FALSE(StreamExists(closedNumber));

    harness.LogStore().SetLoggingEnabled(1);
    AppendText(history, "\r\nsaid after");
    handler->OnHistoryChanged(history);
    ASSERT_EQ(harness.LogStore().Index().size(), 1u);
    HWND replay = Replayed(handler->GetConversationNumber());
    EXPECT_EQ(ControlText(replay), ControlText(history));
    EXPECT_EQ(PicturesIn(replay), PicturesIn(history));
}

} // namespace

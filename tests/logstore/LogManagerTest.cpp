// CLogManager on real log files.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <set>

#include "plugin/logging/ConversationIndexCodec.h"
#include "plugin/logging/LogManager.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/UserIdsCodec.h"
#include "tests/stats/StoreTestSupport.h"
#include "tests/storage/StorageTestSupport.h"

using namespace storage_test;
using parleym::Bytes;
using parleym::CMessageContent;
using parleym::CLogManager;
using parleym::LogEntry;

namespace {

CMessageContent Content(const std::string& text) {
    CMessageContent content;
    content.text = text;
    return content;
}

Bytes Encoded(const CMessageContent& content) {
    parleym::BinaryWriter out;
    content.Encode(out);
    return out.Take();
}

class LogManagerTest : public ::testing::Test {
protected:
    parleym::ConversationIndex StoredIndex(const std::string& account) {
        parleym::ConversationIndex index;
        EXPECT_TRUE(parleym::DecodeConversationIndex(ReadElementStream(path, account + "/conversations"), index));
        return index;
    }
    void LogOneConversation(const char* account) {
        CLogManager logs;
        ASSERT_EQ(logs.Open(path.c_str()), 1);
        ASSERT_EQ(logs.OpenAccount(account), 1);
        const int number = logs.TakeNextNumber();
        logs.SaveConversation(LogEntry{100, 101, "bob", number}, Content("{\\rtf1 hello}"));
        logs.Close();
    }
    // Amy (logged already) with her counter at the highest number, open in `logs`.
    void OpenAmyAtTheLastNumber(CLogManager& logs) {
        parleym::ConversationIndex index = StoredIndex("1");
        index.nextNumber = INT_MAX;
        WriteElementStream(path, "1/conversations", parleym::EncodeConversationIndex(index));
        ASSERT_EQ(logs.Open(path.c_str()), 1);
        ASSERT_EQ(logs.OpenAccount("amy"), 1);
    }

    ComEnvironment com;
    TempFolder folder;
    MessageCapture messages;
    std::string path = folder.Path("logs.dat");
};

TEST_F(LogManagerTest, FirstConversationOfANewAccountIsNumberOne) {
    CLogManager logs;
    ASSERT_EQ(logs.Open(path.c_str()), 1);
    ASSERT_EQ(logs.OpenAccount("amy@x.org"), 1);
    ASSERT_EQ(logs.TakeNextNumber(), 1);
    CMessageContent content = Content("{\\rtf1 hi}");
    content.AddObject(3, "13");
    logs.SaveConversation(LogEntry{100.25, 100.5, "bob@x.org", 1}, content);
    ASSERT_EQ(logs.Index().size(), 1u);
    logs.CloseAccount();
    EXPECT_TRUE(logs.Index().empty());
    logs.Close();
    const parleym::ConversationIndex index = StoredIndex("1");
    EXPECT_EQ(index.nextNumber, 2);
    EXPECT_EQ(index.loggingEnabled, 1);
    ASSERT_EQ(index.entries.size(), 1u);
    EXPECT_EQ(index.entries[0].contact, "bob@x.org");
    EXPECT_EQ(index.entries[0].start, 100.25);
    EXPECT_EQ(index.entries[0].number, 1);
    EXPECT_EQ(ReadElementStream(path, "1/1"), Encoded(content));

    CMessageContent loaded;
    ASSERT_EQ(logs.Open(path.c_str()), 1);
    ASSERT_EQ(logs.OpenAccount("amy@x.org"), 1);
    EXPECT_EQ(logs.LoadConversation("1", loaded), S_OK);
    EXPECT_EQ(loaded.text, content.text);
    EXPECT_EQ(loaded.objects.size(), 1u);
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(LogManagerTest, SavingAgainRewritesTheStreamAndUpdatesTheEndTime) {
    CLogManager logs;
    ASSERT_EQ(logs.Open(path.c_str()), 1);
    ASSERT_EQ(logs.OpenAccount("amy"), 1);
    const int number = logs.TakeNextNumber();
    logs.SaveConversation(LogEntry{10, 11, "bob", number}, Content(std::string(500, 'x')));
    logs.SaveConversation(LogEntry{10, 12, "bob", number}, Content("short"));
    ASSERT_EQ(logs.Index().size(), 1u);
    EXPECT_EQ(logs.Index()[0].end, 12);
    EXPECT_EQ(logs.Index()[0].start, 10);
    logs.Close();
    EXPECT_EQ(ReadElementStream(path, "1/1"), Encoded(Content("short")));
}

TEST_F(LogManagerTest, SwitchAndCounterBelongToTheirAccount) {
    CLogManager logs;
    ASSERT_EQ(logs.Open(path.c_str()), 1);
    ASSERT_EQ(logs.OpenAccount("amy"), 1);
    logs.TakeNextNumber();
    logs.TakeNextNumber();
    logs.SetLoggingEnabled(0);
    logs.CloseAccount();

    // A new account starts afresh rather than with amy's values.
    ASSERT_EQ(logs.OpenAccount("carl"), 1);
    EXPECT_EQ(logs.IsLoggingEnabled(), 1);
    EXPECT_EQ(logs.TakeNextNumber(), 1);
    logs.CloseAccount();

    ASSERT_EQ(logs.OpenAccount("amy"), 1);
    EXPECT_EQ(logs.IsLoggingEnabled(), 0);
    EXPECT_EQ(logs.TakeNextNumber(), 3);
}

TEST_F(LogManagerTest, NothingIsSavedWithoutAnOpenAccount) {
    CLogManager logs;
    ASSERT_EQ(logs.Open(path.c_str()), 1);
    logs.SaveConversation(LogEntry{1, 2, "bob", 1}, Content("x"));
    CMessageContent content = Content("untouched");
    EXPECT_EQ(logs.LoadConversation("1", content), S_FALSE);
    EXPECT_EQ(content.text, "untouched");
    logs.Close();
    EXPECT_EQ(ElementNames(path), (std::vector<std::string>{"userids"}));
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(LogManagerTest, FallsBackToTheDefaultFileAndSaysWhenNeitherOpens) {
    CLogManager logs;
    ASSERT_EQ(logs.OpenConfiguredOrDefault("", path), 1);
    EXPECT_EQ(logs.Path(), path);
    EXPECT_TRUE(messages.Messages().empty());

    const std::string missingFolder = folder.Path("no such folder\\logs.dat");
    ASSERT_EQ(logs.OpenConfiguredOrDefault(missingFolder, path), 1);
    EXPECT_EQ(logs.Path(), path);
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].text.rfind("Failed to open storage " + missingFolder, 0), 0u);

    messages.Clear();
    const std::string alsoMissing = folder.Path("gone\\logs.dat");
    EXPECT_EQ(logs.OpenConfiguredOrDefault(missingFolder, alsoMissing), 0);
    EXPECT_EQ(logs.Path(), alsoMissing);
    ASSERT_EQ(messages.Messages().size(), 3u);
    EXPECT_EQ(messages.Messages()[2].text, "Failed to initialize log manager");
    EXPECT_EQ(messages.Messages()[2].caption, "Parleym");
    EXPECT_EQ(messages.Messages()[2].style, unsigned(MB_TASKMODAL | MB_ICONERROR | MB_OK));
}

TEST_F(LogManagerTest, ForeignConfiguredFileIsLeftAloneForTheDefault) {
    const std::string configured = folder.Path("notes.txt");
    const Bytes foreign = {'m', 'y', ' ', 'n', 'o', 't', 'e', 's'};
    WriteFileBytes(configured, foreign);
    CLogManager logs;
    ASSERT_EQ(logs.OpenConfiguredOrDefault(configured, path), 1);
    EXPECT_EQ(logs.Path(), path);
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].text.rfind("Failed to open storage " + configured + ". Code: 0x", 0), 0u);
    EXPECT_EQ(messages.Messages()[0].caption, "Error");
    logs.Close();
    EXPECT_EQ(ReadFileBytes(configured), foreign);
}

// Damaged index: reported, nothing logged for the account, and the index on
// disk is not overwritten at sign-out.
TEST_F(LogManagerTest, DamagedIndexIsReportedAndNotOverwritten) {
    LogOneConversation("amy");
    const Bytes good = ReadElementStream(path, "1/conversations");
    Bytes flipped = good;
    flipped[8] = 0x55;  // count
    const Bytes damaged[] = {Bytes(good.begin(), good.end() - 2), flipped, Bytes(5, 0)};
    for (const Bytes& index : damaged) {
        WriteElementStream(path, "1/conversations", index);
        messages.Clear();
        CLogManager logs;
        ASSERT_EQ(logs.Open(path.c_str()), 1);
        EXPECT_EQ(logs.OpenAccount("amy"), 0);
        EXPECT_FALSE(logs.IsAccountOpen());
        logs.SaveConversation(LogEntry{1, 2, "bob", 1}, Content("lost?"));
        logs.Close();
        ASSERT_EQ(messages.Messages().size(), 1u);
        EXPECT_EQ(messages.Messages()[0].text, "Failed to load logged conversations index. Code: 0x8003001E");
        EXPECT_EQ(messages.Messages()[0].caption, "Error");
        EXPECT_EQ(ReadElementStream(path, "1/conversations"), index);
        EXPECT_EQ(ReadElementStream(path, "1/1"), Encoded(Content("{\\rtf1 hello}")));
    }
}

TEST_F(LogManagerTest, DamagedConversationFailsToLoadAndLeavesContent) {
    LogOneConversation("amy");
    const Bytes good = ReadElementStream(path, "1/1");
    CLogManager logs;
    for (const Bytes& damaged : {Bytes(good.begin(), good.begin() + 10), Bytes{1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F}}) {
        WriteElementStream(path, "1/1", damaged);
        ASSERT_EQ(logs.Open(path.c_str()), 1);
        ASSERT_EQ(logs.OpenAccount("amy"), 1);
        CMessageContent content = Content("shown before");
        EXPECT_EQ(logs.LoadConversation("1", content), STG_E_READFAULT);
        EXPECT_EQ(content.text, "shown before");
        logs.Close();
        EXPECT_EQ(ReadElementStream(path, "1/1"), damaged);
    }
    EXPECT_TRUE(messages.Messages().empty());
}

// The process ends between sign-in and the first save, then between the first
// save and sign-out: every next start logs the account and lists everything.
TEST(LogStoreChild, SignsInAndEndsAbruptly) {
    const std::string path = storetest::ChildFile();
    if (path.empty()) GTEST_SKIP() << "run by AbruptEndsOfANewAccountLoseNothing";
    MessageCapture messages;
    CoInitialize(nullptr);
    CLogManager logs;
    if (!logs.Open(path.c_str()) || !logs.OpenAccount("amy@x.org") || !messages.Messages().empty()) std::exit(1);
    storetest::EndAbruptly();
}

TEST(LogStoreChild, LogsAndEndsAbruptly) {
    const std::string path = storetest::ChildFile();
    if (path.empty()) GTEST_SKIP() << "run by AbruptEndsOfANewAccountLoseNothing";
    MessageCapture messages;
    CoInitialize(nullptr);
    CLogManager logs;
    if (!logs.Open(path.c_str()) || !logs.OpenAccount("amy@x.org")) std::exit(1);
    const int number = logs.TakeNextNumber();
    logs.SaveConversation(LogEntry{100, 101, "bob@x.org", number}, Content("{\\rtf1 first}"));
    logs.SaveConversation(LogEntry{100, 102, "bob@x.org", number}, Content("{\\rtf1 first second}"));
    if (!messages.Messages().empty()) std::exit(2);
    storetest::EndAbruptly();
}

TEST_F(LogManagerTest, AbruptEndsOfANewAccountLoseNothing) {
    ASSERT_EQ(storetest::RunChildTest("LogStoreChild.SignsInAndEndsAbruptly", path), 77u);
    {
        CLogManager logs;
        ASSERT_EQ(logs.Open(path.c_str()), 1);
        ASSERT_EQ(logs.OpenAccount("amy@x.org"), 1);  // recorded at sign-in; its empty index is an empty index
        EXPECT_EQ(logs.Database().Users().at("amy@x.org"), "1");
        EXPECT_TRUE(logs.Index().empty());
    }
    EXPECT_TRUE(messages.Messages().empty());

    ASSERT_EQ(storetest::RunChildTest("LogStoreChild.LogsAndEndsAbruptly", path), 77u);
    CLogManager logs;
    ASSERT_EQ(logs.Open(path.c_str()), 1);
    ASSERT_EQ(logs.OpenAccount("amy@x.org"), 1);
    ASSERT_EQ(logs.Index().size(), 1u);
    EXPECT_EQ(logs.Index()[0].contact, "bob@x.org");
    EXPECT_EQ(logs.Index()[0].end, 102);
    CMessageContent loaded;
    EXPECT_EQ(logs.LoadConversation(std::to_string(logs.Index()[0].number).c_str(), loaded), S_OK);
    EXPECT_EQ(loaded.text, "{\\rtf1 first second}");
    EXPECT_EQ(logs.TakeNextNumber(), logs.Index()[0].number + 1);
    logs.Close();
    EXPECT_EQ(ElementNames(path), (std::vector<std::string>{"1", "userids"}));
    EXPECT_TRUE(messages.Messages().empty());
}

// A conversation stream the index does not list (the process ended between the
// two writes, or an older version never wrote the index) is listed again.
TEST_F(LogManagerTest, UnindexedConversationIsListedAgain) {
    LogOneConversation("amy");
    parleym::ConversationIndex index = StoredIndex("1");
    index.entries.clear();
    index.nextNumber = 1;
    WriteElementStream(path, "1/conversations", parleym::EncodeConversationIndex(index));
    {
        CLogManager logs;
        ASSERT_EQ(logs.Open(path.c_str()), 1);
        ASSERT_EQ(logs.OpenAccount("amy"), 1);
        ASSERT_EQ(logs.Index().size(), 1u);
        const LogEntry recovered = logs.Index()[0];
        EXPECT_EQ(recovered.number, 1);
        EXPECT_TRUE(recovered.contact.empty());
        EXPECT_GT(recovered.start, 0);
        EXPECT_EQ(recovered.start, recovered.end);
        // The next number is past it, and a later save of it brings its contact back.
        EXPECT_EQ(logs.TakeNextNumber(), 2);
        logs.SaveConversation(LogEntry{100, recovered.end + 1, "bob", 1}, Content("{\\rtf1 hello again}"));
        EXPECT_EQ(logs.Index().size(), 1u);
        EXPECT_EQ(logs.Index()[0].contact, "bob");
    }
    const parleym::ConversationIndex stored = StoredIndex("1");
    ASSERT_EQ(stored.entries.size(), 1u);
    EXPECT_EQ(stored.entries[0].contact, "bob");
    EXPECT_EQ(stored.nextNumber, 3);
    EXPECT_TRUE(messages.Messages().empty());
}

// Streams written behind the index's back where the plug-in could have left
// them: one whose window opened before the index was last written and whose
// first save came after, and ones numbered past the counter with free numbers
// between (windows opened since, some never written to). Each is listed again,
// and none is written over, not even a stream far past the counter.
TEST_F(LogManagerTest, ConversationsTheIndexLostAreFoundAndKept) {
    {
        CLogManager logs;
        ASSERT_EQ(logs.Open(path.c_str()), 1);
        ASSERT_EQ(logs.OpenAccount("amy"), 1);
        for (int i = 0; i < 3; ++i) {
            const int number = logs.TakeNextNumber();
            logs.SaveConversation(LogEntry{100.0 + number, 100.5 + number, "bob", number}, Content("{\\rtf1 indexed}"));
        }
    }
    parleym::ConversationIndex index = StoredIndex("1");
    ASSERT_EQ(index.entries.size(), 3u);
    ASSERT_EQ(index.nextNumber, 4);
    index.entries.erase(index.entries.begin() + 1);
    WriteElementStream(path, "1/conversations", parleym::EncodeConversationIndex(index));
    for (const char* number : {"5", "7", "40"})
        WriteElementStream(path, std::string("1/") + number, Encoded(Content(std::string("lost ") + number)));
    std::vector<int> taken;
    {
        CLogManager logs;
        ASSERT_EQ(logs.Open(path.c_str()), 1);
        ASSERT_EQ(logs.OpenAccount("amy"), 1);
        std::vector<int> listed;
        for (const LogEntry& entry : logs.Index()) listed.push_back(entry.number);
        ASSERT_GE(listed.size(), 5u);
        EXPECT_EQ(std::vector<int>(listed.begin(), listed.begin() + 5), (std::vector<int>{1, 3, 2, 5, 7}));
        for (std::size_t i = 2; i < logs.Index().size(); ++i) EXPECT_TRUE(logs.Index()[i].contact.empty());
        // New conversations take free numbers only; the 34 of them reach past 40.
        for (int i = 0; i < 34; ++i) {
            const int number = logs.TakeNextNumber();
            taken.push_back(number);
            logs.SaveConversation(LogEntry{200.0 + i, 200.5 + i, "carl", number}, Content("{\\rtf1 new}"));
        }
        for (int number : {1, 2, 3, 5, 7, 40}) EXPECT_EQ(std::count(taken.begin(), taken.end(), number), 0) << number;
        EXPECT_EQ(std::set<int>(taken.begin(), taken.end()).size(), taken.size());
        CMessageContent kept;
        for (const char* number : {"2", "5", "7", "40"}) {
            ASSERT_EQ(logs.LoadConversation(number, kept), S_OK) << number;
            EXPECT_EQ(kept.text, std::string(number) == "2" ? "{\\rtf1 indexed}" : std::string("lost ") + number);
        }
    }
    const parleym::ConversationIndex stored = StoredIndex("1");
    std::vector<int> storedNumbers;
    for (const LogEntry& entry : stored.entries) storedNumbers.push_back(entry.number);
    // Each conversation once; 4 and 6 were never written.
    for (int number : {1, 2, 3, 5, 7}) taken.push_back(number);
    for (int number : taken) EXPECT_EQ(std::count(storedNumbers.begin(), storedNumbers.end(), number), 1) << number;
    for (int number : {4, 6}) EXPECT_EQ(std::count(storedNumbers.begin(), storedNumbers.end(), number), 0) << number;
    EXPECT_GT(stored.nextNumber, *std::max_element(taken.begin(), taken.end()));
    EXPECT_TRUE(messages.Messages().empty());
}

// Numbers whose streams exist are skipped, and the search ends even when the
// counter has reached the highest number and that stream exists.
TEST_F(LogManagerTest, NumberSearchSkipsStoredStreamsAndEnds) {
    LogOneConversation("amy");
    WriteElementStream(path, "1/2", Encoded(Content("unindexed")));
    WriteElementStream(path, "1/2147483647", Encoded(Content("last")));
    CLogManager logs;
    OpenAmyAtTheLastNumber(logs);
    if (HasFatalFailure()) return;
    EXPECT_EQ(logs.Index().size(), 3u);  // 1, and the two unindexed ones
    EXPECT_EQ(logs.TakeNextNumber(), 3);
    EXPECT_EQ(logs.TakeNextNumber(), 4);
    logs.SaveConversation(LogEntry{1, 2, "carl", 3}, Content("x"));
    EXPECT_EQ(logs.TakeNextNumber(), 5);
    CMessageContent kept;
    EXPECT_EQ(logs.LoadConversation("2147483647", kept), S_OK);
    EXPECT_EQ(kept.text, "last");
}

// At the highest number with no stream of it yet, two windows opened before
// either saves get two numbers, and neither conversation overwrites the other.
TEST_F(LogManagerTest, TheLastNumberIsHandedOutOnce) {
    LogOneConversation("amy");
    CLogManager logs;
    OpenAmyAtTheLastNumber(logs);
    if (HasFatalFailure()) return;
    const int first = logs.TakeNextNumber();
    const int second = logs.TakeNextNumber();
    EXPECT_NE(first, second);
    logs.SaveConversation(LogEntry{1, 2, "carl", first}, Content("to carl"));
    logs.SaveConversation(LogEntry{1, 2, "dora", second}, Content("to dora"));
    for (const auto& saved : {std::make_pair(first, "to carl"), std::make_pair(second, "to dora")}) {
        CMessageContent content;
        EXPECT_EQ(logs.LoadConversation(std::to_string(saved.first).c_str(), content), S_OK);
        EXPECT_EQ(content.text, saved.second);
    }
    EXPECT_EQ(logs.Index().size(), 3u);
}

// The logging switch lives in the index and is written when it changes.
TEST(LogStoreChild, TurnsLoggingOffAndEndsAbruptly) {
    const std::string path = storetest::ChildFile();
    if (path.empty()) GTEST_SKIP() << "run by SwitchIsWrittenWhenItChanges";
    CoInitialize(nullptr);
    CLogManager logs;
    if (!logs.Open(path.c_str()) || !logs.OpenAccount("amy")) std::exit(1);
    logs.SetLoggingEnabled(0);
    storetest::EndAbruptly();
}

TEST_F(LogManagerTest, SwitchIsWrittenWhenItChanges) {
    LogOneConversation("amy");
    ASSERT_EQ(storetest::RunChildTest("LogStoreChild.TurnsLoggingOffAndEndsAbruptly", path), 77u);
    const parleym::ConversationIndex index = StoredIndex("1");
    EXPECT_EQ(index.loggingEnabled, 0);
    EXPECT_EQ(index.entries.size(), 1u);
}

} // namespace

// logs.dat, stats.dat and offlinemsg.dat held exclusively by another process
// (a second messenger, a backup tool): the store says so, writes nothing over
// the file and works again at the next sign-in once the file is free.
#include <gtest/gtest.h>

#include <objbase.h>

#include <algorithm>

#include "plugin/logging/LogManager.h"
#include "plugin/offline/OfflineMessageStore.h"
#include "plugin/stats/StatsManager.h"
#include "plugin/storage/MessageContent.h"
#include "tests/stats/StoreTestSupport.h"

using namespace parleym;
using storetest::MessageCapture;

namespace {
const char kAccount[] = "me@example.com";
const char kHolder[] = "HeldFileHolder.HoldsTheFileUntilReleased";

TEST(HeldFileHolder, HoldsTheFileUntilReleased) {
    if (storetest::ChildFile().empty()) GTEST_SKIP() << "run by the held-file tests";
    storetest::HoldChildFile();
}

class HeldFileTest : public ::testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }

    // What the compound-file code answers for a file another process holds.
    std::string HeldMessage(const std::string& path) const {
        return "Failed to open storage " + path + ". Code: 0x80030020";
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const storetest::ShownMessage& message : messages.Messages()) texts.push_back(message.text);
        return texts;
    }

    storetest::ScratchFolder folder{"held"};
    MessageCapture messages;
};

class Stats : public CStatsManager {
public:
    explicit Stats(StatsIdentity* self) : CStatsManager([self] { return *self; }) {}
    double now = 45000.0;

protected:
    double Now() const override { return now; }
};

std::vector<std::string> ContactNames(const CStatsManager& stats) {
    std::vector<std::string> names;
    for (const StatsContact* contact : stats.Ledger().Contacts()) names.push_back(contact->signInName);
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(HeldFileTest, StatisticsHeldAtStartWorkAgainAtTheNextSignIn) {
    const std::string path = folder.WinPath("stats.dat");
    StatsIdentity self{kAccount, "Me", kStatsOnline};
    {
        Stats stats(&self);
        ASSERT_TRUE(stats.OpenStatsFile(path.c_str()));
        ASSERT_TRUE(stats.OpenAccount(kAccount));
        stats.OnStatusChange(kAccount, "Me", kStatsOnline, false);
        stats.OnStatusChange("bob@example.com", "Bob", kStatsOnline, false);
        stats.now += 0.01;
        stats.Shutdown();
    }
    const Bytes before = storetest::ReadFileBytes(path);
    Stats stats(&self);
    {
        storetest::HeldFile held(kHolder, path);
        ASSERT_TRUE(held.Held());
        EXPECT_FALSE(stats.OpenStatsFile(path.c_str()));
        EXPECT_EQ(Texts(), std::vector<std::string>{HeldMessage(path)});
        // Signing in while it is still held: said again, and nothing is counted.
        messages.Clear();
        stats.now += 1;
        EXPECT_FALSE(stats.OpenAccount(kAccount));
        EXPECT_EQ(Texts(), std::vector<std::string>{HeldMessage(path)});
        stats.OnStatusChange(kAccount, "Me", kStatsOnline, false);
        stats.CloseAccount();
    }
    EXPECT_EQ(storetest::ReadFileBytes(path), before);
    messages.Clear();
    stats.now += 1;
    ASSERT_TRUE(stats.OpenAccount(kAccount));
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_EQ(stats.Ledger().Sessions().size(), 1u);
    EXPECT_EQ(ContactNames(stats), std::vector<std::string>{"bob@example.com"});
    stats.OnStatusChange(kAccount, "Me", kStatsOnline, false);
    stats.OnStatusChange("cid@example.com", "Cid", kStatsOnline, false);
    stats.Shutdown();

    Stats again(&self);
    ASSERT_TRUE(again.OpenStatsFile(path.c_str()));
    ASSERT_TRUE(again.OpenAccount(kAccount));
    EXPECT_EQ(again.Ledger().Sessions().size(), 2u);
    EXPECT_EQ(ContactNames(again), (std::vector<std::string>{"bob@example.com", "cid@example.com"}));
    EXPECT_TRUE(messages.Messages().empty());
}

CMessageContent Message(const std::string& text) {
    CMessageContent content;
    content.isRtf = 0;
    content.text = text;
    return content;
}

std::vector<std::string> Pending(const COfflineMessageStore& store, const char* contact) {
    std::vector<std::string> texts;
    if (const OfflineMessageList* list = store.GetMessages(contact))
        for (const CMessageContent& message : *list) texts.push_back(message.text);
    return texts;
}

TEST_F(HeldFileTest, OfflineMessagesHeldAtStartLoadAtTheNextSignIn) {
    const std::string path = folder.WinPath("offlinemsg.dat");
    {
        COfflineMessageStore store;
        ASSERT_EQ(store.Open(path.c_str()), 1);
        store.Load(kAccount);
        ASSERT_TRUE(store.AddMessage("bob@example.com", Message("first")));
        store.Close();
    }
    const Bytes before = storetest::ReadFileBytes(path);
    COfflineMessageStore store;
    {
        storetest::HeldFile held(kHolder, path);
        ASSERT_TRUE(held.Held());
        EXPECT_EQ(store.Open(path.c_str()), 0);
        EXPECT_EQ(Texts(), std::vector<std::string>{HeldMessage(path)});
        messages.Clear();
        store.Load(kAccount);
        EXPECT_FALSE(store.IsLoaded());
        EXPECT_EQ(Texts(), std::vector<std::string>{HeldMessage(path)});
        EXPECT_TRUE(Pending(store, "bob@example.com").empty());
        store.Save();
    }
    EXPECT_EQ(storetest::ReadFileBytes(path), before);
    messages.Clear();
    store.Load(kAccount);
    ASSERT_TRUE(store.IsLoaded());
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_EQ(Pending(store, "bob@example.com"), std::vector<std::string>{"first"});
    ASSERT_TRUE(store.AddMessage("bob@example.com", Message("second")));
    store.Close();

    COfflineMessageStore again;
    ASSERT_EQ(again.Open(path.c_str()), 1);
    again.Load(kAccount);
    EXPECT_EQ(Pending(again, "bob@example.com"), (std::vector<std::string>{"first", "second"}));
    EXPECT_TRUE(messages.Messages().empty());
}

std::vector<std::string> Conversations(CLogManager& logs) {
    std::vector<std::string> texts;
    for (const LogEntry& entry : logs.Index()) {
        CMessageContent content;
        EXPECT_EQ(logs.LoadConversation(std::to_string(entry.number).c_str(), content), S_OK);
        texts.push_back(entry.contact + ": " + content.text);
    }
    return texts;
}

void Log(CLogManager& logs, const std::string& contact, const std::string& text) {
    const int number = logs.TakeNextNumber();
    CMessageContent content;
    content.text = text;
    logs.SaveConversation(LogEntry{45000.0 + number, 45000.0 + number, contact, number}, content);
}

// The log store opens its file at every sign-in anyway.
TEST_F(HeldFileTest, LogsHeldAtSignInOpenAtTheNextOne) {
    const std::string path = folder.WinPath("logs.dat");
    {
        CLogManager logs;
        ASSERT_EQ(logs.OpenConfiguredOrDefault("", path), 1);
        ASSERT_EQ(logs.OpenAccount(kAccount), 1);
        Log(logs, "bob@example.com", "{\\rtf1 hello}");
        logs.Close();
    }
    const Bytes before = storetest::ReadFileBytes(path);
    CLogManager logs;
    {
        storetest::HeldFile held(kHolder, path);
        ASSERT_TRUE(held.Held());
        EXPECT_EQ(logs.OpenConfiguredOrDefault("", path), 0);
        EXPECT_EQ(Texts(), (std::vector<std::string>{HeldMessage(path), "Failed to initialize log manager"}));
        messages.Clear();
        EXPECT_EQ(logs.OpenAccount(kAccount), 0);
        Log(logs, "cid@example.com", "{\\rtf1 lost while held}");
        EXPECT_TRUE(logs.Index().empty());
        logs.CloseAccount();
    }
    EXPECT_EQ(storetest::ReadFileBytes(path), before);
    messages.Clear();
    ASSERT_EQ(logs.OpenConfiguredOrDefault("", path), 1);
    ASSERT_EQ(logs.OpenAccount(kAccount), 1);
    EXPECT_EQ(Conversations(logs), std::vector<std::string>{"bob@example.com: {\\rtf1 hello}"});
    Log(logs, "cid@example.com", "{\\rtf1 again}");
    logs.Close();

    CLogManager again;
    ASSERT_EQ(again.OpenConfiguredOrDefault("", path), 1);
    ASSERT_EQ(again.OpenAccount(kAccount), 1);
    EXPECT_EQ(Conversations(again),
              (std::vector<std::string>{"bob@example.com: {\\rtf1 hello}", "cid@example.com: {\\rtf1 again}"}));
    EXPECT_TRUE(messages.Messages().empty());
}

} // namespace

// The statistics store on real compound files: what sign-in, status reports
// and sign-out leave in stats.dat, and what damaged files do.
#include <gtest/gtest.h>

#include <objbase.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "tests/stats/ClockedStats.h"
#include "plugin/stats/StatsCodec.h"
#include "plugin/stats/StatsManager.h"
#include "plugin/storage/CompoundFileCheck.h"
#include "tests/stats/StoreTestSupport.h"

using namespace parleym;
using storetest::DumpStore;
using storetest::MessageCapture;

namespace {
constexpr double kDay = 45000.0;
constexpr double kMinute = 1.0 / 1440.0;

using storetest::ClockedStats;

class StatsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        self.signInName = "me@example.com";
        self.friendlyName = "Me";
    }
    void TearDown() override { CoUninitialize(); }

    // Sign-in as the manager runs it: open the account, then the own report.
    void SignIn(ClockedStats& stats) {
        self.status = kStatsOnline;
        ASSERT_TRUE(stats.OpenAccount(self.signInName.c_str()));
        stats.OnStatusChange(self.signInName, self.friendlyName, kStatsOnline, false);
    }
    void SignOut(ClockedStats& stats) {
        self.status = kStatsOffline;
        stats.OnStatusChange(self.signInName, self.friendlyName, kStatsOffline, false);
        stats.CloseAccount();
    }
    void Report(ClockedStats& stats, const char* contact, std::int32_t status) {
        stats.OnStatusChange(contact, "Friendly", status, false);
    }

    storetest::ScratchFolder folder{"stats"};
    StatsIdentity self;
    MessageCapture messages;
};

std::string Dump(const storetest::ScratchFolder& folder) { return DumpStore(folder, "stats", "stats.dat"); }
} // namespace

TEST_F(StatsStoreTest, SessionsAndTotalsReachTheFileAndComeBack) {
    const std::string path = folder.WinPath("stats.dat");
    // A new account gets its two streams at once; a process that ends
    // without closing leaves them empty, and the account must stay recorded.
    EXPECT_EQ(storetest::RunChildTest("StatsStoreChild.SignsInAndEndsAbruptly", path), 77u);
    EXPECT_EQ(Dump(folder), "userids last=1\naccount me@example.com 1\n1: sessions(0) users(0)\n"
                            "1 empty\n");
    {
        ClockedStats stats(&self);
        ASSERT_TRUE(stats.OpenStatsFile(path.c_str()));
        SignIn(stats); // the empty streams load as an empty store
        EXPECT_EQ(stats.Ledger().NextContactNumber(), 2);
        Report(stats, "bob@example.com", kStatsOnline);
        stats.now = kDay + 10 * kMinute;
        Report(stats, "bob@example.com", kStatsOffline);
        stats.now = kDay + 20 * kMinute;
        Report(stats, "bob@example.com", kStatsOnline);
        Report(stats, "Bob@example.com", kStatsOnline);
        stats.now = kDay + 30 * kMinute;
        SignOut(stats);
        EXPECT_FALSE(stats.IsAccountOpen());
        stats.now = kDay + 40 * kMinute;
        Report(stats, "bob@example.com", kStatsOffline); // no account open: ignored
        stats.Shutdown();
    }
    EXPECT_EQ(Dump(folder),
              "userids last=1\naccount me@example.com 1\n1: sessions(84) users(71)\n"
              "1/users own=0d00:30:00\n"
              "contact 3 Bob@example.com 0d00:10:00\n"
              "contact 2 bob@example.com 0d00:20:00\n"
              "1/sessions\n"
              "session 45000.000000 45000.020833\n"
              "period 2 45000.000000 45000.006944\n"
              "period 2 45000.013889 45000.020833\n"
              "period 3 45000.013889 45000.020833\n");

    ClockedStats again(&self);
    ASSERT_TRUE(again.OpenStatsFile(path.c_str()));
    again.now = kDay + 1.0;
    SignIn(again);
    EXPECT_EQ(again.Ledger().NextContactNumber(), 4);
    EXPECT_EQ(FormatOnlineTime(again.Ledger().OwnTotal()), " 00:30:00");
    ASSERT_NE(again.Ledger().FindContact("bob@example.com"), nullptr);
    EXPECT_EQ(again.Ledger().FindContact("bob@example.com")->status, kStatsOffline);
    ASSERT_EQ(again.Ledger().Sessions().size(), 2u);
    EXPECT_DOUBLE_EQ(again.Ledger().Sessions()[1].start, kDay + 1.0);
    // Teardown while signed in ends the session.
    again.now = kDay + 1.0 + kMinute;
    again.Shutdown();
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_NE(Dump(folder).find("1/users own=0d00:31:00\n"), std::string::npos);
}

TEST(StatsStoreChild, SignsInAndEndsAbruptly) {
    const std::string path = storetest::ChildFile();
    if (path.empty()) GTEST_SKIP() << "run by SessionsAndTotalsReachTheFileAndComeBack";
    MessageCapture messages;
    CoInitialize(nullptr);
    StatsIdentity self{"me@example.com", "Me", kStatsOnline};
    ClockedStats stats(&self);
    // Ended before the own report that starts the session (and writes it).
    if (!stats.OpenStatsFile(path.c_str()) || !stats.OpenAccount(self.signInName.c_str())) std::exit(1);
    if (!messages.Messages().empty()) std::exit(2);
    storetest::EndAbruptly();
}

// Signs in on a new stats.dat, reports bob online, lets `run` go on, and ends
// without closing anything.
void SignInAndEndAbruptly(const std::function<void(ClockedStats&)>& run) {
    const std::string path = storetest::ChildFile();
    MessageCapture messages;
    CoInitialize(nullptr);
    StatsIdentity self{"me@example.com", "Me", kStatsOnline};
    ClockedStats stats(&self);
    if (!stats.OpenStatsFile(path.c_str()) || !stats.OpenAccount(self.signInName.c_str())) std::exit(1);
    stats.OnStatusChange(self.signInName, self.friendlyName, kStatsOnline, false);
    stats.OnStatusChange("bob@example.com", "Bob", kStatsOnline, false);
    run(stats);
    if (!messages.Messages().empty()) std::exit(2);
    storetest::EndAbruptly();
}

TEST(StatsStoreChild, SignsInReportsAndEndsAbruptly) {
    if (storetest::ChildFile().empty()) GTEST_SKIP() << "run by SessionReachesTheFileAtSignInAndEveryCheckpoint";
    SignInAndEndAbruptly([](ClockedStats&) {});
}

TEST(StatsStoreChild, ChecksPointAndEndsAbruptly) {
    if (storetest::ChildFile().empty()) GTEST_SKIP() << "run by SessionReachesTheFileAtSignInAndEveryCheckpoint";
    SignInAndEndAbruptly([](ClockedStats& stats) {
        stats.now = kDay + 7 * kMinute;
        stats.Checkpoint();
        stats.now = kDay + 9 * kMinute;
        stats.OnStatusChange("carol@example.com", "Carol", kStatsOnline, false);  // after the last write: lost
    });
}

TEST(StatsStoreChild, OpensAndEndsAbruptly) {
    const std::string path = storetest::ChildFile();
    if (path.empty()) GTEST_SKIP() << "run by FileAbandonedRightAfterOpeningStaysUsable";
    MessageCapture messages;
    CoInitialize(nullptr);
    StatsIdentity self;
    ClockedStats stats(&self);
    if (!stats.OpenStatsFile(path.c_str()) || !messages.Messages().empty()) std::exit(1);
    storetest::EndAbruptly();
}

TEST_F(StatsStoreTest, FileAbandonedRightAfterOpeningStaysUsable) {
    const std::string path = folder.WinPath("stats.dat");
    EXPECT_EQ(storetest::RunChildTest("StatsStoreChild.OpensAndEndsAbruptly", path), 77u);
    ClockedStats stats(&self);
    EXPECT_TRUE(stats.OpenStatsFile(path.c_str()));
    SignIn(stats);
    stats.Shutdown();
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_EQ(Dump(folder).rfind("userids last=1\naccount me@example.com 1\n", 0), 0u);
}

TEST_F(StatsStoreTest, StreamsShorterThanTheirCountsAreDamagedAndKept) {
    const std::string path = folder.WinPath("stats.dat");
    StatsContact bob;
    bob.number = 5;
    bob.signInName = "bob@example.com";
    bob.onlineTime.days = 40;
    const Bytes goodUsers = EncodeStatsUsers(OnlineTime(), {&bob});
    Bytes claimsMore = goodUsers;
    claimsMore[7] = 3; // three contacts claimed, one present
    StatsSession session;
    session.periods.resize(2);
    const Bytes goodSessions = EncodeStatsSessions({session});
    const Bytes cutSessions(goodSessions.begin(), goodSessions.end() - 3);

    struct Case {
        const char* what;
        Bytes users;
        Bytes sessions;
    };
    const Case cases[] = {
        {"users claim more contacts", claimsMore, goodSessions},
        {"users claim more, sessions empty", claimsMore, {}},
        {"sessions cut", goodUsers, cutSessions},
        {"users empty, sessions cut", {}, cutSessions},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        storetest::WriteStoreFile(path, {{self.signInName, 1, {{L"users", c.users}, {L"sessions", c.sessions}}}});
        const Bytes before = storetest::ReadFileBytes(path);
        messages.Clear();
        {
            ClockedStats stats(&self);
            ASSERT_TRUE(stats.OpenStatsFile(path.c_str()));
            self.status = kStatsOnline;
            EXPECT_FALSE(stats.OpenAccount(self.signInName.c_str()));
            EXPECT_FALSE(stats.IsAccountOpen());
            stats.OnStatusChange(self.signInName, self.friendlyName, kStatsOnline, false);
            Report(stats, "carol@example.com", kStatsOnline);
            stats.now += kMinute;
            SignOut(stats);
            stats.Shutdown();
        }
        ASSERT_EQ(messages.Messages().size(), 1u);
        EXPECT_EQ(messages.Messages()[0].text, "Failed to open statistics db. Code 0x8003001E");
        EXPECT_EQ(messages.Messages()[0].caption, "Error");
        EXPECT_TRUE(storetest::ReadFileBytes(path) == before) << "file changed";
    }

    // One empty stream beside a sound one is an abrupt end, not damage.
    storetest::WriteStoreFile(path, {{self.signInName, 1, {{L"users", goodUsers}, {L"sessions", {}}}}});
    messages.Clear();
    ClockedStats stats(&self);
    ASSERT_TRUE(stats.OpenStatsFile(path.c_str()));
    SignIn(stats);
    EXPECT_TRUE(messages.Messages().empty());
    ASSERT_NE(stats.Ledger().FindContact("bob@example.com"), nullptr);
    EXPECT_EQ(stats.Ledger().NextContactNumber(), 6);
    stats.Shutdown();
    EXPECT_NE(Dump(folder).find("contact 5 bob@example.com 40d00:00:00\n"), std::string::npos) << Dump(folder);
}

TEST_F(StatsStoreTest, MissingStreamIsMadeAnew) {
    const std::string path = folder.WinPath("stats.dat");
    storetest::WriteStoreFile(path, {{self.signInName, 1, {{L"users", EncodeStatsUsers(OnlineTime(), {})}}}});
    ClockedStats stats(&self);
    ASSERT_TRUE(stats.OpenStatsFile(path.c_str()));
    SignIn(stats);
    EXPECT_TRUE(stats.IsAccountOpen());
    stats.Shutdown();
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_NE(Dump(folder).find("1: sessions(24) users(11)\n"), std::string::npos);
}

TEST_F(StatsStoreTest, DamagedFilesAreReportedAndLeftAsTheyWere) {
    const std::string path = folder.WinPath("stats.dat");
    {
        ClockedStats stats(&self);
        ASSERT_TRUE(stats.OpenStatsFile(path.c_str()));
        SignIn(stats);
        Report(stats, "bob@example.com", kStatsOnline);
        stats.now += kMinute;
        SignOut(stats);
        stats.Shutdown();
    }
    const Bytes good = storetest::ReadFileBytes(path);
    ASSERT_FALSE(good.empty());
    EXPECT_EQ(CheckCompoundFile(good), CompoundFileFault::none);

    // The name's length field sits just before the name in the mini stream.
    const std::string name = "bob@example.com";
    const auto at = std::search(good.begin(), good.end(), name.begin(), name.end());
    ASSERT_NE(at, good.end());
    Bytes flipped = good;
    flipped[static_cast<std::size_t>(at - good.begin()) - 1] ^= 0x80;

    const Bytes truncated(good.begin(), good.begin() + good.size() / 2);
    const std::string text = "Just a text file that happens to be called stats.dat\r\n";
    const Bytes foreign(text.begin(), text.end());

    struct Case {
        const char* what;
        Bytes data;
        const char* message;
    };
    const Case cases[] = {
        {"flipped", flipped, "Failed to open statistics db. Code 0x8003001E"},
        {"truncated", truncated, "Failed to open storage "},
        {"foreign", foreign, "Failed to open storage "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        storetest::WriteFileBytes(path, c.data);
        messages.Clear();
        {
            ClockedStats stats(&self);
            stats.OpenStatsFile(path.c_str());
            self.status = kStatsOnline;
            EXPECT_FALSE(stats.OpenAccount(self.signInName.c_str()));
            EXPECT_FALSE(stats.IsAccountOpen());
            stats.OnStatusChange(self.signInName, self.friendlyName, kStatsOnline, false);
            Report(stats, "bob@example.com", kStatsOnline);
            stats.RefreshTotals();
            stats.ResetStatistics();
            SignOut(stats);
            stats.Shutdown();
        }
        ASSERT_EQ(messages.Messages().size(), 1u);
        EXPECT_EQ(messages.Messages()[0].text.rfind(c.message, 0), 0u) << messages.Messages()[0].text;
        EXPECT_EQ(messages.Messages()[0].caption, "Error");
        EXPECT_EQ(messages.Messages()[0].style, UINT(MB_TASKMODAL | MB_ICONERROR | MB_OK));
        EXPECT_TRUE(storetest::ReadFileBytes(path) == c.data) << "file changed";
    }
}

// A messenger that ends abruptly loses at most the time since the last write:
// the session is on disk from sign-in on, and each checkpoint brings it and
// the totals up to its moment.
TEST_F(StatsStoreTest, SessionReachesTheFileAtSignInAndEveryCheckpoint) {
    const std::string path = folder.WinPath("stats.dat");
    EXPECT_EQ(storetest::RunChildTest("StatsStoreChild.SignsInReportsAndEndsAbruptly", path), 77u);
    EXPECT_EQ(Dump(folder), "userids last=1\naccount me@example.com 1\n1: sessions(24) users(11)\n"
                            "1/users own=0d00:00:00\n1/sessions\nsession 45000.000000 45000.000000\n");

    DeleteFileA(path.c_str());
    EXPECT_EQ(storetest::RunChildTest("StatsStoreChild.ChecksPointAndEndsAbruptly", path), 77u);
    EXPECT_EQ(Dump(folder), "userids last=1\naccount me@example.com 1\n1: sessions(44) users(41)\n"
                            "1/users own=0d00:07:00\ncontact 1 bob@example.com 0d00:07:00\n"
                            "1/sessions\nsession 45000.000000 45000.004861\nperiod 1 45000.000000 45000.004861\n");
    ClockedStats stats(&self);
    ASSERT_TRUE(stats.OpenStatsFile(path.c_str()));
    stats.now = kDay + 1.0;
    SignIn(stats);
    EXPECT_EQ(FormatOnlineTime(stats.Ledger().OwnTotal()), " 00:07:00");
    EXPECT_EQ(stats.Ledger().FindContact("carol@example.com"), nullptr);
    ASSERT_EQ(stats.Ledger().Sessions().size(), 2u);

    // Signed out, a checkpoint has nothing to write.
    SignOut(stats);
    const std::string closed = Dump(folder);
    EXPECT_NE(closed.find("own=0d00:07:00\n"), std::string::npos) << closed;
    stats.now += kMinute;
    stats.Checkpoint();
    stats.Shutdown();
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_EQ(Dump(folder), closed);
}

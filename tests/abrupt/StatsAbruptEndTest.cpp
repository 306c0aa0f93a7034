// The statistics ended at random moments while they write checkpoints,
// sign-outs and sign-ins.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/stats/ClockedStats.h"
#include "plugin/stats/StatsCodec.h"
#include "plugin/stats/StatsManager.h"
#include "tests/abrupt/AbruptEndRuns.h"

using namespace parleym;
using storetest::MessageCapture;

namespace {
constexpr double kDay = 45000.0;
constexpr double kMinute = 1.0 / 1440.0;

using storetest::ClockedStats;

// What a save writes, in an order that does not depend on the contact map:
// the length of "users", "users", then "sessions".
Bytes Canonical(const OnlineTime& ownTotal, std::vector<const StatsContact*> contacts,
                const std::vector<StatsSession>& sessions) {
    std::sort(contacts.begin(), contacts.end(),
              [](const StatsContact* a, const StatsContact* b) { return a->number < b->number; });
    const Bytes users = EncodeStatsUsers(ownTotal, contacts);
    const Bytes history = EncodeStatsSessions(sessions);
    BinaryWriter all;
    all.PutInt32(static_cast<std::int32_t>(users.size()));
    all.PutBytes(users.data(), users.size());
    all.PutBytes(history.data(), history.size());
    return all.Take();
}

// The two streams of a canonical form. Each is rewritten on its own, so an
// end between them leaves "users" a save ahead of "sessions".
std::pair<Bytes, Bytes> Streams(const Bytes& canonical) {
    BinaryReader in(canonical);
    std::int32_t length = 0;
    // No save under way: nothing to compare with.
    if (!in.GetInt32(length) || length < 0 || static_cast<std::size_t>(length) > in.Remaining()) return {};
    const auto users = canonical.begin() + 4;
    return {Bytes(users, users + length), Bytes(users + length, canonical.end())};
}

Bytes Canonical(const StatsLedger& ledger) { return Canonical(ledger.OwnTotal(), ledger.Contacts(), ledger.Sessions()); }

// The session a sign-in is about to start, as it is written at once.
Bytes WithNewSession(const StatsLedger& ledger, double now) {
    std::vector<StatsSession> sessions = ledger.Sessions();
    sessions.push_back(StatsSession{now, now, {}});
    return Canonical(ledger.OwnTotal(), ledger.Contacts(), sessions);
}

// Contacts come and go a minute apart; every step ends in a checkpoint, every
// tenth in a sign-out and sign-in. Each run is a day after the one before.
TEST(StatsAbruptChild, ChecksPointInALoop) {
    if (storetest::ChildFile().empty()) GTEST_SKIP() << "run by StatsAbruptEnds.EveryCompletedSaveSurvives";
    storetest::SaveReport report;
    MessageCapture messages;
    CoInitialize(nullptr);
    StatsIdentity self{"me@example.com", "Me", kStatsOnline};
    ClockedStats stats(&self);
    stats.now = kDay + report.Run();
    auto signIn = [&] {
        if (!stats.OpenAccount(self.signInName.c_str())) report.Fail("open account");
        self.status = kStatsOnline;
        report.Intent(WithNewSession(stats.Ledger(), stats.now));
        stats.OnStatusChange(self.signInName, self.friendlyName, kStatsOnline, false);
        report.Done();
    };
    if (!stats.OpenStatsFile(storetest::ChildFile().c_str())) report.Fail("open file");
    signIn();
    for (int i = 0; i < 1000000; ++i) {
        stats.now += kMinute;
        if (i % 10 == 9) {
            self.status = kStatsOffline;
            stats.OnStatusChange(self.signInName, self.friendlyName, kStatsOffline, false);
            report.Intent(Canonical(stats.Ledger()));
            stats.CloseAccount();
            report.Done();
            signIn();
        } else {
            const std::string contact = "c" + std::to_string(i % 4) + "@example.com";
            stats.OnStatusChange(contact, "C", (i / 4) % 2 ? kStatsOffline : kStatsOnline, false);
            stats.RefreshTotals();
            report.Intent(Canonical(stats.Ledger()));
            stats.Checkpoint();
            report.Done();
        }
        if (!messages.Messages().empty()) report.Fail(messages.Messages()[0].text);
    }
}

class StatsAbruptEnds : public ::testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }
    storetest::ScratchFolder folder{"stats-abrupt"};
    MessageCapture messages;
};

TEST_F(StatsAbruptEnds, EveryCompletedSaveSurvives) {
    const std::string path = folder.WinPath("stats.dat");
    Bytes model = Canonical(StatsLedger());  // what the file must hold
    abrupt_test::RunAbruptEnds("statistics", "StatsAbruptChild.ChecksPointInALoop", path, 150,
                               [&](const storetest::EndedChild& child) {
        if (!child.completed.empty()) model = child.completed.back();
        messages.Clear();
        StatsIdentity self{"me@example.com", "Me", kStatsOffline};
        // Looked at and let go without a close, which would write.
        ClockedStats stats(&self);
        if (!stats.OpenStatsFile(path.c_str()) || !stats.OpenAccount(self.signInName.c_str())) {
            ADD_FAILURE() << "the statistics do not open"
                          << (messages.Messages().empty() ? "" : ": " + messages.Messages()[0].text);
            return abrupt_test::Found::failed;
        }
        abrupt_test::ExpectNothingShown(messages.Messages());
        const auto stored = Streams(Canonical(stats.Ledger()));
        const auto done = Streams(model);
        const auto underWay = Streams(child.pending);
        abrupt_test::Found found = abrupt_test::Found::old;
        for (const auto& stream : {std::make_pair(stored.first, std::make_pair(done.first, underWay.first)),
                                   std::make_pair(stored.second, std::make_pair(done.second, underWay.second))}) {
            if (child.inFlight && stream.first == stream.second.second && stream.first != stream.second.first)
                found = abrupt_test::Found::inFlight;
            else
                EXPECT_TRUE(stream.first == stream.second.first) << "a stream differs from the last completed save";
        }
        model = Canonical(stats.Ledger());
        return found;
    });
}

} // namespace

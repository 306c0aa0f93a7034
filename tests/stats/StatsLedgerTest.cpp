// Online-time arithmetic and the status-report rules, with time passed in.
#include <gtest/gtest.h>

#include "plugin/stats/OnlineTime.h"
#include "plugin/stats/StatsLedger.h"

using namespace parleym;

namespace {
constexpr double kDay = 45000.0; // some day in 2023, midnight
constexpr double kMinute = 1.0 / 1440.0;

std::string Text(const OnlineTime& time) { return FormatOnlineTime(time); }

OnlineTime Time(int days, int hours, int minutes, int seconds) {
    OnlineTime time;
    time.days = days;
    time.hours = static_cast<std::uint8_t>(hours);
    time.minutes = static_cast<std::uint8_t>(minutes);
    time.seconds = static_cast<std::uint8_t>(seconds);
    return time;
}
} // namespace

TEST(OnlineTime, AddsSpansWithCarriesAndFormats) {
    OnlineTime time = Time(0, 22, 50, 0);
    AddSpan(time, (3 * 60 + 25) * kMinute);
    EXPECT_EQ(Text(time), "1 day 02:15:00");

    OnlineTime zero;
    EXPECT_EQ(Text(zero), " 00:00:00");
    EXPECT_EQ(Text(Time(0, 0, 5, 7)), " 00:05:07");
    EXPECT_EQ(Text(Time(3, 0, 0, 10)), "3 days 00:00:10");

    // The difference of two dates a day apart is seldom exactly 1.0.
    OnlineTime day;
    AddSpan(day, (kDay + 1.0 + 13.0 / 86400) - (kDay + 13.0 / 86400));
    EXPECT_EQ(Text(day), "1 day 00:00:00");
    OnlineTime almostDay;
    AddSpan(almostDay, 1.0 - 1e-11);
    EXPECT_EQ(Text(almostDay), "1 day 00:00:00");
}

TEST(OnlineTime, IgnoresNegativeSpansAndRepairsLoadedFields) {
    OnlineTime time = Time(2, 1, 0, 0);
    AddSpan(time, -2 * kMinute); // clock set back
    EXPECT_EQ(Text(time), "2 days 01:00:00");

    OnlineTime damaged = Time(0, 200, 250, 250);
    AddSpan(damaged, 1.0 / 86400);
    EXPECT_LE(damaged.hours, 23);
    EXPECT_LE(damaged.minutes, 59);
    EXPECT_LE(damaged.seconds, 59);
    EXPECT_EQ(damaged.days, 8);

    OnlineTime huge = Time(0x7FFFFFFF, 23, 59, 59);
    AddSpan(huge, 5.0);
    EXPECT_EQ(huge.days, 0x7FFFFFFF);
}

TEST(StatsLedger, SessionAndPeriodsFollowReports) {
    StatsLedger ledger;
    // Before any session a contact gets a record but no period or time.
    ledger.OnContactStatus("early@x", kStatsOnline, false, kDay);
    ASSERT_NE(ledger.FindContact("early@x"), nullptr);
    EXPECT_EQ(ledger.FindContact("early@x")->status, kStatsOffline);
    EXPECT_TRUE(ledger.Sessions().empty());

    ledger.OnOwnStatus(kStatsOnline, false, kDay);
    ASSERT_EQ(ledger.Sessions().size(), 1u);
    ledger.OnOwnStatus(kStatsOnline, false, kDay + kMinute); // same status: no second session
    ASSERT_EQ(ledger.Sessions().size(), 1u);

    // Online 10 minutes, offline, online again 5 minutes: two periods, 15 minutes.
    ledger.OnContactStatus("bob@x", kStatsOnline, false, kDay + 1 * kMinute);
    ledger.OnContactStatus("bob@x", kStatsOffline, false, kDay + 11 * kMinute);
    ledger.OnContactStatus("bob@x", kStatsOffline, false, kDay + 20 * kMinute); // repeated offline: ignored
    ledger.OnContactStatus("bob@x", kStatsOnline, false, kDay + 30 * kMinute);
    ledger.OnContactStatus("Bob@x", kStatsOnline, false, kDay + 30 * kMinute); // another contact
    ledger.OnOwnStatus(kStatsOffline, false, kDay + 35 * kMinute);

    const StatsContact* bob = ledger.FindContact("bob@x");
    ASSERT_NE(bob, nullptr);
    EXPECT_EQ(Text(bob->onlineTime), " 00:15:00");
    EXPECT_EQ(bob->status, kStatsOffline);
    EXPECT_EQ(Text(ledger.FindContact("Bob@x")->onlineTime), " 00:05:00");
    EXPECT_EQ(Text(ledger.OwnTotal()), " 00:35:00");

    const StatsSession& session = ledger.Sessions().back();
    EXPECT_DOUBLE_EQ(session.end, kDay + 35 * kMinute);
    ASSERT_EQ(session.periods.size(), 3u);
    EXPECT_EQ(session.periods[0].contactNumber, bob->number);
    EXPECT_DOUBLE_EQ(session.periods[0].logoutTime, kDay + 11 * kMinute);
    EXPECT_DOUBLE_EQ(session.periods[1].loginTime, kDay + 30 * kMinute);
    EXPECT_DOUBLE_EQ(session.periods[1].logoutTime, kDay + 35 * kMinute);
    // Numbers are handed out once each.
    EXPECT_EQ(ledger.FindContact("early@x")->number, 1);
    EXPECT_EQ(bob->number, 2);
    EXPECT_EQ(ledger.FindContact("Bob@x")->number, 3);

    // A report while signed out changes nothing.
    ledger.OnContactStatus("bob@x", kStatsOnline, false, kDay + 40 * kMinute);
    ledger.OnOwnStatus(kStatsOffline, false, kDay + 50 * kMinute);
    EXPECT_EQ(Text(ledger.OwnTotal()), " 00:35:00");
}

TEST(StatsLedger, RefreshAndReset) {
    StatsLedger ledger;
    ledger.OnOwnStatus(kStatsOnline, false, kDay);
    ledger.OnContactStatus("on@x", kStatsOnline, false, kDay);
    ledger.OnContactStatus("off@x", kStatsOnline, false, kDay);
    ledger.OnContactStatus("off@x", kStatsOffline, false, kDay + kMinute);

    ledger.RefreshTotals(kStatsOnline, kDay + 10 * kMinute);
    EXPECT_EQ(Text(ledger.OwnTotal()), " 00:10:00");
    EXPECT_EQ(Text(ledger.FindContact("on@x")->onlineTime), " 00:10:00");
    EXPECT_EQ(Text(ledger.FindContact("off@x")->onlineTime), " 00:01:00");
    ledger.RefreshTotals(kStatsOnline, kDay + 12 * kMinute); // only the time since the last refresh
    EXPECT_EQ(Text(ledger.FindContact("on@x")->onlineTime), " 00:12:00");

    const double now = kDay + 20 * kMinute;
    ledger.Reset(now);
    EXPECT_EQ(Text(ledger.OwnTotal()), " 00:00:00");
    EXPECT_EQ(Text(ledger.FindContact("on@x")->onlineTime), " 00:00:00");
    ASSERT_EQ(ledger.Sessions().size(), 1u);
    const StatsSession& session = ledger.Sessions()[0];
    EXPECT_DOUBLE_EQ(session.start, now);
    ASSERT_EQ(session.periods.size(), 1u);
    EXPECT_EQ(session.periods[0].contactNumber, ledger.FindContact("on@x")->number);

    // Totals keep growing from the reset on.
    ledger.OnOwnStatus(kStatsOffline, false, now + 3 * kMinute);
    EXPECT_EQ(Text(ledger.OwnTotal()), " 00:03:00");
    EXPECT_EQ(Text(ledger.FindContact("on@x")->onlineTime), " 00:03:00");

    // Reset while signed out leaves no session.
    ledger.Reset(now + 5 * kMinute);
    EXPECT_TRUE(ledger.Sessions().empty());
}

TEST(StatsLedger, LoadingSetsNextContactNumber) {
    StatsLedger empty;
    empty.Merge(StatsUsers(), {});
    empty.AdvanceContactNumber();
    EXPECT_EQ(empty.NextContactNumber(), 2);

    StatsLedger ledger;
    StatsUsers users;
    users.ownTotal = Time(1, 2, 3, 4);
    StatsContact seven;
    seven.number = 7;
    seven.signInName = "a@x";
    StatsContact three;
    three.number = 3;
    three.signInName = "a@x"; // a later record of the same name wins
    users.contacts = {seven, three};
    ledger.Merge(std::move(users), {});
    ledger.AdvanceContactNumber();
    EXPECT_EQ(ledger.NextContactNumber(), 8);
    EXPECT_EQ(ledger.FindContact("a@x")->number, 3);

    // Closing keeps the counter; a later load with smaller numbers never lowers it.
    ledger.Clear();
    StatsUsers small;
    small.contacts = {three};
    ledger.Merge(std::move(small), {});
    ledger.AdvanceContactNumber();
    EXPECT_EQ(ledger.NextContactNumber(), 9);

    StatsLedger saturated;
    StatsUsers top;
    StatsContact last;
    last.number = 0x7FFFFFFF;
    last.signInName = "z@x";
    top.contacts = {last};
    saturated.Merge(std::move(top), {});
    saturated.AdvanceContactNumber();
    saturated.OnOwnStatus(kStatsOnline, false, kDay);
    saturated.OnContactStatus("new@x", kStatsOnline, false, kDay);
    EXPECT_EQ(saturated.NextContactNumber(), 0x7FFFFFFF);
}

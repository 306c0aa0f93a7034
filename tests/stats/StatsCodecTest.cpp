// The "users" and "sessions" byte layouts, and how damaged data is classed.
#include <gtest/gtest.h>

#include "plugin/stats/StatsCodec.h"

using namespace parleym;

namespace {
StatsContact Contact(std::int32_t number, const std::string& name, int days, int seconds) {
    StatsContact contact;
    contact.number = number;
    contact.signInName = name;
    contact.status = kStatsOnline;
    contact.onlineTime.days = days;
    contact.onlineTime.seconds = static_cast<std::uint8_t>(seconds);
    return contact;
}
} // namespace

TEST(StatsCodec, UsersLayoutAndRoundTrip) {
    OnlineTime own;
    own.days = 2;
    own.hours = 3;
    own.minutes = 4;
    own.seconds = 5;
    const StatsContact a = Contact(7, "ab", 1, 9);
    const Bytes data = EncodeStatsUsers(own, {&a});
    const Bytes expected = {2, 0, 0, 0, 3, 4, 5, 1, 0, 0, 0, 7, 0, 0, 0, 2, 0, 0, 0, 'a', 'b', 1, 0, 0, 0, 0, 0, 9};
    EXPECT_EQ(data, expected);

    StatsUsers users;
    ASSERT_EQ(DecodeStatsUsers(data, users), StatsDecode::ok);
    EXPECT_EQ(users.ownTotal.days, 2);
    ASSERT_EQ(users.contacts.size(), 1u);
    EXPECT_EQ(users.contacts[0].signInName, "ab");
    EXPECT_EQ(users.contacts[0].number, 7);
    EXPECT_EQ(users.contacts[0].onlineTime.seconds, 9);
    EXPECT_EQ(users.contacts[0].status, kStatsOffline);
}

TEST(StatsCodec, SessionsLayoutAndRoundTrip) {
    StatsSession session;
    session.start = 45000.25;
    session.end = 45000.5;
    session.periods.push_back(StatsPeriod{3, 45000.3, 45000.4});
    const Bytes data = EncodeStatsSessions({session, StatsSession()});
    ASSERT_EQ(data.size(), 4u + 20 + 20 + 20);
    EXPECT_EQ(data[0], 2);
    EXPECT_EQ(data[20], 1); // period count of the first session
    EXPECT_EQ(data[24], 3); // its contact number

    std::vector<StatsSession> sessions;
    ASSERT_EQ(DecodeStatsSessions(data, sessions), StatsDecode::ok);
    ASSERT_EQ(sessions.size(), 2u);
    EXPECT_DOUBLE_EQ(sessions[0].start, 45000.25);
    ASSERT_EQ(sessions[0].periods.size(), 1u);
    EXPECT_DOUBLE_EQ(sessions[0].periods[0].logoutTime, 45000.4);
    EXPECT_TRUE(sessions[1].periods.empty());
}

TEST(StatsCodec, EveryCutIsShortAndImpossibleValuesAreCorrupt) {
    const StatsContact a = Contact(1, "someone@example.com", 0, 1);
    const StatsContact b = Contact(2, "other", 4, 2);
    const Bytes users = EncodeStatsUsers(OnlineTime(), {&a, &b});
    StatsSession session;
    session.periods.resize(3);
    const Bytes sessions = EncodeStatsSessions({session, session});

    for (std::size_t cut = 0; cut < users.size(); ++cut) {
        StatsUsers out;
        EXPECT_EQ(DecodeStatsUsers(Bytes(users.begin(), users.begin() + cut), out), StatsDecode::shortData) << cut;
        EXPECT_TRUE(out.contacts.empty());
    }
    for (std::size_t cut = 0; cut < sessions.size(); ++cut) {
        std::vector<StatsSession> out;
        EXPECT_EQ(DecodeStatsSessions(Bytes(sessions.begin(), sessions.begin() + cut), out), StatsDecode::shortData)
            << cut;
        EXPECT_TRUE(out.empty());
    }

    Bytes negativeCount = users;
    negativeCount[10] = 0xFF; // count 2 -> 0xFF000002
    StatsUsers out;
    EXPECT_EQ(DecodeStatsUsers(negativeCount, out), StatsDecode::corrupt);
    Bytes negativeName = users;
    negativeName[18] = 0x80; // first name length
    EXPECT_EQ(DecodeStatsUsers(negativeName, out), StatsDecode::corrupt);
    Bytes hugeCount = sessions;
    hugeCount[2] = 0x7F;
    std::vector<StatsSession> outSessions;
    EXPECT_EQ(DecodeStatsSessions(hugeCount, outSessions), StatsDecode::shortData);
    Bytes trailing = sessions;
    trailing.push_back(0);
    EXPECT_EQ(DecodeStatsSessions(trailing, outSessions), StatsDecode::corrupt);
    Bytes fewerSessions = sessions;
    fewerSessions[0] = 1; // the second session becomes stray bytes
    EXPECT_EQ(DecodeStatsSessions(fewerSessions, outSessions), StatsDecode::corrupt);
}

// How damaged "users" and "sessions" streams are classed: cut short, or not ours at all.
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

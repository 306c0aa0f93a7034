#include "plugin/stats/StatsCodec.h"

namespace parleym {

namespace {

constexpr std::size_t kMinContactRecord = 4 + 4 + 4 + 3; // number, name length, days, h/m/s
constexpr std::size_t kSessionHeader = 8 + 8 + 4;
constexpr std::size_t kPeriodRecord = 4 + 8 + 8;

void PutOnlineTime(BinaryWriter& writer, const OnlineTime& time) {
    writer.PutInt32(time.days);
    writer.PutUInt8(time.hours);
    writer.PutUInt8(time.minutes);
    writer.PutUInt8(time.seconds);
}

bool GetOnlineTime(BinaryReader& reader, OnlineTime& time) {
    return reader.GetInt32(time.days) && reader.GetUInt8(time.hours) && reader.GetUInt8(time.minutes) &&
           reader.GetUInt8(time.seconds);
}

// Reads a count of items that take at least minItemSize bytes each.
StatsDecode GetCount(BinaryReader& reader, std::size_t minItemSize, std::int32_t& count) {
    if (!reader.GetInt32(count)) return StatsDecode::shortData;
    if (count < 0) return StatsDecode::corrupt;
    if (!reader.CountFits(count, minItemSize)) return StatsDecode::shortData;
    return StatsDecode::ok;
}

StatsDecode GetContact(BinaryReader& reader, StatsContact& contact) {
    std::int32_t nameLength;
    if (!reader.GetInt32(contact.number) || !reader.GetInt32(nameLength)) return StatsDecode::shortData;
    if (nameLength < 0) return StatsDecode::corrupt;
    if (static_cast<std::size_t>(nameLength) > reader.Remaining()) return StatsDecode::shortData;
    contact.signInName.resize(static_cast<std::size_t>(nameLength));
    if (!reader.GetBytes(&contact.signInName[0], contact.signInName.size())) return StatsDecode::shortData;
    if (!GetOnlineTime(reader, contact.onlineTime)) return StatsDecode::shortData;
    contact.status = kStatsOffline;
    return StatsDecode::ok;
}

StatsDecode GetSession(BinaryReader& reader, StatsSession& session) {
    if (!reader.GetDouble(session.start) || !reader.GetDouble(session.end)) return StatsDecode::shortData;
    std::int32_t count;
    const StatsDecode counted = GetCount(reader, kPeriodRecord, count);
    if (counted != StatsDecode::ok) return counted;
    session.periods.resize(static_cast<std::size_t>(count));
    for (StatsPeriod& period : session.periods) {
        if (!reader.GetInt32(period.contactNumber) || !reader.GetDouble(period.loginTime) ||
            !reader.GetDouble(period.logoutTime))
            return StatsDecode::shortData;
    }
    return StatsDecode::ok;
}

StatsDecode Finish(const BinaryReader& reader, StatsDecode result) {
    if (result == StatsDecode::ok && !reader.AtEnd()) return StatsDecode::corrupt;
    return result;
}

} // namespace

Bytes EncodeStatsUsers(const OnlineTime& ownTotal, const std::vector<const StatsContact*>& contacts) {
    BinaryWriter writer;
    PutOnlineTime(writer, ownTotal);
    writer.PutInt32(static_cast<std::int32_t>(contacts.size()));
    for (const StatsContact* contact : contacts) {
        writer.PutInt32(contact->number);
        writer.PutString(contact->signInName);
        PutOnlineTime(writer, contact->onlineTime);
    }
    return writer.Take();
}

Bytes EncodeStatsSessions(const std::vector<StatsSession>& sessions) {
    BinaryWriter writer;
    writer.PutInt32(static_cast<std::int32_t>(sessions.size()));
    for (const StatsSession& session : sessions) {
        writer.PutDouble(session.start);
        writer.PutDouble(session.end);
        writer.PutInt32(static_cast<std::int32_t>(session.periods.size()));
        for (const StatsPeriod& period : session.periods) {
            writer.PutInt32(period.contactNumber);
            writer.PutDouble(period.loginTime);
            writer.PutDouble(period.logoutTime);
        }
    }
    return writer.Take();
}

StatsDecode DecodeStatsUsers(const Bytes& data, StatsUsers& out) {
    out = StatsUsers();
    BinaryReader reader(data);
    StatsUsers users;
    if (!GetOnlineTime(reader, users.ownTotal)) return StatsDecode::shortData;
    std::int32_t count;
    StatsDecode result = GetCount(reader, kMinContactRecord, count);
    if (result == StatsDecode::ok) {
        users.contacts.resize(static_cast<std::size_t>(count));
        for (StatsContact& contact : users.contacts) {
            result = GetContact(reader, contact);
            if (result != StatsDecode::ok) break;
        }
    }
    result = Finish(reader, result);
    if (result == StatsDecode::ok) out = std::move(users);
    return result;
}

StatsDecode DecodeStatsSessions(const Bytes& data, std::vector<StatsSession>& out) {
    out.clear();
    BinaryReader reader(data);
    std::vector<StatsSession> sessions;
    std::int32_t count;
    StatsDecode result = GetCount(reader, kSessionHeader, count);
    if (result == StatsDecode::ok) {
        sessions.resize(static_cast<std::size_t>(count));
        for (StatsSession& session : sessions) {
            result = GetSession(reader, session);
            if (result != StatsDecode::ok) break;
        }
    }
    result = Finish(reader, result);
    if (result == StatsDecode::ok) out = std::move(sessions);
    return result;
}

} // namespace parleym

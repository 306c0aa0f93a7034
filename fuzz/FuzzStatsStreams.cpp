// Decodes arbitrary bytes as the two statistics streams (the first byte says
// where "users" ends), checks that a decoded stream encodes back to exactly its
// bytes, then runs status reports over what was loaded, however odd its dates.
#include <cstdlib>
#include <algorithm>
#include <cstring>

#include "plugin/stats/StatsCodec.h"
#include "plugin/stats/StatsLedger.h"

using namespace parleym;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t split = 1 + std::min<std::size_t>(data[0], size - 1);
    const Bytes usersData(data + 1, data + split);
    const Bytes sessionsData(data + split, data + size);

    StatsUsers users;
    const StatsDecode usersRead = DecodeStatsUsers(usersData, users);
    if (usersRead == StatsDecode::ok) {
        std::vector<const StatsContact*> contacts;
        for (const StatsContact& contact : users.contacts) contacts.push_back(&contact);
        if (EncodeStatsUsers(users.ownTotal, contacts) != usersData) std::abort();
    } else if (!users.contacts.empty()) {
        std::abort();
    }
    std::vector<StatsSession> sessions;
    const StatsDecode sessionsRead = DecodeStatsSessions(sessionsData, sessions);
    if (sessionsRead == StatsDecode::ok && EncodeStatsSessions(sessions) != sessionsData) std::abort();
    if (sessionsRead != StatsDecode::ok && !sessions.empty()) std::abort();

    std::vector<std::string> names;
    for (const StatsContact& contact : users.contacts) names.push_back(contact.signInName);
    names.push_back("new@example.com");
    double now = 45000.0;
    if (!sessions.empty()) now = sessions.back().end;

    StatsLedger ledger;
    ledger.Merge(std::move(users), std::move(sessions));
    ledger.AdvanceContactNumber();
    ledger.OnOwnStatus(kStatsOnline, false, now);
    for (std::size_t i = 0; i < names.size() && i < 64; ++i) {
        ledger.OnContactStatus(names[i], i % 3 == 2 ? kStatsOffline : kStatsOnline, false, now + i / 1440.0);
    }
    ledger.RefreshTotals(kStatsOnline, now + 0.5);
    for (const StatsContact* contact : ledger.Contacts()) (void)FormatOnlineTime(contact->onlineTime);
    ledger.OnOwnStatus(kStatsOffline, false, now + 1.0);
    (void)FormatOnlineTime(ledger.OwnTotal());
    (void)EncodeStatsUsers(ledger.OwnTotal(), ledger.Contacts());
    (void)EncodeStatsSessions(ledger.Sessions());
    ledger.Reset(now);
    return 0;
}

#pragma once
// The statistics of one account in memory: contacts with their totals, the
// sign-in sessions with the contacts' online periods, and the rules by which
// status reports move them. Time is passed in, so the rules run anywhere.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "plugin/stats/StatsCodec.h"
#include "plugin/stats/StatsRecords.h"

namespace parleym {

class StatsLedger {
public:
    // A report about the account itself. refresh only brings the open session
    // up to now; without it, going online starts a new session.
    void OnOwnStatus(std::int32_t status, bool refresh, double now);
    // A report about a contact; contacts seen online for the first time get a record.
    void OnContactStatus(const std::string& signInName, std::int32_t status, bool refresh, double now);
    // Brings the open session and every open period up to now.
    void RefreshTotals(std::int32_t ownReportedStatus, double now);
    // Zeroes every total and drops the history; an online account gets a
    // fresh session with a period for each online contact.
    void Reset(double now);

    // Adds what was read from the streams (a later record of a name wins).
    void Merge(StatsUsers&& users, std::vector<StatsSession>&& sessions);
    // After a load: numbers handed out from now on follow every loaded one.
    void AdvanceContactNumber();
    // Forgets the account; contact numbers keep counting upwards.
    void Clear();

    const StatsContact* FindContact(const std::string& signInName) const;
    std::vector<const StatsContact*> Contacts() const;
    const std::vector<StatsSession>& Sessions() const { return sessions_; }
    const OnlineTime& OwnTotal() const { return ownTotal_; }
    std::int32_t OwnStatus() const { return ownStatus_; }
    void SetOwnStatus(std::int32_t status) { ownStatus_ = status; }
    std::int32_t NextContactNumber() const { return nextContactNumber_; }

private:
    void UpdateContact(StatsContact& contact, std::int32_t status, bool refresh, double now);
    void CloseLastSessionSpan(double now);

    std::map<std::string, StatsContact> contacts_;
    std::vector<StatsSession> sessions_; // oldest first
    OnlineTime ownTotal_;
    std::int32_t ownStatus_ = kStatsOffline;
    std::int32_t nextContactNumber_ = 1;
};

} // namespace parleym

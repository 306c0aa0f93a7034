#include "plugin/stats/StatsLedger.h"

#include <algorithm>
#include <limits>

namespace parleym {

void StatsLedger::OnOwnStatus(std::int32_t status, bool refresh, double now) {
    if (status == kStatsOffline) {
        if (ownStatus_ == kStatsOffline || sessions_.empty()) return;
        for (auto& entry : contacts_) UpdateContact(entry.second, kStatsOffline, false, now);
        CloseLastSessionSpan(now);
        ownStatus_ = kStatsOffline;
        return;
    }
    if (refresh) {
        if (!sessions_.empty()) CloseLastSessionSpan(now);
        ownStatus_ = status;
        return;
    }
    if (status == ownStatus_) return;
    StatsSession session;
    session.start = session.end = now;
    sessions_.push_back(std::move(session));
    for (auto& entry : contacts_) entry.second.status = kStatsOffline;
    ownStatus_ = status;
}

void StatsLedger::OnContactStatus(const std::string& signInName, std::int32_t status, bool refresh, double now) {
    auto found = contacts_.find(signInName);
    if (status == kStatsOffline) {
        if (found != contacts_.end()) UpdateContact(found->second, kStatsOffline, refresh, now);
        return;
    }
    if (found == contacts_.end()) {
        StatsContact contact;
        contact.number = nextContactNumber_;
        AdvanceContactNumber();
        contact.signInName = signInName;
        found = contacts_.emplace(signInName, std::move(contact)).first;
    }
    UpdateContact(found->second, status, refresh, now);
}

void StatsLedger::UpdateContact(StatsContact& contact, std::int32_t status, bool refresh, double now) {
    if (sessions_.empty()) return;
    if (status == kStatsOffline && contact.status == kStatsOffline) return;
    std::vector<StatsPeriod>& periods = sessions_.back().periods;
    if (status == kStatsOffline || refresh || contact.status == kStatsOnline) {
        for (auto period = periods.rbegin(); period != periods.rend(); ++period) {
            if (period->contactNumber != contact.number) continue;
            AddSpan(contact.onlineTime, now - period->logoutTime);
            period->logoutTime = now;
            break;
        }
    } else {
        periods.push_back(StatsPeriod{contact.number, now, now});
    }
    contact.status = status;
}

void StatsLedger::CloseLastSessionSpan(double now) {
    StatsSession& last = sessions_.back();
    AddSpan(ownTotal_, now - last.end);
    last.end = now;
}

void StatsLedger::RefreshTotals(std::int32_t ownReportedStatus, double now) {
    OnOwnStatus(ownReportedStatus, true, now);
    for (auto& entry : contacts_) UpdateContact(entry.second, entry.second.status, true, now);
}

void StatsLedger::Reset(double now) {
    ownTotal_ = OnlineTime();
    sessions_.clear();
    for (auto& entry : contacts_) entry.second.onlineTime = OnlineTime();
    if (ownStatus_ != kStatsOnline) return;
    StatsSession session;
    session.start = session.end = now;
    for (const auto& entry : contacts_) {
        if (entry.second.status == kStatsOnline) session.periods.push_back(StatsPeriod{entry.second.number, now, now});
    }
    sessions_.push_back(std::move(session));
}

void StatsLedger::Merge(StatsUsers&& users, std::vector<StatsSession>&& sessions) {
    ownTotal_ = users.ownTotal;
    for (StatsContact& contact : users.contacts) {
        nextContactNumber_ = std::max(nextContactNumber_, contact.number);
        contact.status = kStatsOffline;
        std::string name = contact.signInName;
        contacts_[name] = std::move(contact);
    }
    if (sessions_.empty()) {
        sessions_ = std::move(sessions);
    } else {
        sessions_.insert(sessions_.end(), std::make_move_iterator(sessions.begin()),
                         std::make_move_iterator(sessions.end()));
    }
}

void StatsLedger::AdvanceContactNumber() {
    // A damaged file may hold the largest number; stay there rather than overflow.
    if (nextContactNumber_ < std::numeric_limits<std::int32_t>::max()) ++nextContactNumber_;
}

void StatsLedger::Clear() {
    contacts_.clear();
    sessions_.clear();
    ownTotal_ = OnlineTime();
    ownStatus_ = kStatsOffline;
}

const StatsContact* StatsLedger::FindContact(const std::string& signInName) const {
    const auto found = contacts_.find(signInName);
    return found == contacts_.end() ? nullptr : &found->second;
}

std::vector<const StatsContact*> StatsLedger::Contacts() const {
    std::vector<const StatsContact*> result;
    result.reserve(contacts_.size());
    for (const auto& entry : contacts_) result.push_back(&entry.second);
    return result;
}

} // namespace parleym

#include "plugin/stats/StatsFileSalvage.h"

#include <cstdio>

#include "plugin/stats/StatsCodec.h"
#include "plugin/storage/AccountFileSalvage.h"

namespace parleym {

namespace {

const char kUsers[] = "users";
const char kSessions[] = "sessions";

class StatsAccounts : public AccountContentsPlanner {
public:
    void PlanAccount(const SalvagedStorage& account, bool listed, FreshElement& fresh) override {
        ++known_;
        Bytes users;
        Bytes sessions;
        StatsUsers decodedUsers;
        std::vector<StatsSession> decodedSessions;
        // Empty: opened and never saved, nothing to lose.
        const bool whole = account.Read(kUsers, users) && account.Read(kSessions, sessions) &&
                           (users.empty() || DecodeStatsUsers(users, decodedUsers) == StatsDecode::ok) &&
                           (sessions.empty() || DecodeStatsSessions(sessions, decodedSessions) == StatsDecode::ok);
        if (!whole) return;
        for (const char* name : {kUsers, kSessions})
            fresh.children.push_back(FreshElement::Copied(WideName(name), account.Find(name)->index));
        if (listed) ++kept_;
        anything_ = true;
    }

    void CountLost(const SalvagedStorage& group) override {
        if (group.Find(kUsers) || group.Find(kSessions)) ++known_;
    }

    bool AnythingRecovered() const override { return anything_; }

    std::string Recovered() const override {
        char text[96];
        std::snprintf(text, sizeof text, "Statistics of %d of %d accounts recovered", kept_, known_);
        return text;
    }

private:
    int known_ = 0;
    int kept_ = 0;
    bool anything_ = false;
};

} // namespace

SalvagePlan PlanStatsFileSalvage(const CompoundFileSalvage& file) {
    StatsAccounts accounts;
    return PlanAccountFileSalvage(file, accounts);
}

} // namespace parleym

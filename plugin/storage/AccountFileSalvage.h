#pragma once
// Salvage of the files laid out by CStorageDb (logs, statistics, offline
// messages): the account list `userids` and one numbered storage per
// account, whose contents belong to the store. An unattached group holding a
// storage or the account list can only have hung below the root; one holding
// an account's elements only below the one account when the list names
// exactly one and its storage is there. Anything else stays unattributed:
// one account's data must never turn up under another account.
#include <string>

#include "plugin/storage/CompoundFileSalvage.h"
#include "plugin/storage/SalvagePlan.h"

namespace parleym {

// The store's part: what an account's storage holds.
class AccountContentsPlanner {
public:
    virtual ~AccountContentsPlanner() = default;
    // Fills the account's fresh storage from what was found of it. `listed`:
    // the account list names it, so its owner can get at it.
    virtual void PlanAccount(const SalvagedStorage& account, bool listed, FreshElement& fresh) = 0;
    // Account elements whose account is not known: lost.
    virtual void CountLost(const SalvagedStorage& group) = 0;
    virtual bool AnythingRecovered() const = 0;
    // For the user: "3 of 5 conversations recovered".
    virtual std::string Recovered() const = 0;
};

SalvagePlan PlanAccountFileSalvage(const CompoundFileSalvage& file, AccountContentsPlanner& contents);

} // namespace parleym

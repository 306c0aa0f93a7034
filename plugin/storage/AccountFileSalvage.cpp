#include "plugin/storage/AccountFileSalvage.h"

#include <algorithm>
#include <map>
#include <set>

#include "plugin/storage/UserIdsCodec.h"

namespace parleym {

namespace {
const char kUserIds[] = "userids";

bool HoldsRootElements(const CompoundFileSalvage& file, const std::vector<std::size_t>& group) {
    for (std::size_t index : group) {
        const SalvagedElement& element = file.Elements()[index];
        if (element.storage || NarrowName(element.name).compare(0, sizeof kUserIds - 1, kUserIds) == 0) return true;
    }
    return false;
}
} // namespace

SalvagePlan PlanAccountFileSalvage(const CompoundFileSalvage& file, AccountContentsPlanner& contents) {
    SalvagePlan plan;
    SalvagedStorage root(file, file.Elements()[CompoundFileSalvage::kRoot].children);
    std::vector<const std::vector<std::size_t>*> accountGroups;
    for (const std::vector<std::size_t>& group : file.Unattached()) {
        if (HoldsRootElements(file, group))
            root.Adopt(group);
        else
            accountGroups.push_back(&group);
    }

    // Empty: made and never written, no accounts yet.
    Bytes data;
    UserIdsRecord ids;
    const bool idsRead = root.Read(kUserIds, data) && (data.empty() || DecodeUserIds(data, ids));
    std::set<std::int32_t> listed;
    for (const UserIdEntry& entry : ids.entries) listed.insert(entry.number);

    std::map<std::int32_t, std::size_t> accounts;  // number -> storage element
    for (const auto& named : root.Elements()) {
        std::int32_t number = 0;
        if (named.second.storage && DecimalName(named.first, number) && number > 0)
            accounts[number] = named.second.index;
    }
    const bool oneAccount = idsRead && ids.entries.size() == 1 && accounts.size() == 1 &&
                            accounts.count(ids.entries.front().number) != 0;

    for (const auto& account : accounts) {
        const SalvagedElement& found = file.Elements()[account.second];
        SalvagedStorage view(file, found.children);
        if (oneAccount)
            for (const std::vector<std::size_t>* group : accountGroups) view.Adopt(*group);
        FreshElement fresh = FreshElement::Storage(WideName(std::to_string(account.first)));
        fresh.classId = found.classId;
        contents.PlanAccount(view, listed.count(account.first) != 0, fresh);
        plan.root.children.push_back(std::move(fresh));
    }
    if (!oneAccount)
        for (const std::vector<std::size_t>* group : accountGroups) contents.CountLost(SalvagedStorage(file, *group));

    if (idsRead) {
        plan.root.children.push_back(FreshElement::Copied(WideName(kUserIds), root.Find(kUserIds)->index));
    } else {
        // No account can be named; the numbers in use stay taken.
        UserIdsRecord rebuilt;
        if (!accounts.empty()) rebuilt.lastUserId = accounts.rbegin()->first;
        plan.root.children.push_back(FreshElement::Made(WideName(kUserIds), EncodeUserIds(rebuilt)));
    }
    plan.anything = contents.AnythingRecovered() || (idsRead && !ids.entries.empty());
    plan.recovered = contents.Recovered();
    if (!idsRead) plan.recovered += " (the list of accounts could not be read)";
    return plan;
}

} // namespace parleym

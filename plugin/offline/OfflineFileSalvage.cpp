#include "plugin/offline/OfflineFileSalvage.h"

#include <cstdio>

#include "plugin/offline/OfflineMessagesCodec.h"
#include "plugin/storage/AccountFileSalvage.h"

namespace parleym {

namespace {

const char kMessages[] = "messages";

class OfflineAccounts : public AccountContentsPlanner {
public:
    void PlanAccount(const SalvagedStorage& account, bool listed, FreshElement& fresh) override {
        ++known_;
        Bytes data;
        PendingMessages pending;
        if (!account.Read(kMessages, data) || !DecodeOfflineMessages(data, pending)) return;
        fresh.children.push_back(FreshElement::Copied(WideName(kMessages), account.Find(kMessages)->index));
        anything_ = true;
        if (!listed) return;
        ++kept_;
        for (const auto& contact : pending) messages_ += static_cast<int>(contact.second.size());
    }

    void CountLost(const SalvagedStorage& group) override {
        if (group.Find(kMessages)) ++known_;
    }

    bool AnythingRecovered() const override { return anything_; }

    std::string Recovered() const override {
        char text[128];
        std::snprintf(text, sizeof text, "Offline messages of %d of %d accounts recovered (%d message%s)", kept_, known_,
                      messages_, messages_ == 1 ? "" : "s");
        return text;
    }

private:
    int known_ = 0;
    int kept_ = 0;
    int messages_ = 0;
    bool anything_ = false;
};

} // namespace

SalvagePlan PlanOfflineFileSalvage(const CompoundFileSalvage& file) {
    OfflineAccounts accounts;
    return PlanAccountFileSalvage(file, accounts);
}

} // namespace parleym

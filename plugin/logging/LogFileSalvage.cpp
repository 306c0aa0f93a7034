#include "plugin/logging/LogFileSalvage.h"

#include <climits>
#include <cstdio>
#include <set>

#include "plugin/logging/ConversationIndexCodec.h"
#include "plugin/storage/AccountFileSalvage.h"
#include "plugin/storage/MessageContent.h"

namespace parleym {

namespace {

const char kIndex[] = "conversations";

bool ReadIndex(const SalvagedStorage& storage, ConversationIndex& index) {
    Bytes data;
    return storage.Read(kIndex, data) && !data.empty() && DecodeConversationIndex(data, index);
}

// Conversation numbers the storage's elements and index name.
void NoteNumbers(const SalvagedStorage& storage, std::set<std::int32_t>& known) {
    for (const auto& named : storage.Elements()) {
        std::int32_t number = 0;
        if (!named.second.storage && DecimalName(named.first, number) && number > 0) known.insert(number);
    }
    ConversationIndex index;
    if (ReadIndex(storage, index))
        for (const LogEntry& entry : index.entries)
            if (entry.number > 0) known.insert(entry.number);
}

class LogAccounts : public AccountContentsPlanner {
public:
    void PlanAccount(const SalvagedStorage& account, bool listed, FreshElement& fresh) override {
        std::set<std::int32_t> known;
        NoteNumbers(account, known);
        std::set<std::int32_t> kept;
        for (const auto& named : account.Elements()) {
            std::int32_t number = 0;
            if (named.second.storage || !DecimalName(named.first, number) || number <= 0) continue;
            Bytes data;
            if (!account.Read(named.first, data)) continue;
            CMessageContent content;
            BinaryReader in(data);
            if (!content.Decode(in)) continue;
            kept.insert(number);
            fresh.children.push_back(FreshElement::Copied(WideName(named.first), named.second.index));
        }
        ConversationIndex found;
        ConversationIndex index;
        const bool indexRead = ReadIndex(account, found);
        if (indexRead) {
            index.nextNumber = found.nextNumber;
            index.loggingEnabled = found.loggingEnabled;
            for (const LogEntry& entry : found.entries)
                if (kept.count(entry.number)) index.entries.push_back(entry);
        }
        // Indexed conversations whose streams are not here at all may be among the unattached elements.
        for (std::int32_t number : known)
            if (!account.Find(std::to_string(number))) unplaced_.insert(number);
        if (!known.empty() && index.nextNumber <= *known.rbegin())
            index.nextNumber = *known.rbegin() == INT_MAX ? INT_MAX : *known.rbegin() + 1;
        fresh.children.push_back(FreshElement::Made(WideName(kIndex), EncodeConversationIndex(index)));
        known_ += known.size();
        if (listed) kept_ += kept.size();
        anything_ = anything_ || !kept.empty() || indexRead;
    }

    // Unattached elements may name conversations counted already: one an
    // account's index names while its stream is not there, or one another
    // group names too (a stream in one, the index in another).
    void CountLost(const SalvagedStorage& group) override {
        std::set<std::int32_t> numbers;
        NoteNumbers(group, numbers);
        for (std::int32_t number : numbers) {
            const auto unplaced = unplaced_.find(number);
            if (unplaced != unplaced_.end()) unplaced_.erase(unplaced);
            else if (lost_.insert(number).second) ++known_;
        }
    }

    bool AnythingRecovered() const override { return anything_; }

    std::string Recovered() const override {
        char text[96];
        std::snprintf(text, sizeof text, "%zu of %zu conversations recovered", kept_, known_);
        return text;
    }

private:
    std::size_t known_ = 0;
    std::size_t kept_ = 0;
    std::set<std::int32_t> lost_;
    std::multiset<std::int32_t> unplaced_;
    bool anything_ = false;
};

} // namespace

SalvagePlan PlanLogFileSalvage(const CompoundFileSalvage& file) {
    LogAccounts accounts;
    return PlanAccountFileSalvage(file, accounts);
}

} // namespace parleym

#include "plugin/core/ContactBook.h"

#include "plugin/core/ContactMatch.h"

namespace parleym {

CContactInfo* CContactBook::RecordOf(const std::string& signInName) {
    if (signInName.empty()) return nullptr;
    if (signInName == self_.signInName) return &self_;
    for (CContactInfo& record : contacts_)
        if (record.signInName == signInName) return &record;
    return nullptr;
}

CContactInfo CContactBook::Note(const std::string& signInName, const std::string& friendlyName, int status) {
    CContactInfo* record = RecordOf(signInName);
    if (record && record != &self_) {
        record->friendlyName = friendlyName;
        record->status = status;
        return *record;
    }
    contacts_.emplace_back(signInName, friendlyName, status);
    return contacts_.back();
}

CContactInfo CContactBook::Find(const std::string& signInName) {
    const CContactInfo* record = RecordOf(signInName);
    return record && record != &self_ ? *record : noContact_;
}

const CContactInfo* CContactBook::Listed(const std::string& signInName) const {
    for (const CContactInfo& record : contacts_)
        if (record.signInName == signInName) return &record;
    return nullptr;
}

CContactInfo CContactBook::FindByText(const std::string& text) const {
    const ContactMatch match = MatchContactInText(text, contacts_);
    return match.named == NamedContacts::kOne ? contacts_[match.index] : noContact_;
}

} // namespace parleym

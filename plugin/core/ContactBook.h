#pragma once
// The signed-in account's contacts as the messenger reported them, and the
// account's own record: the one place that says which contact a name or a
// text of the messenger stands for. Plain C++.
#include <string>
#include <vector>

#include "plugin/core/ContactInfo.h"

namespace parleym {

class CContactBook {
public:
    CContactInfo& Self() { return self_; }
    const CContactInfo& Self() const { return self_; }
    // The record of nobody in particular (a conversation with several people).
    const CContactInfo& NoContact() const { return noContact_; }
    bool IsNoContact(const CContactInfo& contact) const { return contact.SameNames(noContact_); }
    const std::vector<CContactInfo>& Contacts() const { return contacts_; }

    // Whether the whole list was read from the messenger since the last sign-in.
    bool Loaded() const { return loaded_; }
    void SetLoaded() { loaded_ = true; }
    // Another account signed in: nothing of the list before is kept.
    void Forget() {
        loaded_ = false;
        contacts_.clear();
    }
    void Clear() { contacts_.clear(); }

    // The record a sign-in name has, the account's own included; null for none.
    CContactInfo* RecordOf(const std::string& signInName);
    // A contact's record, updated with the names and status, or added; a
    // contact deleted and added again is still one contact.
    CContactInfo Note(const std::string& signInName, const std::string& friendlyName, int status);
    // Another person's record, or NoContact.
    CContactInfo Find(const std::string& signInName);
    // The contact list's first record with the name (never the account's own).
    const CContactInfo* Listed(const std::string& signInName) const;
    // The one contact the text names as a whole address (ContactMatch.h);
    // NoContact for nobody or for several people.
    CContactInfo FindByText(const std::string& text) const;

private:
    std::vector<CContactInfo> contacts_;
    bool loaded_ = false;
    CContactInfo self_;
    CContactInfo noContact_;
};

} // namespace parleym

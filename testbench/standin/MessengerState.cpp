#include "testbench/standin/MessengerState.h"

#include <cstdlib>

namespace standin {

namespace {

struct StatusNameEntry {
    const char* name;
    MISTATUS value;
};

const StatusNameEntry kStatusNames[] = {
    {"UNKNOWN", MISTATUS_UNKNOWN},
    {"OFFLINE", MISTATUS_OFFLINE},
    {"ONLINE", MISTATUS_ONLINE},
    {"INVISIBLE", MISTATUS_INVISIBLE},
    {"BUSY", MISTATUS_BUSY},
    {"BE_RIGHT_BACK", MISTATUS_BE_RIGHT_BACK},
    {"IDLE", MISTATUS_IDLE},
    {"AWAY", MISTATUS_AWAY},
    {"ON_THE_PHONE", MISTATUS_ON_THE_PHONE},
    {"OUT_TO_LUNCH", MISTATUS_OUT_TO_LUNCH},
    {"LOCAL_FINDING_SERVER", MISTATUS_LOCAL_FINDING_SERVER},
    {"LOCAL_CONNECTING_TO_SERVER", MISTATUS_LOCAL_CONNECTING_TO_SERVER},
    {"LOCAL_SYNCHRONIZING_WITH_SERVER", MISTATUS_LOCAL_SYNCHRONIZING_WITH_SERVER},
    {"LOCAL_DISCONNECTING_FROM_SERVER", MISTATUS_LOCAL_DISCONNECTING_FROM_SERVER},
};

}  // namespace

MessengerState::MessengerState() : self_(std::make_shared<ContactRecord>()) { self_->isSelf = true; }

void MessengerState::SelectAccount(const std::string& signinName, const std::string& friendlyName) {
    ContactPtr& account = accounts_[signinName];
    if (!account) {
        account = std::make_shared<ContactRecord>();
        account->signinName = signinName;
        account->isSelf = true;
    }
    if (!friendlyName.empty()) account->friendlyName = friendlyName;
    if (account->friendlyName.empty()) account->friendlyName = signinName;
    self_ = account;
}

void MessengerState::SetSignedIn(bool signedIn) {
    signedIn_ = signedIn;
    self_->status = signedIn ? MISTATUS_ONLINE : MISTATUS_OFFLINE;
}

const std::vector<ContactPtr>& MessengerState::Contacts() const {
    static const std::vector<ContactPtr> none;
    auto found = lists_.find(self_->signinName);
    return found == lists_.end() ? none : found->second;
}

ContactPtr MessengerState::FindContact(const std::string& signinName) const {
    for (const ContactPtr& contact : Contacts())
        if (contact->signinName == signinName) return contact;
    return nullptr;
}

ContactPtr MessengerState::AddContact(const std::string& signinName, const std::string& friendlyName, MISTATUS status) {
    if (ContactPtr existing = FindContact(signinName)) return existing;
    auto contact = std::make_shared<ContactRecord>();
    contact->signinName = signinName;
    contact->friendlyName = friendlyName.empty() ? signinName : friendlyName;
    contact->status = status;
    lists_[self_->signinName].push_back(contact);
    return contact;
}

ContactPtr MessengerState::RemoveContact(const std::string& signinName) {
    std::vector<ContactPtr>& list = lists_[self_->signinName];
    for (auto it = list.begin(); it != list.end(); ++it) {
        if ((*it)->signinName != signinName) continue;
        ContactPtr removed = *it;
        list.erase(it);
        return removed;
    }
    return nullptr;
}

void MessengerState::SetFailure(const std::string& method, HRESULT result, int count) {
    if (count == 0) {
        failures_.erase(method);
        return;
    }
    failures_[method] = FailureRule{result, count};
}

HRESULT MessengerState::TakeFailure(const std::string& method) {
    auto found = failures_.find(method);
    if (found == failures_.end()) return S_OK;
    HRESULT result = found->second.result;
    if (found->second.remaining > 0 && --found->second.remaining == 0) failures_.erase(found);
    return result;
}

bool ParseStatus(const std::string& text, MISTATUS& status) {
    std::string name = text.compare(0, 9, "MISTATUS_") == 0 ? text.substr(9) : text;
    for (const StatusNameEntry& entry : kStatusNames) {
        if (name == entry.name) {
            status = entry.value;
            return true;
        }
    }
    if (text.empty()) return false;
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 0);
    if (*end != '\0') return false;
    status = static_cast<MISTATUS>(value);
    return true;
}

std::string StatusName(MISTATUS status) {
    for (const StatusNameEntry& entry : kStatusNames)
        if (entry.value == status) return entry.name;
    return std::to_string(static_cast<long>(status));
}

}  // namespace standin

#pragma once
// What the stand-in messenger knows: the account signed in, every account's contact
// list and statuses, and the API calls a scenario has told to fail.
#include "plugin/core/MessengerApi.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace standin {

struct ContactRecord {
    std::string signinName;
    std::string friendlyName;
    MISTATUS status = MISTATUS_OFFLINE;
    bool isSelf = false;
};
using ContactPtr = std::shared_ptr<ContactRecord>;

struct FailureRule {
    HRESULT result = E_FAIL;
    int remaining = -1;  // calls left to fail; -1: every call
};

class MessengerState {
public:
    MessengerState();

    // Makes `signinName` the current account (creating it) without signing in.
    void SelectAccount(const std::string& signinName, const std::string& friendlyName);
    bool SignedIn() const { return signedIn_; }
    void SetSignedIn(bool signedIn);
    MISTATUS MyStatus() const { return signedIn_ ? self_->status : MISTATUS_OFFLINE; }
    void SetMyStatus(MISTATUS status) { self_->status = status; }
    const ContactPtr& Self() const { return self_; }

    // The current account's contacts in the order they were added.
    const std::vector<ContactPtr>& Contacts() const;
    ContactPtr FindContact(const std::string& signinName) const;
    ContactPtr AddContact(const std::string& signinName, const std::string& friendlyName, MISTATUS status);
    // Takes the contact off the current account's list; null when it was not there.
    ContactPtr RemoveContact(const std::string& signinName);

    void SetFailure(const std::string& method, HRESULT result, int count);
    // The forced result for a call of `method`, or S_OK when the call should work.
    HRESULT TakeFailure(const std::string& method);

private:
    bool signedIn_ = false;
    ContactPtr self_;
    std::map<std::string, ContactPtr> accounts_;
    std::map<std::string, std::vector<ContactPtr>> lists_;
    std::map<std::string, FailureRule> failures_;
};

// Status names as scenarios write them ("ONLINE", "AWAY", ...) or a number.
bool ParseStatus(const std::string& text, MISTATUS& status);
std::string StatusName(MISTATUS status);

}  // namespace standin

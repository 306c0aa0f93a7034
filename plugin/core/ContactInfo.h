#pragma once
// A messenger contact as the plug-in keeps it. A contact is its sign-in name
// (exact, case-sensitive); the friendly name changes whenever the contact likes
// and is only kept up to date, never used to tell contacts apart.
#include <string>

namespace parleym {

enum ContactStatus : int {
    kContactOnline = 1,
    kContactOffline = 2,
};

class CContactInfo {
public:
    CContactInfo() = default;
    CContactInfo(std::string signIn, std::string friendly, int contactStatus)
        : signInName(std::move(signIn)), friendlyName(std::move(friendly)), status(contactStatus) {}

    bool SameContact(const CContactInfo& other) const { return signInName == other.signInName; }
    // Both names: only for telling the empty "no contact" record apart.
    bool SameNames(const CContactInfo& other) const {
        return signInName == other.signInName && friendlyName == other.friendlyName;
    }
    bool IsOnline() const { return status == kContactOnline; }

    std::string signInName;
    std::string friendlyName;
    int status = kContactOffline;
};

// The messenger's status values: the offline and local connecting states count
// as offline, everything else (including values we do not know) as online.
inline int MapStatus(long messengerStatus) {
    switch (messengerStatus) {
    case 0:
    case 1:
    case 256:
    case 512:
    case 768:
    case 1024:
        return kContactOffline;
    default:
        return kContactOnline;
    }
}

} // namespace parleym

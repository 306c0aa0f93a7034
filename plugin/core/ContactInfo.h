#pragma once
// A messenger contact as the plug-in keeps it. Contacts are matched by exact,
// case-sensitive comparison of their names.
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

#pragma once
// Which contact a text of the messenger names: a conversation window's address
// box ("To: Jo <joann@x>"), an item of the contact list's context menu ("Send
// E-mail (joann@x)"). A sign-in name counts only as a whole address, never as
// part of a longer one (ann@x is not in joann@x) nor inside a friendly name
// when the text gives the address in <...>; a text naming several people (a
// conversation with more than one) names none of them. Plain C++.
#include <cstddef>
#include <string>
#include <vector>

#include "plugin/core/ContactInfo.h"

namespace parleym {

enum class NamedContacts { kNone, kOne, kSeveral };

struct ContactMatch {
    NamedContacts named = NamedContacts::kNone;
    std::size_t index = 0;  // into the contact list, when one is named
};

ContactMatch MatchContactInText(const std::string& text, const std::vector<CContactInfo>& contacts);

} // namespace parleym

#include "plugin/core/ContactMatch.h"

#include <cctype>

namespace parleym {
namespace {

bool IsAddressCharacter(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return std::isalnum(u) || c == '.' || c == '_' || c == '-' || c == '+' || c == '@' || u >= 0x80;
}

// The occurrence at [start, end) is a whole address: nothing of an address
// touches it on either side. A full stop after it ends a sentence unless more
// of an address follows.
bool IsWholeAddress(const std::string& text, std::size_t start, std::size_t end) {
    if (start > 0 && IsAddressCharacter(text[start - 1])) return false;
    if (end >= text.size()) return true;
    if (text[end] == '.') return end + 1 >= text.size() || !IsAddressCharacter(text[end + 1]);
    return !IsAddressCharacter(text[end]);
}

int IndexOf(const std::string& signInName, const std::vector<CContactInfo>& contacts) {
    for (std::size_t i = 0; i < contacts.size(); ++i)
        if (contacts[i].signInName == signInName) return static_cast<int>(i);
    return -1;
}

// Every "<...>" that holds an address: a contact's sign-in name, or anything
// with an "@" (someone not in the list). A '>' closes the nearest '<' before it,
// so a friendly name with brackets of its own does not swallow the address.
std::vector<std::string> BracketedAddresses(const std::string& text, const std::vector<CContactInfo>& contacts) {
    std::vector<std::string> found;
    std::size_t close = text.find('>');
    while (close != std::string::npos) {
        const std::size_t open = text.rfind('<', close);
        if (open != std::string::npos) {
            const std::string inside = text.substr(open + 1, close - open - 1);
            const bool isAddress = inside.find('@') != std::string::npos || IndexOf(inside, contacts) >= 0;
            bool known = false;
            for (const std::string& address : found) known = known || address == inside;
            if (isAddress && !inside.empty() && !known) found.push_back(inside);
        }
        close = text.find('>', close + 1);
    }
    return found;
}

struct Occurrence {
    std::size_t start, end;
    int contact;
};

} // namespace

ContactMatch MatchContactInText(const std::string& text, const std::vector<CContactInfo>& contacts) {
    ContactMatch match;
    const std::vector<std::string> addresses = BracketedAddresses(text, contacts);
    if (addresses.size() > 1) {
        match.named = NamedContacts::kSeveral;
        return match;
    }
    if (addresses.size() == 1) {
        const int index = IndexOf(addresses.front(), contacts);
        if (index >= 0) {
            match.named = NamedContacts::kOne;
            match.index = static_cast<std::size_t>(index);
        }
        return match;
    }

    // No address given apart: every whole occurrence of a sign-in name, the
    // longest where they overlap.
    std::vector<Occurrence> occurrences;
    for (std::size_t i = 0; i < contacts.size(); ++i) {
        const std::string& name = contacts[i].signInName;
        if (name.empty() || IndexOf(name, contacts) != static_cast<int>(i)) continue;
        for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1))
            if (IsWholeAddress(text, at, at + name.size()))
                occurrences.push_back({at, at + name.size(), static_cast<int>(i)});
    }
    int named = -1;
    for (const Occurrence& occurrence : occurrences) {
        bool inLonger = false;
        for (const Occurrence& other : occurrences)
            inLonger = inLonger || (other.end - other.start > occurrence.end - occurrence.start &&
                                    other.start < occurrence.end && occurrence.start < other.end);
        if (inLonger) continue;
        if (named >= 0 && named != occurrence.contact) {
            match.named = NamedContacts::kSeveral;
            return match;
        }
        named = occurrence.contact;
    }
    if (named >= 0) {
        match.named = NamedContacts::kOne;
        match.index = static_cast<std::size_t>(named);
    }
    return match;
}

} // namespace parleym

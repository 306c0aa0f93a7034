// Which contact a text of the messenger names, among contacts whose addresses
// contain one another and whose friendly names hold other contacts' addresses.
#include <gtest/gtest.h>

#include "plugin/core/ContactMatch.h"

using namespace parleym;

TEST(ContactMatch, AWholeAddressNamesOneContactAndSeveralNameNobody) {
    const std::vector<CContactInfo> contacts = {
        {"ann@x.net", "Ann", kContactOnline},
        {"joann@x.net", "Jo ann@x.net", kContactOffline},
        {"bob@x.net", "<b>ob", kContactOnline},
        {"ann@x.net", "Ann again", kContactOnline},  // a record twice is still one contact
    };
    const int kNobody = -1, kSeveral = -2;
    const struct {
        const char* text;
        int expected;
    } cases[] = {
        {"To: Ann <ann@x.net>", 0},
        {"To: Jo <joann@x.net>", 1},                   // ann@x.net is inside joann@x.net
        {"To: Jo ann@x.net <joann@x.net>", 1},         // a friendly name with Ann's address
        {"To: <b>ob <bob@x.net>", 2},                  // a friendly name with brackets of its own
        {"Send E-mail (joann@x.net)", 1},              // no address apart: whole words only
        {"View profile of ann@x.net.", 0},             // a full stop ends the sentence
        {"Send E-mail (ann@x.net.au)", kNobody},       // a longer address
        {"To: Ann <ann@x.net>, Bob <bob@x.net>", kSeveral},
        {"To: Ann <ann@x.net>, Stranger <s@y.org>", kSeveral},
        {"To: ann@x.net, bob@x.net", kSeveral},
        {"To: Ann <ann@x.net>, Ann <ann@x.net>", 0},
        {"To: Jo ann@x.net <s@y.org>", kNobody},       // someone else, whatever the name says
        {"To: Stranger", kNobody},
        {"", kNobody},
    };
    for (const auto& c : cases) {
        const ContactMatch match = MatchContactInText(c.text, contacts);
        const int got = match.named == NamedContacts::kNone      ? kNobody
                        : match.named == NamedContacts::kSeveral ? kSeveral
                                                                  : static_cast<int>(match.index);
        EXPECT_EQ(c.expected, got) << c.text;
    }
}

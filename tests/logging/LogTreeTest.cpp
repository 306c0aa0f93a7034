// What the viewer's tree lists: item texts for same-day and past-midnight
// conversations, grouping by day and by contact, and the order of the groups.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include "plugin/logging/LogTree.h"

using namespace parleym;

namespace {

double At(int year, int month, int day, int hour, int minute) {
    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(year);
    time.wMonth = static_cast<WORD>(month);
    time.wDay = static_cast<WORD>(day);
    time.wHour = static_cast<WORD>(hour);
    time.wMinute = static_cast<WORD>(minute);
    double date = 0;
    SystemTimeToVariantTime(&time, &date);
    return date;
}

// The system's own rendering in the user's locale, to compare against.
std::string Rendered(double date, DWORD flags) {
    BSTR text = nullptr;
    VarBstrFromDate(date, LOCALE_USER_DEFAULT, flags, &text);
    std::string result;
    for (UINT i = 0; i < SysStringLen(text); ++i) result += static_cast<char>(text[i]);
    SysFreeString(text);
    return result;
}

const std::vector<LogEntry> kIndex = {
    {At(2026, 12, 5, 10, 0), At(2026, 12, 5, 10, 30), "bob@parleym.example", 1},
    {At(2026, 12, 5, 23, 50), At(2026, 12, 6, 0, 10), "carol@parleym.example", 2},
    {At(2026, 12, 6, 9, 0), At(2026, 12, 6, 9, 5), "dave@parleym.example", 3},
    {At(2026, 12, 5, 18, 0), At(2026, 12, 5, 18, 1), "bob@parleym.example", 4},
};

TEST(LogTreeTest, ByDateListsDaysNewestFirstWithTimesOrFullDatesPastMidnight) {
    const auto groups = BuildLogTree(kIndex, {}, LogGrouping::kByDate);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].group.text, Rendered(At(2026, 12, 6, 0, 0), VAR_DATEVALUEONLY));
    EXPECT_EQ(groups[0].group.image, kImageDay);
    EXPECT_EQ(groups[0].group.number, 0);
    ASSERT_EQ(groups[0].conversations.size(), 1u);
    EXPECT_EQ(groups[0].conversations[0].number, 3);

    EXPECT_EQ(groups[1].group.text, Rendered(At(2026, 12, 5, 0, 0), VAR_DATEVALUEONLY));
    ASSERT_EQ(groups[1].conversations.size(), 3u);
    const LogTreeItem& sameDay = groups[1].conversations[0];
    EXPECT_EQ(sameDay.text, "bob@parleym.example(" + Rendered(kIndex[0].start, VAR_TIMEVALUEONLY) + " - " +
                                Rendered(kIndex[0].end, VAR_TIMEVALUEONLY) + ")");
    EXPECT_EQ(sameDay.image, kImageConversation);
    EXPECT_EQ(sameDay.number, 1);
    const LogTreeItem& pastMidnight = groups[1].conversations[1];
    EXPECT_EQ(pastMidnight.text, "carol@parleym.example(" + Rendered(kIndex[1].start, 0) + " - " +
                                     Rendered(kIndex[1].end, 0) + ")");
    // Within a day, conversations keep the index order.
    EXPECT_EQ(groups[1].conversations[2].number, 4);
}

TEST(LogTreeTest, ByUserUsesFriendlyNamesOrSignInNamesSortedByDisplayName) {
    const std::map<std::string, std::string> friendly = {{"bob@parleym.example", "Bob"},
                                                         {"dave@parleym.example", "dave the builder"}};
    const auto groups = BuildLogTree(kIndex, friendly, LogGrouping::kByUser);
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0].group.text, "Bob");
    EXPECT_EQ(groups[1].group.text, "carol@parleym.example");  // no longer listed
    EXPECT_EQ(groups[2].group.text, "dave the builder");
    EXPECT_EQ(groups[0].group.image, kImageConversation);

    ASSERT_EQ(groups[0].conversations.size(), 2u);
    EXPECT_EQ(groups[0].conversations[0].text, Rendered(kIndex[0].start, 0) + " - " + Rendered(kIndex[0].end, 0));
    EXPECT_EQ(groups[0].conversations[0].image, kImageDay);
    EXPECT_EQ(groups[0].conversations[0].number, 1);
    EXPECT_EQ(groups[0].conversations[1].number, 4);
}

TEST(LogTreeTest, DatesThatCannotBeShownSayInvalid) {
    const std::vector<LogEntry> broken = {{1e12, 1e12, "eve@parleym.example", 9}};
    const auto groups = BuildLogTree(broken, {}, LogGrouping::kByDate);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].group.text, "Invalid DateTime");
    EXPECT_EQ(groups[0].conversations[0].text, "eve@parleym.example(Invalid DateTime - Invalid DateTime)");
    EXPECT_EQ(BuildLogTree(broken, {}, LogGrouping::kByUser)[0].conversations[0].text,
              "Invalid DateTime - Invalid DateTime");
}

} // namespace

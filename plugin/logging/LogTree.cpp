#include "plugin/logging/LogTree.h"

#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <tuple>

#include "plugin/core/TextConvert.h"

namespace parleym {

namespace {

constexpr char kInvalidDate[] = "Invalid DateTime";

std::string FormatDate(double date, DWORD flags) {
    BstrHolder text;
    if (FAILED(VarBstrFromDate(date, LOCALE_USER_DEFAULT, flags, text.Put())) || !text.Get()) return kInvalidDate;
    return AnsiFromBstr(text.Get());
}

// Calendar day of an OLE date; -1 in every part that cannot be computed.
struct Day {
    int year = -1, month = -1, day = -1;
    bool operator<(const Day& other) const {
        return std::tie(year, month, day) < std::tie(other.year, other.month, other.day);
    }
    bool operator==(const Day& other) const {
        return year == other.year && month == other.month && day == other.day;
    }
};

Day DayOf(double date) {
    SYSTEMTIME time{};
    if (!VariantTimeToSystemTime(date, &time)) return Day{};
    return Day{time.wYear, time.wMonth, time.wDay};
}

std::string DayText(const Day& day) {
    if (day.year < 0) return kInvalidDate;
    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(day.year);
    time.wMonth = static_cast<WORD>(day.month);
    time.wDay = static_cast<WORD>(day.day);
    double date = 0;
    if (!SystemTimeToVariantTime(&time, &date)) return kInvalidDate;
    return FormatDateOnly(date);
}

std::string DatedItemText(const LogEntry& entry) {
    const bool sameDay = DayOf(entry.start) == DayOf(entry.end) && DayOf(entry.start).year >= 0;
    const std::string from = sameDay ? FormatTimeOnly(entry.start) : FormatDateTime(entry.start);
    const std::string to = sameDay ? FormatTimeOnly(entry.end) : FormatDateTime(entry.end);
    return entry.contact + "(" + from + " - " + to + ")";
}

std::string LowerCase(std::string text) {
    if (!text.empty()) CharLowerBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

} // namespace

std::string FormatDateOnly(double date) { return FormatDate(date, VAR_DATEVALUEONLY); }
std::string FormatTimeOnly(double date) { return FormatDate(date, VAR_TIMEVALUEONLY); }
std::string FormatDateTime(double date) { return FormatDate(date, 0); }

std::vector<LogTreeGroup> BuildLogTree(const std::vector<LogEntry>& index,
                                       const std::map<std::string, std::string>& friendlyNames, LogGrouping grouping) {
    std::vector<LogTreeGroup> groups;
    if (grouping == LogGrouping::kByDate) {
        std::map<Day, std::vector<const LogEntry*>> days;
        for (const LogEntry& entry : index) days[DayOf(entry.start)].push_back(&entry);
        for (auto day = days.rbegin(); day != days.rend(); ++day) {
            LogTreeGroup group;
            group.group = {DayText(day->first), kImageDay, 0};
            group.key = group.group.text;
            for (const LogEntry* entry : day->second)
                group.conversations.push_back({DatedItemText(*entry), kImageConversation, entry->number});
            groups.push_back(std::move(group));
        }
        return groups;
    }

    std::map<std::string, std::vector<const LogEntry*>> contacts;
    for (const LogEntry& entry : index) contacts[entry.contact].push_back(&entry);
    for (const auto& contact : contacts) {
        const auto listed = friendlyNames.find(contact.first);
        LogTreeGroup group;
        group.key = contact.first;
        group.group = {listed != friendlyNames.end() ? listed->second : contact.first, kImageConversation, 0};
        for (const LogEntry* entry : contact.second)
            group.conversations.push_back(
                {FormatDateTime(entry->start) + " - " + FormatDateTime(entry->end), kImageDay, entry->number});
        groups.push_back(std::move(group));
    }
    std::stable_sort(groups.begin(), groups.end(), [](const LogTreeGroup& a, const LogTreeGroup& b) {
        return LowerCase(a.group.text) < LowerCase(b.group.text);
    });
    return groups;
}

} // namespace parleym

#pragma once
// Accumulated online duration as the statistics store keeps it: whole days
// plus a time of day that always stays within 0:00:00-23:59:59.
#include <cstdint>
#include <string>

namespace parleym {

struct OnlineTime {
    std::int32_t days = 0;
    std::uint8_t hours = 0;
    std::uint8_t minutes = 0;
    std::uint8_t seconds = 0;
};

// Adds a span given in days (the difference of two OLE dates), rounded to the
// nearest second. Spans below zero (clock set back) add nothing.
void AddSpan(OnlineTime& total, double spanDays);

// The duration in days, as used for shares of online time.
double InDays(const OnlineTime& time);

// part as a percentage of whole; 0 when whole is zero (a fresh or reset account).
double SharePercent(const OnlineTime& part, const OnlineTime& whole);

// "1 day 02:03:04", "3 days 00:00:10", " 00:05:07" (no days: leading blank).
std::string FormatOnlineTime(const OnlineTime& time);

} // namespace parleym

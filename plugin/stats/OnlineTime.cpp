#include "plugin/stats/OnlineTime.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace parleym {

namespace {
constexpr double kSecondsPerDay = 86400.0;
constexpr double kHalfSecondInDays = 0.5 / kSecondsPerDay;
} // namespace

void AddSpan(OnlineTime& total, double spanDays) {
    // Whole seconds first: splitting a span of one day minus rounding noise
    // into days and time of day separately would lose the whole day.
    if (!(spanDays > 0.0)) return;
    const double rounded = std::floor((spanDays + kHalfSecondInDays) * kSecondsPerDay);
    if (rounded < 1.0) return;
    constexpr double kMaxSeconds = double(std::numeric_limits<std::int32_t>::max()) * kSecondsPerDay;
    const std::int64_t added = static_cast<std::int64_t>(rounded < kMaxSeconds ? rounded : kMaxSeconds);

    // Fields loaded from a file may be out of range; normalise them fully.
    std::int64_t secondsOfDay = std::int64_t(total.hours) * 3600 + std::int64_t(total.minutes) * 60 +
                                std::int64_t(total.seconds) + added % 86400;
    std::int64_t days = std::int64_t(total.days) + added / 86400 + secondsOfDay / 86400;
    secondsOfDay %= 86400;
    constexpr std::int64_t kMaxDays = std::numeric_limits<std::int32_t>::max();
    if (days > kMaxDays) days = kMaxDays;
    total.days = static_cast<std::int32_t>(days);
    total.hours = static_cast<std::uint8_t>(secondsOfDay / 3600);
    total.minutes = static_cast<std::uint8_t>(secondsOfDay / 60 % 60);
    total.seconds = static_cast<std::uint8_t>(secondsOfDay % 60);
}

double InDays(const OnlineTime& time) {
    return time.days + time.hours / 24.0 + time.minutes / 1440.0 + time.seconds / kSecondsPerDay;
}

double SharePercent(const OnlineTime& part, const OnlineTime& whole) {
    const double total = InDays(whole);
    if (!(total > 0.0)) return 0.0;
    return InDays(part) * 100.0 / total;
}

std::string FormatOnlineTime(const OnlineTime& time) {
    char buffer[64];
    if (time.days == 1)
        std::snprintf(buffer, sizeof buffer, "1 day %02d:%02d:%02d", time.hours, time.minutes, time.seconds);
    else if (time.days != 0)
        std::snprintf(buffer, sizeof buffer, "%d days %02d:%02d:%02d", static_cast<int>(time.days), time.hours,
                      time.minutes, time.seconds);
    else
        std::snprintf(buffer, sizeof buffer, " %02d:%02d:%02d", time.hours, time.minutes, time.seconds);
    return buffer;
}

} // namespace parleym

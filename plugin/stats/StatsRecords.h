#pragma once
// What the statistics store remembers per account. Dates are OLE automation
// dates (days since 30 December 1899, local time).
#include <cstdint>
#include <string>
#include <vector>

#include "plugin/stats/OnlineTime.h"

namespace parleym {

enum StatsStatus : std::int32_t { kStatsOnline = 1, kStatsOffline = 2 };

struct StatsContact {
    std::int32_t number = 0;
    std::string signInName;
    std::int32_t status = kStatsOffline; // never stored; offline after loading
    OnlineTime onlineTime;
};

struct StatsPeriod {
    std::int32_t contactNumber = 0;
    double loginTime = 0.0;
    double logoutTime = 0.0;
};

struct StatsSession {
    double start = 0.0;
    double end = 0.0;
    std::vector<StatsPeriod> periods; // in the order they were opened
};

} // namespace parleym

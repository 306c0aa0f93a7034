#pragma once
// Statistics whose clock the test sets: `now` is an OLE date, a day in 2023
// to begin with.
#include "plugin/stats/StatsManager.h"

namespace storetest {

constexpr double kStatsFirstDay = 45000.0;

class ClockedStats : public parleym::CStatsManager {
public:
    explicit ClockedStats(parleym::StatsIdentity* self) : CStatsManager([self] { return *self; }) {}
    double now = kStatsFirstDay;

protected:
    double Now() const override { return now; }
};

} // namespace storetest

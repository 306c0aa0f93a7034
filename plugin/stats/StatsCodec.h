#pragma once
// Byte layout of the two per-account statistics streams, "users" (totals and
// contacts) and "sessions" (history).
#include <cstdint>
#include <vector>

#include "plugin/storage/BinaryCodec.h"
#include "plugin/stats/StatsRecords.h"

namespace parleym {

enum class StatsDecode {
    ok,
    // The data ends before its counts are satisfied (empty data included).
    shortData,
    // Impossible values (negative counts or lengths) or bytes after the last
    // record: not something this store writes.
    corrupt,
};

struct StatsUsers {
    OnlineTime ownTotal;
    std::vector<StatsContact> contacts; // in file order, duplicates kept
};

Bytes EncodeStatsUsers(const OnlineTime& ownTotal, const std::vector<const StatsContact*>& contacts);
Bytes EncodeStatsSessions(const std::vector<StatsSession>& sessions);

// On anything but ok the output holds nothing.
StatsDecode DecodeStatsUsers(const Bytes& data, StatsUsers& out);
StatsDecode DecodeStatsSessions(const Bytes& data, std::vector<StatsSession>& out);

} // namespace parleym

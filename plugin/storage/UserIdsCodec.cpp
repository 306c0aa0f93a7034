#include "plugin/storage/UserIdsCodec.h"

#include <unordered_set>

namespace parleym {

Bytes EncodeUserIds(const UserIdsRecord& record) {
    BinaryWriter out;
    out.PutInt32(record.lastUserId);
    out.PutInt32(static_cast<std::int32_t>(record.entries.size()));
    for (const UserIdEntry& entry : record.entries) {
        out.PutString(entry.name);
        out.PutInt32(entry.number);
    }
    return out.Take();
}

bool DecodeUserIds(const Bytes& data, UserIdsRecord& record) {
    BinaryReader in(data);
    UserIdsRecord decoded;
    std::int32_t count = 0;
    // An entry takes at least its name length and its number.
    if (!in.GetInt32(decoded.lastUserId) || !in.GetInt32(count) || !in.CountFits(count, 8)) return false;
    decoded.entries.resize(static_cast<std::size_t>(count));
    std::unordered_set<std::int32_t> numbers;
    for (UserIdEntry& entry : decoded.entries) {
        if (!in.GetString(entry.name) || !in.GetInt32(entry.number)) return false;
        // Two accounts in one storage would read and write each other's data.
        if (!numbers.insert(entry.number).second) return false;
    }
    record = std::move(decoded);
    return true;
}

} // namespace parleym

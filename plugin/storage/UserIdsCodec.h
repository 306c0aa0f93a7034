#pragma once
// Byte layout of the `userids` stream: last user id, count, then per account
// its sign-in name and number. Portable so it can be tested and fuzzed natively.
#include <cstdint>
#include <string>
#include <vector>

#include "plugin/storage/BinaryCodec.h"

namespace parleym {

struct UserIdEntry {
    std::string name;
    std::int32_t number = 0;
};

struct UserIdsRecord {
    std::int32_t lastUserId = 0;
    std::vector<UserIdEntry> entries;
};

Bytes EncodeUserIds(const UserIdsRecord& record);

// False when the data is shorter than its lengths and counts claim, or maps two
// accounts to one number; `record` is then left as it was.
bool DecodeUserIds(const Bytes& data, UserIdsRecord& record);

} // namespace parleym

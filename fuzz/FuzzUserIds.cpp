// Decodes arbitrary bytes as a `userids` stream; a decoded record must encode
// back to the bytes it was read from (up to trailing data).
#include <cstdlib>
#include <cstring>

#include "plugin/storage/UserIdsCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const parleym::Bytes input(data, data + size);
    parleym::UserIdsRecord record;
    if (!parleym::DecodeUserIds(input, record)) return 0;
    const parleym::Bytes again = parleym::EncodeUserIds(record);
    if (again.size() > size || std::memcmp(again.data(), data, again.size()) != 0) std::abort();
    return 0;
}

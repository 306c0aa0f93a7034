#include "plugin/logging/DigestMapCodec.h"

namespace parleym {

Bytes EncodeDigestMap(const DigestMap& digests) {
    BinaryWriter out;
    out.PutInt32(static_cast<std::int32_t>(digests.size()));
    for (const auto& pair : digests) {
        out.PutString(pair.first);
        out.PutString(pair.second);
    }
    return out.Take();
}

bool DecodeDigestMap(const Bytes& data, DigestMap& digests) {
    BinaryReader in(data);
    std::int32_t count = 0;
    // A pair takes at least its two length fields.
    if (!in.GetInt32(count) || !in.CountFits(count, 8)) return false;
    DigestMap decoded;
    for (std::int32_t i = 0; i < count; ++i) {
        std::string digest, key;
        if (!in.GetString(digest) || !in.GetString(key)) return false;
        decoded[digest] = key;
    }
    digests = std::move(decoded);
    return true;
}

} // namespace parleym

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
    if (!in.GetInt32(count)) return false;
    // The count is rewritten after each appended pair, so an interruption
    // leaves it one ahead of or behind the pairs: every complete pair counts,
    // and a pair cut short at the end is dropped.
    DigestMap decoded;
    while (!in.AtEnd()) {
        std::string digest, key;
        if (!in.GetString(digest) || !in.GetString(key)) break;
        decoded[digest] = key;
    }
    digests = std::move(decoded);
    return true;
}

} // namespace parleym

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

bool DecodeDigestMap(const Bytes& data, DigestMap& digests, bool* regular) {
    BinaryReader in(data);
    std::int32_t count = 0;
    if (!in.GetInt32(count)) return false;
    // The count is rewritten after each appended pair, so an interruption
    // leaves it one ahead of or behind the pairs: every complete pair counts,
    // and a pair cut short at the end is dropped.
    DigestMap decoded;
    bool unique = true;
    bool torn = false;
    std::string digest, key;
    while (!in.AtEnd()) {
        // A stream grown for an append that never got written reads as zeros,
        // that is as empty strings: the append's end, not a pair.
        if (!in.GetString(digest) || !in.GetString(key) || digest.empty() || key.empty()) {
            torn = true;
            break;
        }
        // Mostly written in order, so most pairs go in at the end.
        const std::size_t before = decoded.size();
        const auto placed = decoded.emplace_hint(decoded.end(), std::move(digest), key);
        if (decoded.size() == before) {
            // The later pair of a digest wins.
            placed->second = key;
            unique = false;
        }
    }
    if (regular) *regular = unique && !torn && count >= 0 && static_cast<std::size_t>(count) == decoded.size();
    digests = std::move(decoded);
    return true;
}

} // namespace parleym

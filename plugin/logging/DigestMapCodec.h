#pragma once
// Byte layout of objcache.dat's `md5map` stream: a count, then pairs of
// digest (32 lower-case hex characters) and decimal key, each length-prefixed.
#include <map>
#include <string>

#include "plugin/storage/BinaryCodec.h"

namespace parleym {

using DigestMap = std::map<std::string, std::string>;  // digest -> key

Bytes EncodeDigestMap(const DigestMap& digests);
// Keeps every complete pair whatever the count says; false (`digests` left as
// it was) only when not even the count is there. `regular` (when given) tells
// whether the data is exactly what EncodeDigestMap makes of the result, in
// some order of pairs: the count matches, no digest comes twice, nothing
// follows the last pair. Pairs may then be appended after it.
bool DecodeDigestMap(const Bytes& data, DigestMap& digests, bool* regular = nullptr);

} // namespace parleym

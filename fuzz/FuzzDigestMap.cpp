// Decodes arbitrary bytes as objcache.dat's digest map, then runs the emoticon
// conversions over text and references taken from the same bytes.
#include <cstdlib>

#include "plugin/logging/DigestMapCodec.h"
#include "plugin/logging/EmoticonCodes.h"
#include "plugin/storage/MessageContent.h"

using parleym::CMessageContent;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const parleym::Bytes input(data, data + size);
    parleym::DigestMap digests;
    if (parleym::DecodeDigestMap(input, digests)) {
        // Re-encoding may reorder pairs and merge duplicates, but it must decode to the same map.
        parleym::DigestMap again;
        if (!parleym::DecodeDigestMap(parleym::EncodeDigestMap(digests), again) || again != digests) std::abort();
    }
    // Every standard picture known, so codes in the text do get converted.
    for (const auto& entry : parleym::EmoticonTable()) digests.emplace(entry.digest, "2");
    parleym::BinaryReader in(data, size);
    CMessageContent content;
    if (!content.Decode(in)) {
        content.text.assign(reinterpret_cast<const char*>(data), size);
        content.AddObject(static_cast<std::int32_t>(size / 2), "13");
    }
    CMessageContent copy = content;
    parleym::ConvertCodesToObjects(copy, digests);
    if (copy.text.size() > content.text.size()) std::abort();
    parleym::ConvertObjectsToCodes(content);
    if (!content.objects.empty()) std::abort();
    return 0;
}

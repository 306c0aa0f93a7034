// Decodes arbitrary bytes as one message content record; what decodes must
// encode back to the bytes consumed.
#include <cstdlib>
#include <cstring>

#include "plugin/storage/MessageContent.h"

using parleym::CMessageContent;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    parleym::BinaryReader in(data, size);
    CMessageContent content;
    if (!content.Decode(in)) return 0;
    parleym::BinaryWriter out;
    content.Encode(out);
    if (out.Data().size() != in.Position() || std::memcmp(out.Data().data(), data, in.Position()) != 0)
        std::abort();
    return 0;
}

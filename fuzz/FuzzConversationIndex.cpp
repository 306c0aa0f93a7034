// Decodes arbitrary bytes as a conversation index; what decodes must encode
// back to the bytes it came from (dates compared bit for bit).
#include <cstdlib>
#include <cstring>

#include "plugin/logging/ConversationIndexCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const parleym::Bytes input(data, data + size);
    parleym::ConversationIndex index;
    if (!parleym::DecodeConversationIndex(input, index)) return 0;
    const parleym::Bytes again = parleym::EncodeConversationIndex(index);
    if (again.size() > size || std::memcmp(again.data(), data, again.size()) != 0) std::abort();
    return 0;
}

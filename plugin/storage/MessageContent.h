#pragma once
// Formatted message text plus the embedded objects it refers to (by character
// position and object-cache key): what logs and offline messages store.
// The data and its byte layout are portable; Write/Read over an IStream exist
// in the Windows build only.
#include <cstdint>
#include <string>
#include <vector>

#include "plugin/storage/BinaryCodec.h"

struct IStream;

namespace parleym {

struct MessageObjectRef {
    std::int32_t position = 0;  // character position of the placeholder
    std::string key;            // object-cache key
};

class CMessageContent {
public:
    CMessageContent() = default;
    CMessageContent(const CMessageContent&) = default;
    CMessageContent& operator=(const CMessageContent&) = default;
    virtual ~CMessageContent();

    void AddObject(std::int32_t position, const std::string& key);
    void Clear();

    // Layout: is-RTF, text (length + bytes), object count, per object its
    // position and key (length + bytes); all integers 32-bit little-endian.
    void Encode(BinaryWriter& out) const;
    // Replaces text, flag and objects only when the whole record is present.
    bool Decode(BinaryReader& in);

    // Stream forms, at the stream's current position. They return the failing
    // HRESULT; a record cut short reads as STG_E_READFAULT and leaves this
    // content unchanged. Read consumes exactly one record.
    long Write(IStream* stream) const;
    long Read(IStream* stream);

    std::string text;
    std::vector<MessageObjectRef> objects;
    std::int32_t isRtf = 1;  // 1: text is RTF written without objects; 0: plain text
};

} // namespace parleym

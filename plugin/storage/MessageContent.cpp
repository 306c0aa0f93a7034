#include "plugin/storage/MessageContent.h"

namespace parleym {

CMessageContent::~CMessageContent() = default;

void CMessageContent::AddObject(std::int32_t position, const std::string& key) {
    objects.push_back(MessageObjectRef{position, key});
}

void CMessageContent::Clear() {
    text.clear();
    objects.clear();
}

void CMessageContent::Encode(BinaryWriter& out) const {
    out.PutInt32(isRtf);
    out.PutString(text);
    out.PutInt32(static_cast<std::int32_t>(objects.size()));
    for (const MessageObjectRef& object : objects) {
        out.PutInt32(object.position);
        out.PutString(object.key);
    }
}

bool CMessageContent::Decode(BinaryReader& in) {
    std::int32_t rtf = 0;
    std::string decodedText;
    std::int32_t count = 0;
    // An object reference takes at least its position and its key length.
    if (!in.GetInt32(rtf) || !in.GetString(decodedText) || !in.GetInt32(count) || !in.CountFits(count, 8))
        return false;
    std::vector<MessageObjectRef> decodedObjects(static_cast<std::size_t>(count));
    for (MessageObjectRef& object : decodedObjects) {
        if (!in.GetInt32(object.position) || !in.GetString(object.key)) return false;
    }
    isRtf = rtf;
    text = std::move(decodedText);
    objects = std::move(decodedObjects);
    return true;
}

} // namespace parleym

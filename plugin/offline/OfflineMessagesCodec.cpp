#include "plugin/offline/OfflineMessagesCodec.h"

#include <cstdint>
#include <cstring>

namespace parleym {

namespace {
constexpr std::size_t kMinContactBlock = 4 + 4;    // name length, message count
constexpr std::size_t kMinMessage = 4 + 4 + 4;     // is-RTF, text length, object count

bool DecodeBlock(BinaryReader& reader, PendingMessages& out) {
    std::string name;
    std::int32_t count;
    if (!reader.GetString(name) || !reader.GetInt32(count) || !reader.CountFits(count, kMinMessage)) return false;
    // The name ends at its first zero byte, as the messenger's names do.
    name.resize(std::strlen(name.c_str()));
    OfflineMessageList messages;
    for (std::int32_t i = 0; i < count; ++i) {
        CMessageContent content;
        if (!content.Decode(reader)) return false;
        messages.push_back(std::move(content));
    }
    OfflineMessageList& list = out[name];
    list.splice(list.end(), messages);
    return true;
}
} // namespace

Bytes EncodeOfflineMessages(const PendingMessages& pending) {
    BinaryWriter writer;
    writer.PutInt32(static_cast<std::int32_t>(pending.size()));
    for (const auto& entry : pending) {
        writer.PutString(entry.first);
        writer.PutInt32(static_cast<std::int32_t>(entry.second.size()));
        for (const CMessageContent& message : entry.second) message.Encode(writer);
    }
    return writer.Take();
}

bool DecodeOfflineMessages(const Bytes& data, PendingMessages& out) {
    out.clear();
    // An account signed in and never signed out leaves its new stream empty.
    if (data.empty()) return true;
    BinaryReader reader(data);
    std::int32_t count;
    if (!reader.GetInt32(count) || !reader.CountFits(count, kMinContactBlock)) return false;
    PendingMessages decoded;
    for (std::int32_t i = 0; i < count; ++i) {
        if (!DecodeBlock(reader, decoded)) return false;
    }
    if (!reader.AtEnd()) return false;
    out = std::move(decoded);
    return true;
}

} // namespace parleym

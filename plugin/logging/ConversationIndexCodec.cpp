#include "plugin/logging/ConversationIndexCodec.h"

namespace parleym {

Bytes EncodeConversationIndex(const ConversationIndex& index) {
    BinaryWriter out;
    out.PutInt32(index.nextNumber);
    out.PutInt32(index.loggingEnabled);
    out.PutInt32(static_cast<std::int32_t>(index.entries.size()));
    for (const LogEntry& entry : index.entries) {
        out.PutDouble(entry.start);
        out.PutDouble(entry.end);
        out.PutString(entry.contact);
        out.PutInt32(entry.number);
    }
    return out.Take();
}

bool DecodeConversationIndex(const Bytes& data, ConversationIndex& index) {
    BinaryReader in(data);
    ConversationIndex decoded;
    std::int32_t count = 0;
    // An entry takes at least two dates, the contact's length and the number.
    if (!in.GetInt32(decoded.nextNumber) || !in.GetInt32(decoded.loggingEnabled) || !in.GetInt32(count) ||
        !in.CountFits(count, 24))
        return false;
    decoded.entries.resize(static_cast<std::size_t>(count));
    for (LogEntry& entry : decoded.entries) {
        if (!in.GetDouble(entry.start) || !in.GetDouble(entry.end) || !in.GetString(entry.contact) ||
            !in.GetInt32(entry.number))
            return false;
    }
    index = std::move(decoded);
    return true;
}

} // namespace parleym

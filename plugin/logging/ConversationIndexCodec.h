#pragma once
// The account's conversation index (`conversations` stream in the log file):
// next conversation number, logging switch, then one entry per logged
// conversation in order of creation. Portable for native tests and fuzzing.
#include <cstdint>
#include <string>
#include <vector>

#include "plugin/storage/BinaryCodec.h"

namespace parleym {

struct LogEntry {
    double start = 0;  // OLE automation dates, local time
    double end = 0;
    std::string contact;      // the other party's sign-in name
    std::int32_t number = 0;  // the conversation stream is named by it in decimal
};

struct ConversationIndex {
    std::int32_t nextNumber = 1;
    std::int32_t loggingEnabled = 1;
    std::vector<LogEntry> entries;
};

Bytes EncodeConversationIndex(const ConversationIndex& index);
// False when the data is shorter than its lengths and counts claim; `index`
// is then left as it was.
bool DecodeConversationIndex(const Bytes& data, ConversationIndex& index);

} // namespace parleym

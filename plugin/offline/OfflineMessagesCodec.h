#pragma once
// Byte layout of an account's "messages" stream: per contact its sign-in name
// and the messages waiting for it, each in the message content layout.
#include <list>
#include <map>
#include <string>

#include "plugin/storage/BinaryCodec.h"
#include "plugin/storage/MessageContent.h"

namespace parleym {

// Messages in the order they were added; a list so that handed-out elements stay put.
using OfflineMessageList = std::list<CMessageContent>;
// Keyed by the contact's sign-in name, compared case-sensitively.
using PendingMessages = std::map<std::string, OfflineMessageList>;

Bytes EncodeOfflineMessages(const PendingMessages& pending);

// Reads a whole stream; an empty one holds no messages. Fails (leaving `out` empty) on anything this store
// would not have written: a count or length beyond the data, a negative one,
// a record cut short, bytes after the last block. Blocks of one name are joined.
bool DecodeOfflineMessages(const Bytes& data, PendingMessages& out);

} // namespace parleym

#pragma once
// Where parleym-logs gets a data file's bytes from: the one place that reads
// the file itself. The bytes are the file as the plug-in would find it at its
// next open; a file whose save was cut short is to be seen here as it will
// be once that is undone (without writing anything).
#include <string>

#include "plugin/storage/BinaryCodec.h"

namespace parleym_logs {

// False with a reason when the file cannot be read. A save cut short (a hot
// `<path>-journal` beside it) is undone in memory; `note` then says so.
bool LoadFileBytes(const std::string& path, parleym::Bytes& bytes, std::string& note, std::string& error);

} // namespace parleym_logs

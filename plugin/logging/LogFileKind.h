#pragma once
// What a file offered as the logs file holds, found without changing it.
#include <string>

namespace parleym {

enum class LogFileKind {
    kMissing,     // no such file: the log store creates it
    kLogs,        // a logs file: used as it is
    kOther,       // anything else (other data files included): not ours to overwrite
    kUnreadable,  // exists but cannot be opened now (held, no access)
};

LogFileKind InspectLogFile(const std::string& path);

} // namespace parleym

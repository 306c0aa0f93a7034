#pragma once
// The commands of parleym-logs. Each prints to `out`, reports problems to
// `err` and returns the process's exit status: 0 done, 1 failed.
#include <cstdio>
#include <string>

namespace parleym_logs {

int ListCommand(const std::string& logs, std::FILE* out, std::FILE* err);
int ShowCommand(const std::string& logs, const std::string& account, const std::string& number, std::FILE* out,
                std::FILE* err);
int SearchCommand(const std::string& logs, const std::string& text, std::FILE* out, std::FILE* err);
int ExportCommand(const std::string& logs, const std::string& folder, bool text, std::FILE* out, std::FILE* err);

// objcache.dat in the folder of `logs`.
std::string ObjectCachePathFor(const std::string& logs);

} // namespace parleym_logs

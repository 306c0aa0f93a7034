#pragma once
// The commands of parleym-logs. Each prints UTF-8 to `out`, reports problems
// to `err` and returns the process's exit status: 0 done, 1 failed.
// `codePage` is the page of the file's text that names none; 0: the one the
// file's own rich text names, else Windows-1252.
#include <cstdio>
#include <string>

namespace parleym_logs {

int ListCommand(const std::string& logs, std::FILE* out, std::FILE* err, int codePage = 0);
int ShowCommand(const std::string& logs, const std::string& account, const std::string& number, std::FILE* out,
                std::FILE* err, int codePage = 0);
int SearchCommand(const std::string& logs, const std::string& text, std::FILE* out, std::FILE* err,
                  int codePage = 0);
int ExportCommand(const std::string& logs, const std::string& folder, bool text, std::FILE* out, std::FILE* err,
                  int codePage = 0);

// objcache.dat in the folder of `logs`.
std::string ObjectCachePathFor(const std::string& logs);

} // namespace parleym_logs

// Reads arbitrary bytes as a logs file the way parleym-logs does: every
// account, every conversation, and both kinds of export page.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "plugin/logging/LogExport.h"
#include "tools/parleym-logs/LogsReader.h"

using parleym::CMessageContent;
using parleym::LogEntry;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/parleym-fuzz-logs-" + std::to_string(getpid()) + ".dat";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return 0;
    if (size) std::fwrite(data, 1, size, file);
    std::fclose(file);
    parleym_logs::LogsReader logs;
    std::string error;
    if (logs.Open(path, error)) {
        for (const parleym_logs::Account& account : logs.Accounts()) {
            for (const LogEntry& entry : account.index.entries) {
                CMessageContent content;
                if (!logs.Load(account, entry.number, content, error)) continue;
                const auto code = [](const std::string& key) { return key; };
                parleym::ConversationText(content, code);
                parleym::ConversationHtml(content, code, code);
                parleym_logs::FormatOleDate(entry.start);
            }
        }
    } else if (error.empty()) {
        std::fprintf(stderr, "no reason for %zu bytes\n", size);
        std::abort();  // a refusal always says why
    }
    std::remove(path.c_str());
    return 0;
}

// parleym-logs search over a large logs file, natively, next to its floor:
// opening the same file and reading every conversation's record.
//   bench_logs_cli [LOGS.DAT]   (else $PARLEYM_BENCH_LOGS)
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/BenchFigures.h"
#include "tools/parleym-logs/Commands.h"
#include "tools/parleym-logs/LogsReader.h"

using parleym::CMessageContent;
using parleym::LogEntry;

using namespace parleym_logs;

namespace {

std::size_t ReadEveryStream(const std::string& path) {
    LogsReader logs;
    std::string error;
    std::size_t bytes = 0;
    if (!logs.Open(path, error)) {
        std::printf("  floor open FAILED: %s\n", error.c_str());
        return 0;
    }
    for (const Account& account : logs.Accounts()) {
        for (const LogEntry& entry : account.index.entries) {
            CMessageContent content;
            if (!logs.Load(account, entry.number, content, error)) std::printf("  floor read FAILED: %s\n", error.c_str());
            bytes += content.text.size();
        }
    }
    return bytes;
}

} // namespace

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : std::getenv("PARLEYM_BENCH_LOGS");
    if (!path) {
        std::printf("bench_logs_cli: no logs file given (scripts/bench.sh makes one with make-bench-logs)\n");
        return 0;
    }
    std::FILE* sink = std::fopen("/dev/null", "w");
    if (!sink) return 1;
    int status = 0;
    std::size_t bytes = 0;
    const bench::Timing search = bench::Compare(
        [&] {
            if (SearchCommand(path, "LIGHTHOUSE", sink, stderr) != 0) status = 1;
        },
        [&] { bytes = ReadEveryStream(path); }, 5, 30000);
    std::fclose(sink);
    std::printf("%.1f MB of conversation text\n", static_cast<double>(bytes) / 1e6);
    bench::Table table("parleym-logs search, native; floor: open the file and read every conversation's record");
    table.Add("logs_cli_search", static_cast<long long>(bytes), search, 0, 2000);
    table.Print();
    return status;
}

// The log viewer's search over a large logs file, as the viewer runs it: in
// slices on one thread through the log store, first with nothing read yet,
// then again from the texts the first one kept.
//   bench_logsearch [LOGS.DAT]   (else $PARLEYM_BENCH_LOGS; scripts/bench.sh
//                                 makes the file with make-bench-logs)
// Floors: reading every conversation's record through the store, and
// one scan of the kept texts for the folded query.
#include <objbase.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/BenchFigures.h"
#include "plugin/core/UserMessage.h"
#include "plugin/logging/LogFindPane.h"
#include "plugin/logging/LogManager.h"
#include "plugin/logging/LogSearchRun.h"
#include "plugin/storage/StorageDb.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/StreamIO.h"

using parleym::ComPtr;
using parleym::ToElementName;
using parleym::CMessageContent;
using parleym::CLogManager;
using parleym::LogEntry;

namespace {

constexpr const char* kAccount = "me@parleym.example";
constexpr const char* kQuery = "LIGHTHOUSE";
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int PrintMessage(HWND, const char* text, const char* caption, UINT) {
    std::printf("message box: %s (%s)\n", text, caption);
    return IDOK;
}

struct Slices {
    double longest = 0;
    int count = 0;
    std::size_t matches = 0;
    std::size_t searched = 0;
};

// One search to its end in the viewer's slices.
Slices Search(CLogManager& store) {
    Slices slices;
    parleym::CLogSearchRun run(store, kQuery);
    bool done = false;
    while (!done) {
        const auto start = Clock::now();
        done = run.Step(parleym::CLogFindPane::kSliceMs);
        slices.longest = std::max(slices.longest, MsSince(start));
        ++slices.count;
    }
    slices.matches = run.Search().MatchCount();
    slices.searched = run.Search().Searched();
    return slices;
}

// The floor of a first search: every conversation's record read through the
// store and nothing more (the store holds the file exclusively). Also the
// longest a single one took.
double ReadEveryStream(CLogManager& store, const std::vector<LogEntry>& entries, std::size_t& bytes) {
    bytes = 0;
    double longest = 0;
    for (const LogEntry& entry : entries) {
        const auto start = Clock::now();
        CMessageContent content;
        if (store.LoadConversation(std::to_string(entry.number).c_str(), content) != S_OK) {
            std::printf("  floor read of %d FAILED\n", entry.number);
            continue;
        }
        bytes += content.text.size();
        longest = std::max(longest, MsSince(start));
    }
    return longest;
}

// The floor of a repeated search: the folded query looked for in texts that
// are folded already.
std::size_t ScanKept(const std::vector<std::string>& folded, const std::string& query) {
    std::size_t found = 0;
    for (const std::string& text : folded)
        for (std::size_t at = text.find(query); at != std::string::npos; at = text.find(query, at + query.size()))
            ++found;
    return found;
}

} // namespace

int main(int argc, char** argv) {
    const char* given = argc > 1 ? argv[1] : std::getenv("PARLEYM_BENCH_LOGS");
    if (!given || GetFileAttributesA(given) == INVALID_FILE_ATTRIBUTES) {
        std::printf("bench_logsearch: no logs file given (scripts/bench.sh makes one with make-bench-logs)\n");
        return 0;
    }
    // The store rewrites the index when it lets go: work on a copy.
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string path = std::string(folder) + "parleym-bench-logsearch.dat";
    if (!CopyFileA(given, path.c_str(), FALSE)) {
        std::printf("bench_logsearch: cannot copy %s\n", given);
        return 1;
    }
    CoInitialize(nullptr);
    parleym::SetUserMessageSink(PrintMessage);
    int status = 0;
    {
        CLogManager store;
        const auto opening = Clock::now();
        if (!store.Open(path.c_str()) || !store.OpenAccount(kAccount)) {
            std::printf("bench_logsearch: cannot open %s\n", path.c_str());
            status = 1;
        } else {
            const double openMs = MsSince(opening);
            const std::vector<LogEntry> entries = store.Index();
            std::size_t bytes = 0;
            double longestRead = ReadEveryStream(store, entries, bytes);  // warms the file cache for both
            std::printf("%zu conversations, %.1f MB of text; the store opened the account in %.0f ms\n",
                        entries.size(), static_cast<double>(bytes) / 1e6, openMs);

            Slices first;
            const auto firstTiming = bench::Compare(
                [&] {
                    const Slices run = Search(store);
                    first.longest = std::max(first.longest, run.longest);
                    first.count = run.count;
                    first.matches = run.matches;
                    first.searched = run.searched;
                },
                [&] { longestRead = std::max(longestRead, ReadEveryStream(store, entries, bytes)); }, 3, 60000,
                [&] { store.TextCache().Clear(); });
            std::printf("first search: %zu matches of \"%s\" in %zu conversations, %d slices, longest %.1f ms\n",
                        first.matches, kQuery, first.searched, first.count, first.longest);

            // The cache full, as the last first search left it.
            Search(store);
            std::vector<std::string> folded;
            for (const LogEntry& entry : entries) {
                if (const std::string* text = store.TextCache().Find(entry.number)) {
                    folded.emplace_back();
                    parleym::FoldCase(*text, folded.back());
                }
            }
            const std::string query = parleym::TextQuery(kQuery).Folded();
            Slices again;
            std::size_t scanned = 0;
            const auto againTiming = bench::Compare([&] { again = Search(store); },
                                                    [&] { scanned = ScanKept(folded, query); }, 7, 20000);
            std::printf("repeated search: %zu matches (a plain scan finds %zu), %zu texts kept, %.1f MB\n",
                        again.matches, scanned, store.TextCache().Count(),
                        static_cast<double>(store.TextCache().Bytes()) / 1e6);
            if (again.matches != first.matches || scanned != first.matches) {
                std::printf("bench_logsearch: the searches disagree\n");
                status = 1;
            }

            bench::Table table("log search in the viewer's slices under Wine, floors: read every record / scan kept texts");
            const long long size = static_cast<long long>(entries.size());
            table.Add("logsearch_first", size, firstTiming, 0, 5000);
            table.Add("logsearch_longest_slice", size, bench::Timing{first.longest, longestRead, firstTiming.runs}, 0,
                      50);
            table.Add("logsearch_repeated", size, againTiming, 0, 300);
            table.Print();
        }
    }
    CoUninitialize();
    DeleteFileA(path.c_str());
    return status;
}

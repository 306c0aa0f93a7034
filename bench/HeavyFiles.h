#pragma once
// Data files at the sizes a long-used account reaches, laid out as the
// plug-in writes them. make-bench-files writes them natively once into a
// folder (scripts/bench.sh: build/bench-files) and the benchmarks under Wine
// copy them from there (PARLEYM_BENCH_FILES names the folder).
#include <cstddef>
#include <string>

namespace bench {

// The account of the heavy files: the in-process messenger's sign-in name.
constexpr char kHeavyAccount[] = "me@example.com";
constexpr int kHeavyConversations = 10000;
constexpr std::size_t kBigConversationBytes = 1024 * 1024;
constexpr int kStatsSessions = 1000;
constexpr int kStatsPeriods = 50;

// File names in the folder, keyed by size so that each is made once.
// logs.dat: kHeavyConversations conversations of a few lines of RTF, except
// conversation 1 which holds about kBigConversationBytes.
std::string HeavyLogsName();
// objcache.dat: `objects` pictures of about 1.5 KB and md5map naming them.
std::string HeavyObjectCacheName(int objects);
// stats.dat: kStatsSessions sessions, in each kStatsPeriods contacts coming online.
std::string HeavyStatsName();

// The file's path in the folder PARLEYM_BENCH_FILES names; empty (and said on
// standard output) when it is not there.
std::string HeavyFilePath(const std::string& name);

// The RTF of a conversation of about `bytes`, as the history control gives it.
std::string ConversationRtf(std::size_t bytes);
// The contact of conversation `number`.
std::string HeavyContact(int number);

} // namespace bench

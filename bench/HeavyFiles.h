#pragma once
// Data files at the sizes a long-used account reaches, written the way the
// plug-in lays them out, for the benchmarks that open them.
#include <string>

namespace bench {

constexpr char kHeavyAccount[] = "me@parleym.example";

// logs.dat with `conversations` conversations of the account (contacts in
// turn, ten a day), each a few lines of RTF, except conversation 1 which
// holds about `bigBytes` of RTF. Conversation 2 is a small one.
bool MakeLogFile(const std::string& path, int conversations, std::size_t bigBytes);
// The RTF of a conversation of about `bytes`, as the history control gives it.
std::string ConversationRtf(std::size_t bytes);

// objcache.dat with `objects` pictures of about 1.5 KB and md5map naming them.
bool MakeObjectCacheFile(const std::string& path, int objects);

// stats.dat with `sessions` sessions of the account, in each `periods`
// contacts coming online.
bool MakeStatsFile(const std::string& path, int sessions, int periods);

} // namespace bench

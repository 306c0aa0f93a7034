#pragma once
// A log search over the signed-in account's conversations, read from the log
// store a few at a time so the caller can spread it over the user-interface
// thread's idle moments. Texts already read come from the store's cache.
#include <cstddef>
#include <string>

#include "plugin/logging/LogSearch.h"

namespace parleym {

class CLogManager;

class CLogSearchRun {
public:
    // Searches every conversation the store's index lists now.
    CLogSearchRun(CLogManager& store, const std::string& queryUtf8);

    // Searches conversations until all are done or about `budgetMs` have passed
    // (one conversation is never split). True when the search is complete.
    bool Step(double budgetMs);
    bool Done() const { return search_.Done(); }
    const LogSearch& Search() const { return search_; }
    // Conversations answered from memory in this run.
    std::size_t FromCache() const { return fromCache_; }

private:
    CLogManager& store_;
    LogSearch search_;
    std::size_t fromCache_ = 0;
};

// Milliseconds on a monotonic clock with sub-millisecond resolution.
double MonotonicMs();

} // namespace parleym

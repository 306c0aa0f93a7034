#include "tests/support/SwallowedCheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "shared/SwallowedFailure.h"

namespace parleym::test {
namespace {

// Recording allocates nothing: some tests make every allocation fail while the
// entry point under test runs.
struct Entry {
    const char* where;
    char what[120];
};
constexpr std::size_t kKept = 32;
std::mutex g_mutex;
Entry g_entries[kKept];
std::size_t g_count = 0;

void Record(const char* where, const char* what) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_count < kKept) {
        g_entries[g_count].where = where;
        std::snprintf(g_entries[g_count].what, sizeof(g_entries[g_count].what), "%s", what);
    }
    ++g_count;
}

std::vector<std::string> Take(bool withWhat) {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::vector<std::string> taken;
    for (std::size_t i = 0; i < g_count && i < kKept; ++i)
        taken.push_back(withWhat ? std::string(g_entries[i].where) + ": " + g_entries[i].what
                                 : g_entries[i].where);
    if (g_count > kKept) taken.push_back("(and " + std::to_string(g_count - kKept) + " more)");
    g_count = 0;
    return taken;
}

class SwallowedCheck : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo&) override {
        for (const std::string& swallowed : Take(true)) ADD_FAILURE() << "swallowed in " << swallowed;
    }
};

const bool g_installed = [] {
    SetSwallowedSink(&Record);
    ::testing::UnitTest::GetInstance()->listeners().Append(new SwallowedCheck);
    return true;
}();

} // namespace

::testing::AssertionResult Swallowed(std::initializer_list<const char*> expected) {
    const std::vector<std::string> taken = Take(false);
    if (std::equal(taken.begin(), taken.end(), expected.begin(), expected.end()))
        return ::testing::AssertionSuccess();
    ::testing::AssertionResult failure = ::testing::AssertionFailure() << "swallowed:";
    for (const std::string& where : taken) failure << " [" << where << "]";
    return failure;
}

} // namespace parleym::test

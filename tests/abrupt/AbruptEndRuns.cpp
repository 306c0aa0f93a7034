#include "tests/abrupt/AbruptEndRuns.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>

namespace abrupt_test {

namespace {
int Runs() {
    const char* value = std::getenv("PARLEYM_ABRUPT_ENDS");
    const int runs = value ? std::atoi(value) : 0;
    return runs > 0 ? runs : 50;
}

unsigned Seed() {
    const char* value = std::getenv("PARLEYM_ABRUPT_SEED");
    return value && *value ? static_cast<unsigned>(std::strtoul(value, nullptr, 10))
                           : static_cast<unsigned>(std::time(nullptr));
}
// PARLEYM_ABRUPT_KEEP names a folder that outlives the test's scratch folder.
void KeepEndedFile(const std::string& ended, const std::string& store, int run) {
    const char* folder = std::getenv("PARLEYM_ABRUPT_KEEP");
    if (!folder || !*folder) return;
    std::string name = store;
    for (char& c : name)
        if (c == ' ') c = '-';
    const std::string kept = std::string(folder) + "\\" + name + "-run" + std::to_string(run) + ".dat";
    if (CopyFileA(ended.c_str(), kept.c_str(), FALSE)) std::printf("file as the end left it: %s\n", kept.c_str());
}
} // namespace

void ExpectNothingShown(const std::vector<storetest::ShownMessage>& shown) {
    EXPECT_TRUE(shown.empty()) << shown.front().caption << ": " << shown.front().text;
}

void RunAbruptEnds(const std::string& store, const std::string& childTest, const std::string& file,
                   unsigned maxDelayMs, const std::function<Found(const storetest::EndedChild&)>& check) {
    const int runs = Runs();
    const unsigned seed = Seed();
    std::mt19937 random(seed);
    std::uniform_int_distribution<unsigned> delay(0, maxDelayMs);
    int recovered = 0;
    int midSave = 0;
    int newFound = 0;
    std::size_t saves = 0;
    const DWORD started = GetTickCount();
    for (int run = 1; run <= runs; ++run) {
        const unsigned afterMs = delay(random);
        const storetest::EndedChild child = storetest::RunChildAndEnd(childTest, file, run, afterMs);
        ASSERT_TRUE(child.failure.empty()) << store << " run " << run << ": " << child.failure;
        ASSERT_TRUE(child.ended) << store << " run " << run << " exited by itself with " << child.exitCode;
        saves += child.completed.size();
        if (child.inFlight) ++midSave;
        // The file as the end left it, kept for a look when the check fails.
        const std::string ended = file + ".ended";
        CopyFileA(file.c_str(), ended.c_str(), FALSE);
        const Found found = check(child);
        if (::testing::Test::HasFailure()) KeepEndedFile(ended, store, run);
        ASSERT_FALSE(::testing::Test::HasFailure())
            << store << " run " << run << " ended after " << afterMs << " ms (seed " << seed << ")";
        ASSERT_NE(found, Found::failed);
        if (found == Found::inFlight) ++newFound;
        ++recovered;
    }
    std::printf("abrupt ends of the %s: %d tried, %d recovered; %zu saves "
                "completed, %d ended mid-save (%d of them already holding the new content); %.1f s, seed %u\n",
                store.c_str(), runs, recovered, saves, midSave, newFound, (GetTickCount() - started) / 1000.0,
                seed);
}

} // namespace abrupt_test

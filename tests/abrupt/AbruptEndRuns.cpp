#include "tests/abrupt/AbruptEndRuns.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <regex>

namespace abrupt_test {

namespace {
int salvaged = 0;

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
    if (shown.empty()) return;
    std::smatch counts;
    const std::regex recovered(
        R"(^The file .* was damaged\. [^0-9]*([0-9]+) of ([0-9]+) [^;]*; the damaged file was kept as )");
    const bool lossless = kLosslessSalvageAccepted && shown.size() == 1 && shown[0].caption == "Parleym" &&
                          std::regex_search(shown[0].text, counts, recovered) && counts[1] == counts[2] &&
                          shown[0].text.find("could not be read") == std::string::npos;
    EXPECT_TRUE(lossless) << shown[0].text;
    if (lossless) ++salvaged;
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
    salvaged = 0;
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
    std::printf("abrupt ends of the %s: %d tried, %d recovered (%d of them salvaged with nothing lost); %zu saves "
                "completed, %d ended mid-save (%d of them already holding the new content); %.1f s, seed %u\n",
                store.c_str(), runs, recovered, salvaged, saves, midSave, newFound, (GetTickCount() - started) / 1000.0,
                seed);
}

} // namespace abrupt_test

#pragma once
// The parent's side of the abrupt-end runs: a child saving in a loop is ended
// at random moments, and after each end the store is opened again with the
// real code and must hold every completed save (and may hold the one that
// was under way). Runs per store: PARLEYM_ABRUPT_ENDS (default 50); the
// moments come from PARLEYM_ABRUPT_SEED (default: the clock), printed so that
// a failing series can be repeated.
#include <functional>
#include <string>
#include <vector>

#include "tests/stats/StoreTestSupport.h"

namespace abrupt_test {

// What a store's check finds after one end.
enum class Found { old, inFlight, failed };

// `check` opens the store on `file` after each end, compares it with what the
// child reported (with gtest assertions) and keeps its own model up to date.
// Prints one line of figures; every run must be ended mid-loop and recovered.
void RunAbruptEnds(const std::string& store, const std::string& childTest, const std::string& file,
                   unsigned maxDelayMs, const std::function<Found(const storetest::EndedChild&)>& check);

// What the store's open after an end showed: nothing (an end leaves nothing
// to salvage and no message).
void ExpectNothingShown(const std::vector<storetest::ShownMessage>& shown);

} // namespace abrupt_test

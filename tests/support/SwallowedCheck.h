#pragma once
// Every test program records what the product's entry points catch and let go;
// a test that ends with any of it left fails.
#include <gtest/gtest.h>

#include <initializer_list>

namespace parleym::test {

// For a test that makes entry points throw on purpose: takes what they let go
// since the last call (so the test's end finds none) and checks it names
// `expected`, oldest first.
::testing::AssertionResult Swallowed(std::initializer_list<const char*> expected);

} // namespace parleym::test

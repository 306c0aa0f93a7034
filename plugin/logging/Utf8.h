#pragma once
// UTF-8, the form every text of the logs takes once read.
#include <cstddef>
#include <cstdint>
#include <string>

namespace parleym {

// Stands for a byte that starts no well-formed UTF-8 character.
constexpr std::uint32_t kNotUtf8 = 0xFFFFFFFFu;

// Appends one Unicode character (up to U+10FFFF) to `out` as UTF-8.
void AppendUtf8(std::string& out, std::uint32_t code);

// The character that starts at `at` (before text.size()) and its length in
// bytes; kNotUtf8 and length 1 for a byte that starts no well-formed one.
std::uint32_t DecodeUtf8(const std::string& text, std::size_t at, std::size_t& length);

} // namespace parleym

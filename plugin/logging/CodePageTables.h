#pragma once
// The code pages of builds without the Windows conversion functions, as
// tools/codepages/make_codepage_tables.py writes them into CodePageTables.cpp.
#include <cstddef>
#include <cstdint>

namespace parleym {

struct GeneratedCodePage {
    int page;
    std::uint16_t undefined;     // what a byte or pair the page lacks becomes
    const std::uint16_t* single; // 256 characters; 0 for lead bytes
    const std::uint8_t* leads;   // lead bytes, ascending; null for single-byte pages
    std::size_t leadCount;
    const std::uint16_t* pairs;  // per lead byte, the characters of trail bytes kFirstTrail..kLastTrail
};

constexpr unsigned kFirstTrail = 0x40;
constexpr unsigned kLastTrail = 0xFE;

extern const GeneratedCodePage kGeneratedCodePages[];
extern const std::size_t kGeneratedCodePageCount;

} // namespace parleym

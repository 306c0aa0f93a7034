#pragma once
// The compound-file layout as our own readers of it see it: constants of the
// header, the allocation tables and the directory, and little-endian fields.
#include <cstddef>
#include <cstdint>
#include <functional>

namespace parleym {

// Reads exactly `size` bytes at `offset`; false when it cannot.
using FileReader = std::function<bool(std::uint64_t offset, std::uint8_t* buffer, std::size_t size)>;

namespace cfb {

constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::size_t kHeaderFields = 512;
constexpr std::size_t kHeaderFatEntries = 109;
constexpr std::size_t kDirectoryEntry = 128;
constexpr std::uint32_t kFreeSector = 0xFFFFFFFFu;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFEu;
constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFAu;
constexpr std::uint32_t kNoEntry = 0xFFFFFFFFu;
constexpr std::uint8_t kStorageType = 1;
constexpr std::uint8_t kStreamType = 2;
constexpr std::uint8_t kRootStorageType = 5;
constexpr unsigned kMiniSectorShift = 6;
constexpr std::uint64_t kMiniSectorSize = 64;
constexpr std::uint64_t kMiniStreamCutoff = 4096;

// Directory entry fields.
constexpr std::size_t kNameLength = 64;
constexpr std::size_t kType = 66;
constexpr std::size_t kColour = 67;
constexpr std::size_t kLeft = 68;
constexpr std::size_t kRight = 72;
constexpr std::size_t kChild = 76;
constexpr std::size_t kClassId = 80;
constexpr std::size_t kStateBits = 96;
constexpr std::size_t kStart = 116;
constexpr std::size_t kSize = 120;

inline std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// The header fields both readers use, taken from the first 512 bytes.
struct Header {
    unsigned sectorShift = 0;
    std::uint32_t fatCount = 0;
    std::uint32_t directoryStart = 0;
    std::uint32_t miniFatStart = 0;
    std::uint32_t difatStart = 0;
    std::uint32_t difatCount = 0;
    const std::uint8_t* headerFat = nullptr;  // 109 entries, inside the bytes given to Parse
    std::size_t SectorSize() const { return std::size_t{1} << sectorShift; }
};

// False when the fields are not those of a file we can read (sector size,
// byte order, mini sectors, cutoff).
inline bool ParseHeader(const std::uint8_t* bytes, Header& header) {
    const unsigned shift = Le16(bytes + 30);
    if ((shift != 9 && shift != 12) || Le16(bytes + 28) != 0xFFFE || Le16(bytes + 32) != kMiniSectorShift ||
        Le32(bytes + 56) != kMiniStreamCutoff)
        return false;
    header.sectorShift = shift;
    header.fatCount = Le32(bytes + 44);
    header.directoryStart = Le32(bytes + 48);
    header.miniFatStart = Le32(bytes + 60);
    header.difatStart = Le32(bytes + 68);
    header.difatCount = Le32(bytes + 72);
    header.headerFat = bytes + 76;
    return true;
}

// A stream's size; files with small sectors keep only the low half.
inline std::uint64_t EntrySize(const std::uint8_t* entry, std::size_t sectorSize) {
    std::uint64_t size = Le32(entry + kSize);
    if (sectorSize > kHeaderFields) size |= static_cast<std::uint64_t>(Le32(entry + kSize + 4)) << 32;
    return size;
}

} // namespace cfb
} // namespace parleym

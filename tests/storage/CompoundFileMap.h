#pragma once
// Compound files for the tests of our own readers of them: a writer of sound
// files with a tree of storages and streams, and a map of a sound file (ours
// or one the real stores wrote) that tells where each table entry, directory
// entry and stream byte lies, so that a test can spoil exactly one of them.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "plugin/storage/BinaryCodec.h"

namespace cfbtest {

constexpr std::uint32_t kFree = 0xFFFFFFFFu;
constexpr std::uint32_t kEnd = 0xFFFFFFFEu;

struct Node {
    std::string name;
    bool storage = false;
    parleym::Bytes data;
    std::vector<Node> children;
    std::array<std::uint8_t, 16> classId{};
};
Node Stream(const std::string& name, parleym::Bytes data);
Node Stream(const std::string& name, const std::string& text);
Node Storage(const std::string& name, std::vector<Node> children);

// A sound file holding the root's children; each storage's children form a
// balanced tree of left and right links, as the platform's files do.
parleym::Bytes WriteCompoundFile(const Node& root, unsigned sectorShift = 9);

void Put32(parleym::Bytes& file, std::size_t at, std::uint32_t value);
std::uint32_t Get32(const parleym::Bytes& file, std::size_t at);

class CompoundFileMap {
public:
    // `file` must be sound; paths name elements as "1/conversations" ("" is the root).
    explicit CompoundFileMap(const parleym::Bytes& file);

    std::size_t SectorSize() const { return sectorSize_; }
    std::size_t SectorOffset(std::uint32_t sector) const { return (sector + 1) * sectorSize_; }
    std::uint32_t Entry(const std::string& path) const;  // its index in the directory
    std::size_t EntryOffset(std::uint32_t index) const;
    std::size_t EntryOffset(const std::string& path) const { return EntryOffset(Entry(path)); }
    // Where the table entry naming the sector after `sector` lies.
    std::size_t FatEntry(std::uint32_t sector) const;
    std::size_t MiniFatEntry(std::uint32_t sector) const;
    // A stream's sectors, small ones for a stream under 4096 bytes.
    std::vector<std::uint32_t> Chain(const std::string& path) const;
    bool IsSmall(const std::string& path) const;
    // Where byte `position` of the stream lies in the file.
    std::size_t StreamByte(const std::string& path, std::size_t position) const;
    const std::vector<std::uint32_t>& DirectorySectors() const { return directory_; }
    const std::vector<std::uint32_t>& MiniStreamSectors() const { return miniStream_; }

private:
    std::vector<std::uint32_t> Follow(std::uint32_t start, const std::vector<std::uint32_t>& table) const;

    parleym::Bytes file_;
    std::size_t sectorSize_;
    std::vector<std::uint32_t> fatSectors_, fat_, directory_, miniFatSectors_, miniFat_, miniStream_;
};

} // namespace cfbtest

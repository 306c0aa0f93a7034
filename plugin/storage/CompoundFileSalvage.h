#pragma once
// What can still be read of a compound file that failed the check
// (CompoundFileCheck), read by plain code of our own: the platform's
// compound-file code can loop forever on such a file. Nothing is written.
//
// The directory is walked the way an abrupt end in the middle of a change
// can leave it. An entry is attributed to a storage only where links say
// so: a storage's child link leads into a group of siblings joined by their
// left and right links, also through a free entry whose links are still
// there. A link to a free entry leads nowhere; siblings that hung below a
// free entry whose links were wiped, and a group that no storage's link or
// more than one leads to, are "unattached": their parent is not known, and
// the caller decides whether the file's layout still names it. A stream is
// whole only when every sector its size needs lies inside the file in one
// intact chain: each sector allocated, no loop, no sector that a table, the
// directory or another stream also claims (a reachable stream keeps a
// sector an unattached one claims too).
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "plugin/storage/BinaryCodec.h"
#include "plugin/storage/CompoundFileFormat.h"

namespace parleym {

struct SalvagedElement {
    std::u16string name;
    bool storage = false;
    std::array<std::uint8_t, 16> classId{};
    std::uint64_t size = 0;              // streams
    bool whole = false;                  // streams: ReadStream gives all of it
    std::vector<std::size_t> children;   // storages: indexes into Elements()
    bool attached = false;               // below the root, not in an unattached group
};

class CompoundFileSalvage {
public:
    static constexpr std::size_t kRoot = 0;

    // Reads the header, the tables and the directory. False when there is no
    // root to start from (no signature, a header that is not one, no readable
    // directory sector, a first entry that is not the root).
    bool Load(std::uint64_t fileSize, FileReader read);

    // Elements()[kRoot] is the root; the rest hang below it or below an
    // unattached group's members.
    const std::vector<SalvagedElement>& Elements() const { return elements_; }
    // Each group: siblings of one storage that is not known.
    const std::vector<std::vector<std::size_t>>& Unattached() const { return unattached_; }

    // The whole stream's bytes; false for a stream that is not whole, or when
    // the file can no longer be read.
    bool ReadStream(std::size_t element, Bytes& data) const;

private:
    struct Chain {
        bool mini = false;
        std::vector<std::uint32_t> sectors;
    };

    void LoadFat(const cfb::Header& header);
    std::vector<std::uint32_t> SystemChain(std::uint32_t start, std::uint64_t limit);
    bool ReadDirectory(const cfb::Header& header);
    void LoadMiniStream(const cfb::Header& header);
    void BuildTree();
    void WalkStreams();
    bool WalkStream(std::size_t element, std::uint32_t id, bool attached);
    bool ReadSector(std::uint32_t sector, std::uint8_t* buffer, std::size_t size, std::size_t at = 0) const;

    FileReader read_;
    std::uint64_t fileSize_ = 0;
    std::size_t sectorSize_ = 0;
    std::uint64_t sectors_ = 0;            // whole sectors inside the file
    std::vector<std::uint32_t> fat_;       // per sector inside the file; kUnknown where no table says
    std::vector<std::uint32_t> owner_;     // per sector: 0 free to claim, 1 tables and directory, else a stream's id
    std::vector<std::uint8_t> directory_;
    std::vector<std::uint32_t> miniFat_;
    std::vector<std::uint32_t> miniOwner_;
    std::vector<std::uint32_t> miniStream_;  // the mini stream's sectors, as far as they are intact
    std::uint64_t miniSectors_ = 0;          // small sectors that lie inside both its size and those sectors
    std::vector<SalvagedElement> elements_;
    std::vector<std::uint32_t> elementEntries_;  // directory entry of each element
    std::vector<std::vector<std::size_t>> unattached_;
    std::vector<Chain> chains_;                  // per element
    std::vector<std::uint8_t> contested_;        // per element
};

} // namespace parleym

#include "plugin/storage/CompoundFileCheck.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace parleym {

namespace {

using namespace cfb;

// Unwanted bytes read between two wanted sectors rather than reading twice,
// and the longest single read.
constexpr std::uint64_t kMaxGapBytes = 32 * 1024;
constexpr std::uint64_t kMaxReadBytes = 1024 * 1024;

// One allocation table held in memory: entry i names the sector after i.
// `used` marks the sectors some chain already took, so that a loop, or two
// chains sharing a sector, is seen the second time a sector comes up.
struct Table {
    std::vector<std::uint32_t> next;
    std::vector<bool> used;
    std::uint64_t sectors = 0; // sectors that exist for this table
};

class Checker {
public:
    Checker(std::uint64_t fileSize, const FileReader& read, const StreamNameVisitor& streamNames)
        : fileSize_(fileSize), read_(read), streamNames_(streamNames) {}

    CompoundFileFault Run() {
        if (fileSize_ == 0) return CompoundFileFault::empty;
        std::uint8_t header[kHeaderFields];
        const std::size_t present = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize_, kHeaderFields));
        if (!read_(0, header, present)) return CompoundFileFault::unreadable;
        // A file cut inside its signature still starts like one.
        if (std::memcmp(header, kSignature, std::min(present, sizeof kSignature)) != 0)
            return CompoundFileFault::notCompoundFile;
        Header fields;
        if (present < kHeaderFields || !ParseHeader(header, fields)) return CompoundFileFault::badHeader;
        sectorSize_ = fields.SectorSize();
        // The header takes the whole first sector.
        if (fileSize_ < sectorSize_) return CompoundFileFault::badHeader;
        fat_.sectors = std::min<std::uint64_t>((fileSize_ - sectorSize_) / sectorSize_, kMaxRegularSector + 1ull);
        entriesPerSector_ = sectorSize_ / 4;

        CompoundFileFault fault = ListFatSectors(fields);
        if (fault != CompoundFileFault::none) return fault;
        fault = LoadFat();
        if (fault != CompoundFileFault::none) return fault;

        fault = WalkChain(fat_, fields.directoryStart, 0, CompoundFileFault::directoryOutside, &directorySectors_);
        if (fault != CompoundFileFault::none) return fault;
        if (directorySectors_.empty()) return CompoundFileFault::directoryOutside;
        if (fields.miniFatStart != kEndOfChain && fields.miniFatStart != kFreeSector) {
            fault = WalkChain(fat_, fields.miniFatStart, 0, CompoundFileFault::miniFatOutside, &miniFatSectors_);
            if (fault != CompoundFileFault::none) return fault;
        }
        if (!ReadSectors(directorySectors_, directory_)) return CompoundFileFault::unreadable;
        entryCount_ = directory_.size() / kDirectoryEntry;
        fault = CheckRootEntry();
        if (fault != CompoundFileFault::none) return fault;
        fault = LoadMiniFat(miniFatSectors_);
        if (fault != CompoundFileFault::none) return fault;
        return CheckTree();
    }

private:
    std::uint64_t SectorOffset(std::uint32_t sector) const { return (static_cast<std::uint64_t>(sector) + 1) * sectorSize_; }

    bool ReadSector(std::uint32_t sector, std::uint8_t* buffer) { return read_(SectorOffset(sector), buffer, sectorSize_); }

    // The given sectors' bytes one after another into `out`. Tables and
    // directory lie scattered between the data of a file that grew a little
    // at a time, and each read of the platform costs far more than copying a
    // few sectors: sectors close to each other in the file are read at once,
    // with what lies between them, in reads of a bounded size.
    bool ReadSectors(const std::vector<std::uint32_t>& sectors, std::uint8_t* out) {
        if (sectors.empty()) return true;
        std::vector<std::size_t> order(sectors.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return sectors[a] < sectors[b]; });
        const std::uint64_t maxGap = std::max<std::uint64_t>(1, kMaxGapBytes / sectorSize_);
        const std::uint64_t maxSpan = std::max<std::uint64_t>(1, kMaxReadBytes / sectorSize_);
        std::vector<std::uint8_t> span;
        for (std::size_t first = 0; first < order.size();) {
            const std::uint64_t from = sectors[order[first]];
            std::size_t last = first;
            while (last + 1 < order.size()) {
                const std::uint64_t next = sectors[order[last + 1]];
                if (next - sectors[order[last]] > maxGap || next - from >= maxSpan) break;
                ++last;
            }
            const std::size_t length = static_cast<std::size_t>(sectors[order[last]] - from + 1) * sectorSize_;
            span.resize(length);
            if (!read_(SectorOffset(static_cast<std::uint32_t>(from)), span.data(), length)) return false;
            for (std::size_t i = first; i <= last; ++i)
                std::memcpy(out + order[i] * sectorSize_,
                            span.data() + static_cast<std::size_t>(sectors[order[i]] - from) * sectorSize_,
                            sectorSize_);
            first = last + 1;
        }
        return true;
    }

    bool ReadSectors(const std::vector<std::uint32_t>& sectors, std::vector<std::uint8_t>& bytes) {
        bytes.resize(sectors.size() * sectorSize_);
        return ReadSectors(sectors, bytes.data());
    }

    // A table's sectors as its entries, read straight into the entries' memory.
    bool ReadTable(const std::vector<std::uint32_t>& sectors, std::vector<std::uint32_t>& next) {
        next.resize(sectors.size() * entriesPerSector_);
        auto* bytes = reinterpret_cast<std::uint8_t*>(next.data());
        if (!ReadSectors(sectors, bytes)) return false;
        for (std::size_t i = 0; i < next.size(); ++i) next[i] = Le32(bytes + 4 * i);
        return true;
    }

    bool Inside(std::uint32_t sector) const { return sector < fat_.sectors; }

    // Marks a sector that holds tables as taken; false when it already is.
    bool Take(std::uint32_t sector) {
        if (fat_.used[sector]) return false;
        fat_.used[sector] = true;
        return true;
    }

    // The allocation table's sectors: the first 109 named in the header, the
    // rest in a chain of sectors whose last entry names the next one. Each
    // must lie inside the file and be named once.
    CompoundFileFault ListFatSectors(const Header& header) {
        const std::uint32_t fatCount = header.fatCount;
        if (fatCount > fat_.sectors) return CompoundFileFault::fatOutside;
        fat_.used.assign(static_cast<std::size_t>(fat_.sectors), false);
        fatSectors_.reserve(fatCount);
        for (std::size_t i = 0; i < std::min<std::size_t>(fatCount, kHeaderFatEntries); ++i) {
            const std::uint32_t sector = Le32(header.headerFat + 4 * i);
            if (!Inside(sector) || !Take(sector)) return CompoundFileFault::fatOutside;
            fatSectors_.push_back(sector);
        }
        std::uint32_t next = header.difatStart;
        const std::uint32_t difatCount = header.difatCount;
        std::vector<std::uint8_t> sector(sectorSize_);
        for (std::uint32_t n = 0; fatSectors_.size() < fatCount; ++n) {
            if (n >= difatCount || !Inside(next) || !Take(next)) return CompoundFileFault::difatOutside;
            if (!ReadSector(next, sector.data())) return CompoundFileFault::unreadable;
            for (std::size_t i = 0; i + 1 < entriesPerSector_ && fatSectors_.size() < fatCount; ++i) {
                const std::uint32_t fat = Le32(sector.data() + 4 * i);
                if (!Inside(fat) || !Take(fat)) return CompoundFileFault::fatOutside;
                fatSectors_.push_back(fat);
            }
            next = Le32(sector.data() + sectorSize_ - 4);
        }
        return CompoundFileFault::none;
    }

    // Only the table sectors that describe sectors inside the file are read:
    // a link past them points outside the file anyway.
    CompoundFileFault LoadFat() {
        const std::uint64_t needed = (fat_.sectors + entriesPerSector_ - 1) / entriesPerSector_;
        std::vector<std::uint32_t> sectors(fatSectors_.begin(),
                                           fatSectors_.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(
                                                                     needed, fatSectors_.size())));
        if (!ReadTable(sectors, fat_.next)) return CompoundFileFault::unreadable;
        return CompoundFileFault::none;
    }

    // Follows a chain to its end; every sector must lie inside, be described
    // by the table and belong to no other chain (which also ends loops). The
    // chain must hold at least `minimum` sectors.
    static CompoundFileFault WalkChain(Table& table, std::uint32_t start, std::uint64_t minimum, CompoundFileFault fault,
                                       std::vector<std::uint32_t>* sectors) {
        std::uint64_t length = 0;
        for (std::uint32_t sector = start; sector != kEndOfChain; sector = table.next[sector]) {
            if (sector >= table.sectors || sector >= table.next.size() || table.used[sector]) return fault;
            table.used[sector] = true;
            if (sectors) sectors->push_back(sector);
            ++length;
        }
        return length >= minimum ? CompoundFileFault::none : fault;
    }

    const std::uint8_t* Entry(std::uint32_t index) const { return directory_.data() + index * kDirectoryEntry; }

    std::uint64_t EntrySize(const std::uint8_t* entry) const { return cfb::EntrySize(entry, sectorSize_); }

    // The root entry names the mini stream, which holds every small stream.
    CompoundFileFault CheckRootEntry() {
        const std::uint8_t* root = Entry(0);
        if (root[kType] != kRootStorageType) return CompoundFileFault::rootEntry;
        miniStreamSize_ = EntrySize(root);
        if (miniStreamSize_ == 0) return CompoundFileFault::none;
        return WalkChain(fat_, Le32(root + kStart), (miniStreamSize_ + sectorSize_ - 1) / sectorSize_,
                         CompoundFileFault::miniStreamOutside, nullptr);
    }

    CompoundFileFault LoadMiniFat(const std::vector<std::uint32_t>& sectors) {
        if (!ReadTable(sectors, mini_.next)) return CompoundFileFault::unreadable;
        mini_.sectors = (miniStreamSize_ + 63) >> kMiniSectorShift;
        mini_.used.assign(static_cast<std::size_t>(std::min<std::uint64_t>(mini_.sectors, mini_.next.size())), false);
        return CompoundFileFault::none;
    }

    // Every entry reachable from the root, each reached once; each storage's
    // children hang below it, each stream's chain is walked.
    CompoundFileFault CheckTree() {
        std::vector<bool> reached(entryCount_, false);
        reached[0] = true;
        std::vector<std::uint32_t> pending{Le32(Entry(0) + kChild)};
        while (!pending.empty()) {
            const std::uint32_t index = pending.back();
            pending.pop_back();
            if (index == kNoEntry) continue;
            if (index >= entryCount_ || reached[index]) return CompoundFileFault::directoryTree;
            reached[index] = true;
            const std::uint8_t* entry = Entry(index);
            const CompoundFileFault fault = CheckEntry(index);
            if (fault != CompoundFileFault::none) return fault;
            for (std::size_t field : {kLeft, kRight, kChild}) {
                if (field == kChild && entry[kType] != kStorageType) continue;
                pending.push_back(Le32(entry + field));
            }
        }
        return CompoundFileFault::none;
    }

    CompoundFileFault CheckEntry(std::uint32_t index) {
        const std::uint8_t* entry = Entry(index);
        // A name of at most 31 characters and its terminating zero.
        const std::uint16_t nameBytes = Le16(entry + kNameLength);
        if (nameBytes < 2 || nameBytes > 64 || nameBytes % 2 != 0 || Le16(entry + nameBytes - 2) != 0)
            return CompoundFileFault::directoryTree;
        if (entry[kType] == kStorageType) return CompoundFileFault::none;
        if (entry[kType] != kStreamType) return CompoundFileFault::directoryTree;
        if (streamNames_) {
            std::u16string name(nameBytes / 2 - 1, u'\0');
            for (std::size_t i = 0; i < name.size(); ++i) name[i] = static_cast<char16_t>(Le16(entry + 2 * i));
            streamNames_(name);
        }
        const std::uint64_t size = EntrySize(entry);
        const std::uint32_t start = Le32(entry + kStart);
        if (size == 0) return CheckEmptyStream(start);
        if (size >= kMiniStreamCutoff)
            return WalkChain(fat_, start, (size + sectorSize_ - 1) / sectorSize_, CompoundFileFault::streamChain,
                             nullptr);
        return WalkChain(mini_, start, (size + 63) >> kMiniSectorShift, CompoundFileFault::streamChain, nullptr);
    }

    // An empty stream owns no sectors, but a stream that grows follows
    // whatever its start names: that must not loop. A chain that leaves the
    // table only makes the growth fail, and some writers leave a start of 0
    // in empty streams, so neither counts here.
    CompoundFileFault CheckEmptyStream(std::uint32_t start) const {
        std::uint64_t steps = 0;
        for (std::uint32_t sector = start; sector < mini_.sectors && sector < mini_.next.size();
             sector = mini_.next[sector]) {
            if (++steps > mini_.next.size()) return CompoundFileFault::streamChain;
        }
        return CompoundFileFault::none;
    }

    const std::uint64_t fileSize_;
    const FileReader& read_;
    std::size_t sectorSize_ = 0;
    std::size_t entriesPerSector_ = 0;
    const StreamNameVisitor& streamNames_;
    std::vector<std::uint32_t> fatSectors_;
    std::vector<std::uint32_t> directorySectors_;
    std::vector<std::uint32_t> miniFatSectors_;
    Table fat_;
    Table mini_;
    std::uint64_t miniStreamSize_ = 0;
    std::vector<std::uint8_t> directory_;
    std::size_t entryCount_ = 0;
};

} // namespace

CompoundFileFault CheckCompoundFile(std::uint64_t fileSize, const FileReader& read,
                                    const StreamNameVisitor& streamNames) {
    return Checker(fileSize, read, streamNames).Run();
}

CompoundFileFault CheckCompoundFile(const Bytes& file) {
    const FileReader read = [&file](std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
        if (offset > file.size() || size > file.size() - offset) return false;
        std::memcpy(buffer, file.data() + offset, size);
        return true;
    };
    return CheckCompoundFile(file.size(), read);
}

} // namespace parleym

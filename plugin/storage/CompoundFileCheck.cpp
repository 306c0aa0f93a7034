#include "plugin/storage/CompoundFileCheck.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace parleym {

namespace {

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
constexpr std::uint64_t kMiniStreamCutoff = 4096;
// Unwanted bytes read between two wanted sectors rather than reading twice,
// and the longest single read.
constexpr std::uint64_t kMaxGapBytes = 32 * 1024;
constexpr std::uint64_t kMaxReadBytes = 1024 * 1024;

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// One allocation table held in memory: entry i names the sector after i.
// `used` marks the sectors some chain already took, so that a loop, or two
// chains sharing a sector, is seen the second time a sector comes up.
struct Table {
    std::vector<std::uint32_t> next;
    std::vector<bool> used;
    std::uint64_t sectors = 0; // sectors that exist for this table
};

// How a chain walked for repair ended. The platform writes the allocation
// table at once but keeps directory sectors and the newest mini-table sectors
// in memory a while, so an end can leave sizes behind or ahead of chains.
// `linkCut`: the chain reached a sector whose own entry is free (a shrink or
// growth cut short), or, in the mini table, a sector past the mini stream's
// recorded size but inside the sectors the mini stream holds (`spareSectors`:
// the mini stream grew, its new size not yet written); that sector is left out
// of `kept`. `endsShort`: the chain ended before it held as many sectors as
// the size needs (a shrink whose new size was not yet written, a growth whose
// link was not), mendable when `shortMendable`.
struct Walked {
    bool shortMendable = false;
    std::uint64_t spareSectors = 0;
    std::vector<std::uint32_t> kept;
    bool linkCut = false;
    bool endsShort = false;
    bool Cut() const { return linkCut || endsShort; }
};

bool IsFreeEntry(const std::uint8_t* entry) { return entry[66] == 0 && Le16(entry + 64) == 0; }

class Checker {
public:
    Checker(std::uint64_t fileSize, const FileReader& read, std::vector<CompoundFilePatch>* repairs = nullptr,
            bool unwrittenMiniTable = false, const StreamNameVisitor* streamNames = nullptr)
        : fileSize_(fileSize), read_(read), repairs_(repairs), unwrittenMiniTable_(unwrittenMiniTable),
          streamNames_(streamNames) {}

    CompoundFileFault Run() {
        if (fileSize_ == 0) return CompoundFileFault::empty;
        std::uint8_t header[kHeaderFields];
        const std::size_t present = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize_, kHeaderFields));
        if (!read_(0, header, present)) return CompoundFileFault::unreadable;
        // A file cut inside its signature still starts like one.
        if (std::memcmp(header, kSignature, std::min(present, sizeof kSignature)) != 0)
            return CompoundFileFault::notCompoundFile;
        if (present < kHeaderFields) return CompoundFileFault::badHeader;
        const unsigned shift = Le16(header + 30);
        if ((shift != 9 && shift != 12) || Le16(header + 28) != 0xFFFE || Le16(header + 32) != kMiniSectorShift ||
            Le32(header + 56) != kMiniStreamCutoff)
            return CompoundFileFault::badHeader;
        sectorSize_ = std::size_t{1} << shift;
        // The header takes the whole first sector.
        if (fileSize_ < sectorSize_) return CompoundFileFault::badHeader;
        fat_.sectors = std::min<std::uint64_t>((fileSize_ - sectorSize_) / sectorSize_, kMaxRegularSector + 1ull);
        entriesPerSector_ = sectorSize_ / 4;

        CompoundFileFault fault = ListFatSectors(header);
        if (fault != CompoundFileFault::none) return fault;
        fault = LoadFat();
        if (fault != CompoundFileFault::none) return fault;

        fault = WalkChain(fat_, Le32(header + 48), 0, CompoundFileFault::directoryOutside, &directorySectors_);
        if (fault != CompoundFileFault::none) return fault;
        if (directorySectors_.empty()) return CompoundFileFault::directoryOutside;
        const std::uint32_t miniFatStart = Le32(header + 60);
        if (miniFatStart != kEndOfChain && miniFatStart != kFreeSector) {
            fault = WalkChain(fat_, miniFatStart, 0, CompoundFileFault::miniFatOutside, &miniFatSectors_);
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
    CompoundFileFault ListFatSectors(const std::uint8_t* header) {
        const std::uint32_t fatCount = Le32(header + 44);
        if (fatCount > fat_.sectors) return CompoundFileFault::fatOutside;
        fat_.used.assign(static_cast<std::size_t>(fat_.sectors), false);
        fatSectors_.reserve(fatCount);
        for (std::size_t i = 0; i < std::min<std::size_t>(fatCount, kHeaderFatEntries); ++i) {
            const std::uint32_t sector = Le32(header + 76 + 4 * i);
            if (!Inside(sector) || !Take(sector)) return CompoundFileFault::fatOutside;
            fatSectors_.push_back(sector);
        }
        std::uint32_t next = Le32(header + 68);
        const std::uint32_t difatCount = Le32(header + 72);
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
    // chain must hold at least `minimum` sectors. With `walked`, a chain that
    // reaches a sector whose entry is free stops before it, and one that ends
    // short is kept as it is, instead of failing.
    static CompoundFileFault WalkChain(Table& table, std::uint32_t start, std::uint64_t minimum, CompoundFileFault fault,
                                       std::vector<std::uint32_t>* sectors, Walked* walked = nullptr) {
        std::uint64_t length = 0;
        for (std::uint32_t sector = start; sector != kEndOfChain; sector = table.next[sector]) {
            if (walked && sector >= table.sectors && sector < walked->spareSectors && !walked->kept.empty()) {
                walked->linkCut = true;
                return CompoundFileFault::none;
            }
            if (sector >= table.sectors || sector >= table.next.size() || table.used[sector]) return fault;
            if (walked && table.next[sector] == kFreeSector) {
                walked->linkCut = true;
                return CompoundFileFault::none;
            }
            table.used[sector] = true;
            if (sectors) sectors->push_back(sector);
            if (walked) walked->kept.push_back(sector);
            ++length;
        }
        if (length >= minimum) return CompoundFileFault::none;
        if (!walked || !walked->shortMendable) return fault;
        walked->endsShort = true;
        return CompoundFileFault::none;
    }

    void Patch(std::uint64_t offset, std::uint32_t value) { repairs_->push_back({offset, value}); }

    std::uint64_t TableEntryOffset(const std::vector<std::uint32_t>& tableSectors, std::uint32_t sector) const {
        return SectorOffset(tableSectors[sector / entriesPerSector_]) + 4 * (sector % entriesPerSector_);
    }

    std::uint64_t EntryFieldOffset(std::uint32_t index, std::size_t field) const {
        const std::size_t at = index * kDirectoryEntry;
        return SectorOffset(directorySectors_[at / sectorSize_]) + at % sectorSize_ + field;
    }

    void PatchSize(std::uint32_t index, std::uint64_t size) {
        Patch(EntryFieldOffset(index, 120), static_cast<std::uint32_t>(size));
        if (sectorSize_ > kHeaderFields) Patch(EntryFieldOffset(index, 124), static_cast<std::uint32_t>(size >> 32));
    }

    // Ends the chain of entry `index` before the free sector it ran into and
    // cuts the size to what it still owns. A stream of its own sectors left
    // with too few of them for its kind becomes empty, its sectors free.
    // (Sectors past the early end of a chain stay taken: they may be no one's.)
    std::uint64_t CutShort(std::uint32_t index, std::uint64_t size, const Walked& walked, bool ownSectors) {
        const std::vector<std::uint32_t>& tableSectors = ownSectors ? fatSectors_ : miniFatSectors_;
        const std::uint64_t owned = walked.kept.size() * (ownSectors ? sectorSize_ : std::size_t{1} << kMiniSectorShift);
        const bool streamTooSmall = index != 0 && ownSectors && owned < kMiniStreamCutoff;
        if (walked.kept.empty() || streamTooSmall) {
            for (std::uint32_t sector : walked.kept) Patch(TableEntryOffset(tableSectors, sector), kFreeSector);
            Patch(EntryFieldOffset(index, 116), kEndOfChain);
            PatchSize(index, 0);
            return 0;
        }
        if (walked.linkCut) Patch(TableEntryOffset(tableSectors, walked.kept.back()), kEndOfChain);
        if (size <= owned) return size;
        PatchSize(index, owned);
        return owned;
    }

    const std::uint8_t* Entry(std::uint32_t index) const { return directory_.data() + index * kDirectoryEntry; }

    std::uint64_t EntrySize(const std::uint8_t* entry) const {
        std::uint64_t size = Le32(entry + 120);
        // Files with small sectors keep only the low half of the size.
        if (sectorSize_ > kHeaderFields) size |= static_cast<std::uint64_t>(Le32(entry + 124)) << 32;
        return size;
    }

    // The root entry names the mini stream, which holds every small stream.
    CompoundFileFault CheckRootEntry() {
        const std::uint8_t* root = Entry(0);
        if (root[66] != kRootStorageType) return CompoundFileFault::rootEntry;
        miniStreamSize_ = EntrySize(root);
        if (miniStreamSize_ == 0) return CompoundFileFault::none;
        Walked walked;
        const CompoundFileFault fault =
            WalkChain(fat_, Le32(root + 116), (miniStreamSize_ + sectorSize_ - 1) / sectorSize_,
                      CompoundFileFault::miniStreamOutside, nullptr, repairs_ ? &walked : nullptr);
        if (walked.Cut()) miniStreamSize_ = CutShort(0, miniStreamSize_, walked, true);
        miniStreamChainSectors_ = walked.kept.size();
        return fault;
    }

    CompoundFileFault LoadMiniFat(const std::vector<std::uint32_t>& sectors) {
        if (!ReadTable(sectors, mini_.next)) return CompoundFileFault::unreadable;
        if (repairs_ && unwrittenMiniTable_) FreeUnwrittenMiniTableSectors();
        mini_.sectors = (miniStreamSize_ + 63) >> kMiniSectorShift;
        mini_.used.assign(static_cast<std::size_t>(std::min<std::uint64_t>(mini_.sectors, mini_.next.size())), false);
        return CompoundFileFault::none;
    }

    // The platform keeps the newest sectors of the mini table in memory: an
    // end before they are written leaves a sector the table just grew by all
    // zeros on the disk, where every entry would name the first small sector.
    // No sound table holds such a sector; its entries are free ones unwritten.
    void FreeUnwrittenMiniTableSectors() {
        for (std::size_t first = 0; first < mini_.next.size(); first += entriesPerSector_) {
            const auto begin = mini_.next.begin() + static_cast<std::ptrdiff_t>(first);
            const auto end = begin + static_cast<std::ptrdiff_t>(entriesPerSector_);
            if (!std::all_of(begin, end, [](std::uint32_t next) { return next == 0; })) continue;
            std::fill(begin, end, kFreeSector);
            for (std::size_t entry = first; entry < first + entriesPerSector_; ++entry)
                Patch(TableEntryOffset(miniFatSectors_, static_cast<std::uint32_t>(entry)), kFreeSector);
        }
    }

    // Every entry reachable from the root, each reached once; each storage's
    // children hang below it, each stream's chain is walked.
    CompoundFileFault CheckTree() {
        std::vector<bool> reached(entryCount_, false);
        reached[0] = true;
        struct Link {
            std::uint32_t index;
            std::uint64_t from; // where the link is written
        };
        std::vector<Link> pending{{Le32(Entry(0) + 76), 0}};
        if (repairs_) pending.back().from = EntryFieldOffset(0, 76);
        while (!pending.empty()) {
            const Link link = pending.back();
            pending.pop_back();
            const std::uint32_t index = link.index;
            if (index == kNoEntry) continue;
            if (repairs_ && index < entryCount_ && IsFreeEntry(Entry(index))) {
                Patch(link.from, kNoEntry);
                continue;
            }
            if (index >= entryCount_ || reached[index]) return CompoundFileFault::directoryTree;
            reached[index] = true;
            const std::uint8_t* entry = Entry(index);
            const CompoundFileFault fault = CheckEntry(index);
            if (fault != CompoundFileFault::none) return fault;
            for (std::size_t field : {68, 72, 76}) {
                if (field == 76 && entry[66] != kStorageType) continue;
                pending.push_back({Le32(entry + field), repairs_ ? EntryFieldOffset(index, field) : 0});
            }
        }
        return CompoundFileFault::none;
    }

    CompoundFileFault CheckEntry(std::uint32_t index) {
        const std::uint8_t* entry = Entry(index);
        // A name of at most 31 characters and its terminating zero.
        const std::uint16_t nameBytes = Le16(entry + 64);
        if (nameBytes < 2 || nameBytes > 64 || nameBytes % 2 != 0 || Le16(entry + nameBytes - 2) != 0)
            return CompoundFileFault::directoryTree;
        if (entry[66] == kStorageType) return CompoundFileFault::none;
        if (entry[66] != kStreamType) return CompoundFileFault::directoryTree;
        if (streamNames_ && *streamNames_) {
            std::u16string name(nameBytes / 2 - 1, u'\0');
            for (std::size_t i = 0; i < name.size(); ++i) name[i] = static_cast<char16_t>(Le16(entry + 2 * i));
            (*streamNames_)(name);
        }
        const std::uint64_t size = EntrySize(entry);
        const std::uint32_t start = Le32(entry + 116);
        if (size == 0) return CheckEmptyStream(start);
        const bool ownSectors = size >= kMiniStreamCutoff;
        Walked walked;
        walked.shortMendable = true;
        if (!ownSectors) walked.spareSectors = miniStreamChainSectors_ * (sectorSize_ >> kMiniSectorShift);
        const CompoundFileFault fault =
            ownSectors ? WalkChain(fat_, start, (size + sectorSize_ - 1) / sectorSize_, CompoundFileFault::streamChain,
                                   nullptr, repairs_ ? &walked : nullptr)
                       : WalkChain(mini_, start, (size + 63) >> kMiniSectorShift, CompoundFileFault::streamChain,
                                   nullptr, repairs_ ? &walked : nullptr);
        if (walked.Cut()) CutShort(index, size, walked, ownSectors);
        return fault;
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
    std::vector<CompoundFilePatch>* const repairs_;
    const bool unwrittenMiniTable_;
    const StreamNameVisitor* const streamNames_;
    std::vector<std::uint32_t> fatSectors_;
    std::vector<std::uint32_t> directorySectors_;
    std::vector<std::uint32_t> miniFatSectors_;
    Table fat_;
    Table mini_;
    std::uint64_t miniStreamSize_ = 0;
    std::uint64_t miniStreamChainSectors_ = 0;
    std::vector<std::uint8_t> directory_;
    std::size_t entryCount_ = 0;
};

} // namespace

CompoundFileFault CheckCompoundFile(std::uint64_t fileSize, const FileReader& read) {
    return Checker(fileSize, read).Run();
}

CompoundFileFault CheckCompoundFileForRepair(std::uint64_t fileSize, const FileReader& read,
                                             std::vector<CompoundFilePatch>& repairs,
                                             const StreamNameVisitor& streamNames) {
    repairs.clear();
    CompoundFileFault fault = Checker(fileSize, read, &repairs, false, &streamNames).Run();
    // Unwritten table sectors are only taken for such when nothing else mends the file.
    if (fault != CompoundFileFault::none) {
        repairs.clear();
        fault = Checker(fileSize, read, &repairs, true, &streamNames).Run();
    }
    if (fault == CompoundFileFault::none && !repairs.empty()) {
        // The repair only counts when the patched file passes in full.
        const FileReader patched = [&read, &repairs](std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
            if (!read(offset, buffer, size)) return false;
            for (const CompoundFilePatch& patch : repairs) {
                for (unsigned byte = 0; byte < 4; ++byte) {
                    const std::uint64_t at = patch.offset + byte;
                    if (at >= offset && at - offset < size)
                        buffer[at - offset] = static_cast<std::uint8_t>(patch.value >> (8 * byte));
                }
            }
            return true;
        };
        fault = Checker(fileSize, patched).Run();
    }
    if (fault != CompoundFileFault::none) repairs.clear();
    return fault;
}

void ApplyCompoundFilePatches(Bytes& file, const std::vector<CompoundFilePatch>& patches) {
    for (const CompoundFilePatch& patch : patches)
        for (unsigned byte = 0; byte < 4; ++byte)
            if (patch.offset + byte < file.size())
                file[static_cast<std::size_t>(patch.offset + byte)] = static_cast<std::uint8_t>(patch.value >> (8 * byte));
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

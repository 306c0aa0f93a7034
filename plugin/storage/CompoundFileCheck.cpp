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
constexpr std::uint8_t kRootStorageType = 5;

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

class Checker {
public:
    Checker(std::uint64_t fileSize, const FileReader& read) : fileSize_(fileSize), read_(read) {}

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
        if ((shift != 9 && shift != 12) || Le16(header + 28) != 0xFFFE) return CompoundFileFault::badHeader;
        sectorSize_ = std::size_t{1} << shift;
        // The header takes the whole first sector.
        if (fileSize_ < sectorSize_) return CompoundFileFault::badHeader;
        sectorCount_ = std::min<std::uint64_t>((fileSize_ - sectorSize_) / sectorSize_, kMaxRegularSector + 1ull);
        entriesPerSector_ = sectorSize_ / 4;

        CompoundFileFault fault = ListFatSectors(header);
        if (fault != CompoundFileFault::none) return fault;
        used_.assign(static_cast<std::size_t>(sectorCount_), false);

        std::uint64_t directoryLength = 0;
        fault = WalkChain(Le32(header + 48), CompoundFileFault::directoryOutside, directoryLength);
        if (fault != CompoundFileFault::none) return fault;
        if (directoryLength == 0) return CompoundFileFault::directoryOutside;
        const std::uint32_t miniFatStart = Le32(header + 60);
        if (miniFatStart != kEndOfChain && miniFatStart != kFreeSector) {
            std::uint64_t length = 0;
            fault = WalkChain(miniFatStart, CompoundFileFault::miniFatOutside, length);
            if (fault != CompoundFileFault::none) return fault;
        }
        return CheckRootEntry(Le32(header + 48));
    }

private:
    bool ReadSector(std::uint32_t sector, std::size_t at, std::uint8_t* buffer, std::size_t size) {
        return read_((static_cast<std::uint64_t>(sector) + 1) * sectorSize_ + at, buffer, size);
    }

    bool Inside(std::uint32_t sector) const { return sector < sectorCount_; }

    // The allocation table's sectors: the first 109 named in the header, the
    // rest in a chain of sectors whose last entry names the next one.
    CompoundFileFault ListFatSectors(const std::uint8_t* header) {
        const std::uint32_t fatCount = Le32(header + 44);
        if (fatCount > sectorCount_) return CompoundFileFault::fatOutside;
        fatSectors_.reserve(fatCount);
        for (std::size_t i = 0; i < std::min<std::size_t>(fatCount, kHeaderFatEntries); ++i) {
            const std::uint32_t sector = Le32(header + 76 + 4 * i);
            if (!Inside(sector)) return CompoundFileFault::fatOutside;
            fatSectors_.push_back(sector);
        }
        std::uint32_t next = Le32(header + 68);
        const std::uint32_t difatCount = Le32(header + 72);
        std::vector<std::uint8_t> sector(sectorSize_);
        for (std::uint32_t n = 0; fatSectors_.size() < fatCount; ++n) {
            if (n >= difatCount || n >= sectorCount_ || !Inside(next)) return CompoundFileFault::difatOutside;
            if (!ReadSector(next, 0, sector.data(), sectorSize_)) return CompoundFileFault::unreadable;
            for (std::size_t i = 0; i + 1 < entriesPerSector_ && fatSectors_.size() < fatCount; ++i) {
                const std::uint32_t fat = Le32(sector.data() + 4 * i);
                if (!Inside(fat)) return CompoundFileFault::fatOutside;
                fatSectors_.push_back(fat);
            }
            next = Le32(sector.data() + sectorSize_ - 4);
        }
        return CompoundFileFault::none;
    }

    // The allocation table's entry for `sector`; false when the table does
    // not reach it or the read fails.
    bool Next(std::uint32_t sector, std::uint32_t& next, bool& readFailed) {
        const std::uint64_t index = sector / entriesPerSector_;
        if (index >= fatSectors_.size()) return false;
        if (cachedIndex_ != index) {
            cached_.resize(sectorSize_);
            if (!ReadSector(fatSectors_[static_cast<std::size_t>(index)], 0, cached_.data(), sectorSize_)) {
                readFailed = true;
                return false;
            }
            cachedIndex_ = index;
        }
        next = Le32(cached_.data() + 4 * (sector % entriesPerSector_));
        return true;
    }

    // Follows a chain to its end; every sector must lie inside the file and
    // belong to no other chain (which also ends loops).
    CompoundFileFault WalkChain(std::uint32_t start, CompoundFileFault fault, std::uint64_t& length) {
        length = 0;
        for (std::uint32_t sector = start; sector != kEndOfChain;) {
            if (!Inside(sector) || used_[sector]) return fault;
            used_[sector] = true;
            ++length;
            bool readFailed = false;
            if (!Next(sector, sector, readFailed)) return readFailed ? CompoundFileFault::unreadable : fault;
        }
        return CompoundFileFault::none;
    }

    // The root entry names the mini stream, which holds every small stream.
    CompoundFileFault CheckRootEntry(std::uint32_t directoryStart) {
        std::uint8_t entry[kDirectoryEntry];
        if (!ReadSector(directoryStart, 0, entry, sizeof entry)) return CompoundFileFault::unreadable;
        if (entry[66] != kRootStorageType) return CompoundFileFault::rootEntry;
        std::uint64_t size = Le32(entry + 120);
        // Files with small sectors keep only the low half of the size.
        if (sectorSize_ > kHeaderFields) size |= static_cast<std::uint64_t>(Le32(entry + 124)) << 32;
        if (size == 0) return CompoundFileFault::none;
        std::uint64_t length = 0;
        const CompoundFileFault fault = WalkChain(Le32(entry + 116), CompoundFileFault::miniStreamOutside, length);
        if (fault != CompoundFileFault::none) return fault;
        return length * sectorSize_ < size ? CompoundFileFault::miniStreamOutside : CompoundFileFault::none;
    }

    const std::uint64_t fileSize_;
    const FileReader& read_;
    std::size_t sectorSize_ = 0;
    std::uint64_t sectorCount_ = 0;
    std::size_t entriesPerSector_ = 0;
    std::vector<std::uint32_t> fatSectors_;
    std::vector<bool> used_;
    std::vector<std::uint8_t> cached_;
    std::uint64_t cachedIndex_ = ~std::uint64_t{0};
};

} // namespace

CompoundFileFault CheckCompoundFile(std::uint64_t fileSize, const FileReader& read) {
    return Checker(fileSize, read).Run();
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

#include "plugin/storage/CompoundFileSalvage.h"

#include <algorithm>
#include <cstring>

namespace parleym {

namespace {

using namespace cfb;

// A sector that no readable table describes.
constexpr std::uint32_t kUnknown = 0xFFFFFFFBu;
// Owners of sectors: the tables, the directory and the mini stream; streams
// count from kFirstStreamId.
constexpr std::uint32_t kSystem = 1;
constexpr std::uint32_t kFirstStreamId = 2;
// No file of ours gets near this (32 GB in small sectors); the tables of a
// larger one are not held in memory.
constexpr std::uint64_t kMaxSectors = std::uint64_t{1} << 26;

bool Allocated(std::uint32_t next) { return next <= kMaxRegularSector || next == kEndOfChain; }

bool ValidName(const std::uint8_t* entry) {
    const std::uint16_t bytes = Le16(entry + kNameLength);
    return bytes >= 2 && bytes <= 64 && bytes % 2 == 0 && Le16(entry + bytes - 2) == 0;
}

std::u16string EntryName(const std::uint8_t* entry) {
    std::u16string name;
    const std::size_t length = Le16(entry + kNameLength) / 2;
    for (std::size_t i = 0; i + 1 < length && i < 32; ++i) {
        const char16_t c = static_cast<char16_t>(Le16(entry + 2 * i));
        if (c == 0) break;  // a name renamed shorter in place keeps its old length
        name.push_back(c);
    }
    return name;
}

enum class EntryKind : std::uint8_t { none, live, free };

EntryKind KindOf(const std::uint8_t* entry) {
    const std::uint8_t type = entry[kType];
    if ((type == kStorageType || type == kStreamType) && ValidName(entry) && entry[kColour] <= 1) return EntryKind::live;
    // Freed: the type and the name are gone, the links may not be.
    if (type == 0 && Le16(entry + kNameLength) == 0) return EntryKind::free;
    return EntryKind::none;
}

// Groups of entries joined by sibling links.
class Siblings {
public:
    explicit Siblings(std::size_t count) : parent_(count) {
        for (std::size_t i = 0; i < count; ++i) parent_[i] = static_cast<std::uint32_t>(i);
    }
    std::uint32_t Find(std::uint32_t i) {
        while (parent_[i] != i) {
            parent_[i] = parent_[parent_[i]];
            i = parent_[i];
        }
        return i;
    }
    void Join(std::uint32_t a, std::uint32_t b) {
        a = Find(a);
        b = Find(b);
        if (a != b) parent_[std::max(a, b)] = std::min(a, b);
    }

private:
    std::vector<std::uint32_t> parent_;
};

} // namespace

bool CompoundFileSalvage::ReadSector(std::uint32_t sector, std::uint8_t* buffer, std::size_t size,
                                     std::size_t at) const {
    const std::uint64_t offset = (static_cast<std::uint64_t>(sector) + 1) * sectorSize_ + at;
    if (offset > fileSize_ || size > fileSize_ - offset) return false;
    return read_(offset, buffer, size);
}

bool CompoundFileSalvage::Load(std::uint64_t fileSize, FileReader read) {
    read_ = std::move(read);
    fileSize_ = fileSize;
    elements_.clear();
    elementEntries_.clear();
    unattached_.clear();
    chains_.clear();
    contested_.clear();
    if (fileSize < kHeaderFields) return false;
    std::uint8_t header[kHeaderFields];
    if (!read_(0, header, sizeof header) || std::memcmp(header, kSignature, sizeof kSignature) != 0) return false;
    Header fields;
    if (!ParseHeader(header, fields)) return false;
    sectorSize_ = fields.SectorSize();
    if (fileSize < sectorSize_) return false;
    sectors_ = (fileSize - sectorSize_) / sectorSize_;
    if (sectors_ > kMaxSectors) return false;
    owner_.assign(static_cast<std::size_t>(sectors_), 0);
    LoadFat(fields);
    if (!ReadDirectory(fields)) return false;
    LoadMiniStream(fields);
    BuildTree();
    WalkStreams();
    return true;
}

// What the allocation tables say, wherever their sectors can be found; the
// rest stays unknown. Table sectors listed past those that describe the
// file's own sectors are not needed.
void CompoundFileSalvage::LoadFat(const Header& header) {
    fat_.assign(static_cast<std::size_t>(sectors_), kUnknown);
    const std::size_t perSector = sectorSize_ / 4;
    const std::uint64_t listed = std::min<std::uint64_t>(header.fatCount, (sectors_ + perSector - 1) / perSector);
    std::vector<std::uint32_t> tables;
    for (std::size_t i = 0; i < std::min<std::uint64_t>(listed, kHeaderFatEntries); ++i)
        tables.push_back(Le32(header.headerFat + 4 * i));
    std::vector<std::uint8_t> sector(sectorSize_);
    std::uint32_t next = header.difatStart;
    for (std::uint32_t n = 0; tables.size() < listed && n < header.difatCount; ++n) {
        if (next >= sectors_ || owner_[next] != 0 || !ReadSector(next, sector.data(), sectorSize_)) break;
        owner_[next] = kSystem;
        for (std::size_t i = 0; i + 1 < perSector && tables.size() < listed; ++i)
            tables.push_back(Le32(sector.data() + 4 * i));
        next = Le32(sector.data() + sectorSize_ - 4);
    }
    for (std::size_t t = 0; t < tables.size(); ++t) {
        const std::uint32_t at = tables[t];
        if (at >= sectors_ || owner_[at] != 0 || !ReadSector(at, sector.data(), sectorSize_)) continue;
        owner_[at] = kSystem;
        for (std::size_t i = 0; i < perSector; ++i) {
            const std::uint64_t described = t * perSector + i;
            if (described < sectors_) fat_[static_cast<std::size_t>(described)] = Le32(sector.data() + 4 * i);
        }
    }
}

// The directory's, the mini table's or the mini stream's sectors, as far as
// their chain stays intact; at most `limit` of them.
std::vector<std::uint32_t> CompoundFileSalvage::SystemChain(std::uint32_t start, std::uint64_t limit) {
    std::vector<std::uint32_t> chain;
    for (std::uint32_t sector = start; chain.size() < limit && sector < sectors_ && owner_[sector] == 0;) {
        const std::uint32_t next = fat_[sector];
        if (next != kUnknown && !Allocated(next)) break;  // freed, or a table's own sector
        owner_[sector] = kSystem;
        chain.push_back(sector);
        if (next == kEndOfChain || next == kUnknown) break;
        sector = next;
    }
    return chain;
}

bool CompoundFileSalvage::ReadDirectory(const Header& header) {
    directory_.clear();
    for (std::uint32_t sector : SystemChain(header.directoryStart, sectors_)) {
        const std::size_t at = directory_.size();
        directory_.resize(at + sectorSize_);
        if (!ReadSector(sector, directory_.data() + at, sectorSize_)) {
            directory_.resize(at);
            break;
        }
    }
    return !directory_.empty() && directory_[kType] == kRootStorageType;
}

void CompoundFileSalvage::LoadMiniStream(const Header& header) {
    miniFat_.clear();
    if (header.miniFatStart <= kMaxRegularSector) {
        std::vector<std::uint8_t> sector(sectorSize_);
        for (std::uint32_t at : SystemChain(header.miniFatStart, sectors_)) {
            if (!ReadSector(at, sector.data(), sectorSize_)) break;
            for (std::size_t i = 0; i < sectorSize_; i += 4) miniFat_.push_back(Le32(sector.data() + i));
        }
    }
    const std::uint64_t size = EntrySize(directory_.data(), sectorSize_);
    miniStream_.clear();
    if (size > 0) miniStream_ = SystemChain(Le32(directory_.data() + kStart), (size + sectorSize_ - 1) / sectorSize_);
    miniSectors_ = std::min<std::uint64_t>((size + kMiniSectorSize - 1) / kMiniSectorSize,
                                           miniStream_.size() * (sectorSize_ / kMiniSectorSize));
    miniSectors_ = std::min<std::uint64_t>(miniSectors_, miniFat_.size());
    miniOwner_.assign(static_cast<std::size_t>(miniSectors_), 0);
}

void CompoundFileSalvage::BuildTree() {
    const std::size_t count = directory_.size() / kDirectoryEntry;
    const auto entry = [this](std::size_t i) { return directory_.data() + i * kDirectoryEntry; };
    std::vector<EntryKind> kinds(count, EntryKind::none);
    for (std::size_t i = 1; i < count; ++i) kinds[i] = KindOf(entry(i));
    // A link names another entry; 0 is the root, which is nobody's sibling or child.
    const auto linked = [&](std::size_t from, std::size_t field, std::uint32_t& to) {
        to = Le32(entry(from) + field);
        return to != 0 && to < count && to != from && kinds[to] != EntryKind::none;
    };

    Siblings siblings(count);
    for (std::size_t i = 1; i < count; ++i) {
        if (kinds[i] == EntryKind::none) continue;
        std::uint32_t to = 0;
        for (std::size_t field : {kLeft, kRight})
            if (linked(i, field, to)) siblings.Join(static_cast<std::uint32_t>(i), to);
    }
    std::vector<std::vector<std::uint32_t>> parents(count);  // by group: storages whose child link leads there
    std::vector<std::vector<std::uint32_t>> members(count);  // by group: its live entries
    for (std::size_t i = 0; i < count; ++i) {
        const bool storage = i == 0 || (kinds[i] == EntryKind::live && entry(i)[kType] == kStorageType);
        std::uint32_t child = 0;
        if (storage && linked(i, kChild, child)) parents[siblings.Find(child)].push_back(static_cast<std::uint32_t>(i));
        if (i > 0 && kinds[i] == EntryKind::live) members[siblings.Find(static_cast<std::uint32_t>(i))].push_back(
            static_cast<std::uint32_t>(i));
    }

    std::vector<bool> groupPlaced(count, false);
    std::vector<bool> entryPlaced(count, false);
    const auto place = [&](std::uint32_t index, bool attached) {
        SalvagedElement element;
        const std::uint8_t* at = entry(index);
        element.name = EntryName(at);
        element.storage = index == 0 || at[kType] == kStorageType;
        std::memcpy(element.classId.data(), at + kClassId, element.classId.size());
        if (!element.storage) element.size = EntrySize(at, sectorSize_);
        element.attached = attached;
        entryPlaced[index] = true;
        elements_.push_back(std::move(element));
        elementEntries_.push_back(index);
        return elements_.size() - 1;
    };
    // Each storage placed gets the group its child link leads to, when no other storage's link leads there too.
    std::vector<std::size_t> storages;
    const auto fill = [&]() {
        while (!storages.empty()) {
            const std::size_t element = storages.back();
            storages.pop_back();
            const std::uint32_t index = elementEntries_[element];
            std::uint32_t child = 0;
            if (!linked(index, kChild, child)) continue;
            const std::uint32_t group = siblings.Find(child);
            if (groupPlaced[group] || parents[group].size() != 1 || parents[group][0] != index) continue;
            groupPlaced[group] = true;
            for (std::uint32_t member : members[group]) {
                if (entryPlaced[member]) continue;
                const std::size_t placed = place(member, elements_[element].attached);
                elements_[element].children.push_back(placed);
                if (elements_[placed].storage) storages.push_back(placed);
            }
        }
    };
    storages.push_back(place(0, true));
    fill();
    // Groups that no storage's link, or more than one, leads to; then any
    // whose one storage was never placed (links going round in a circle).
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t i = 1; i < count; ++i) {
            const std::uint32_t group = siblings.Find(static_cast<std::uint32_t>(i));
            if (groupPlaced[group] || members[group].empty() || (pass == 0 && parents[group].size() == 1)) continue;
            groupPlaced[group] = true;
            std::vector<std::size_t> placedGroup;
            for (std::uint32_t member : members[group]) {
                if (entryPlaced[member]) continue;
                placedGroup.push_back(place(member, false));
                if (elements_.back().storage) storages.push_back(placedGroup.back());
            }
            fill();
            if (!placedGroup.empty()) unattached_.push_back(std::move(placedGroup));
        }
    }
}

void CompoundFileSalvage::WalkStreams() {
    chains_.assign(elements_.size(), Chain());
    contested_.assign(elements_.size(), 0);
    // The streams below the root claim their sectors first.
    for (bool attached : {true, false})
        for (std::size_t e = 0; e < elements_.size(); ++e)
            if (!elements_[e].storage && elements_[e].attached == attached)
                elements_[e].whole = WalkStream(e, static_cast<std::uint32_t>(e + kFirstStreamId), attached);
    for (std::size_t e = 0; e < elements_.size(); ++e)
        if (contested_[e]) elements_[e].whole = false;
}

bool CompoundFileSalvage::WalkStream(std::size_t element, std::uint32_t id, bool attached) {
    const std::uint64_t size = elements_[element].size;
    if (size == 0) return true;
    Chain& chain = chains_[element];
    chain.mini = size < kMiniStreamCutoff;
    const std::uint64_t unit = chain.mini ? kMiniSectorSize : sectorSize_;
    const std::uint64_t needed = (size + unit - 1) / unit;
    const std::vector<std::uint32_t>& table = chain.mini ? miniFat_ : fat_;
    std::vector<std::uint32_t>& owner = chain.mini ? miniOwner_ : owner_;
    const std::uint64_t limit = std::min<std::uint64_t>(chain.mini ? miniSectors_ : sectors_, table.size());
    // A chain that turns out not to be whole is no claim on its sectors.
    const auto broken = [&]() {
        for (std::uint32_t sector : chain.sectors) owner[sector] = 0;
        chain.sectors.clear();
        return false;
    };
    std::uint32_t sector = Le32(directory_.data() + elementEntries_[element] * kDirectoryEntry + kStart);
    for (std::uint64_t k = 0; k < needed; ++k) {
        if (sector >= limit) return broken();
        // Even the last sector's entry must be one a table can hold: its end, or the next sector.
        const std::uint32_t next = table[sector];
        if ((next != kEndOfChain && next >= limit) || (k + 1 < needed && next == kEndOfChain)) return broken();
        const std::uint32_t claim = owner[sector];
        if (claim == id || claim == kSystem) return broken();
        if (claim != 0) {
            // Two chains through one sector: at most one of them is right.
            const std::size_t other = claim - kFirstStreamId;
            contested_[element] = 1;
            if (attached || !elements_[other].attached) contested_[other] = 1;
            return broken();
        }
        owner[sector] = id;
        chain.sectors.push_back(sector);
        sector = next;
    }
    return true;
}

bool CompoundFileSalvage::ReadStream(std::size_t element, Bytes& data) const {
    if (element >= elements_.size() || elements_[element].storage || !elements_[element].whole) return false;
    const std::uint64_t size = elements_[element].size;
    data.assign(static_cast<std::size_t>(size), 0);
    const Chain& chain = chains_[element];
    std::uint64_t done = 0;
    for (std::uint32_t sector : chain.sectors) {
        const std::size_t unit = chain.mini ? kMiniSectorSize : sectorSize_;
        const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(unit, size - done));
        bool read = false;
        if (!chain.mini) {
            read = ReadSector(sector, data.data() + done, length);
        } else {
            const std::uint64_t offset = static_cast<std::uint64_t>(sector) * kMiniSectorSize;
            read = ReadSector(miniStream_[static_cast<std::size_t>(offset / sectorSize_)], data.data() + done, length,
                              static_cast<std::size_t>(offset % sectorSize_));
        }
        if (!read) return false;
        done += length;
    }
    return done == size;
}

} // namespace parleym

#include "tests/storage/CompoundFileMap.h"

#include <algorithm>
#include <cstdlib>
#include <functional>

namespace cfbtest {

namespace {

constexpr std::uint32_t kFatSector = 0xFFFFFFFDu;

struct Flat {
    const Node* node;
    std::uint32_t left = kFree, right = kFree, child = kFree;
    std::uint32_t start = kEnd;
};

std::string Upper(std::string name) {
    for (char& c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    return name;
}

// The platform orders a storage's children by name length, then by name regardless of case.
std::vector<const Node*> Sorted(const std::vector<Node>& children) {
    std::vector<const Node*> sorted;
    for (const Node& child : children) sorted.push_back(&child);
    std::sort(sorted.begin(), sorted.end(), [](const Node* a, const Node* b) {
        if (a->name.size() != b->name.size()) return a->name.size() < b->name.size();
        return Upper(a->name) < Upper(b->name);
    });
    return sorted;
}

} // namespace

Node Stream(const std::string& name, parleym::Bytes data) {
    Node node;
    node.name = name;
    node.data = std::move(data);
    return node;
}

Node Stream(const std::string& name, const std::string& text) {
    return Stream(name, parleym::Bytes(text.begin(), text.end()));
}

Node Storage(const std::string& name, std::vector<Node> children) {
    Node node;
    node.name = name;
    node.storage = true;
    node.children = std::move(children);
    return node;
}

void Put32(parleym::Bytes& file, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) file.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t Get32(const parleym::Bytes& file, std::size_t at) {
    return static_cast<std::uint32_t>(file.at(at)) | static_cast<std::uint32_t>(file.at(at + 1)) << 8 |
           static_cast<std::uint32_t>(file.at(at + 2)) << 16 | static_cast<std::uint32_t>(file.at(at + 3)) << 24;
}

parleym::Bytes WriteCompoundFile(const Node& root, unsigned sectorShift) {
    const std::size_t ss = std::size_t{1} << sectorShift;
    const std::size_t perSector = ss / 4;
    std::vector<Flat> flat{{&root}};
    // A storage's children as a balanced tree, ordered as the platform orders names.
    std::function<std::uint32_t(std::vector<const Node*>&, std::size_t, std::size_t)> place =
        [&](std::vector<const Node*>& sorted, std::size_t lo, std::size_t hi) -> std::uint32_t {
        if (lo >= hi) return kFree;
        const std::size_t mid = (lo + hi) / 2;
        const std::uint32_t index = static_cast<std::uint32_t>(flat.size());
        flat.push_back({sorted[mid]});
        const std::uint32_t left = place(sorted, lo, mid);
        const std::uint32_t right = place(sorted, mid + 1, hi);
        flat[index].left = left;
        flat[index].right = right;
        if (sorted[mid]->storage) {
            std::vector<const Node*> children = Sorted(sorted[mid]->children);
            const std::uint32_t child = place(children, 0, children.size());
            flat[index].child = child;
        }
        return index;
    };
    std::vector<const Node*> top = Sorted(root.children);
    flat[0].child = place(top, 0, top.size());

    // Small streams in the mini stream, the others in sectors of their own.
    parleym::Bytes mini;
    std::vector<std::uint32_t> miniFat;
    std::size_t bigSectors = 0;
    for (Flat& entry : flat) {
        const Node& node = *entry.node;
        if (node.storage || &node == &root || node.data.empty()) continue;
        if (node.data.size() < 4096) {
            const std::size_t count = (node.data.size() + 63) / 64;
            const std::uint32_t first = static_cast<std::uint32_t>(miniFat.size());
            entry.start = first;
            for (std::size_t i = 0; i < count; ++i)
                miniFat.push_back(i + 1 < count ? first + static_cast<std::uint32_t>(i) + 1 : kEnd);
            mini.insert(mini.end(), node.data.begin(), node.data.end());
            mini.resize(miniFat.size() * 64, 0);
        } else {
            bigSectors += (node.data.size() + ss - 1) / ss;
        }
    }
    const std::size_t directorySectors = (flat.size() * 128 + ss - 1) / ss;
    const std::size_t miniFatSectors = (miniFat.size() + perSector - 1) / perSector;
    const std::size_t miniSectors = (mini.size() + ss - 1) / ss;
    const std::size_t data = directorySectors + miniFatSectors + miniSectors + bigSectors;
    std::size_t fatCount = 1;
    while ((fatCount + data + perSector - 1) / perSector > fatCount) ++fatCount;
    if (fatCount > 109) std::abort();  // larger than any test needs

    const std::size_t total = fatCount + data;
    std::vector<std::uint32_t> fat(fatCount * perSector, kFree);
    std::uint32_t next = 0;
    const auto chain = [&](std::size_t count) {
        const std::uint32_t first = next;
        for (std::size_t i = 0; i < count; ++i, ++next) fat[next] = i + 1 < count ? next + 1 : kEnd;
        return count ? first : kEnd;
    };
    for (std::size_t i = 0; i < fatCount; ++i) fat[next++] = kFatSector;
    const std::uint32_t directoryStart = chain(directorySectors);
    const std::uint32_t miniFatStart = chain(miniFatSectors);
    const std::uint32_t miniStart = chain(miniSectors);
    parleym::Bytes file((total + 1) * ss, 0);
    for (Flat& entry : flat) {
        const Node& node = *entry.node;
        if (node.storage || &node == &root || node.data.size() < 4096) continue;
        entry.start = chain((node.data.size() + ss - 1) / ss);
        const auto at = file.begin() + static_cast<std::ptrdiff_t>((entry.start + 1) * ss);
        std::copy(node.data.begin(), node.data.end(), at);
    }
    std::copy(mini.begin(), mini.end(), file.begin() + static_cast<std::ptrdiff_t>((miniStart + 1) * ss));
    for (std::size_t i = 0; i < miniFat.size(); ++i) Put32(file, (miniFatStart + 1) * ss + 4 * i, miniFat[i]);
    for (std::size_t i = miniFat.size(); i < miniFatSectors * perSector; ++i)
        Put32(file, (miniFatStart + 1) * ss + 4 * i, kFree);
    for (std::size_t i = 0; i < fat.size(); ++i) Put32(file, ss + 4 * i, fat[i]);

    static const std::uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(std::begin(signature), std::end(signature), file.begin());
    const auto put16 = [&file](std::size_t at, std::uint16_t value) {
        file[at] = static_cast<std::uint8_t>(value);
        file[at + 1] = static_cast<std::uint8_t>(value >> 8);
    };
    put16(24, 0x3E);
    put16(26, sectorShift == 9 ? 3 : 4);
    put16(28, 0xFFFE);
    put16(30, static_cast<std::uint16_t>(sectorShift));
    put16(32, 6);
    Put32(file, 40, sectorShift == 9 ? 0 : static_cast<std::uint32_t>(directorySectors));
    Put32(file, 44, static_cast<std::uint32_t>(fatCount));
    Put32(file, 48, directoryStart);
    Put32(file, 56, 4096);
    Put32(file, 60, miniFatStart);
    Put32(file, 64, static_cast<std::uint32_t>(miniFatSectors));
    Put32(file, 68, kEnd);
    for (std::uint32_t i = 0; i < 109; ++i) Put32(file, 76 + 4 * i, i < fatCount ? i : kFree);

    for (std::size_t i = 0; i < directorySectors * ss / 128; ++i) {
        const std::size_t at = (directoryStart + 1) * ss + i * 128;  // the directory's sectors follow each other
        for (std::size_t link = 68; link < 80; link += 4) Put32(file, at + link, kFree);
        if (i >= flat.size()) continue;
        const Flat& entry = flat[i];
        const std::string name = i == 0 ? "Root Entry" : entry.node->name;
        for (std::size_t c = 0; c < name.size(); ++c) file[at + 2 * c] = static_cast<std::uint8_t>(name[c]);
        put16(at + 64, static_cast<std::uint16_t>(2 * (name.size() + 1)));
        file[at + 66] = i == 0 ? 5 : entry.node->storage ? 1 : 2;
        file[at + 67] = 1;
        Put32(file, at + 68, entry.left);
        Put32(file, at + 72, entry.right);
        Put32(file, at + 76, entry.child);
        std::copy(entry.node->classId.begin(), entry.node->classId.end(),
                  file.begin() + static_cast<std::ptrdiff_t>(at + 80));
        Put32(file, at + 116, i == 0 ? (mini.empty() ? kEnd : miniStart) : entry.start);
        Put32(file, at + 120, static_cast<std::uint32_t>(i == 0 ? mini.size() : entry.node->data.size()));
    }
    return file;
}

CompoundFileMap::CompoundFileMap(const parleym::Bytes& file) : file_(file), sectorSize_(std::size_t{1} << file.at(30)) {
    const std::size_t perSector = sectorSize_ / 4;
    const std::uint32_t fatCount = Get32(file_, 44);
    for (std::uint32_t i = 0; i < std::min<std::uint32_t>(fatCount, 109); ++i)
        fatSectors_.push_back(Get32(file_, 76 + 4 * i));
    for (std::uint32_t difat = Get32(file_, 68); fatSectors_.size() < fatCount && difat < kFatSector;) {
        for (std::size_t i = 0; i + 1 < perSector && fatSectors_.size() < fatCount; ++i)
            fatSectors_.push_back(Get32(file_, SectorOffset(difat) + 4 * i));
        difat = Get32(file_, SectorOffset(difat) + sectorSize_ - 4);
    }
    for (std::uint32_t sector : fatSectors_)
        for (std::size_t i = 0; i < perSector; ++i) fat_.push_back(Get32(file_, SectorOffset(sector) + 4 * i));
    directory_ = Follow(Get32(file_, 48), fat_);
    miniFatSectors_ = Follow(Get32(file_, 60), fat_);
    for (std::uint32_t sector : miniFatSectors_)
        for (std::size_t i = 0; i < perSector; ++i) miniFat_.push_back(Get32(file_, SectorOffset(sector) + 4 * i));
    miniStream_ = Follow(Get32(file_, EntryOffset(0) + 116), fat_);
}

std::vector<std::uint32_t> CompoundFileMap::Follow(std::uint32_t start, const std::vector<std::uint32_t>& table) const {
    std::vector<std::uint32_t> chain;
    for (std::uint32_t sector = start; sector < table.size() && chain.size() <= table.size(); sector = table[sector])
        chain.push_back(sector);
    return chain;
}

std::size_t CompoundFileMap::EntryOffset(std::uint32_t index) const {
    const std::size_t perSector = sectorSize_ / 128;
    return SectorOffset(directory_.at(index / perSector)) + 128 * (index % perSector);
}

std::uint32_t CompoundFileMap::Entry(const std::string& path) const {
    std::uint32_t index = 0;
    for (std::size_t from = 0; from < path.size();) {
        std::size_t to = path.find('/', from);
        if (to == std::string::npos) to = path.size();
        const std::string part = path.substr(from, to - from);
        std::vector<std::uint32_t> pending{Get32(file_, EntryOffset(index) + 76)};
        index = kFree;
        while (!pending.empty() && index == kFree) {
            const std::uint32_t at = pending.back();
            pending.pop_back();
            if (at == kFree) continue;
            const std::size_t offset = EntryOffset(at);
            const std::size_t nameBytes = Get32(file_, offset + 64) % 0x10000;
            std::string name;
            for (std::size_t c = 0; c + 2 < nameBytes; c += 2) name.push_back(static_cast<char>(file_[offset + c]));
            if (name == part) index = at;
            pending.push_back(Get32(file_, offset + 68));
            pending.push_back(Get32(file_, offset + 72));
        }
        if (index == kFree) std::abort();  // the test names an element the file does not hold
        from = to + 1;
    }
    return index;
}

std::size_t CompoundFileMap::FatEntry(std::uint32_t sector) const {
    return SectorOffset(fatSectors_.at(sector / (sectorSize_ / 4))) + 4 * (sector % (sectorSize_ / 4));
}

std::size_t CompoundFileMap::MiniFatEntry(std::uint32_t sector) const {
    return SectorOffset(miniFatSectors_.at(sector / (sectorSize_ / 4))) + 4 * (sector % (sectorSize_ / 4));
}

bool CompoundFileMap::IsSmall(const std::string& path) const { return Get32(file_, EntryOffset(path) + 120) < 4096; }

std::vector<std::uint32_t> CompoundFileMap::Chain(const std::string& path) const {
    const std::size_t entry = EntryOffset(path);
    const std::vector<std::uint32_t> chain = Follow(Get32(file_, entry + 116), IsSmall(path) ? miniFat_ : fat_);
    const std::size_t unit = IsSmall(path) ? 64 : sectorSize_;
    const std::size_t needed = (Get32(file_, entry + 120) + unit - 1) / unit;
    return std::vector<std::uint32_t>(chain.begin(), chain.begin() + static_cast<std::ptrdiff_t>(std::min(needed, chain.size())));
}

std::size_t CompoundFileMap::StreamByte(const std::string& path, std::size_t position) const {
    const std::vector<std::uint32_t> chain = Chain(path);
    if (!IsSmall(path)) return SectorOffset(chain.at(position / sectorSize_)) + position % sectorSize_;
    const std::size_t inMini = chain.at(position / 64) * 64 + position % 64;
    return SectorOffset(miniStream_.at(inMini / sectorSize_)) + inMini % sectorSize_;
}

} // namespace cfbtest

// The look at a compound file before it is opened: whole files pass, files
// cut anywhere or pointing outside themselves do not, and the file is never
// read outside its length.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>

#include "plugin/storage/CompoundFileCheck.h"

using parleym::Bytes;
using parleym::CheckCompoundFile;
using parleym::CompoundFileFault;

namespace {

constexpr std::uint32_t kFree = 0xFFFFFFFFu;
constexpr std::uint32_t kEnd = 0xFFFFFFFEu;

void Put32(Bytes& file, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
void Put16(Bytes& file, std::size_t at, std::uint16_t value) {
    file[at] = static_cast<std::uint8_t>(value);
    file[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

// A structurally sound compound file laid out as: allocation-table sectors,
// their chained list, the first directory sector, the mini allocation table,
// the mini stream, then the remaining directory sectors.
struct Layout {
    unsigned shift = 9;
    std::uint32_t extraFat = 0; // more table sectors than needed, to need the chained list
    std::uint32_t directory = 1;
    std::uint32_t miniFat = 0;
    std::uint32_t miniStream = 0;
    // Streams in the root storage, by size: from 4096 bytes on in sectors of
    // their own (placed after the mini stream), smaller ones in the mini stream.
    std::vector<std::uint64_t> streams = {};
    // The remaining directory sectors one by one between the sectors of the
    // streams, chained from the file's end backwards: a file that grew a little at a time.
    bool scattered = false;
};

struct Built {
    Bytes file;
    std::size_t sectorSize;
    std::vector<std::uint32_t> fat, difat, directory, miniFat, miniStream;
    std::vector<std::vector<std::uint32_t>> chains; // per stream, its sectors or mini sectors
    std::size_t Offset(std::uint32_t sector) const { return (sector + 1) * sectorSize; }
    // Where entry `index` of the directory lies in the file.
    std::size_t EntryOffset(std::uint32_t index) const {
        const std::size_t perSector = sectorSize / 128;
        return Offset(directory[index / perSector]) + 128 * (index % perSector);
    }
    // Where the table entry naming the sector after `sector` lies.
    std::size_t FatEntry(std::uint32_t sector) const {
        return Offset(fat[sector / (sectorSize / 4)]) + 4 * (sector % (sectorSize / 4));
    }
    std::size_t MiniFatEntry(std::uint32_t sector) const {
        return Offset(miniFat[sector / (sectorSize / 4)]) + 4 * (sector % (sectorSize / 4));
    }
};

Built Build(const Layout& layout) {
    Built b;
    b.sectorSize = std::size_t{1} << layout.shift;
    const std::uint32_t perSector = static_cast<std::uint32_t>(b.sectorSize / 4);
    std::uint32_t bigSectors = 0;
    for (std::uint64_t size : layout.streams)
        if (size >= 4096) bigSectors += static_cast<std::uint32_t>((size + b.sectorSize - 1) / b.sectorSize);
    const std::uint32_t data = layout.directory + layout.miniFat + layout.miniStream + bigSectors;
    std::uint32_t fatCount = 1, difatCount = 0;
    for (;;) {
        const std::uint32_t total = fatCount + difatCount + data;
        const std::uint32_t needFat = (total + perSector - 1) / perSector + layout.extraFat;
        const std::uint32_t needDifat = needFat > 109 ? (needFat - 109 + perSector - 2) / (perSector - 1) : 0;
        if (needFat == fatCount && needDifat == difatCount) break;
        fatCount = needFat;
        difatCount = needDifat;
    }
    std::uint32_t next = 0;
    auto take = [&next](std::vector<std::uint32_t>& list, std::uint32_t count) {
        for (std::uint32_t i = 0; i < count; ++i) list.push_back(next++);
    };
    take(b.fat, fatCount);
    take(b.difat, difatCount);
    take(b.directory, 1);
    take(b.miniFat, layout.miniFat);
    take(b.miniStream, layout.miniStream);
    std::uint32_t nextMini = 0;
    std::vector<std::uint32_t> laterDirectory;
    for (std::uint64_t size : layout.streams) {
        b.chains.emplace_back();
        if (size >= 4096) {
            for (std::uint64_t i = 0; i < (size + b.sectorSize - 1) / b.sectorSize; ++i) {
                take(b.chains.back(), 1);
                if (layout.scattered && laterDirectory.size() + 1 < layout.directory) take(laterDirectory, 1);
            }
        } else {
            for (std::uint64_t i = 0; i < (size + 63) / 64; ++i) b.chains.back().push_back(nextMini++);
        }
    }
    take(laterDirectory, layout.directory - 1 - static_cast<std::uint32_t>(laterDirectory.size()));
    if (layout.scattered) std::reverse(laterDirectory.begin(), laterDirectory.end());
    b.directory.insert(b.directory.end(), laterDirectory.begin(), laterDirectory.end());
    b.file.assign((next + 1) * b.sectorSize, 0);

    std::vector<std::uint32_t> table(static_cast<std::size_t>(fatCount) * perSector, kFree);
    for (std::uint32_t s : b.fat) table[s] = 0xFFFFFFFDu;
    for (std::uint32_t s : b.difat) table[s] = 0xFFFFFFFCu;
    auto link = [](std::vector<std::uint32_t>& entries, const std::vector<std::uint32_t>& chain) {
        for (std::size_t i = 0; i < chain.size(); ++i) entries[chain[i]] = i + 1 < chain.size() ? chain[i + 1] : kEnd;
    };
    for (const auto* chain : {&b.directory, &b.miniFat, &b.miniStream}) link(table, *chain);
    std::vector<std::uint32_t> miniTable(layout.miniFat * perSector, kFree);
    for (std::size_t i = 0; i < layout.streams.size(); ++i) link(layout.streams[i] >= 4096 ? table : miniTable, b.chains[i]);
    for (std::uint32_t i = 0; i < layout.miniFat; ++i)
        for (std::uint32_t e = 0; e < perSector; ++e)
            Put32(b.file, b.Offset(b.miniFat[i]) + 4 * e, miniTable[i * perSector + e]);
    for (std::uint32_t i = 0; i < fatCount; ++i)
        for (std::uint32_t e = 0; e < perSector; ++e) Put32(b.file, b.Offset(b.fat[i]) + 4 * e, table[i * perSector + e]);

    static const std::uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(std::begin(signature), std::end(signature), b.file.begin());
    Put16(b.file, 24, 0x3E);
    Put16(b.file, 26, layout.shift == 9 ? 3 : 4);
    Put16(b.file, 28, 0xFFFE);
    Put16(b.file, 30, static_cast<std::uint16_t>(layout.shift));
    Put16(b.file, 32, 6);
    Put32(b.file, 40, layout.shift == 9 ? 0 : layout.directory);
    Put32(b.file, 44, fatCount);
    Put32(b.file, 48, b.directory[0]);
    Put32(b.file, 56, 4096);
    Put32(b.file, 60, b.miniFat.empty() ? kEnd : b.miniFat[0]);
    Put32(b.file, 64, layout.miniFat);
    Put32(b.file, 68, b.difat.empty() ? kEnd : b.difat[0]);
    Put32(b.file, 72, difatCount);
    for (std::uint32_t i = 0; i < 109; ++i) Put32(b.file, 76 + 4 * i, i < fatCount ? b.fat[i] : kFree);
    std::size_t listed = 109;
    for (std::size_t d = 0; d < b.difat.size(); ++d) {
        const std::size_t at = b.Offset(b.difat[d]);
        for (std::uint32_t e = 0; e + 1 < perSector; ++e, ++listed)
            Put32(b.file, at + 4 * e, listed < b.fat.size() ? b.fat[listed] : kFree);
        Put32(b.file, at + b.sectorSize - 4, d + 1 < b.difat.size() ? b.difat[d + 1] : kEnd);
    }

    // Every directory entry unused except the root, which owns the mini stream.
    for (std::uint32_t s : b.directory)
        for (std::size_t e = 0; e < b.sectorSize; e += 128)
            for (std::size_t link = 68; link < 80; link += 4) Put32(b.file, b.Offset(s) + e + link, kFree);
    const std::size_t root = b.Offset(b.directory[0]);
    const char name[] = "Root Entry";
    for (std::size_t i = 0; i < sizeof name; ++i) b.file[root + 2 * i] = static_cast<std::uint8_t>(name[i]);
    Put16(b.file, root + 64, static_cast<std::uint16_t>(sizeof name * 2));
    b.file[root + 66] = 5;
    Put32(b.file, root + 116, b.miniStream.empty() ? kEnd : b.miniStream[0]);
    const std::size_t miniSize = layout.miniStream * b.sectorSize;
    Put32(b.file, root + 120, static_cast<std::uint32_t>(miniSize == 0 ? 0 : miniSize - 100));
    // The streams hang below the root as a chain of right siblings.
    for (std::uint32_t i = 0; i < layout.streams.size(); ++i) {
        const std::size_t entry = b.EntryOffset(i + 1);
        b.file[entry] = static_cast<std::uint8_t>('a' + i);
        Put16(b.file, entry + 64, 4);
        b.file[entry + 66] = 2;
        Put32(b.file, entry + 72, i + 1 < layout.streams.size() ? i + 2 : kFree);
        Put32(b.file, entry + 116, b.chains[i].empty() ? kEnd : b.chains[i][0]);
        Put32(b.file, entry + 120, static_cast<std::uint32_t>(layout.streams[i]));
        Put32(b.file, entry + 124, static_cast<std::uint32_t>(layout.streams[i] >> 32));
    }
    if (!layout.streams.empty()) Put32(b.file, root + 76, 1);
    return b;
}

// Fails the test on any read outside the file, and counts the reads.
struct GuardedReader {
    const Bytes& file;
    int reads = 0;
    bool outside = false;
    CompoundFileFault Check() {
        return CheckCompoundFile(file.size(), [this](std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
            ++reads;
            if (offset > file.size() || size > file.size() - offset) {
                outside = true;
                return false;
            }
            std::copy(file.begin() + static_cast<std::ptrdiff_t>(offset),
                      file.begin() + static_cast<std::ptrdiff_t>(offset + size), buffer);
            return true;
        });
    }
};

Bytes Cut(const Bytes& file, std::size_t length) { return Bytes(file.begin(), file.begin() + length); }

} // namespace

TEST(CompoundFileCheck, WholeFilesPassWithAFewReads) {
    const Layout layouts[] = {
        {},                          // a bare root
        {9, 0, 3, 1, 5},             // several directory sectors, small streams
        {12, 0, 2, 1, 3},            // large sectors
        {9, 120, 2, 2, 2},           // more table sectors than the header can list
        {12, 1030, 1, 1, 1},         // ... with large sectors: a chained list of two
        {9, 0, 2, 1, 4, {5000, 100, 0, 64, 9000}}, // streams in sectors and in the mini stream
        {12, 0, 1, 1, 1, {4096, 700, 70000}},
    };
    for (const Layout& layout : layouts) {
        const Built b = Build(layout);
        SCOPED_TRACE(testing::Message() << "shift " << layout.shift << " extra " << layout.extraFat);
        GuardedReader reader{b.file};
        EXPECT_EQ(reader.Check(), CompoundFileFault::none);
        EXPECT_FALSE(reader.outside);
        // Each table and directory sector is read once at most.
        EXPECT_LE(reader.reads, static_cast<int>(1 + b.difat.size() + b.fat.size() + b.directory.size() + b.miniFat.size()));
        EXPECT_EQ(CheckCompoundFile(b.file), CompoundFileFault::none);
        // Bytes after the last sector are no harm.
        Bytes longer = b.file;
        longer.resize(longer.size() + 17, 0xAA);
        EXPECT_EQ(CheckCompoundFile(longer), CompoundFileFault::none);
    }
}

TEST(CompoundFileCheck, EveryCutIsCaughtWhereItFalls) {
    const Built b = Build({9, 0, 3, 1, 4});
    const std::size_t ss = b.sectorSize;
    EXPECT_EQ(CheckCompoundFile(Cut(b.file, 0)), CompoundFileFault::empty);
    EXPECT_EQ(CheckCompoundFile(Cut(b.file, 5)), CompoundFileFault::badHeader);
    EXPECT_EQ(CheckCompoundFile(Cut(b.file, 100)), CompoundFileFault::badHeader);
    EXPECT_EQ(CheckCompoundFile(Cut(b.file, 511)), CompoundFileFault::badHeader);
    EXPECT_EQ(CheckCompoundFile(Cut(b.file, 512)), CompoundFileFault::fatOutside);
    // The last sectors are directory sectors: cut inside one, or just before it.
    EXPECT_EQ(CheckCompoundFile(Cut(b.file, b.Offset(b.directory.back()) + 200)), CompoundFileFault::directoryOutside);
    EXPECT_EQ(CheckCompoundFile(Cut(b.file, b.Offset(b.directory.back()))), CompoundFileFault::directoryOutside);
    EXPECT_EQ(CheckCompoundFile(Cut(b.file, b.file.size() - 1)), CompoundFileFault::directoryOutside);
    // Every shorter length fails, and nothing is read outside what is left.
    for (std::size_t length = 0; length < b.file.size(); length += length < 2 * ss ? 1 : 37) {
        const Bytes cut = Cut(b.file, length);
        GuardedReader reader{cut};
        EXPECT_NE(reader.Check(), CompoundFileFault::none) << length;
        EXPECT_FALSE(reader.outside) << length;
    }

    // With the directory in one sector, a cut mini stream is caught by its own chain.
    const Built small = Build({9, 0, 1, 1, 3});
    EXPECT_EQ(CheckCompoundFile(Cut(small.file, small.Offset(small.miniStream.back()) + 3)),
              CompoundFileFault::miniStreamOutside);
    EXPECT_EQ(CheckCompoundFile(Cut(small.file, small.Offset(small.miniFat[0]) + 3)), CompoundFileFault::miniFatOutside);

    // A cut among the chained table list.
    const Built big = Build({9, 120, 1, 0, 0});
    EXPECT_EQ(CheckCompoundFile(Cut(big.file, big.Offset(big.fat[109]) + 10)), CompoundFileFault::fatOutside);
}

TEST(CompoundFileCheck, ReferencesOutsideTheFileOrLoopsFail) {
    const Built b = Build({9, 0, 2, 1, 2});
    auto with = [&b](std::size_t at, std::uint32_t value) {
        Bytes file = b.file;
        Put32(file, at, value);
        return CheckCompoundFile(file);
    };
    const std::uint32_t sectors = static_cast<std::uint32_t>(b.file.size() / b.sectorSize - 1);
    EXPECT_EQ(with(44, sectors + 1), CompoundFileFault::fatOutside);          // more tables than sectors
    EXPECT_EQ(with(76, sectors), CompoundFileFault::fatOutside);              // first table past the end
    EXPECT_EQ(with(48, sectors), CompoundFileFault::directoryOutside);        // directory start past the end
    EXPECT_EQ(with(48, kEnd), CompoundFileFault::directoryOutside);           // no directory at all
    EXPECT_EQ(with(60, sectors + 5), CompoundFileFault::miniFatOutside);
    // Chains through the table: a directory sector pointing past the end, or back at itself.
    const std::size_t firstDirEntry = b.Offset(b.fat[0]) + 4 * b.directory[0];
    EXPECT_EQ(with(firstDirEntry, sectors + 3), CompoundFileFault::directoryOutside);
    EXPECT_EQ(with(firstDirEntry, b.directory[0]), CompoundFileFault::directoryOutside);
    EXPECT_EQ(with(firstDirEntry, kFree), CompoundFileFault::directoryOutside);
    // The mini stream sharing the directory's sector, and claiming more than its chain.
    const std::size_t root = b.Offset(b.directory[0]);
    EXPECT_EQ(with(root + 116, b.directory[1]), CompoundFileFault::miniStreamOutside);
    EXPECT_EQ(with(root + 120, static_cast<std::uint32_t>(3 * b.sectorSize)), CompoundFileFault::miniStreamOutside);
    Bytes notRoot = b.file;
    notRoot[root + 66] = 1;
    EXPECT_EQ(CheckCompoundFile(notRoot), CompoundFileFault::rootEntry);

    // The chained table list claiming fewer sectors than needed, or pointing outside.
    const Built big = Build({9, 120, 1, 0, 0});
    auto withBig = [&big](std::size_t at, std::uint32_t value) {
        Bytes file = big.file;
        Put32(file, at, value);
        return CheckCompoundFile(file);
    };
    EXPECT_EQ(withBig(72, 0), CompoundFileFault::difatOutside);
    EXPECT_EQ(withBig(68, 0x00FFFFFF), CompoundFileFault::difatOutside);
    EXPECT_EQ(withBig(big.Offset(big.difat[0]) + 8, kFree), CompoundFileFault::fatOutside);
}

TEST(CompoundFileCheck, ForeignAndRandomBytesFail) {
    const std::string text = "Just a text file that happens to be called stats.dat\r\n";
    EXPECT_EQ(CheckCompoundFile(Bytes(text.begin(), text.end())), CompoundFileFault::notCompoundFile);
    EXPECT_EQ(CheckCompoundFile(Bytes(4096, 0)), CompoundFileFault::notCompoundFile);

    Bytes header = Build({}).file;
    Put16(header, 30, 10); // 1024-byte sectors are not allowed
    EXPECT_EQ(CheckCompoundFile(header), CompoundFileFault::badHeader);
    header = Build({}).file;
    Put16(header, 28, 0xFEFF);
    EXPECT_EQ(CheckCompoundFile(header), CompoundFileFault::badHeader);
    // Large sectors need the whole first sector for the header.
    const Built large = Build({12, 0, 1, 0, 0});
    EXPECT_EQ(CheckCompoundFile(Cut(large.file, 4000)), CompoundFileFault::badHeader);

    // Random bytes after a sound header start: whatever they say, no read
    // strays outside the file.
    std::mt19937 random(17);
    const Built b = Build({9, 0, 2, 1, 2});
    for (int round = 0; round < 300; ++round) {
        Bytes file = Cut(b.file, 76 + random() % (b.file.size() - 76));
        for (std::size_t i = 40; i < file.size(); ++i)
            if (random() % 4 == 0) file[i] = static_cast<std::uint8_t>(random());
        GuardedReader reader{file};
        reader.Check();
        EXPECT_FALSE(reader.outside) << round;
    }
}

TEST(CompoundFileCheck, StreamChainsMustEndInsideAndBelongToOneStream) {
    // Streams a (5000 bytes, 10 sectors), b (100 bytes, 2 mini sectors), c (empty),
    // d (3 mini sectors) and e (9000 bytes, 18 sectors).
    const Built b = Build({9, 0, 2, 1, 4, {5000, 100, 0, 150, 9000}});
    ASSERT_EQ(CheckCompoundFile(b.file), CompoundFileFault::none);
    const std::uint32_t sectors = static_cast<std::uint32_t>(b.file.size() / b.sectorSize - 1);
    auto with = [&b](std::initializer_list<std::pair<std::size_t, std::uint32_t>> changes) {
        Bytes file = b.file;
        for (const auto& change : changes) Put32(file, change.first, change.second);
        GuardedReader reader{file};
        const CompoundFileFault fault = reader.Check();
        EXPECT_FALSE(reader.outside);
        return fault;
    };
    const auto& a = b.chains[0];
    const auto& e = b.chains[4];
    // Sectors of their own: a loop back to the start or onto itself, a link
    // past the end or to a free sector, a chain that ends early, a chain
    // claiming a sector of another stream, of the directory or of the table.
    EXPECT_EQ(with({{b.FatEntry(a.back()), a[0]}}), CompoundFileFault::streamChain);
    EXPECT_EQ(with({{b.FatEntry(a[3]), a[3]}}), CompoundFileFault::streamChain);
    EXPECT_EQ(with({{b.FatEntry(a[3]), sectors + 2}}), CompoundFileFault::streamChain);
    EXPECT_EQ(with({{b.FatEntry(a[3]), 0xFFFFFFF0u}}), CompoundFileFault::streamChain);
    EXPECT_EQ(with({{b.FatEntry(a[3]), kFree}}), CompoundFileFault::streamChain);
    EXPECT_EQ(with({{b.FatEntry(a[8]), kEnd}}), CompoundFileFault::streamChain);
    EXPECT_EQ(with({{b.EntryOffset(1) + 120, 5200}}), CompoundFileFault::streamChain);
    EXPECT_EQ(with({{b.FatEntry(e[5]), a[2]}}), CompoundFileFault::streamChain);
    EXPECT_EQ(with({{b.EntryOffset(5) + 116, a[9]}}), CompoundFileFault::streamChain);
    EXPECT_EQ(with({{b.FatEntry(a.back()), b.directory[1]}}), CompoundFileFault::streamChain);
    EXPECT_EQ(with({{b.FatEntry(a.back()), b.fat[0]}}), CompoundFileFault::streamChain);
    EXPECT_EQ(with({{b.EntryOffset(1) + 116, kEnd}}), CompoundFileFault::streamChain);
    // Cut inside the last stream's sectors: the directory is whole, the stream is not.
    const Built cutAtEnd = Build({9, 0, 1, 1, 1, {9000}});
    EXPECT_EQ(CheckCompoundFile(Cut(cutAtEnd.file, cutAtEnd.Offset(cutAtEnd.chains[0][10]) + 7)),
              CompoundFileFault::streamChain);
    EXPECT_EQ(CheckCompoundFile(Cut(cutAtEnd.file, cutAtEnd.Offset(cutAtEnd.chains[0].back()))),
              CompoundFileFault::streamChain);

    // The mini stream: a loop, a mini sector past the mini stream's end, two
    // streams sharing one, a chain shorter than the stream, a size claiming
    // sectors of its own that the table does not give it.
    const auto& small = b.chains[1];
    const auto& d = b.chains[3];
    EXPECT_EQ(with({{b.MiniFatEntry(small[1]), small[0]}}), CompoundFileFault::streamChain);
    EXPECT_EQ(with({{b.MiniFatEntry(small[0]), 40}}), CompoundFileFault::streamChain);
    EXPECT_EQ(with({{b.MiniFatEntry(d[1]), small[1]}}), CompoundFileFault::streamChain);
    EXPECT_EQ(with({{b.MiniFatEntry(d[1]), kEnd}}), CompoundFileFault::streamChain);
    EXPECT_EQ(with({{b.EntryOffset(4) + 120, 3000}}), CompoundFileFault::streamChain);
    EXPECT_EQ(with({{b.EntryOffset(2) + 120, 4096}}), CompoundFileFault::streamChain);
    // An empty stream owns nothing; its start may name anything that ends,
    // but not a loop that growing it would follow.
    EXPECT_EQ(with({{b.EntryOffset(3) + 116, 0}}), CompoundFileFault::none);
    EXPECT_EQ(with({{b.EntryOffset(3) + 116, small[0]}}), CompoundFileFault::none);
    EXPECT_EQ(with({{b.EntryOffset(3) + 116, 0x00FFFFFF}}), CompoundFileFault::none);
    EXPECT_EQ(with({{b.EntryOffset(3) + 116, small[0]}, {b.MiniFatEntry(small[1]), small[0]}}),
              CompoundFileFault::streamChain);
    // The high half of a size counts only with large sectors.
    EXPECT_EQ(with({{b.EntryOffset(2) + 124, 1}}), CompoundFileFault::none);
    const Built large = Build({12, 0, 1, 1, 1, {700, 70000}});
    ASSERT_EQ(CheckCompoundFile(large.file), CompoundFileFault::none);
    Bytes huge = large.file;
    Put32(huge, large.EntryOffset(2) + 124, 1);
    EXPECT_EQ(CheckCompoundFile(huge), CompoundFileFault::streamChain);
}

TEST(CompoundFileCheck, TheDirectoryTreeMustNotLoop) {
    const Built b = Build({9, 0, 2, 1, 2, {100, 5000, 64}});
    ASSERT_EQ(CheckCompoundFile(b.file), CompoundFileFault::none);
    auto with = [&b](std::size_t at, std::uint32_t value) {
        Bytes file = b.file;
        Put32(file, at, value);
        return CheckCompoundFile(file);
    };
    const std::size_t root = b.EntryOffset(0);
    const std::uint32_t entries = static_cast<std::uint32_t>(b.directory.size() * b.sectorSize / 128);
    EXPECT_EQ(with(b.EntryOffset(3) + 72, 1), CompoundFileFault::directoryTree);   // back to the first
    EXPECT_EQ(with(b.EntryOffset(2) + 68, 2), CompoundFileFault::directoryTree);   // onto itself
    EXPECT_EQ(with(b.EntryOffset(1) + 68, 3), CompoundFileFault::directoryTree);   // reached twice
    EXPECT_EQ(with(root + 76, 0), CompoundFileFault::directoryTree);               // the root below itself
    EXPECT_EQ(with(b.EntryOffset(2) + 72, entries), CompoundFileFault::directoryTree);
    EXPECT_EQ(with(b.EntryOffset(3) + 72, 5), CompoundFileFault::directoryTree);   // an unused entry
    // A storage's children are followed, a stream's are not.
    EXPECT_EQ(with(b.EntryOffset(3) + 76, 1), CompoundFileFault::none);
    Bytes storage = b.file;
    storage[b.EntryOffset(3) + 66] = 1;
    EXPECT_EQ(CheckCompoundFile(storage), CompoundFileFault::none);
    Put32(storage, b.EntryOffset(3) + 76, 1);
    EXPECT_EQ(CheckCompoundFile(storage), CompoundFileFault::directoryTree);
    // Entries of unknown type, names without their end.
    Bytes odd = b.file;
    odd[b.EntryOffset(2) + 66] = 3;
    EXPECT_EQ(CheckCompoundFile(odd), CompoundFileFault::directoryTree);
    odd = b.file;
    Put16(odd, b.EntryOffset(2) + 64, 66);
    EXPECT_EQ(CheckCompoundFile(odd), CompoundFileFault::directoryTree);
    odd = b.file;
    odd[b.EntryOffset(2) + 2] = 'x';
    EXPECT_EQ(CheckCompoundFile(odd), CompoundFileFault::directoryTree);
    // Entries that nothing reaches are never opened, whatever they hold.
    Bytes orphan = b.file;
    Put32(orphan, b.EntryOffset(3) + 72, kFree);
    Put32(orphan, b.FatEntry(b.chains[1].back()), b.chains[1][0]);
    EXPECT_EQ(CheckCompoundFile(orphan), CompoundFileFault::streamChain); // still reached: b is entry 2
    Put32(orphan, b.EntryOffset(1) + 72, kFree);
    EXPECT_EQ(CheckCompoundFile(orphan), CompoundFileFault::none);
}

// What an abrupt end in the middle of a change leaves is damage like any
// other: reported, and the file is salvaged rather than mended.
TEST(CompoundFileCheck, WhatAnAbruptEndLeavesIsReported) {
    const Built b = Build({9, 0, 2, 1, 4, {5000, 100, 0, 150, 9000}});
    const auto& a = b.chains[0];
    const auto& d = b.chains[3];
    const auto& e = b.chains[4];
    using Changes = std::vector<std::pair<std::size_t, std::uint32_t>>;
    Changes freed;  // e freed back to its 11th sector
    for (std::size_t i = 10; i < e.size(); ++i) freed.push_back({b.FatEntry(e[i]), kFree});
    const struct {
        const char* what;
        Changes changes;
        CompoundFileFault fault;
    } cases[] = {
        {"a stream freed from its end", freed, CompoundFileFault::streamChain},
        {"growth whose new last sector is still free", {{b.FatEntry(e.back()), kFree}}, CompoundFileFault::streamChain},
        {"a small chain into a free small sector", {{b.MiniFatEntry(d[2]), kFree}}, CompoundFileFault::streamChain},
        {"the mini stream's last sector free", {{b.FatEntry(b.miniStream.back()), kFree}},
         CompoundFileFault::miniStreamOutside},
        {"a link to a freed entry", {{b.EntryOffset(3) + 68, 7}}, CompoundFileFault::directoryTree},
        {"a chain shorter than its size", {{b.FatEntry(a[8]), kEnd}}, CompoundFileFault::streamChain},
        {"a small chain shorter than its size", {{b.MiniFatEntry(d[0]), kEnd}}, CompoundFileFault::streamChain},
        {"the mini stream's growth not recorded", {{b.EntryOffset(0) + 120, 256}}, CompoundFileFault::streamChain},
    };
    for (const auto& damage : cases) {
        Bytes file = b.file;
        for (const auto& change : damage.changes) Put32(file, change.first, change.second);
        EXPECT_EQ(CheckCompoundFile(file), damage.fault) << damage.what;
    }
    // The mini table grew by a sector that is all zeros on the disk.
    const Built grown = Build({9, 0, 2, 2, 17, {4000, 4000, 300}});
    ASSERT_EQ(grown.chains[2][2], 128u);
    Bytes file = grown.file;
    for (std::uint32_t entry = 128; entry < 256; ++entry) Put32(file, grown.MiniFatEntry(entry), 0);
    EXPECT_EQ(CheckCompoundFile(file), CompoundFileFault::streamChain);
}

// Which streams the tree reaches is told on the way, so that an opener can
// see whether any rewrite was left unfinished without listing storages.
TEST(CompoundFileCheck, TheStreamsReachedAreNamed) {
    const Built b = Build({9, 0, 2, 1, 4, {5000, 100, 0}});
    Bytes file = b.file;
    Put32(file, b.EntryOffset(2) + 72, kFree);  // the tree no longer reaches c
    std::vector<std::u16string> names;
    const auto read = [&file](std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
        std::copy(file.begin() + static_cast<std::ptrdiff_t>(offset),
                  file.begin() + static_cast<std::ptrdiff_t>(offset + size), buffer);
        return true;
    };
    ASSERT_EQ(CheckCompoundFile(file.size(), read, [&names](const std::u16string& name) { names.push_back(name); }),
              CompoundFileFault::none);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::u16string>{u"a", u"b"}));
}

TEST(CompoundFileCheck, ScatteredTablesAreReadInAFewReadsAndStillChecked) {
    // Forty small streams whose entries fill twelve directory sectors lying
    // between the sectors of a large stream, chained backwards.
    Layout layout{9, 0, 12, 1, 11, std::vector<std::uint64_t>(40, 100), true};
    layout.streams.push_back(16384);
    const Built b = Build(layout);
    ASSERT_GT(b.directory[1], b.chains.back()[0]);
    ASSERT_GT(b.directory[1], b.directory[2]);
    GuardedReader reader{b.file};
    EXPECT_EQ(reader.Check(), CompoundFileFault::none);
    EXPECT_FALSE(reader.outside);
    // Header, table, directory, mini table: each in one read however scattered.
    EXPECT_LE(reader.reads, 4);
    // Each entry is still read from its own place: damage to an entry in the
    // first directory sector and to one far down the chain is found.
    const std::uint32_t sectors = static_cast<std::uint32_t>(b.file.size() / b.sectorSize - 1);
    for (std::uint32_t entry : {1u, 40u}) {
        Bytes file = b.file;
        Put32(file, b.EntryOffset(entry) + 120, 5000);
        EXPECT_EQ(CheckCompoundFile(file), CompoundFileFault::streamChain) << entry;
        file = b.file;
        Put32(file, b.EntryOffset(entry) + 72, sectors * 4);
        EXPECT_EQ(CheckCompoundFile(file), CompoundFileFault::directoryTree) << entry;
    }
}

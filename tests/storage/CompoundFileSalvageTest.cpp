// Reading what is left of a damaged compound file: every stream reported
// whole reads back exactly as it was written, never anything else; what an
// abrupt end or a bad disk leaves is attributed only where links say so.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "plugin/storage/CompoundFileSalvage.h"
#include "plugin/storage/SalvagePlan.h"
#include "tests/storage/CompoundFileMap.h"

using cfbtest::CompoundFileMap;
using cfbtest::kEnd;
using cfbtest::kFree;
using cfbtest::Put32;
using parleym::Bytes;
using parleym::CompoundFileSalvage;

namespace {

Bytes Text(const std::string& seed, std::size_t size) {
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(seed[i % seed.size()] + i / seed.size());
    return data;
}

// Two accounts' storages, the account list and a large stream in the root;
// streams in sectors of their own and in the mini stream.
cfbtest::Node Sample() {
    using cfbtest::Storage;
    using cfbtest::Stream;
    return Storage("", {Stream("userids", Text("ids", 60)), Stream("big", Text("big", 9000)),
                        Storage("1", {Stream("conversations", Text("index1", 200)), Stream("1", Text("one", 5000)),
                                      Stream("2", Text("two", 130)), Stream("3", Text("three", 700))}),
                        Storage("2", {Stream("conversations", Text("index2", 90)), Stream("4", Text("four", 4500))})});
}

std::map<std::string, Bytes> Originals(const cfbtest::Node& node, const std::string& prefix = "") {
    std::map<std::string, Bytes> streams;
    for (const cfbtest::Node& child : node.children) {
        const std::string path = prefix + child.name;
        if (!child.storage) streams[path] = child.data;
        for (const auto& inner : Originals(child, path + "/")) streams.insert(inner);
    }
    return streams;
}

// Loads `file`, failing the test on any read outside it.
struct Loaded {
    explicit Loaded(const Bytes& data) : file(data) {
        loaded = salvage.Load(file.size(), [this](std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
            if (offset > file.size() || size > file.size() - offset) {
                ADD_FAILURE() << "read outside the file at " << offset;
                return false;
            }
            std::copy(file.begin() + static_cast<std::ptrdiff_t>(offset),
                      file.begin() + static_cast<std::ptrdiff_t>(offset + size), buffer);
            return true;
        });
    }
    // Every stream below `element`: path -> "whole" or "broken".
    void List(std::size_t element, const std::string& prefix, std::map<std::string, std::string>& out) const {
        for (std::size_t child : salvage.Elements()[element].children) {
            const parleym::SalvagedElement& found = salvage.Elements()[child];
            const std::string path = prefix + parleym::NarrowName(found.name);
            if (found.storage) List(child, path + "/", out);
            else out[path] = found.whole ? "whole" : "broken";
        }
    }
    std::map<std::string, std::string> Attached() const {
        std::map<std::string, std::string> out;
        if (loaded) List(CompoundFileSalvage::kRoot, "", out);
        return out;
    }
    // Each unattached group as "name name/child ..." sorted.
    std::vector<std::string> Groups() const {
        std::vector<std::string> groups;
        for (const auto& group : salvage.Unattached()) {
            std::map<std::string, std::string> members;
            for (std::size_t index : group) {
                const parleym::SalvagedElement& found = salvage.Elements()[index];
                const std::string name = parleym::NarrowName(found.name);
                if (found.storage) {
                    members[name] = "storage";
                    List(index, name + "/", members);
                } else {
                    members[name] = found.whole ? "whole" : "broken";
                }
            }
            std::string text;
            for (const auto& member : members) text += (text.empty() ? "" : " ") + member.first;
            groups.push_back(text);
        }
        std::sort(groups.begin(), groups.end());
        return groups;
    }
    const Bytes file;
    CompoundFileSalvage salvage;
    bool loaded = false;
};

// Nothing read is ever made up: a whole stream below the root holds exactly
// what was written at its path, an unattached one what some stream of its
// name held.
void ExpectNothingInvented(const Loaded& loaded, const std::map<std::string, Bytes>& originals, const std::string& what) {
    std::map<std::string, std::string> attached = loaded.Attached();
    for (const auto& stream : attached) {
        if (stream.second != "whole") continue;
        std::size_t element = CompoundFileSalvage::kRoot;
        for (std::size_t from = 0; from < stream.first.size();) {
            const std::size_t to = std::min(stream.first.find('/', from), stream.first.size());
            for (std::size_t child : loaded.salvage.Elements()[element].children)
                if (parleym::NarrowName(loaded.salvage.Elements()[child].name) == stream.first.substr(from, to - from))
                    element = child;
            from = to + 1;
        }
        Bytes data;
        ASSERT_TRUE(loaded.salvage.ReadStream(element, data)) << what << ": " << stream.first;
        ASSERT_TRUE(originals.count(stream.first)) << what << ": " << stream.first;
        EXPECT_TRUE(data == originals.at(stream.first)) << what << ": " << stream.first << " reads otherwise";
    }
    for (std::size_t index = 0; index < loaded.salvage.Elements().size(); ++index) {
        const parleym::SalvagedElement& element = loaded.salvage.Elements()[index];
        Bytes data;
        if (element.attached || element.storage || !loaded.salvage.ReadStream(index, data)) continue;
        bool known = false;
        for (const auto& original : originals)
            known = known || (original.second == data && original.first.size() >= element.name.size() &&
                              original.first.compare(original.first.size() - element.name.size(), std::string::npos,
                                                     parleym::NarrowName(element.name)) == 0);
        EXPECT_TRUE(known) << what << ": unattached " << parleym::NarrowName(element.name) << " reads otherwise";
    }
}

} // namespace

TEST(CompoundFileSalvage, ASoundFileReadsWhole) {
    for (unsigned shift : {9u, 12u}) {
        const cfbtest::Node sample = Sample();
        const Loaded loaded(cfbtest::WriteCompoundFile(sample, shift));
        ASSERT_TRUE(loaded.loaded);
        std::map<std::string, std::string> expected;
        for (const auto& stream : Originals(sample)) expected[stream.first] = "whole";
        EXPECT_EQ(loaded.Attached(), expected);
        EXPECT_TRUE(loaded.Groups().empty());
        ExpectNothingInvented(loaded, Originals(sample), "sound");
    }
}

// Damage to one stream's chain costs that stream alone (two chains through
// one sector cost both: which one the sector is is not known).
TEST(CompoundFileSalvage, AChainThatIsNotIntactCostsItsStreamOnly) {
    const cfbtest::Node sample = Sample();
    const Bytes sound = cfbtest::WriteCompoundFile(sample);
    const CompoundFileMap map(sound);
    const auto one = map.Chain("1/1");
    const auto two = map.Chain("1/2");
    const auto big = map.Chain("big");
    const struct {
        const char* what;
        std::vector<std::pair<std::size_t, std::uint32_t>> changes;
        std::vector<std::string> broken;
    } cases[] = {
        {"a chain cut short", {{map.FatEntry(one[3]), kEnd}}, {"1/1"}},
        {"a chain into a freed sector", {{map.FatEntry(one[5]), kFree}}, {"1/1"}},
        {"the last sector freed", {{map.FatEntry(one.back()), kFree}}, {"1/1"}},
        {"a link past the end", {{map.FatEntry(one[2]), 5000}}, {"1/1"}},
        {"a loop", {{map.FatEntry(one[4]), one[1]}}, {"1/1"}},
        {"a small chain cut short", {{map.MiniFatEntry(two[0]), kEnd}}, {"1/2"}},
        {"a small chain into a freed sector", {{map.MiniFatEntry(two[0]), kFree}}, {"1/2"}},
        {"two chains through one sector", {{map.FatEntry(one[1]), big[3]}}, {"1/1", "big"}},
        {"a chain running into another's end", {{map.FatEntry(big[5]), one[2]}}, {"big"}},
        {"a chain through the directory", {{map.FatEntry(big[5]), map.DirectorySectors()[0]}}, {"big"}},
        {"a size beyond the chain", {{map.EntryOffset("1/1") + 120, 9000}}, {"1/1"}},
        {"a start outside the mini stream", {{map.EntryOffset("1/3") + 116, 4000}}, {"1/3"}},
        {"the mini stream's last sector freed", {{map.FatEntry(map.MiniStreamSectors().back()), kFree}},
         {"1/conversations", "2/conversations", "userids"}},
    };
    for (const auto& damage : cases) {
        Bytes file = sound;
        for (const auto& change : damage.changes) Put32(file, change.first, change.second);
        const Loaded loaded(file);
        ASSERT_TRUE(loaded.loaded) << damage.what;
        std::map<std::string, std::string> expected;
        for (const auto& stream : Originals(sample)) expected[stream.first] = "whole";
        for (const std::string& path : damage.broken) expected[path] = "broken";
        EXPECT_EQ(loaded.Attached(), expected) << damage.what;
        ExpectNothingInvented(loaded, Originals(sample), damage.what);
    }
}

// An abrupt end in the middle of a directory change: an entry freed while
// links still lead to it, siblings hanging below it, a group two storages claim.
TEST(CompoundFileSalvage, EntriesAreAttributedOnlyWhereLinksSaySo) {
    const cfbtest::Node sample = Sample();
    const Bytes sound = cfbtest::WriteCompoundFile(sample);
    const CompoundFileMap map(sound);
    const std::size_t two = map.EntryOffset("2");
    ASSERT_EQ(cfbtest::Get32(sound, two + 68), map.Entry("1")) << "the sample's account 1 hangs below account 2";
    const auto freed = [&](bool wiped) {
        Bytes file = sound;
        if (wiped) std::fill(file.begin() + static_cast<std::ptrdiff_t>(two), file.begin() + static_cast<std::ptrdiff_t>(two + 128), 0);
        else {
            file[two + 66] = 0;  // freed, its name gone, its links still there
            file[two + 64] = file[two + 65] = 0;
        }
        return file;
    };
    {
        // Links intact: account 1 below it stays in the root; account 2's own
        // streams have lost their storage.
        const Loaded loaded(freed(false));
        ASSERT_TRUE(loaded.loaded);
        EXPECT_EQ(loaded.Attached(), (std::map<std::string, std::string>{{"1/1", "whole"}, {"1/2", "whole"},
                                                                           {"1/3", "whole"}, {"1/conversations", "whole"},
                                                                           {"big", "whole"}, {"userids", "whole"}}));
        EXPECT_EQ(loaded.Groups(), (std::vector<std::string>{"4 conversations"}));
        ExpectNothingInvented(loaded, Originals(sample), "freed");
    }
    {
        // Wiped, as the platform frees an entry: account 1 loses its place too.
        const Loaded loaded(freed(true));
        ASSERT_TRUE(loaded.loaded);
        EXPECT_EQ(loaded.Attached(),
                  (std::map<std::string, std::string>{{"big", "whole"}, {"userids", "whole"}}));
        EXPECT_EQ(loaded.Groups(), (std::vector<std::string>{"1 1/1 1/2 1/3 1/conversations", "4 conversations"}));
        ExpectNothingInvented(loaded, Originals(sample), "wiped");
    }
    {
        // Account 1's child link leads into account 2's streams: neither group is known to be whose.
        Bytes file = sound;
        Put32(file, map.EntryOffset("1") + 76, map.Entry("2/4"));
        const Loaded loaded(file);
        EXPECT_EQ(loaded.Attached(),
                  (std::map<std::string, std::string>{{"big", "whole"}, {"userids", "whole"}}));
        EXPECT_EQ(loaded.Groups(), (std::vector<std::string>{"1 2 3 conversations", "4 conversations"}));
        ExpectNothingInvented(loaded, Originals(sample), "claimed twice");
    }
    {
        // A loop in the tree is walked once.
        Bytes file = sound;
        Put32(file, map.EntryOffset("1") + 72, map.Entry("2"));
        const Loaded loaded(file);
        std::map<std::string, std::string> expected;
        for (const auto& stream : Originals(sample)) expected[stream.first] = "whole";
        EXPECT_EQ(loaded.Attached(), expected);
    }
}

// A truncated file keeps what lies before the cut; tables, the directory and
// every sector are read only inside the file.
TEST(CompoundFileSalvage, ATruncatedFileKeepsWhatLiesBeforeTheCut) {
    const cfbtest::Node sample = Sample();
    const Bytes sound = cfbtest::WriteCompoundFile(sample);
    const CompoundFileMap map(sound);
    // The large streams come last, account 2's at the very end.
    const Bytes cut(sound.begin(), sound.begin() + static_cast<std::ptrdiff_t>(map.SectorOffset(map.Chain("2/4")[4]) + 100));
    const Loaded loaded(cut);
    ASSERT_TRUE(loaded.loaded);
    std::map<std::string, std::string> expected;
    for (const auto& stream : Originals(sample)) expected[stream.first] = "whole";
    expected["2/4"] = "broken";
    EXPECT_EQ(loaded.Attached(), expected);
    for (std::size_t length = 0; length <= sound.size(); length += length < 1024 ? 97 : 211) {
        const Loaded shorter(Bytes(sound.begin(), sound.begin() + static_cast<std::ptrdiff_t>(length)));
        ExpectNothingInvented(shorter, Originals(sample), "cut at " + std::to_string(length));
    }
}

// Sectors overwritten with garbage: tables, directory or data.
TEST(CompoundFileSalvage, GarbageSectorsNeverReadAsData) {
    const cfbtest::Node sample = Sample();
    const Bytes sound = cfbtest::WriteCompoundFile(sample);
    const CompoundFileMap map(sound);
    std::mt19937 random(24);
    const std::size_t sectors = sound.size() / map.SectorSize() - 1;
    std::map<std::string, std::vector<std::size_t>> offsets;  // where each stream's bytes lie
    for (const auto& original : Originals(sample))
        for (std::size_t at = 0; at < original.second.size(); ++at)
            offsets[original.first].push_back(map.StreamByte(original.first, at));
    for (std::uint32_t sector = 0; sector < sectors; ++sector) {
        for (int round = 0; round < 3; ++round) {
            Bytes file = sound;
            for (std::size_t i = 0; i < map.SectorSize(); ++i)
                file[map.SectorOffset(sector) + i] = static_cast<std::uint8_t>(round == 0 ? 0xA5 : random());
            const Loaded loaded(file);
            if (!loaded.loaded) continue;
            // A data sector's garbage lies inside a chain that is still whole: only the stores' own decoding sees it.
            std::map<std::string, Bytes> originals = Originals(sample);
            for (auto& original : originals)
                for (std::size_t at = 0; at < original.second.size(); ++at)
                    if (offsets[original.first][at] / map.SectorSize() - 1 == sector)
                        original.second[at] = file[offsets[original.first][at]];
            ExpectNothingInvented(loaded, originals, "garbage in sector " + std::to_string(sector));
        }
    }
    // The directory's second sector gone to garbage: its entries are lost, the rest is read.
    Bytes file = sound;
    const std::uint32_t second = map.DirectorySectors().at(1);
    std::fill(file.begin() + static_cast<std::ptrdiff_t>(map.SectorOffset(second)),
              file.begin() + static_cast<std::ptrdiff_t>(map.SectorOffset(second) + map.SectorSize()), 0xA5);
    const Loaded loaded(file);
    ASSERT_TRUE(loaded.loaded);
    EXPECT_EQ(loaded.Attached().count("userids"), 1u);
}

TEST(CompoundFileSalvage, NoRootNothingToRead) {
    const Bytes sound = cfbtest::WriteCompoundFile(Sample());
    const CompoundFileMap map(sound);
    Bytes notRoot = sound;
    notRoot[map.EntryOffset(0u) + 66] = 1;
    Bytes lostDirectory = sound;
    Put32(lostDirectory, 48, 90000);
    const std::string text = "not a compound file at all";
    for (const Bytes& file : {Bytes(), Bytes(text.begin(), text.end()), Bytes(sound.begin(), sound.begin() + 300),
                              notRoot, lostDirectory})
        EXPECT_FALSE(Loaded(file).loaded) << file.size();
}

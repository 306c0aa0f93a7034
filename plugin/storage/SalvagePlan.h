#pragma once
// What the salvage of a damaged data file puts into the fresh file that
// takes its place, and how a store looks at what was found: each store's
// planner (logs, statistics, offline messages, object cache) decides which
// elements are its data and whole, and counts what was kept and what was not.
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "plugin/storage/BinaryCodec.h"
#include "plugin/storage/CompoundFileSalvage.h"

namespace parleym {

// One element of the fresh file.
struct FreshElement {
    static constexpr std::size_t kNoSource = static_cast<std::size_t>(-1);
    std::u16string name;
    bool storage = false;
    std::array<std::uint8_t, 16> classId{};
    std::size_t source = kNoSource;  // a stream: copied from this element of the damaged file ...
    Bytes data;                      // ... or made of these bytes
    std::vector<FreshElement> children;

    static FreshElement Storage(const std::u16string& name);
    static FreshElement Copied(const std::u16string& name, std::size_t source);
    static FreshElement Made(const std::u16string& name, Bytes data);
};

struct SalvagePlan {
    FreshElement root = FreshElement::Storage(u"Root Entry");
    // False when nothing of the store's could be read: the file then stays
    // as it is and is refused as before.
    bool anything = false;
    // What was kept and lost, for the user: "3 of 5 conversations recovered".
    std::string recovered;
};

// A store's view of its damaged file (LogFileSalvage.h and the others).
using SalvagePlanner = SalvagePlan (*)(const CompoundFileSalvage& file);

// Element names are ASCII in every file of ours; others never match.
std::string NarrowName(const std::u16string& name);
std::u16string WideName(const std::string& name);
// A name that is a non-negative int32 in decimal as "%d" writes it.
bool DecimalName(const std::string& name, std::int32_t& value);

// The elements of one storage of a damaged file as its store sees them.
// What an interrupted rewrite of an older version left is settled as the
// next open would settle it: a marked complete copy ("<name>.new" with
// "<name>.ok") stands for the stream; an unmarked copy, the marks and
// elements set aside are no data of the store. Two elements of one name
// cannot both go into a file and neither is known to be the right one: both
// count as unreadable.
class SalvagedStorage {
public:
    struct Element {
        std::size_t index = 0;  // in the damaged file
        bool storage = false;
        bool whole = false;     // a stream whose bytes can all be read
    };

    SalvagedStorage(const CompoundFileSalvage& file, const std::vector<std::size_t>& elements);
    // More elements found to belong here (an unattached group the file's
    // layout places); names already present keep theirs.
    void Adopt(const std::vector<std::size_t>& elements);

    const CompoundFileSalvage& File() const { return file_; }
    // By name, in name order.
    const std::map<std::string, Element>& Elements() const { return elements_; }
    const Element* Find(const std::string& name) const;
    // The whole stream `name`; false when missing, not a stream or not whole.
    bool Read(const std::string& name, Bytes& data) const;

private:
    void Settle();

    const CompoundFileSalvage& file_;
    std::vector<std::size_t> raw_;
    std::map<std::string, Element> elements_;
};

// A storage of the damaged file with everything below it that is whole;
// false (nothing made) when some stream below it is not.
bool CopyWholeStorage(const CompoundFileSalvage& file, std::size_t storage, FreshElement& copy);

} // namespace parleym

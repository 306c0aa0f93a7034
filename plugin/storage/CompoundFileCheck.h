#pragma once
// A quick look at a compound file before the platform's compound-file code
// opens it: the header is sound; the sectors that the header, the allocation
// tables, the directory, the mini allocation table and the mini stream refer
// to all lie inside the file; the directory's tree has no loops; and every
// stream's chain, in the allocation table or the mini one, stays inside, ends,
// belongs to that stream alone and is long enough for the stream's size. Some
// platforms loop forever on a truncated or looping file instead of reporting
// it, so a file that fails here is never handed to them. Reads the tables and
// the directory once; stream contents are never read, and nothing is ever
// written: a file that fails is salvaged into a fresh one (CompoundFileSalvage).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "plugin/storage/BinaryCodec.h"
#include "plugin/storage/CompoundFileFormat.h"

namespace parleym {

enum class CompoundFileFault {
    none,
    empty,             // zero length
    notCompoundFile,   // does not start with the compound-file signature
    badHeader,         // header cut short, or sector size / byte order not allowed
    fatOutside,        // an allocation-table sector lies outside the file
    difatOutside,      // the chain listing further allocation-table sectors does
    directoryOutside,  // a directory sector does, or the directory chain is broken
    rootEntry,         // the first directory entry is not the root storage
    miniFatOutside,    // a mini allocation-table sector does
    miniStreamOutside, // a sector of the mini stream does, or its chain is too short
    directoryTree,     // an entry of unknown type, a link outside the directory or to a free entry, a loop
    streamChain,       // a stream's chain leaves the file, loops, is shared or is too short
    unreadable,        // the reader failed
};

// Told the name of every stream the directory's tree reaches, as stored
// (possibly more than once for one stream).
using StreamNameVisitor = std::function<void(const std::u16string& name)>;

// `read` is only asked for ranges inside [0, fileSize).
CompoundFileFault CheckCompoundFile(std::uint64_t fileSize, const FileReader& read,
                                    const StreamNameVisitor& streamNames = nullptr);
CompoundFileFault CheckCompoundFile(const Bytes& file);

} // namespace parleym

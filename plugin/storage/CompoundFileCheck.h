#pragma once
// A quick look at a compound file before the platform's compound-file code
// opens it: the header is sound; the sectors that the header, the allocation
// tables, the directory, the mini allocation table and the mini stream refer
// to all lie inside the file; the directory's tree has no loops; and every
// stream's chain, in the allocation table or the mini one, stays inside, ends,
// belongs to that stream alone and is long enough for the stream's size. Some
// platforms loop forever on a truncated or looping file instead of reporting
// it, so a file that fails here is never handed to them. Reads the tables and
// the directory once; stream contents are never read.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "plugin/storage/BinaryCodec.h"

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
    directoryTree,     // an entry of unknown type, a link outside the directory, a loop
    streamChain,       // a stream's chain leaves the file, loops, is shared or is too short
    unreadable,        // the reader failed
};

// Reads exactly `size` bytes at `offset`; false when it cannot.
using FileReader = std::function<bool(std::uint64_t offset, std::uint8_t* buffer, std::size_t size)>;

// Told the name of every stream the directory's tree reaches, as stored
// (possibly more than once for one stream).
using StreamNameVisitor = std::function<void(const std::u16string& name)>;

// One 32-bit little-endian value to write at `offset`.
struct CompoundFilePatch {
    std::uint64_t offset;
    std::uint32_t value;
};

// `read` is only asked for ranges inside [0, fileSize).
CompoundFileFault CheckCompoundFile(std::uint64_t fileSize, const FileReader& read);
CompoundFileFault CheckCompoundFile(const Bytes& file);

// As CheckCompoundFile, but the damage that a process ended in the middle of
// a change leaves in a sound file is mended in `repairs` instead of reported:
// a stream whose chain runs into a sector the table marks free (a shrink or
// growth cut short), or into a small sector past the mini stream's recorded
// size but inside its chain (its growth not yet recorded), ends before that
// sector; a chain shorter than its stream's size (a new size or a link that
// had not reached the disk) is kept as it is; either way the size is cut to
// what the chain still owns. A mini-table sector of all zeros (the table grew
// by it, its contents never written) counts as free, but only when nothing
// else mends the file. A link to a free directory entry (an entry made or
// removed whose neighbour's link reached the disk first) is dropped. What the
// streams still own is never touched. Returns none with the patches when the
// file, patched, passes the strict check; otherwise the fault and no patches.
// `streamNames`, when given, is told every stream name the tree reaches.
CompoundFileFault CheckCompoundFileForRepair(std::uint64_t fileSize, const FileReader& read,
                                             std::vector<CompoundFilePatch>& repairs,
                                             const StreamNameVisitor& streamNames = nullptr);

// `file` with the patches written into it.
void ApplyCompoundFilePatches(Bytes& file, const std::vector<CompoundFilePatch>& patches);

} // namespace parleym

#pragma once
// The rollback journal beside a data file ("<file>-journal"). Before a save
// writes over a region of the file (or cuts it shorter), the region's bytes
// as they were at the last commit point go into the journal, followed by a
// trailer describing what the save is about to write, and the journal
// reaches the medium; then the file is written and flushed, which is the
// commit point. The journal is never cleared: the next save writes a new one
// over it. Layout, integers little-endian:
//
//   header, 32 bytes
//      0   8  "PLYMJRN2"
//      8   8  nonce, new for every save
//     16   8  the file's size at the last commit point
//     24   8  checksum of bytes 0..23
//   records, one after another
//      0   8  offset in the file
//      8   4  length n, 1..kMaxJournalRecord; offset + n within the size above
//     12   n  the file's bytes there at the last commit point
//   12 + n 8  checksum of the nonce and bytes 0..12+n of the record
//   trailer
//      0   8  "PLYMNEW2"
//      8   8  the file's size once the save is done
//     16   4  count c of the pages the save writes
//     20  16c each page: offset (8), checksum of its new bytes (8); a page
//             is 512 bytes, or what the new size leaves of it
//   20+16c 8  checksum of the nonce and bytes 0..20+16c of the trailer
//
// A journal is complete when its header, every record and the trailer check
// out. An incomplete one (cut short while it was being written, or torn by
// the next save writing over it) was never followed by a write of the file:
// it is dropped. A complete one whose pages the file holds, at the new size,
// belongs to a save that reached its commit point: nothing to do. A complete
// one the file does not match is hot: its records are written back and the
// file cut to the recorded size. A journal belongs to its file: no other file
// may be put in the file's place while the journal lies beside it.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "plugin/storage/BinaryCodec.h"
#include "plugin/storage/Disk.h"

namespace parleym {

constexpr std::size_t kJournalHeaderSize = 32;
constexpr std::size_t kJournalRecordOverhead = 20;
constexpr std::uint32_t kMaxJournalRecord = 1u << 20;

struct JournalHeader {
    std::uint64_t nonce = 0;
    std::uint64_t committedSize = 0;
};

// A page the save writes, and the checksum of its new bytes.
struct JournalPage {
    std::uint64_t offset = 0;
    std::uint64_t checksum = 0;
};

struct JournalTrailer {
    std::uint64_t newSize = 0;
    std::vector<JournalPage> pages;
};

// The bytes of a page in the trailer.
constexpr std::uint64_t kJournalPage = 512;

enum class JournalState {
    empty,       // nothing there
    incomplete,  // to be dropped (or not written for this file)
    committed,   // the file holds what the save wrote
    hot,         // to be rolled back
};

Bytes EncodeJournalHeader(const JournalHeader& header);
// Appends one record to `out`.
void AppendJournalRecord(Bytes& out, std::uint64_t nonce, std::uint64_t offset, const std::uint8_t* data,
                         std::uint32_t size);
void AppendJournalTrailer(Bytes& out, std::uint64_t nonce, const JournalTrailer& trailer);
// The checksum of a page's bytes for the trailer.
std::uint64_t JournalPageChecksum(std::uint64_t nonce, const std::uint8_t* data, std::size_t size);

// A record read back: where its bytes go.
using JournalRecordSink = std::function<DiskError(std::uint64_t offset, const Bytes& data)>;

// Reads `journal` beside `file` and says what it is; for a hot one, tells
// `sink` (when given) every record in order. A complete journal whose
// recorded size lies beyond both the file and every record's end is not one
// a save wrote (a save records every byte it cuts away) and counts as
// incomplete. A failing read or sink ends it with that error.
DiskError ReadJournal(Disk& journal, Disk& file, JournalState& state, JournalHeader& header,
                      const JournalRecordSink& sink = nullptr);

// `file` as it is after rolling back `journal`, done in memory only: for
// readers of a copied file that must not write (the journal is left as it
// is). Returns the journal's state; `file` changes only for a hot one.
JournalState RollBackInMemory(Bytes& file, const Bytes& journal);

// The checksum used above, exposed for tests: 64 bits over `size` bytes,
// continuing from `seed`.
std::uint64_t JournalChecksum(const std::uint8_t* data, std::size_t size, std::uint64_t seed);

} // namespace parleym

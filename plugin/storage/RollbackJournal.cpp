#include "plugin/storage/RollbackJournal.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace parleym {

namespace {
const std::uint8_t kMagic[8] = {'P', 'L', 'Y', 'M', 'J', 'R', 'N', '2'};
const std::uint8_t kTrailerMagic[8] = {'P', 'L', 'Y', 'M', 'N', 'E', 'W', '2'};
constexpr std::size_t kTrailerFixed = 20;
constexpr std::size_t kTrailerEntry = 16;
constexpr std::uint64_t kCheckedPage = kJournalPage;

void PutUInt64(Bytes& out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void PutUInt32(Bytes& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint64_t GetUInt64(const std::uint8_t* at) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | at[i];
    return value;
}

std::uint32_t GetUInt32(const std::uint8_t* at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | at[i];
    return value;
}

// Every save's records check out against its own nonce only, so nothing an
// earlier save left in the journal passes for this one's.
std::uint64_t RecordSeed(std::uint64_t nonce) { return JournalChecksum(nullptr, 0, nonce ^ 0x9E3779B97F4A7C15ull); }
std::uint64_t PageSeed(std::uint64_t nonce) { return JournalChecksum(nullptr, 0, nonce ^ 0xD1B54A32D192ED03ull); }

// What a walk through a journal found.
struct Walked {
    bool complete = false;
    JournalHeader header;
    std::uint64_t newSize = 0;
    std::map<std::uint64_t, std::uint64_t> newPages;  // offset -> checksum of the new bytes
    std::uint64_t reach = 0;  // the end of the furthest record
};

// Reads the journal through; records go to `sink` when given.
DiskError Walk(Disk& journal, Walked& walked, const JournalRecordSink& sink) {
    std::uint64_t size = 0;
    DiskError error = journal.Size(size);
    if (error != disk_error::kNone || size < kJournalHeaderSize) return error;
    std::uint8_t head[kJournalHeaderSize];
    error = ReadFully(journal, 0, head, sizeof head);
    if (error != disk_error::kNone) return error;
    if (std::memcmp(head, kMagic, sizeof kMagic) != 0 || GetUInt64(head + 24) != JournalChecksum(head, 24, 0))
        return disk_error::kNone;
    walked.header.nonce = GetUInt64(head + 8);
    walked.header.committedSize = GetUInt64(head + 16);
    const std::uint64_t seed = RecordSeed(walked.header.nonce);
    std::uint64_t at = kJournalHeaderSize;
    Bytes record;
    while (size - at >= sizeof kTrailerMagic) {
        std::uint8_t fixed[kTrailerFixed] = {};
        error = ReadFully(journal, at, fixed, static_cast<std::size_t>(std::min<std::uint64_t>(sizeof fixed, size - at)));
        if (error != disk_error::kNone) return error;
        if (std::memcmp(fixed, kTrailerMagic, sizeof kTrailerMagic) == 0) {
            if (size - at < kTrailerFixed + 8) return disk_error::kNone;
            const std::uint32_t count = GetUInt32(fixed + 16);
            if (count > (size - at - kTrailerFixed - 8) / kTrailerEntry) return disk_error::kNone;
            record.resize(kTrailerFixed + kTrailerEntry * std::size_t{count} + 8);
            error = ReadFully(journal, at, record.data(), record.size());
            if (error != disk_error::kNone) return error;
            const std::size_t body = record.size() - 8;
            if (GetUInt64(record.data() + body) != JournalChecksum(record.data(), body, seed)) return disk_error::kNone;
            walked.newSize = GetUInt64(record.data() + 8);
            for (std::uint32_t i = 0; i < count; ++i) {
                const std::uint8_t* entry = record.data() + kTrailerFixed + kTrailerEntry * i;
                walked.newPages[GetUInt64(entry)] = GetUInt64(entry + 8);
            }
            walked.complete = true;
            return disk_error::kNone;
        }
        if (size - at < kJournalRecordOverhead) return disk_error::kNone;
        const std::uint64_t offset = GetUInt64(fixed);
        const std::uint32_t length = GetUInt32(fixed + 8);
        const std::uint64_t committed = walked.header.committedSize;
        if (length == 0 || length > kMaxJournalRecord || length > size - at - kJournalRecordOverhead ||
            offset > committed || length > committed - offset)
            return disk_error::kNone;
        record.resize(kJournalRecordOverhead + length);
        error = ReadFully(journal, at, record.data(), record.size());
        if (error != disk_error::kNone) return error;
        if (GetUInt64(record.data() + 12 + length) != JournalChecksum(record.data(), 12 + length, seed))
            return disk_error::kNone;
        const std::uint8_t* data = record.data() + 12;
        walked.reach = std::max(walked.reach, offset + length);
        if (sink) {
            error = sink(offset, Bytes(data, data + length));
            if (error != disk_error::kNone) return error;
        }
        at += record.size();
    }
    return disk_error::kNone;
}

// The checksum of what `file` holds at [offset, offset + length); false when
// it holds less.
bool FileChecksum(Disk& file, std::uint64_t nonce, std::uint64_t offset, std::uint64_t length, std::uint64_t& sum,
                  DiskError& error) {
    std::uint8_t page[kCheckedPage];
    std::size_t got = 0;
    error = file.Read(offset, page, static_cast<std::size_t>(length), got);
    if (error != disk_error::kNone || got != length) return false;
    sum = JournalPageChecksum(nonce, page, got);
    return true;
}
} // namespace

std::uint64_t JournalChecksum(const std::uint8_t* data, std::size_t size, std::uint64_t seed) {
    // FNV-1a, then a final mix so that the last bytes spread over all bits.
    std::uint64_t hash = 0xCBF29CE484222325ull ^ seed;
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 0x100000001B3ull;
    hash ^= hash >> 33;
    hash *= 0xFF51AFD7ED558CCDull;
    hash ^= hash >> 33;
    hash *= 0xC4CEB9FE1A85EC53ull;
    return hash ^ (hash >> 33);
}

std::uint64_t JournalPageChecksum(std::uint64_t nonce, const std::uint8_t* data, std::size_t size) {
    return JournalChecksum(data, size, PageSeed(nonce));
}

Bytes EncodeJournalHeader(const JournalHeader& header) {
    Bytes out(kMagic, kMagic + sizeof kMagic);
    PutUInt64(out, header.nonce);
    PutUInt64(out, header.committedSize);
    PutUInt64(out, JournalChecksum(out.data(), out.size(), 0));
    return out;
}

void AppendJournalRecord(Bytes& out, std::uint64_t nonce, std::uint64_t offset, const std::uint8_t* data,
                         std::uint32_t size) {
    const std::size_t start = out.size();
    PutUInt64(out, offset);
    PutUInt32(out, size);
    out.insert(out.end(), data, data + size);
    PutUInt64(out, JournalChecksum(out.data() + start, out.size() - start, RecordSeed(nonce)));
}

void AppendJournalTrailer(Bytes& out, std::uint64_t nonce, const JournalTrailer& trailer) {
    const std::size_t start = out.size();
    out.insert(out.end(), kTrailerMagic, kTrailerMagic + sizeof kTrailerMagic);
    PutUInt64(out, trailer.newSize);
    PutUInt32(out, static_cast<std::uint32_t>(trailer.pages.size()));
    for (const JournalPage& page : trailer.pages) {
        PutUInt64(out, page.offset);
        PutUInt64(out, page.checksum);
    }
    PutUInt64(out, JournalChecksum(out.data() + start, out.size() - start, RecordSeed(nonce)));
}

DiskError ReadJournal(Disk& journal, Disk& file, JournalState& state, JournalHeader& header,
                      const JournalRecordSink& sink) {
    state = JournalState::empty;
    std::uint64_t journalSize = 0;
    DiskError error = journal.Size(journalSize);
    if (error != disk_error::kNone || journalSize == 0) return error;
    state = JournalState::incomplete;
    Walked walked;
    error = Walk(journal, walked, nullptr);
    if (error != disk_error::kNone || !walked.complete) return error;
    header = walked.header;
    std::uint64_t fileSize = 0;
    error = file.Size(fileSize);
    if (error != disk_error::kNone) return error;
    // Every byte a save cuts away is in its records: a size beyond both the
    // file and the records is not one of ours, and nothing is grown to it.
    if (header.committedSize > std::max(fileSize, walked.reach)) return disk_error::kNone;

    // Holding all the save wrote, at its size: it reached its commit point.
    const auto newLength = [&walked](std::uint64_t offset) {
        return offset < walked.newSize ? std::min<std::uint64_t>(kCheckedPage, walked.newSize - offset) : 0;
    };
    bool holdsNew = fileSize == walked.newSize;
    for (auto page = walked.newPages.begin(); holdsNew && page != walked.newPages.end(); ++page) {
        const std::uint64_t length = newLength(page->first);
        std::uint64_t sum = 0;
        holdsNew = length > 0 && FileChecksum(file, header.nonce, page->first, length, sum, error) &&
                   sum == page->second;
        if (error != disk_error::kNone) return error;
    }
    if (holdsNew) {
        state = JournalState::committed;
        return disk_error::kNone;
    }
    state = JournalState::hot;
    if (!sink) return disk_error::kNone;
    Walked again;
    return Walk(journal, again, sink);
}

JournalState RollBackInMemory(Bytes& file, const Bytes& journal) {
    MemoryDisk journalDisk(journal);
    MemoryDisk fileDisk(file);
    JournalState state = JournalState::empty;
    JournalHeader header;
    const DiskError error =
        ReadJournal(journalDisk, fileDisk, state, header, [&fileDisk](std::uint64_t offset, const Bytes& data) {
            return fileDisk.Write(offset, data.data(), data.size());
        });
    if (state == JournalState::hot && error == disk_error::kNone &&
        fileDisk.SetSize(header.committedSize) == disk_error::kNone)
        file = fileDisk.Take();
    return state;
}

} // namespace parleym

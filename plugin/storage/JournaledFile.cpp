#include "plugin/storage/JournaledFile.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <vector>

#include "plugin/storage/RollbackJournal.h"

namespace parleym {

namespace {
// The compound-file code writes whole 512-byte sectors and little else, so a
// page of that size journals no byte it does not change.
constexpr std::uint64_t kPage = 512;
// Pages per journal record and per write of the file.
constexpr std::uint64_t kRunPages = 256;

using namespace disk_error;

std::uint64_t Mix(std::uint64_t value) {
    value += 0x9E3779B97F4A7C15ull;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
    return value ^ (value >> 31);
}

std::uint64_t NewNonce(const void* owner) {
    static std::atomic<std::uint64_t> counter{0};
    const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return Mix(now ^ Mix(counter++) ^ Mix(reinterpret_cast<std::uintptr_t>(owner)));
}

// Reads what `disk` holds there; past its end the buffer is zeros.
DiskError ReadPadded(Disk& disk, std::uint64_t offset, std::uint8_t* into, std::size_t size) {
    while (size > 0) {
        std::size_t got = 0;
        const DiskError error = disk.Read(offset, into, size, got);
        if (error != kNone) return error;
        if (got == 0) break;
        into += got;
        offset += got;
        size -= got;
    }
    std::memset(into, 0, size);
    return kNone;
}

// Consecutive keys of `pages` from `at`, at most kRunPages of them.
template <class Iterator>
Iterator RunEnd(Iterator at, Iterator end) {
    const std::uint64_t first = *at;
    Iterator next = at;
    std::uint64_t expected = first;
    while (next != end && *next == expected && expected - first < kRunPages) {
        ++next;
        ++expected;
    }
    return next;
}
} // namespace

std::wstring JournaledFile::JournalPath(const std::wstring& path) { return path + L"-journal"; }

JournaledFile::JournaledFile(FileSystem& files, std::wstring path, Mode mode)
    : files_(files), path_(std::move(path)), mode_(mode) {}

JournaledFile::~JournaledFile() {
    main_.reset();
    if (!journal_ || mode_ != Mode::readWrite) return;
    journal_.reset();
    // A journal still needed rolls the file back at the next open.
    if (!mainTouched_) files_.Remove(JournalPath(path_));
}

DiskError JournaledFile::Open(FileSystem& files, const std::wstring& path, Mode mode,
                              std::unique_ptr<JournaledFile>& file) {
    file.reset();
    std::unique_ptr<JournaledFile> made(new JournaledFile(files, path, mode));
    bool created = false;
    DiskError error =
        mode == Mode::readWrite
            ? files.Open(path, FileAccess::readWrite, FileSharing::none, FileOpening::existingOrNew, made->main_,
                         &created)
            : files.Open(path, FileAccess::read, FileSharing::read, FileOpening::existing, made->main_);
    if (error == kNone) error = made->main_->Size(made->mainSize_);
    if (error != kNone) return error;
    made->committedSize_ = made->size_ = made->keptBelow_ = made->mainSize_;
    error = made->RollBackAtOpen(created);
    if (error != kNone) return error;
    file = std::move(made);
    return kNone;
}

DiskError JournaledFile::RollBackAtOpen(bool mainIsNew) {
    std::unique_ptr<Disk> journal;
    DiskError error =
        mode_ == Mode::readWrite
            ? files_.Open(JournalPath(path_), FileAccess::readWrite, FileSharing::none, FileOpening::existing, journal)
            : files_.Open(JournalPath(path_), FileAccess::read, FileSharing::readWrite, FileOpening::existing,
                          journal);
    if (error == kFileNotFound) return kNone;
    // A journal that cannot be read may be the only copy of what a save cut
    // short wrote over: the file is not used without it.
    if (error != kNone) return error;
    if (mainIsNew) {
        // Beside a file that was not there, a journal belongs to one removed
        // since: it must never be read against this one.
        journal_ = std::move(journal);
        error = journal_->SetSize(0);
        return error == kNone ? journal_->Flush() : error;
    }
    JournalState state = JournalState::empty;
    JournalHeader header;
    if (mode_ == Mode::readOnly) {
        // Only what is read is rolled back: the view never reaches the disk.
        error = ReadJournal(*journal, *main_, state, header, [this](std::uint64_t offset, const Bytes& data) {
            return WriteInMemory(offset, data.data(), data.size());
        });
        if (error == kNone && state == JournalState::hot) SetSizeInMemory(header.committedSize);
        rolledBack_ = state == JournalState::hot;
        return error;
    }
    journal_ = std::move(journal);
    error = ReadJournal(*journal_, *main_, state, header, [this](std::uint64_t offset, const Bytes& data) {
        return main_->Write(offset, data.data(), data.size());
    });
    if (error != kNone || state != JournalState::hot) return error;
    error = main_->SetSize(header.committedSize);
    if (error == kNone) error = main_->Flush();
    if (error != kNone) return error;
    rolledBack_ = true;
    mainSize_ = committedSize_ = size_ = keptBelow_ = header.committedSize;
    return kNone;
}

std::uint64_t JournaledFile::PageLength(std::uint64_t page, std::uint64_t size) const {
    const std::uint64_t start = page * kPage;
    return size > start ? std::min(kPage, size - start) : 0;
}

DiskError JournaledFile::BasePage(std::uint64_t page, std::uint8_t* into) {
    std::memset(into, 0, kPage);
    const std::uint64_t start = page * kPage;
    if (start >= keptBelow_) return kNone;
    const std::size_t limit = static_cast<std::size_t>(std::min(kPage, keptBelow_ - start));
    const auto original = originals_.find(page);
    if (original != originals_.end()) {
        std::memcpy(into, original->second.data(), std::min(limit, original->second.size()));
        return kNone;
    }
    return ReadPadded(*main_, start, into, limit);
}

DiskError JournaledFile::Read(std::uint64_t offset, void* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    if (offset >= size_ || size == 0) return kNone;
    size = static_cast<std::size_t>(std::min<std::uint64_t>(size, size_ - offset));
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint64_t at = offset;
    const std::uint64_t end = offset + size;
    std::uint8_t page[kPage];
    while (at < end) {
        const std::uint64_t index = at / kPage;
        const std::size_t inPage = static_cast<std::size_t>(at % kPage);
        const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(end - at, kPage - inPage));
        const auto written = pages_.find(index);
        if (written != pages_.end()) {
            std::memcpy(out + (at - offset), written->second.data() + inPage, length);
            at += length;
            continue;
        }
        if (at >= keptBelow_ || originals_.count(index)) {
            const DiskError error = BasePage(index, page);
            if (error != kNone) return error;
            std::memcpy(out + (at - offset), page + inPage, length);
            at += length;
            continue;
        }
        // Untouched since the last commit point: straight from the file, as
        // far as the following pages are untouched as well.
        std::uint64_t stretch = at + length;
        while (stretch < end && stretch < keptBelow_) {
            const std::uint64_t next = stretch / kPage;
            if (pages_.count(next) || originals_.count(next)) break;
            stretch = std::min(end, (next + 1) * kPage);
        }
        stretch = std::min(stretch, keptBelow_);
        const DiskError error =
            ReadPadded(*main_, at, out + (at - offset), static_cast<std::size_t>(stretch - at));
        if (error != kNone) return error;
        at = stretch;
    }
    got = size;
    return kNone;
}

DiskError JournaledFile::WriteInMemory(std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
    if (size == 0) return kNone;
    if (offset > UINT64_MAX - size) return kDiskFull;
    const std::uint64_t end = offset + size;
    std::uint64_t at = offset;
    while (at < end) {
        const std::uint64_t index = at / kPage;
        const std::size_t inPage = static_cast<std::size_t>(at % kPage);
        const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(end - at, kPage - inPage));
        auto page = pages_.find(index);
        if (page == pages_.end()) {
            Bytes fresh(kPage, 0);
            if (length != kPage) {
                const DiskError error = BasePage(index, fresh.data());
                if (error != kNone) return error;
            }
            page = pages_.emplace(index, std::move(fresh)).first;
        }
        std::memcpy(page->second.data() + inPage, data + (at - offset), length);
        at += length;
    }
    size_ = std::max(size_, end);
    return kNone;
}

void JournaledFile::SetSizeInMemory(std::uint64_t size) {
    if (size < size_) {
        pages_.erase(pages_.lower_bound((size + kPage - 1) / kPage), pages_.end());
        const auto partial = pages_.find(size / kPage);
        if (size % kPage && partial != pages_.end())
            std::memset(partial->second.data() + size % kPage, 0, kPage - size % kPage);
        keptBelow_ = std::min(keptBelow_, size);
    }
    size_ = size;
}

DiskError JournaledFile::Write(std::uint64_t offset, const void* data, std::size_t size) {
    if (mode_ != Mode::readWrite) return kAccessDenied;
    return WriteInMemory(offset, static_cast<const std::uint8_t*>(data), size);
}

DiskError JournaledFile::SetSize(std::uint64_t size) {
    if (mode_ != Mode::readWrite) return kAccessDenied;
    SetSizeInMemory(size);
    return kNone;
}

bool JournaledFile::HasUncommittedChanges() const {
    return mode_ == Mode::readWrite && (!pages_.empty() || size_ != committedSize_ || keptBelow_ != committedSize_ ||
                                        mainTouched_);
}

void JournaledFile::DiscardUncommitted() {
    pages_.clear();
    // What the journal holds is still needed while the file is not put back.
    if (!mainTouched_) originals_.clear();
    size_ = keptBelow_ = committedSize_;
}

DiskError JournaledFile::Commit() {
    if (!HasUncommittedChanges()) return kNone;
    // A commit before this one could not put the file back: that comes first.
    if (mainTouched_) {
        const DiskError error = PutBackMain();
        if (error != kNone) return error;
    }
    DiskError error = DropUnchangedPages();
    if (error != kNone) return error;
    if (!HasUncommittedChanges()) return kNone;
    // Inside the committed size: the pages written over and those cut away.
    const std::uint64_t committedPages = (committedSize_ + kPage - 1) / kPage;
    std::set<std::uint64_t> needed;
    for (const auto& page : pages_) {
        if (page.first >= committedPages) break;
        needed.insert(page.first);
    }
    for (std::uint64_t page = keptBelow_ / kPage; page < committedPages; ++page) needed.insert(page);

    error = CaptureOriginals(needed);
    if (error == kNone) error = WriteJournal(needed);
    if (error != kNone) return error;
    mainTouched_ = true;
    error = WriteMain();
    if (error == kNone) {
        committedSize_ = keptBelow_ = mainSize_ = size_;
        pages_.clear();
        originals_.clear();
        mainTouched_ = false;
        return kNone;
    }
    PutBackMain();
    return error;
}

DiskError JournaledFile::DropUnchangedPages() {
    // Whole pages inside what the file held and still holds.
    const std::uint64_t limit = std::min(keptBelow_, size_) / kPage;
    std::set<std::uint64_t> candidates;
    for (const auto& page : pages_) {
        if (page.first >= limit) break;
        candidates.insert(page.first);
    }
    const DiskError error = CaptureOriginals(candidates);
    if (error != kNone) return error;
    // Written with what it held already (a stream saved again unchanged): no
    // change, so no journal and no write for it.
    for (std::uint64_t page : candidates)
        if (originals_.at(page) == pages_.at(page)) pages_.erase(page);
    return kNone;
}

DiskError JournaledFile::CaptureOriginals(const std::set<std::uint64_t>& pages) {
    std::vector<std::uint64_t> missing;
    for (std::uint64_t page : pages)
        if (!originals_.count(page)) missing.push_back(page);
    Bytes run;
    for (auto at = missing.begin(); at != missing.end();) {
        const auto end = RunEnd(at, missing.end());
        const std::uint64_t first = *at;
        const std::uint64_t count = static_cast<std::uint64_t>(end - at);
        const std::uint64_t length = std::min(count * kPage, committedSize_ - first * kPage);
        run.resize(static_cast<std::size_t>(length));
        // The file is as at the last commit point wherever no original is kept.
        const DiskError error = ReadPadded(*main_, first * kPage, run.data(), run.size());
        if (error != kNone) return error;
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::size_t from = static_cast<std::size_t>(i * kPage);
            const std::size_t to = std::min(run.size(), from + static_cast<std::size_t>(kPage));
            originals_[first + i] = Bytes(run.begin() + from, run.begin() + to);
        }
        at = end;
    }
    return kNone;
}

DiskError JournaledFile::WriteJournal(const std::set<std::uint64_t>& pages) {
    if (!journal_) {
        const DiskError error = files_.Open(JournalPath(path_), FileAccess::readWrite, FileSharing::none,
                                            FileOpening::existingOrNew, journal_);
        if (error != kNone) {
            journal_.reset();
            return error;
        }
    }
    const std::uint64_t nonce = NewNonce(this);
    Bytes out = EncodeJournalHeader(JournalHeader{nonce, committedSize_});
    Bytes run;
    for (auto page = pages.begin(); page != pages.end();) {
        const auto end = RunEnd(page, pages.end());
        run.clear();
        for (auto in = page; in != end; ++in) {
            const Bytes& original = originals_.at(*in);
            run.insert(run.end(), original.begin(), original.end());
        }
        AppendJournalRecord(out, nonce, *page * kPage, run.data(), static_cast<std::uint32_t>(run.size()));
        page = end;
    }
    // What the file will hold where the save writes.
    JournalTrailer trailer;
    trailer.newSize = size_;
    std::uint8_t bytes[kPage];
    for (std::uint64_t page : ChangedPages()) {
        const std::uint64_t length = PageLength(page, size_);
        if (length == 0) continue;
        const DiskError error = NewPage(page, bytes);
        if (error != kNone) return error;
        trailer.pages.push_back(
            JournalPage{page * kPage, JournalPageChecksum(nonce, bytes, static_cast<std::size_t>(length))});
    }
    AppendJournalTrailer(out, nonce, trailer);
    // A journal of an earlier save is written over: it never needs to be
    // read again once the file reached its commit point, and one torn by
    // this write does not check out.
    DiskError error = journal_->Write(0, out.data(), out.size());
    if (error == kNone) error = journal_->Flush();
    if (error != kNone) return error;
    journaled_ = pages;
    return kNone;
}

std::set<std::uint64_t> JournaledFile::ChangedPages() const {
    std::set<std::uint64_t> changed;
    for (const auto& page : pages_) changed.insert(page.first);
    // Inside the new size, what a cut emptied is written as zeros, so each
    // page of the file goes from its old bytes to its new ones in one write.
    const std::uint64_t emptiedEnd = (std::min(committedSize_, size_) + kPage - 1) / kPage;
    for (std::uint64_t page = keptBelow_ / kPage; page < emptiedEnd; ++page) changed.insert(page);
    return changed;
}

DiskError JournaledFile::NewPage(std::uint64_t page, std::uint8_t* into) {
    const auto written = pages_.find(page);
    if (written == pages_.end()) return BasePage(page, into);
    std::memcpy(into, written->second.data(), kPage);
    return kNone;
}

DiskError JournaledFile::WriteMain() {
    DiskError error = kNone;
    if (mainSize_ != size_) {
        error = main_->SetSize(size_);
        if (error != kNone) return error;
        mainSize_ = size_;
    }
    const std::set<std::uint64_t> changed = ChangedPages();
    Bytes run;
    std::uint8_t page[kPage];
    for (auto at = changed.begin(); at != changed.end();) {
        const auto end = RunEnd(at, changed.end());
        run.clear();
        for (auto in = at; in != end; ++in) {
            error = NewPage(*in, page);
            if (error != kNone) return error;
            run.insert(run.end(), page, page + PageLength(*in, size_));
        }
        if (!run.empty()) {
            error = main_->Write(*at * kPage, run.data(), run.size());
            if (error != kNone) return error;
        }
        at = end;
    }
    return main_->Flush();
}

DiskError JournaledFile::PutBackMain() {
    DiskError error = kNone;
    Bytes run;
    for (auto at = journaled_.begin(); at != journaled_.end() && error == kNone;) {
        const auto end = RunEnd(at, journaled_.end());
        run.clear();
        for (auto in = at; in != end; ++in) {
            const Bytes& original = originals_.at(*in);
            run.insert(run.end(), original.begin(), original.end());
        }
        error = main_->Write(*at * kPage, run.data(), run.size());
        at = end;
    }
    if (error == kNone) error = main_->SetSize(committedSize_);
    if (error == kNone) error = main_->Flush();
    if (error != kNone) return error;
    mainTouched_ = false;
    mainSize_ = committedSize_;
    // The journal stays: rolled back again it changes nothing.
    return kNone;
}

} // namespace parleym

#pragma once
// A data file whose saves are all or nothing. Writes stay in memory until a
// commit point; Commit then puts the bytes they replace (and those a cut
// removes), and checksums of what it will write, into the rollback journal
// beside the file (RollbackJournal.h), flushes it, then writes and flushes
// the file: two flushes per save. An end at any moment therefore leaves the
// file as at one commit point or the next, once the next open has rolled
// back what the journal holds.
//
// A commit that fails (a full disk, a failing write) puts the file back at
// once and keeps everything in memory, so reads go on seeing it and the next
// commit writes it; should putting back fail as well, the journal stays hot
// and the next commit or open finishes that first.
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "plugin/storage/Disk.h"

namespace parleym {

class JournaledFile {
public:
    enum class Mode {
        readWrite,  // held without sharing, made when missing
        readOnly,   // shared for reading; a hot journal is rolled back in what is read only
    };

    // The journal's name beside `path`.
    static std::wstring JournalPath(const std::wstring& path);

    static DiskError Open(FileSystem& files, const std::wstring& path, Mode mode, std::unique_ptr<JournaledFile>& file);
    // What was not committed is dropped; the journal file goes unless a save
    // cut short still needs it.
    ~JournaledFile();
    JournaledFile(const JournaledFile&) = delete;
    JournaledFile& operator=(const JournaledFile&) = delete;

    DiskError Read(std::uint64_t offset, void* buffer, std::size_t size, std::size_t& got);
    DiskError Write(std::uint64_t offset, const void* data, std::size_t size);
    DiskError SetSize(std::uint64_t size);
    std::uint64_t Size() const { return size_; }

    bool HasUncommittedChanges() const;
    DiskError Commit();
    // Back to what the last commit point left, without touching the disk.
    void DiscardUncommitted();

    const std::wstring& Path() const { return path_; }
    Mode OpenedFor() const { return mode_; }
    // Whether the open found a save cut short and rolled it back.
    bool RolledBack() const { return rolledBack_; }

private:
    JournaledFile(FileSystem& files, std::wstring path, Mode mode);
    DiskError RollBackAtOpen(bool mainIsNew);
    DiskError BasePage(std::uint64_t page, std::uint8_t* into);
    DiskError WriteInMemory(std::uint64_t offset, const std::uint8_t* data, std::size_t size);
    void SetSizeInMemory(std::uint64_t size);
    DiskError DropUnchangedPages();
    DiskError CaptureOriginals(const std::set<std::uint64_t>& pages);
    DiskError WriteJournal(const std::set<std::uint64_t>& pages);
    // The pages a commit writes, and what each will hold.
    std::set<std::uint64_t> ChangedPages() const;
    DiskError NewPage(std::uint64_t page, std::uint8_t* into);
    DiskError WriteMain();
    DiskError PutBackMain();
    std::uint64_t PageLength(std::uint64_t page, std::uint64_t size) const;

    FileSystem& files_;
    std::wstring path_;
    Mode mode_;
    std::unique_ptr<Disk> main_;
    std::unique_ptr<Disk> journal_;
    bool rolledBack_ = false;

    // Pages written since the last commit point, each kPage bytes long, zero
    // past the size.
    std::map<std::uint64_t, Bytes> pages_;
    // Pages as at the last commit point (inside its size), for every page the
    // file on disk may no longer hold so.
    std::map<std::uint64_t, Bytes> originals_;
    // Pages whose originals the journal on the medium holds, which the file
    // may hold otherwise while mainTouched_.
    std::set<std::uint64_t> journaled_;
    std::uint64_t committedSize_ = 0;
    std::uint64_t size_ = 0;
    // Bytes at or past this read as zeros unless written since the commit
    // point: a cut since then removed them.
    std::uint64_t keptBelow_ = 0;
    std::uint64_t mainSize_ = 0;
    // The file on disk may differ from the last commit point.
    bool mainTouched_ = false;
};

} // namespace parleym

#include "plugin/storage/StorageFileOpen.h"

#include "plugin/storage/CompoundFileCheck.h"
#include "plugin/storage/JournaledFile.h"
#include "plugin/storage/JournaledLockBytes.h"
#include "plugin/storage/LeftoverRewrites.h"
#include "plugin/storage/StorageFileSalvage.h"
#include "plugin/storage/Win32FileSystem.h"

namespace parleym {

namespace {
constexpr DWORD kReadWriteExclusive = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

HRESULT Look(JournaledFile& file, bool* mayHoldPendingRewrites) {
    if (mayHoldPendingRewrites) *mayHoldPendingRewrites = true;
    bool siblingSeen = false;
    const FileReader read = [&file](std::uint64_t offset, std::uint8_t* buffer, std::size_t length) {
        std::size_t got = 0;
        return file.Read(offset, buffer, length, got) == disk_error::kNone && got == length;
    };
    const StreamNameVisitor streamNames = [&siblingSeen](const std::u16string& name) {
        if (!siblingSeen) siblingSeen = IsPendingRewriteSibling(std::wstring(name.begin(), name.end()));
    };
    switch (CheckCompoundFile(file.Size(), read, streamNames)) {
    case CompoundFileFault::none:
        if (mayHoldPendingRewrites) *mayHoldPendingRewrites = siblingSeen;
        return S_OK;
    case CompoundFileFault::unreadable:
        return S_OK;
    case CompoundFileFault::empty:
    case CompoundFileFault::notCompoundFile:
        return STG_E_FILEALREADYEXISTS;
    default:
        return STG_E_DOCFILECORRUPT;
    }
}

} // namespace

StorageFile::StorageFile() = default;

StorageFile::~StorageFile() {
    try {
        Close();
    } catch (...) {
    }
}

HRESULT StorageFile::Open(const std::wstring& path, bool* created, bool* mayHoldPendingRewrites,
                          SalvagePlanner salvage) {
    Close();
    if (created) *created = false;
    if (mayHoldPendingRewrites) *mayHoldPendingRewrites = false;
    HRESULT hr = OpenFile(path, mayHoldPendingRewrites);
    if (hr == STG_E_DOCFILECORRUPT && salvage) {
        // The salvage reads the file as the open left it (a save cut short
        // rolled back) and puts a fresh one in its place; closing first lets
        // it read and move, and drops a journal that has done its work.
        Close();
        hr = SalvageStorageFile(path, salvage);
        if (SUCCEEDED(hr)) hr = OpenFile(path, mayHoldPendingRewrites);
    }
    if (SUCCEEDED(hr)) hr = OpenRoot(created);
    if (FAILED(hr)) Close();
    return hr;
}

HRESULT StorageFile::OpenFile(const std::wstring& path, bool* mayHoldPendingRewrites) {
    std::unique_ptr<JournaledFile> opened;
    const DiskError error = JournaledFile::Open(DataFileSystem(), path, JournaledFile::Mode::readWrite, opened);
    if (error != disk_error::kNone) return StorageErrorOf(error, false);
    file_ = std::move(opened);
    return file_->Size() != 0 ? Look(*file_, mayHoldPendingRewrites) : S_OK;
}

HRESULT StorageFile::OpenRoot(bool* created) {
    bytes_ = ComPtr<JournaledLockBytes>(new JournaledLockBytes(file_));
    const bool fresh = file_->Size() == 0;
    if (created) *created = fresh;
    const HRESULT hr =
        fresh ? StgCreateDocfileOnILockBytes(bytes_.Get(), STGM_CREATE | kReadWriteExclusive, 0, root_.Put())
              : StgOpenStorageOnILockBytes(bytes_.Get(), nullptr, kReadWriteExclusive, nullptr, 0, root_.Put());
    if (FAILED(hr)) {
        root_.Reset();
        bytes_->Detach();
        bytes_.Reset();
    }
    return hr;
}

HRESULT StorageFile::Commit() {
    if (!root_) return E_UNEXPECTED;
    // In direct mode this hands over what the compound-file code still keeps
    // in memory (Wine: the last sectors written of each chain).
    const HRESULT hr = root_->Commit(STGC_DEFAULT);
    if (FAILED(hr)) return hr;
    return StorageErrorOf(file_->Commit(), true);
}

HRESULT StorageFile::Revert() {
    if (!file_) return E_UNEXPECTED;
    // The compound-file code's own caches describe what is dropped: its
    // objects must never write again, and a new root reads the file afresh.
    if (bytes_) bytes_->Detach();
    root_.Reset();
    bytes_.Reset();
    file_->DiscardUncommitted();
    return OpenRoot(nullptr);
}

void StorageFile::Close() {
    root_.Reset();
    if (file_) file_->Commit();
    if (bytes_) bytes_->Detach();
    bytes_.Reset();
    file_.reset();
}

HRESULT CheckStorageFile(const std::wstring& path, bool* mayHoldPendingRewrites) {
    if (mayHoldPendingRewrites) *mayHoldPendingRewrites = true;
    std::unique_ptr<JournaledFile> file;
    if (JournaledFile::Open(DataFileSystem(), path, JournaledFile::Mode::readOnly, file) != disk_error::kNone)
        return S_OK;
    return Look(*file, mayHoldPendingRewrites);
}

HRESULT OpenStorageFile(const std::wstring& path, DWORD mode, IStorage** root) {
    *root = nullptr;
    if (mode & (STGM_WRITE | STGM_READWRITE)) return STG_E_INVALIDFLAG;
    std::unique_ptr<JournaledFile> opened;
    const DiskError error = JournaledFile::Open(DataFileSystem(), path, JournaledFile::Mode::readOnly, opened);
    if (error != disk_error::kNone) return StorageErrorOf(error, false);
    const HRESULT checked = Look(*opened, nullptr);
    if (FAILED(checked)) return checked;
    const ComPtr<JournaledLockBytes> bytes(new JournaledLockBytes(std::shared_ptr<JournaledFile>(std::move(opened))));
    return StgOpenStorageOnILockBytes(bytes.Get(), nullptr, mode, nullptr, 0, root);
}

} // namespace parleym

#include "plugin/storage/StorageFileSalvage.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "plugin/core/UserMessage.h"
#include "plugin/storage/Scoped.h"
#include "plugin/storage/StorageDb.h"
#include "plugin/storage/JournaledFile.h"
#include "plugin/storage/StorageFileOpen.h"
#include "plugin/storage/StreamIO.h"

namespace parleym {

namespace {

struct HandleCloser {
    void operator()(void* handle) const { CloseHandle(handle); }
};
using ScopedFile = std::unique_ptr<void, HandleCloser>;

HRESULT LastErrorResult() {
    const DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? STG_E_SHAREVIOLATION
                                                                              : HRESULT_FROM_WIN32(error);
}

bool ReadAt(HANDLE file, std::uint64_t offset, std::uint8_t* buffer, std::size_t length) {
    if (length > MAXDWORD) return false;
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    return ReadFile(file, buffer, static_cast<DWORD>(length), &got, &at) && got == length;
}

// `path` + `suffix`, numbered when a file of that name is there already.
std::wstring FreeName(const std::wstring& path, const std::wstring& suffix) {
    std::wstring name = path + suffix;
    for (int n = 2; GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES; ++n)
        name = path + suffix + L"-" + std::to_wstring(n);
    return name;
}

std::wstring DamagedSuffix() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t suffix[40];
    swprintf(suffix, sizeof suffix / sizeof suffix[0], L".damaged-%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth,
             now.wDay, now.wHour, now.wMinute, now.wSecond);
    return suffix;
}

// Commits the fresh file now and then, so that a large salvage never holds
// the whole copy in memory until its end.
class FreshFile {
public:
    HRESULT Open(const std::wstring& path) {
        bool created = false;
        const HRESULT hr = file_.Open(path, &created);
        return SUCCEEDED(hr) && !created ? STG_E_FILEALREADYEXISTS : hr;
    }
    IStorage* Root() const { return file_.Root(); }
    HRESULT Wrote(std::size_t bytes) {
        pending_ += bytes;
        if (pending_ < kCommitEvery) return S_OK;
        pending_ = 0;
        return file_.Commit();
    }
    HRESULT Finish() {
        const HRESULT hr = file_.Commit();
        file_.Close();
        return hr;
    }

private:
    static constexpr std::size_t kCommitEvery = 8u << 20;
    StorageFile file_;
    std::size_t pending_ = 0;
};

HRESULT WriteElement(IStorage* parent, const FreshElement& element, const CompoundFileSalvage& file, FreshFile& fresh) {
    const std::wstring name(element.name.begin(), element.name.end());
    if (element.storage) {
        ComPtr<IStorage> storage;
        HRESULT hr = parent->CreateStorage(name.c_str(), kStorageAccess, 0, 0, storage.Put());
        CLSID classId;
        static_assert(sizeof classId == sizeof element.classId, "a class identifier is 16 bytes");
        std::memcpy(&classId, element.classId.data(), sizeof classId);
        if (SUCCEEDED(hr) && !IsEqualCLSID(classId, CLSID_NULL)) hr = storage->SetClass(classId);
        for (const FreshElement& child : element.children)
            if (SUCCEEDED(hr)) hr = WriteElement(storage.Get(), child, file, fresh);
        return hr;
    }
    Bytes copied;
    if (element.source != FreshElement::kNoSource && !file.ReadStream(element.source, copied)) return STG_E_READFAULT;
    const Bytes& data = element.source != FreshElement::kNoSource ? copied : element.data;
    ComPtr<IStream> stream;
    HRESULT hr = parent->CreateStream(name.c_str(), kStorageAccess, 0, 0, stream.Put());
    if (SUCCEEDED(hr)) hr = WriteBytes(stream.Get(), data.data(), data.size());
    stream.Reset();
    if (SUCCEEDED(hr)) hr = fresh.Wrote(data.size());
    return hr;
}

// The fresh file, complete and on the disk, at the name `path`.
HRESULT MakeFreshFile(const std::wstring& path, const SalvagePlan& plan, const CompoundFileSalvage& file) {
    FreshFile fresh;
    HRESULT hr = fresh.Open(path);
    for (const FreshElement& element : plan.root.children)
        if (SUCCEEDED(hr)) hr = WriteElement(fresh.Root(), element, file, fresh);
    const HRESULT finished = fresh.Finish();
    if (SUCCEEDED(hr)) hr = finished;
    // Once the file is whole its journal has no more to say; it must not
    // stay behind under a name no file bears after the move.
    if (FAILED(hr)) DeleteFileW(path.c_str());
    DeleteFileW(JournaledFile::JournalPath(path).c_str());
    return hr;
}

// The damaged bytes, as they are, in a new file that reaches the disk before
// anything takes the damaged file's place.
HRESULT KeepCopy(HANDLE damaged, std::uint64_t size, const std::wstring& kept) {
    ScopedFile copy(CreateFileW(kept.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (copy.get() == INVALID_HANDLE_VALUE) {
        copy.release();
        return LastErrorResult();
    }
    std::vector<std::uint8_t> buffer(1 << 20);
    HRESULT hr = S_OK;
    for (std::uint64_t at = 0; at < size && SUCCEEDED(hr);) {
        const DWORD length = static_cast<DWORD>(std::min<std::uint64_t>(buffer.size(), size - at));
        DWORD written = 0;
        if (!ReadAt(damaged, at, buffer.data(), length)) hr = STG_E_READFAULT;
        else if (!WriteFile(copy.get(), buffer.data(), length, &written, nullptr) || written != length)
            hr = LastErrorResult();
        at += length;
    }
    if (SUCCEEDED(hr) && !FlushFileBuffers(copy.get())) hr = LastErrorResult();
    copy.reset();
    if (FAILED(hr)) DeleteFileW(kept.c_str());
    return hr;
}

} // namespace

HRESULT SalvageStorageFile(const std::wstring& path, SalvagePlanner planner) {
    // Nobody writes to the file while it is read and copied.
    ScopedFile damaged(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (damaged.get() == INVALID_HANDLE_VALUE) {
        damaged.release();
        return LastErrorResult();
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(damaged.get(), &size) || size.QuadPart < 0) return STG_E_DOCFILECORRUPT;
    const HANDLE handle = damaged.get();
    CompoundFileSalvage file;
    if (!file.Load(static_cast<std::uint64_t>(size.QuadPart),
                   [handle](std::uint64_t offset, std::uint8_t* buffer, std::size_t length) {
                       return ReadAt(handle, offset, buffer, length);
                   }))
        return STG_E_DOCFILECORRUPT;
    const SalvagePlan plan = planner(file);
    if (!plan.anything) return STG_E_DOCFILECORRUPT;

    const std::wstring fresh = FreeName(path, L".salvage");
    HRESULT hr = MakeFreshFile(fresh, plan, file);
    if (FAILED(hr)) return hr;
    const std::wstring kept = FreeName(path, DamagedSuffix());
    hr = KeepCopy(damaged.get(), static_cast<std::uint64_t>(size.QuadPart), kept);
    damaged.reset();
    // A journal left beside belongs to the damaged file and must never be
    // rolled back over the fresh one.
    const std::wstring journal = JournaledFile::JournalPath(path);
    if (SUCCEEDED(hr) && !DeleteFileW(journal.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        hr = LastErrorResult();
        DeleteFileW(kept.c_str());
    }
    if (SUCCEEDED(hr) && !MoveFileExW(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        hr = LastErrorResult();
        DeleteFileW(kept.c_str());
    }
    if (FAILED(hr)) {
        DeleteFileW(fresh.c_str());
        return hr;
    }
    const std::string text = "The file " + FromElementName(path.c_str()) + " was damaged. " + plan.recovered +
                             "; the damaged file was kept as " + FromElementName(kept.c_str()) + ".";
    ShowWarning(text.c_str(), "Parleym");
    return S_OK;
}

} // namespace parleym

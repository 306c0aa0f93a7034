#include "plugin/storage/StorageFileOpen.h"

#include <windows.h>

#include <memory>
#include <vector>

#include "plugin/storage/ComPtr.h"
#include "plugin/storage/CompoundFileCheck.h"
#include "plugin/storage/StreamReplace.h"

namespace parleym {

namespace {
struct HandleCloser {
    void operator()(void* handle) const { CloseHandle(handle); }
};
using ScopedFile = std::unique_ptr<void, HandleCloser>;

HRESULT LastErrorResult() {
    const DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? STG_E_SHAREVIOLATION
                                                                              : STG_E_DOCFILECORRUPT;
}

// Writes the repair of what an abrupt end left; the file stays as it was
// (and is reported damaged) when it cannot be written.
HRESULT WritePatches(const std::wstring& path, const std::vector<CompoundFilePatch>& patches) {
    const HANDLE opened = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return LastErrorResult();
    const ScopedFile file(opened);
    for (const CompoundFilePatch& patch : patches) {
        const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(patch.value), static_cast<std::uint8_t>(patch.value >> 8),
                                       static_cast<std::uint8_t>(patch.value >> 16),
                                       static_cast<std::uint8_t>(patch.value >> 24)};
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(patch.offset);
        at.OffsetHigh = static_cast<DWORD>(patch.offset >> 32);
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes, sizeof bytes, &written, &at) || written != sizeof bytes)
            return STG_E_DOCFILECORRUPT;
    }
    return FlushFileBuffers(file.get()) ? S_OK : STG_E_DOCFILECORRUPT;
}
} // namespace

HRESULT CheckStorageFile(const std::wstring& path, bool* mayHoldPendingRewrites) {
    if (mayHoldPendingRewrites) *mayHoldPendingRewrites = true;
    bool siblingSeen = false;
    // Shared with everyone so that this look never makes the real open fail;
    // closed again before the platform opens the file.
    const HANDLE opened = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return S_OK;
    ScopedFile file(opened);
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) return S_OK;

    const FileReader read = [&file](std::uint64_t offset, std::uint8_t* buffer, std::size_t length) {
        if (length > MAXDWORD) return false;
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        return ReadFile(file.get(), buffer, static_cast<DWORD>(length), &got, &at) && got == length;
    };
    std::vector<CompoundFilePatch> repairs;
    const StreamNameVisitor streamNames = [&siblingSeen](const std::u16string& name) {
        if (!siblingSeen) siblingSeen = IsPendingRewriteSibling(std::wstring(name.begin(), name.end()));
    };
    switch (CheckCompoundFileForRepair(static_cast<std::uint64_t>(size.QuadPart), read, repairs, streamNames)) {
    case CompoundFileFault::none:
        if (mayHoldPendingRewrites) *mayHoldPendingRewrites = siblingSeen;
        if (repairs.empty()) return S_OK;
        file.reset();
        return WritePatches(path, repairs);
    case CompoundFileFault::unreadable:
        return S_OK;
    case CompoundFileFault::empty:
    case CompoundFileFault::notCompoundFile:
        return STG_E_FILEALREADYEXISTS;
    default:
        return STG_E_DOCFILECORRUPT;
    }
}

HRESULT CreateStorageFile(const std::wstring& path, DWORD mode, IStorage** root) {
    *root = nullptr;
    const std::wstring made = path + L".new";
    {
        ComPtr<IStorage> fresh;
        const HRESULT hr =
            StgCreateDocfile(made.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, fresh.Put());
        if (FAILED(hr)) return hr;
        const HRESULT committed = fresh->Commit(STGC_DEFAULT);
        fresh.Reset();
        if (FAILED(committed)) {
            DeleteFileW(made.c_str());
            return committed;
        }
    }
    if (!MoveFileExW(made.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
        const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        DeleteFileW(made.c_str());
        return hr;
    }
    return StgOpenStorage(path.c_str(), nullptr, mode, nullptr, 0, root);
}

HRESULT OpenStorageFile(const std::wstring& path, DWORD mode, IStorage** root, bool* mayHoldPendingRewrites) {
    *root = nullptr;
    const HRESULT checked = CheckStorageFile(path, mayHoldPendingRewrites);
    if (FAILED(checked)) return checked;
    return StgOpenStorage(path.c_str(), nullptr, mode, nullptr, 0, root);
}

} // namespace parleym

#include "plugin/storage/StorageFileOpen.h"

#include <windows.h>

#include <memory>

#include "plugin/storage/ComPtr.h"
#include "plugin/storage/CompoundFileCheck.h"
#include "plugin/storage/StorageFileSalvage.h"
#include "plugin/storage/StreamReplace.h"

namespace parleym {

namespace {
struct HandleCloser {
    void operator()(void* handle) const { CloseHandle(handle); }
};
using ScopedFile = std::unique_ptr<void, HandleCloser>;

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
    const StreamNameVisitor streamNames = [&siblingSeen](const std::u16string& name) {
        if (!siblingSeen) siblingSeen = IsPendingRewriteSibling(std::wstring(name.begin(), name.end()));
    };
    switch (CheckCompoundFile(static_cast<std::uint64_t>(size.QuadPart), read, streamNames)) {
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

HRESULT OpenStorageFile(const std::wstring& path, DWORD mode, IStorage** root, bool* mayHoldPendingRewrites,
                        SalvagePlanner salvage) {
    *root = nullptr;
    HRESULT checked = CheckStorageFile(path, mayHoldPendingRewrites);
    if (checked == STG_E_DOCFILECORRUPT && salvage) checked = SalvageStorageFile(path, salvage);
    if (FAILED(checked)) return checked;
    return StgOpenStorage(path.c_str(), nullptr, mode, nullptr, 0, root);
}

} // namespace parleym

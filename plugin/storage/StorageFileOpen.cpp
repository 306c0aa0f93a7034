#include "plugin/storage/StorageFileOpen.h"

#include <windows.h>

#include <memory>

#include "plugin/storage/CompoundFileCheck.h"

namespace parleym {

namespace {
struct HandleCloser {
    void operator()(void* handle) const { CloseHandle(handle); }
};
using ScopedFile = std::unique_ptr<void, HandleCloser>;
} // namespace

HRESULT CheckStorageFile(const std::wstring& path) {
    // Shared with everyone so that this look never makes the real open fail;
    // closed again before the platform opens the file.
    const HANDLE opened = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return S_OK;
    const ScopedFile file(opened);
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
    switch (CheckCompoundFile(static_cast<std::uint64_t>(size.QuadPart), read)) {
    case CompoundFileFault::none:
    case CompoundFileFault::unreadable:
        return S_OK;
    case CompoundFileFault::empty:
    case CompoundFileFault::notCompoundFile:
        return STG_E_FILEALREADYEXISTS;
    default:
        return STG_E_DOCFILECORRUPT;
    }
}

HRESULT OpenStorageFile(const std::wstring& path, DWORD mode, IStorage** root) {
    *root = nullptr;
    const HRESULT checked = CheckStorageFile(path);
    if (FAILED(checked)) return checked;
    return StgOpenStorage(path.c_str(), nullptr, mode, nullptr, 0, root);
}

} // namespace parleym

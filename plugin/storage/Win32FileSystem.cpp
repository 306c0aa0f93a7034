#include "plugin/storage/Win32FileSystem.h"

#include <windows.h>

#include <algorithm>

#include "plugin/storage/Scoped.h"

namespace parleym {

namespace {

// Reads and writes move the file pointer first instead of passing the offset
// in an OVERLAPPED: Wine serves the latter through its server, about 40 us a
// call against half a microsecond, and the compound-file code reads sector by
// sector. The handle is held without sharing and used by one thread only.
class Win32Disk : public Disk {
public:
    explicit Win32Disk(FileHandle file) : file_(std::move(file)) {}

    DiskError Read(std::uint64_t offset, void* buffer, std::size_t size, std::size_t& got) override {
        got = 0;
        if (!MoveTo(offset)) return Failure();
        auto* into = static_cast<std::uint8_t*>(buffer);
        while (size > 0) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
            DWORD read = 0;
            if (!ReadFile(file_.get(), into, chunk, &read, nullptr)) {
                const DWORD error = GetLastError();
                if (error == ERROR_HANDLE_EOF) break;
                return error;
            }
            if (read == 0) break;
            got += read;
            into += read;
            size -= read;
        }
        return disk_error::kNone;
    }

    DiskError Write(std::uint64_t offset, const void* data, std::size_t size) override {
        if (!MoveTo(offset)) return Failure();
        const auto* from = static_cast<const std::uint8_t*>(data);
        while (size > 0) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
            DWORD written = 0;
            if (!WriteFile(file_.get(), from, chunk, &written, nullptr)) return Failure();
            if (written == 0) return disk_error::kWriteFault;
            from += written;
            size -= written;
        }
        return disk_error::kNone;
    }

    DiskError Flush() override { return FlushFileBuffers(file_.get()) ? disk_error::kNone : Failure(); }

    DiskError Size(std::uint64_t& size) override {
        LARGE_INTEGER length;
        if (!GetFileSizeEx(file_.get(), &length)) return Failure();
        size = static_cast<std::uint64_t>(length.QuadPart);
        return disk_error::kNone;
    }

    DiskError SetSize(std::uint64_t size) override {
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(size);
        if (!SetFilePointerEx(file_.get(), to, nullptr, FILE_BEGIN) || !SetEndOfFile(file_.get())) return Failure();
        return disk_error::kNone;
    }

private:
    bool MoveTo(std::uint64_t offset) {
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(offset);
        return SetFilePointerEx(file_.get(), to, nullptr, FILE_BEGIN) != FALSE;
    }
    static DiskError Failure() {
        const DWORD error = GetLastError();
        return error ? error : disk_error::kWriteFault;
    }

    FileHandle file_;
};

Win32FileSystem g_platform;
FileSystem* g_current = &g_platform;

} // namespace

DiskError Win32FileSystem::Open(const std::wstring& path, FileAccess access, FileSharing sharing,
                                FileOpening opening, std::unique_ptr<Disk>& disk, bool* created) {
    disk.reset();
    if (created) *created = false;
    const DWORD desired = access == FileAccess::readWrite ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    const DWORD share = sharing == FileSharing::none   ? 0
                        : sharing == FileSharing::read ? FILE_SHARE_READ
                                                       : FILE_SHARE_READ | FILE_SHARE_WRITE;
    const DWORD disposition = opening == FileOpening::existing        ? OPEN_EXISTING
                              : opening == FileOpening::existingOrNew ? OPEN_ALWAYS
                                                                      : CREATE_ALWAYS;
    FileHandle file(CreateFileW(path.c_str(), desired, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        return error ? error : disk_error::kAccessDenied;
    }
    if (created) *created = opening != FileOpening::existing && GetLastError() != ERROR_ALREADY_EXISTS;
    disk = std::make_unique<Win32Disk>(std::move(file));
    return disk_error::kNone;
}

DiskError Win32FileSystem::Remove(const std::wstring& path) {
    return DeleteFileW(path.c_str()) ? disk_error::kNone : GetLastError();
}

DiskError Win32FileSystem::Replace(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? disk_error::kNone
               : GetLastError();
}

FileSystem& DataFileSystem() { return *g_current; }

void UseDataFileSystem(FileSystem* files) { g_current = files ? files : &g_platform; }

} // namespace parleym

#pragma once
// The few file operations the data files need, behind an interface so that
// the journal's logic stays plain C++ (built and tested natively too) and a
// test can put a simulated disk under the real stores.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "plugin/storage/BinaryCodec.h"

namespace parleym {

// Why a call failed, as a Windows system error number; 0 when it did not.
// Simulated disks answer with the same numbers.
using DiskError = std::uint32_t;
namespace disk_error {
constexpr DiskError kNone = 0;
constexpr DiskError kFileNotFound = 2;
constexpr DiskError kPathNotFound = 3;
constexpr DiskError kAccessDenied = 5;
constexpr DiskError kWriteFault = 29;
constexpr DiskError kReadFault = 30;
constexpr DiskError kSharingViolation = 32;
constexpr DiskError kHandleDiskFull = 39;
constexpr DiskError kDiskFull = 112;
} // namespace disk_error

class Disk {
public:
    virtual ~Disk() = default;
    // Fewer than `size` bytes (`got`) only where the file ends.
    virtual DiskError Read(std::uint64_t offset, void* buffer, std::size_t size, std::size_t& got) = 0;
    // Past the end the file grows; a gap reads as zeros.
    virtual DiskError Write(std::uint64_t offset, const void* data, std::size_t size) = 0;
    // Returns once everything written before it is on the medium.
    virtual DiskError Flush() = 0;
    virtual DiskError Size(std::uint64_t& size) = 0;
    virtual DiskError SetSize(std::uint64_t size) = 0;
};

enum class FileAccess { read, readWrite };
// What other openers may do while the file is open.
enum class FileSharing { none, read, readWrite };
enum class FileOpening { existing, existingOrNew, alwaysNew };

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // `created`, when given, tells whether the call made the file.
    virtual DiskError Open(const std::wstring& path, FileAccess access, FileSharing sharing, FileOpening opening,
                           std::unique_ptr<Disk>& disk, bool* created = nullptr) = 0;
    virtual DiskError Remove(const std::wstring& path) = 0;
    // Moves `from` over `to`, replacing it, and returns once the move is on
    // the medium.
    virtual DiskError Replace(const std::wstring& from, const std::wstring& to) = 0;
};

// A file held in memory, for reading a copy of one (tools, tests).
class MemoryDisk : public Disk {
public:
    MemoryDisk() = default;
    explicit MemoryDisk(Bytes bytes) : bytes_(std::move(bytes)) {}
    DiskError Read(std::uint64_t offset, void* buffer, std::size_t size, std::size_t& got) override;
    DiskError Write(std::uint64_t offset, const void* data, std::size_t size) override;
    DiskError Flush() override { return disk_error::kNone; }
    DiskError Size(std::uint64_t& size) override;
    DiskError SetSize(std::uint64_t size) override;
    const Bytes& Contents() const { return bytes_; }
    Bytes Take() { return std::move(bytes_); }

private:
    Bytes bytes_;
};

// Reads exactly `size` bytes; a file that ends before is kReadFault.
DiskError ReadFully(Disk& disk, std::uint64_t offset, void* buffer, std::size_t size);

} // namespace parleym

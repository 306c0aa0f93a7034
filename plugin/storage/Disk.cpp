#include "plugin/storage/Disk.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace parleym {

namespace {
// A memory file is far below this; anything larger is refused, not allocated.
constexpr std::uint64_t kMaxMemoryFile = std::numeric_limits<std::uint32_t>::max();
} // namespace

DiskError MemoryDisk::Read(std::uint64_t offset, void* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    if (offset >= bytes_.size()) return disk_error::kNone;
    got = static_cast<std::size_t>(std::min<std::uint64_t>(size, bytes_.size() - offset));
    std::memcpy(buffer, bytes_.data() + offset, got);
    return disk_error::kNone;
}

DiskError MemoryDisk::Write(std::uint64_t offset, const void* data, std::size_t size) {
    if (size == 0) return disk_error::kNone;
    if (offset > kMaxMemoryFile || size > kMaxMemoryFile - offset) return disk_error::kDiskFull;
    const std::size_t end = static_cast<std::size_t>(offset) + size;
    if (end > bytes_.size()) bytes_.resize(end, 0);
    std::memcpy(bytes_.data() + offset, data, size);
    return disk_error::kNone;
}

DiskError MemoryDisk::Size(std::uint64_t& size) {
    size = bytes_.size();
    return disk_error::kNone;
}

DiskError MemoryDisk::SetSize(std::uint64_t size) {
    if (size > kMaxMemoryFile) return disk_error::kDiskFull;
    bytes_.resize(static_cast<std::size_t>(size), 0);
    return disk_error::kNone;
}

DiskError ReadFully(Disk& disk, std::uint64_t offset, void* buffer, std::size_t size) {
    auto* into = static_cast<std::uint8_t*>(buffer);
    while (size > 0) {
        std::size_t got = 0;
        const DiskError error = disk.Read(offset, into, size, got);
        if (error != disk_error::kNone) return error;
        if (got == 0) return disk_error::kReadFault;
        into += got;
        offset += got;
        size -= got;
    }
    return disk_error::kNone;
}

} // namespace parleym

#pragma once
// The platform's files behind the Disk interface, and the one file system
// every data file is opened through: the platform's, unless a test has put
// a simulated one in its place.
#include "plugin/storage/Disk.h"

namespace parleym {

class Win32FileSystem : public FileSystem {
public:
    DiskError Open(const std::wstring& path, FileAccess access, FileSharing sharing, FileOpening opening,
                   std::unique_ptr<Disk>& disk, bool* created = nullptr) override;
    DiskError Remove(const std::wstring& path) override;
    DiskError Replace(const std::wstring& from, const std::wstring& to) override;
};

FileSystem& DataFileSystem();
// Null puts the platform's back. For tests.
void UseDataFileSystem(FileSystem* files);

} // namespace parleym

#include "plugin/core/UserSettingsFile.h"

#include <memory>

#include "plugin/storage/StreamIO.h"
#include "plugin/storage/Win32FileSystem.h"

namespace parleym {
namespace {

// Far above any real account list; a larger file is not ours.
constexpr std::uint64_t kMaxSettingsFileSize = 16 * 1024 * 1024;

SettingsFileResult FileError(DiskError code) { return {SettingsFileResult::FileError, code ? code : ERROR_GEN_FAILURE}; }

// The name the new content is written under before it is moved into place.
std::wstring BesidePath(const std::wstring& path) { return path + L".new"; }

// Opened for reading and writing without being made: the plug-in never creates it.
DiskError OpenExisting(FileSystem& files, const std::wstring& path, std::unique_ptr<Disk>& disk) {
    return files.Open(path, FileAccess::readWrite, FileSharing::readWrite, FileOpening::existing, disk);
}

SettingsFileResult ReadFrom(FileSystem& files, const std::wstring& path, std::vector<CUserSettings>& records) {
    std::unique_ptr<Disk> file;
    DiskError error = OpenExisting(files, path, file);
    std::uint64_t size = 0;
    if (error == disk_error::kNone) error = file->Size(size);
    if (error != disk_error::kNone) return FileError(error);
    if (size > kMaxSettingsFileSize) return {SettingsFileResult::InvalidFile, 0};
    Bytes cipher(static_cast<std::size_t>(size));
    error = ReadFully(*file, 0, cipher.data(), cipher.size());
    if (error == disk_error::kReadFault) return {SettingsFileResult::InvalidFile, 0};
    if (error != disk_error::kNone) return FileError(error);
    Bytes plain;
    std::vector<CUserSettings> read;
    if (!DecryptUserSettings(cipher, plain) || !DecodeUserSettings(plain, read)) return {SettingsFileResult::InvalidFile, 0};
    records = std::move(read);
    return {};
}

} // namespace

SettingsFileResult ReadUserSettingsFile(const std::string& path, std::vector<CUserSettings>& records) {
    FileSystem& files = DataFileSystem();
    const std::wstring widePath = ToElementName(path);
    const SettingsFileResult result = ReadFrom(files, widePath, records);
    const bool gone = result.kind == SettingsFileResult::FileError && result.errorCode == disk_error::kFileNotFound;
    if (result.kind == SettingsFileResult::Ok || (!gone && result.kind != SettingsFileResult::InvalidFile))
        return result;
    // A write that ended between its steps where a move over the file is not
    // one step: the new content beside it, sealed and checked whole by its
    // MAC, is the settings, and it goes into place now.
    const std::wstring beside = BesidePath(widePath);
    if (ReadFrom(files, beside, records).kind != SettingsFileResult::Ok) return result;
    files.Replace(beside, widePath);
    return {};
}

SettingsFileResult WriteUserSettingsFile(const std::string& path, const std::vector<CUserSettings>& records) {
    FileSystem& files = DataFileSystem();
    const std::wstring widePath = ToElementName(path);
    {
        // The file must exist and be writable now, as the plug-in never creates it.
        std::unique_ptr<Disk> existing;
        const DiskError error = OpenExisting(files, widePath, existing);
        if (error != disk_error::kNone) return FileError(error);
    }
    Bytes cipher;
    if (!EncryptUserSettings(EncodeUserSettings(records), cipher)) return {SettingsFileResult::EncryptionError, 0};

    // Written beside and moved over the file once on the disk, so that an end
    // at any point leaves the old file or the new one, each whole.
    const std::wstring beside = BesidePath(widePath);
    DiskError error = disk_error::kNone;
    {
        std::unique_ptr<Disk> out;
        error = files.Open(beside, FileAccess::readWrite, FileSharing::none, FileOpening::alwaysNew, out);
        if (error != disk_error::kNone) return FileError(error);
        error = out->Write(0, cipher.data(), cipher.size());
        if (error == disk_error::kNone) error = out->Flush();
    }
    if (error == disk_error::kNone) error = files.Replace(beside, widePath);
    if (error != disk_error::kNone) {
        files.Remove(beside);
        return FileError(error);
    }
    return {};
}

} // namespace parleym

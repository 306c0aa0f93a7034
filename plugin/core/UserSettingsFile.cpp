#include "plugin/core/UserSettingsFile.h"

#include <algorithm>

#include "plugin/core/Handle.h"

namespace parleym {
namespace {

// Far above any real account list; a larger file is not ours.
constexpr DWORD kMaxSettingsFileSize = 16 * 1024 * 1024;

SettingsFileResult FileError(DWORD code) { return {SettingsFileResult::FileError, code ? code : ERROR_GEN_FAILURE}; }

FileHandle OpenExisting(const std::string& path) {
    return FileHandle(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool WriteAll(HANDLE file, const Bytes& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1 << 20));
        if (!WriteFile(file, data.data() + done, chunk, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return true;
}

} // namespace

SettingsFileResult ReadUserSettingsFile(const std::string& path, std::vector<CUserSettings>& records) {
    FileHandle file = OpenExisting(path);
    if (!file) return FileError(GetLastError());
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size)) return FileError(GetLastError());
    if (size.QuadPart > kMaxSettingsFileSize) return {SettingsFileResult::InvalidFile, 0};
    Bytes cipher(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    if (!cipher.empty() && !ReadFile(file.get(), cipher.data(), static_cast<DWORD>(cipher.size()), &read, nullptr))
        return FileError(GetLastError());
    if (read != cipher.size()) return {SettingsFileResult::InvalidFile, 0};
    Bytes plain;
    if (!DecryptUserSettings(cipher, plain) || !DecodeUserSettings(plain, records))
        return {SettingsFileResult::InvalidFile, 0};
    return {};
}

SettingsFileResult WriteUserSettingsFile(const std::string& path, const std::vector<CUserSettings>& records) {
    {
        // The file must exist and be writable now, as the plug-in never creates it.
        FileHandle existing = OpenExisting(path);
        if (!existing) return FileError(GetLastError());
    }
    Bytes cipher;
    if (!EncryptUserSettings(EncodeUserSettings(records), cipher)) return {SettingsFileResult::EncryptionError, 0};

    const std::string temp = path + ".new";
    {
        FileHandle out(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
        if (!out) return FileError(GetLastError());
        if (!WriteAll(out.get(), cipher) || !FlushFileBuffers(out.get())) {
            const DWORD code = GetLastError();
            out.reset();
            DeleteFileA(temp.c_str());
            return FileError(code);
        }
    }
    if (!MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD code = GetLastError();
        DeleteFileA(temp.c_str());
        return FileError(code);
    }
    return {};
}

} // namespace parleym

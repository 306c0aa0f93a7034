#pragma once
// Reading and writing users.dat on disk. The file is never created here: an
// installation supplies it, and a missing file is an error.
#include <windows.h>

#include <string>
#include <vector>

#include "plugin/core/UserSettingsFormat.h"

namespace parleym {

struct SettingsFileResult {
    enum Kind { Ok, FileError, InvalidFile, EncryptionError };
    Kind kind = Ok;
    DWORD errorCode = 0; // the system error code for FileError
};

SettingsFileResult ReadUserSettingsFile(const std::string& path, std::vector<CUserSettings>& records);

// Writes the new content beside the file and swaps it in only when complete, so
// a failure midway (full disk, lost volume) leaves the old file as it was.
SettingsFileResult WriteUserSettingsFile(const std::string& path, const std::vector<CUserSettings>& records);

} // namespace parleym

#pragma once
// Reading and writing users.dat on disk (through the DataFileSystem). The file
// is never created here: an installation supplies it, and a missing file is an
// error, unless a write that ended between its steps left the complete new
// content beside it, which then takes its place.
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

// Writes the new content beside the file ("users.dat.new") and moves it over
// the file only once it is on the disk, so a failure or an end midway (full
// disk, lost volume, power) leaves the old file as it was.
SettingsFileResult WriteUserSettingsFile(const std::string& path, const std::vector<CUserSettings>& records);

} // namespace parleym

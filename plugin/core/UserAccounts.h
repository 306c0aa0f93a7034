#pragma once
// The per-account settings of users.dat and the password of the signed-in
// account, as the manager uses them. The list is read once at start and every
// change rewrites the whole file.
#include <windows.h>

#include <string>
#include <vector>

#include "plugin/core/UserSettingsFormat.h"

namespace parleym {

class CUserAccounts {
public:
    CUserAccounts();

    // Folder with its trailing backslash; users.dat lives there.
    void SetDataFolder(const std::string& dataFolder) { dataFolder_ = dataFolder; }

    // Shows the load failure messages; false means the plug-in cannot start.
    bool ReadUserSettings();
    // Shows the save failure messages; the list in memory keeps the change either way.
    BOOL WriteUserSettings();

    CUserSettings* FindUserSettings(const std::string& signInName);
    const std::vector<CUserSettings>& Records() const { return records_; }

    // Sets the current digest from the account's record, or to "no password".
    bool LoadPasswordDigest(const std::string& signInName);
    bool IsPasswordSet() const;
    bool VerifyPassword(const std::string& text) const;
    bool ChangePassword(const std::string& signInName, const std::string& current, const std::string& next);
    const std::string& PasswordDigest() const { return passwordDigest_; }

    std::string GetLogsPath(const std::string& signInName);
    void SetLogsPath(const std::string& signInName, const char* path);

private:
    CUserSettings& FindOrAppend(const std::string& signInName);
    std::string FilePath() const { return dataFolder_ + "users.dat"; }

    std::string dataFolder_;
    std::vector<CUserSettings> records_;
    std::string passwordDigest_;
};

} // namespace parleym

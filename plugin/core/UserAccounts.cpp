#include "plugin/core/UserAccounts.h"

#include <cstdio>

#include "plugin/core/PasswordDigest.h"
#include "plugin/core/UserMessage.h"
#include "plugin/core/UserSettingsFile.h"

namespace parleym {
namespace {

void ShowWithCode(const char* format, DWORD code) {
    char text[128];
    std::snprintf(text, sizeof text, format, static_cast<int>(code));
    ShowError(text, "Parleym");
}

} // namespace

CUserAccounts::CUserAccounts() : passwordDigest_(NoPasswordDigest()) {}

bool CUserAccounts::ReadUserSettings() {
    const SettingsFileResult result = ReadUserSettingsFile(FilePath(), records_);
    switch (result.kind) {
    case SettingsFileResult::Ok:
        return true;
    case SettingsFileResult::FileError:
        ShowWithCode("Failed to load user settings. Error code: %d", result.errorCode);
        return false;
    default:
        ShowError("Failed to load user settings. Invalid file.", "Parleym");
        return false;
    }
}

BOOL CUserAccounts::WriteUserSettings() {
    const SettingsFileResult result = WriteUserSettingsFile(FilePath(), records_);
    switch (result.kind) {
    case SettingsFileResult::Ok:
        return TRUE;
    case SettingsFileResult::FileError:
        ShowWithCode("Failed to save user settings. Error code: %d", result.errorCode);
        return FALSE;
    default:
        ShowError("Failed to save user settings.", "Parleym");
        return FALSE;
    }
}

CUserSettings* CUserAccounts::FindUserSettings(const std::string& signInName) {
    for (CUserSettings& record : records_)
        if (record.signInName == signInName) return &record;
    return nullptr;
}

CUserSettings& CUserAccounts::FindOrAppend(const std::string& signInName) {
    if (CUserSettings* record = FindUserSettings(signInName)) return *record;
    records_.push_back(CUserSettings{signInName, NoPasswordDigest(), std::string()});
    return records_.back();
}

bool CUserAccounts::LoadPasswordDigest(const std::string& signInName) {
    passwordDigest_ = NoPasswordDigest();
    const CUserSettings* record = FindUserSettings(signInName);
    if (!record) return false;
    if (!IsWellFormedDigest(record->passwordDigest)) {
        // Such a digest would lock the messenger for good: no password can match it.
        std::string text = "The password stored for " + signInName +
                           " in users.dat is damaged. The account has no password until a new one is set.";
        ShowUserMessage(nullptr, text.c_str(), "Parleym", MB_TASKMODAL | MB_ICONWARNING | MB_OK);
        return true;
    }
    passwordDigest_ = record->passwordDigest;
    return true;
}

bool CUserAccounts::IsPasswordSet() const { return passwordDigest_ != NoPasswordDigest(); }

bool CUserAccounts::VerifyPassword(const std::string& text) const {
    return MakePasswordDigest(text) == passwordDigest_;
}

bool CUserAccounts::ChangePassword(const std::string& signInName, const std::string& current,
                                   const std::string& next) {
    if (!VerifyPassword(current)) return false;
    passwordDigest_ = MakePasswordDigest(next);
    FindOrAppend(signInName).passwordDigest = passwordDigest_;
    WriteUserSettings();
    return true;
}

std::string CUserAccounts::GetLogsPath(const std::string& signInName) {
    const CUserSettings* record = FindUserSettings(signInName);
    return record ? record->logsPath : std::string();
}

void CUserAccounts::SetLogsPath(const std::string& signInName, const char* path) {
    FindOrAppend(signInName).logsPath = path ? path : "";
    if (WriteUserSettings())
        ShowUserMessage(nullptr, "Logs will be saved in the new location after you restart Parleym", "Parleym",
                        MB_TASKMODAL | MB_ICONWARNING | MB_OK);
}

} // namespace parleym

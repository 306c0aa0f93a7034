#include "plugin/logging/LogFileKind.h"

#include <windows.h>
#include <objbase.h>

#include "plugin/storage/ComPtr.h"
#include "plugin/storage/StorageFileOpen.h"
#include "plugin/storage/StreamIO.h"

namespace parleym {
namespace {

// Streams of the statistics and offline-message files, which share the
// account layout with the logs but are not logs.
bool IsForeignAccountStream(const std::string& name) {
    return name == "users" || name == "sessions" || name == "messages";
}

bool HoldsForeignStreams(IStorage* account) {
    ComPtr<IEnumSTATSTG> elements;
    if (FAILED(account->EnumElements(0, nullptr, 0, elements.Put()))) return true;
    STATSTG stat;
    bool foreign = false;
    while (!foreign && elements->Next(1, &stat, nullptr) == S_OK) {
        foreign = stat.type == STGTY_STREAM && IsForeignAccountStream(FromElementName(stat.pwcsName));
        CoTaskMemFree(stat.pwcsName);
    }
    return foreign;
}

} // namespace

LogFileKind InspectLogFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? LogFileKind::kMissing
                                                                                : LogFileKind::kUnreadable;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return LogFileKind::kOther;

    const std::wstring widePath = ToElementName(path);
    ComPtr<IStorage> root;
    const HRESULT opened =
        OpenStorageFile(widePath, STGM_READ | STGM_SHARE_DENY_WRITE, root.Put());
    if (FAILED(opened)) {
        return opened == STG_E_FILEALREADYEXISTS || opened == STG_E_INVALIDHEADER || opened == STG_E_OLDFORMAT ||
                       opened == STG_E_DOCFILECORRUPT || StgIsStorageFile(widePath.c_str()) == S_FALSE
                   ? LogFileKind::kOther
                   : LogFileKind::kUnreadable;
    }

    ComPtr<IEnumSTATSTG> elements;
    if (FAILED(root->EnumElements(0, nullptr, 0, elements.Put()))) return LogFileKind::kUnreadable;
    bool userIds = false;
    bool foreign = false;
    STATSTG stat;
    while (!foreign && elements->Next(1, &stat, nullptr) == S_OK) {
        const std::string name = FromElementName(stat.pwcsName);
        if (stat.type == STGTY_STREAM && name == "userids") {
            userIds = true;
        } else if (stat.type == STGTY_STREAM && name == "md5map") {
            foreign = true;  // the object cache
        } else if (stat.type == STGTY_STORAGE) {
            ComPtr<IStorage> account;
            if (SUCCEEDED(root->OpenStorage(stat.pwcsName, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                            account.Put())))
                foreign = HoldsForeignStreams(account.Get());
        }
        CoTaskMemFree(stat.pwcsName);
    }
    return userIds && !foreign ? LogFileKind::kLogs : LogFileKind::kOther;
}

} // namespace parleym

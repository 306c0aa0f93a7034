#include "plugin/logging/LogFileKind.h"

#include <windows.h>
#include <objbase.h>

#include <memory>

#include "plugin/logging/LogFileSalvage.h"
#include "plugin/storage/Scoped.h"
#include "plugin/storage/CompoundFileSalvage.h"
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

struct HandleCloser {
    void operator()(void* handle) const { CloseHandle(handle); }
};

// A damaged file is read here by our own code only, and never written: what
// is left of a logs file is taken as one (the log store salvages it when it
// next opens it); anything else, a damaged document or installer included,
// is not ours.
LogFileKind InspectDamaged(const std::wstring& path) {
    const HANDLE opened = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return LogFileKind::kUnreadable;
    const std::unique_ptr<void, HandleCloser> file(opened);
    LARGE_INTEGER size;
    CompoundFileSalvage salvage;
    if (!GetFileSizeEx(opened, &size) || size.QuadPart < 0 ||
        !salvage.Load(static_cast<std::uint64_t>(size.QuadPart),
                      [opened](std::uint64_t offset, std::uint8_t* buffer, std::size_t length) {
                          OVERLAPPED at = {};
                          at.Offset = static_cast<DWORD>(offset);
                          at.OffsetHigh = static_cast<DWORD>(offset >> 32);
                          DWORD got = 0;
                          return length <= MAXDWORD &&
                                 ReadFile(opened, buffer, static_cast<DWORD>(length), &got, &at) && got == length;
                      }))
        return LogFileKind::kOther;
    for (const SalvagedElement& element : salvage.Elements()) {
        const std::string name = NarrowName(element.name);
        if (!element.storage && (IsForeignAccountStream(name) || name == "md5map")) return LogFileKind::kOther;
    }
    return PlanLogFileSalvage(salvage).anything ? LogFileKind::kLogs : LogFileKind::kOther;
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
    if (opened == STG_E_DOCFILECORRUPT) return InspectDamaged(widePath);
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

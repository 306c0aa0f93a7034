#include "plugin/storage/StorageDb.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "plugin/storage/StorageErrors.h"
#include "plugin/storage/StreamIO.h"
#include "plugin/storage/UserIdsCodec.h"

using parleym::HexCode;
using parleym::ReportStorageError;
using parleym::ToElementName;

namespace {
const wchar_t kUserIdsStream[] = L"userids";

// Highest account number among the root's storages, so accounts that lost their
// mapping never have their storage handed to someone else.
std::int32_t HighestNumberedStorage(IStorage* root) {
    parleym::ComPtr<IEnumSTATSTG> elements;
    if (FAILED(root->EnumElements(0, nullptr, 0, elements.Put()))) return 0;
    std::int32_t highest = 0;
    STATSTG stat;
    while (elements->Next(1, &stat, nullptr) == S_OK) {
        const std::string name = parleym::FromElementName(stat.pwcsName);
        CoTaskMemFree(stat.pwcsName);
        if (stat.type != STGTY_STORAGE || name.empty() || name.size() > 10 ||
            name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const long long value = std::atoll(name.c_str());
        if (value > highest) highest = static_cast<std::int32_t>(std::min<long long>(value, INT_MAX));
    }
    return highest;
}
}

CStorageDb::~CStorageDb() {
    try {
        Close();
    } catch (...) {
    }
}

void CStorageDb::ReleaseAll() {
    userIds_.Reset();
    root_.Reset();
}

int CStorageDb::Open(const char* path) {
    ReleaseAll();
    // Nothing of a previously opened file may leak into this one.
    userMap_.clear();
    lastUserId_ = 0;

    const std::wstring widePath = ToElementName(path);
    const bool exists = GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
    HRESULT hr = exists ? StgOpenStorage(widePath.c_str(), nullptr, kStorageAccess, nullptr, 0, root_.Put())
                        : StgCreateDocfile(widePath.c_str(), kStorageAccess, 0, root_.Put());
    if (FAILED(hr)) {
        root_.Reset();
        ReportStorageError("Failed to open storage %s. Code: 0x%08X", path, HexCode(hr));
        return 0;
    }

    if (!exists) {
        hr = root_->CreateStream(kUserIdsStream, kStorageAccess, 0, 0, userIds_.Put());
        // Written at once: a process that ends before Close still leaves a readable file.
        if (SUCCEEDED(hr)) hr = parleym::RewriteStream(userIds_.Get(), parleym::EncodeUserIds({}));
    } else {
        hr = root_->OpenStream(kUserIdsStream, nullptr, kStorageAccess, 0, userIds_.Put());
        parleym::Bytes data;
        if (SUCCEEDED(hr)) hr = parleym::ReadWholeStream(userIds_.Get(), data);
        parleym::UserIdsRecord record;
        if (SUCCEEDED(hr) && data.empty()) {
            // Left by a process that ended before its first save: no accounts yet.
            record.lastUserId = HighestNumberedStorage(root_.Get());
        } else if (SUCCEEDED(hr) && !parleym::DecodeUserIds(data, record)) {
            hr = STG_E_READFAULT;
        }
        if (SUCCEEDED(hr)) {
            lastUserId_ = record.lastUserId;
            for (const parleym::UserIdEntry& entry : record.entries) {
                userMap_[entry.name] = std::to_string(entry.number);
                // A counter behind a recorded number would hand that storage to a second account.
                lastUserId_ = std::max(lastUserId_, entry.number);
            }
        }
    }
    if (FAILED(hr)) {
        ReleaseAll();
        userMap_.clear();
        lastUserId_ = 0;
        ReportStorageError("Failed to access db content in file %s. Code: 0x%08X", path, HexCode(hr));
        return 0;
    }
    return 1;
}

int CStorageDb::OpenUserStorage(const char* accountName, IStorage** storage) {
    *storage = nullptr;
    if (!root_) return 0;
    const auto found = userMap_.find(accountName);
    if (found == userMap_.end()) return 1;
    const HRESULT hr =
        root_->OpenStorage(ToElementName(found->second).c_str(), nullptr, kStorageAccess, nullptr, 0, storage);
    if (SUCCEEDED(hr)) return 1;
    *storage = nullptr;
    if (hr == STG_E_FILENOTFOUND) return 1;
    ReportStorageError("Failed to open storage for user %s. Code 0x%08X", accountName, HexCode(hr));
    return 0;
}

IStorage* CStorageDb::CreateUserStorage(const char* accountName) {
    if (!root_) return nullptr;
    if (lastUserId_ == INT_MAX) {
        ReportStorageError("Failed to create storage for user %s. Code 0x%08X", accountName,
                           HexCode(STG_E_INSUFFICIENTMEMORY));
        return nullptr;
    }
    ++lastUserId_;
    const std::string number = std::to_string(lastUserId_);
    IStorage* storage = nullptr;
    const HRESULT hr = root_->CreateStorage(ToElementName(number).c_str(), kStorageAccess, 0, 0, &storage);
    if (FAILED(hr)) {
        // The number stays used, but the name must not point at a storage that
        // may belong to someone else (the element could already exist).
        ReportStorageError("Failed to create storage for user %s. Code 0x%08X", accountName, HexCode(hr));
        return nullptr;
    }
    userMap_[accountName] = number;
    return storage;
}

int CStorageDb::SaveUserIds() {
    if (!userIds_) return 0;
    parleym::UserIdsRecord record;
    record.lastUserId = lastUserId_;
    record.entries.reserve(userMap_.size());
    for (const auto& user : userMap_)
        record.entries.push_back(parleym::UserIdEntry{user.first, std::atoi(user.second.c_str())});
    const HRESULT hr = parleym::RewriteStream(userIds_.Get(), parleym::EncodeUserIds(record));
    if (FAILED(hr)) {
        ReportStorageError("Failed to save db. Code 0x%08X", HexCode(hr));
        return 0;
    }
    return 1;
}

void CStorageDb::Close() {
    if (!root_) return;
    SaveUserIds();
    ReleaseAll();
}

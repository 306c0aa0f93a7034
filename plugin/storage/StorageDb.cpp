#include "plugin/storage/StorageDb.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "plugin/storage/StorageErrors.h"
#include "plugin/storage/StorageFileOpen.h"
#include "plugin/storage/StreamIO.h"
#include "plugin/storage/StreamReplace.h"
#include "plugin/storage/UserIdsCodec.h"

using parleym::HexCode;
using parleym::ReportStorageError;
using parleym::ToElementName;

namespace {
const wchar_t kUserIdsStream[] = L"userids";
// Numbers taken by elements that are not ours are skipped; give up after this many.
constexpr int kMaxNumberAttempts = 1000;

struct RootContents {
    std::int32_t highestNumber = 0;  // highest element named by a number
    bool empty = true;               // nothing but leftovers of an interrupted rewrite
};

// So accounts that lost their mapping never have their storage handed to
// someone else, whatever `userids` says.
RootContents ListRoot(IStorage* root) {
    RootContents contents;
    parleym::ComPtr<IEnumSTATSTG> elements;
    if (FAILED(root->EnumElements(0, nullptr, 0, elements.Put()))) {
        contents.empty = false;
        return contents;
    }
    STATSTG stat;
    while (elements->Next(1, &stat, nullptr) == S_OK) {
        const std::wstring wide = stat.pwcsName ? stat.pwcsName : L"";
        const std::string name = parleym::FromElementName(stat.pwcsName);
        CoTaskMemFree(stat.pwcsName);
        if (!parleym::IsReplacementSibling(wide)) contents.empty = false;
        if (name.empty() || name.size() > 10 || name.find_first_not_of("0123456789") != std::string::npos) continue;
        const long long value = std::atoll(name.c_str());
        if (value > contents.highestNumber)
            contents.highestNumber = static_cast<std::int32_t>(std::min<long long>(value, INT_MAX));
    }
    return contents;
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
    storedMap_.clear();
    storedLastUserId_ = -1;

    const std::wstring widePath = ToElementName(path);
    const bool exists = GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
    unfinishedRewritesAtOpen_ = parleym::RewritesLeftUnfinished();
    mayHoldPendingRewrites_ = exists;
    HRESULT hr = exists ? parleym::OpenStorageFile(widePath, kStorageAccess, root_.Put(), &mayHoldPendingRewrites_,
                                                   salvage_)
                        : parleym::CreateStorageFile(widePath, kStorageAccess, root_.Put());
    heldPath_.clear();
    if (FAILED(hr)) {
        root_.Reset();
        // Damage stays damage, but a held file is only held for a while.
        if (hr == STG_E_SHAREVIOLATION || hr == STG_E_LOCKVIOLATION) heldPath_ = path;
        ReportStorageError("Failed to open storage %s. Code: 0x%08X", path, HexCode(hr));
        return 0;
    }

    bool writeNow = !exists;
    if (exists) {
        parleym::RecoverReplacements(root_.Get());
        const RootContents contents = ListRoot(root_.Get());
        hr = root_->OpenStream(kUserIdsStream, nullptr, kStorageAccess, 0, userIds_.Put());
        parleym::Bytes data;
        // A file whose creation was cut short before its first write holds nothing.
        if (hr == STG_E_FILENOTFOUND && contents.empty)
            hr = root_->CreateStream(kUserIdsStream, kStorageAccess, 0, 0, userIds_.Put());
        else if (SUCCEEDED(hr))
            hr = parleym::ReadWholeStream(userIds_.Get(), data);
        writeNow = SUCCEEDED(hr) && data.empty();
        parleym::UserIdsRecord record;
        // Empty: left by a process that ended before its first save, no accounts yet.
        if (SUCCEEDED(hr) && !data.empty() && !parleym::DecodeUserIds(data, record)) hr = STG_E_READFAULT;
        if (SUCCEEDED(hr)) {
            lastUserId_ = record.lastUserId;
            for (const parleym::UserIdEntry& entry : record.entries) userMap_[entry.name] = std::to_string(entry.number);
            storedMap_ = userMap_;
            storedLastUserId_ = data.empty() ? -1 : lastUserId_;
            lastUserId_ = std::max(lastUserId_, contents.highestNumber);
            // A counter behind a recorded number would hand that storage to a second account.
            for (const parleym::UserIdEntry& entry : record.entries) lastUserId_ = std::max(lastUserId_, entry.number);
        }
    } else {
        hr = root_->CreateStream(kUserIdsStream, kStorageAccess, 0, 0, userIds_.Put());
    }
    // Written at once: a process that ends before Close still leaves a readable file.
    if (SUCCEEDED(hr) && writeNow) hr = WriteUserIds();
    if (FAILED(hr)) {
        ReleaseAll();
        userMap_.clear();
        lastUserId_ = 0;
        ReportStorageError("Failed to access db content in file %s. Code: 0x%08X", path, HexCode(hr));
        return 0;
    }
    return 1;
}

int CStorageDb::ReopenIfHeld() {
    if (root_) return 1;
    if (heldPath_.empty()) return 0;
    const std::string path = heldPath_;
    return Open(path.c_str());
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
    HRESULT hr = STG_E_FILEALREADYEXISTS;
    for (int attempt = 0; attempt < kMaxNumberAttempts && hr == STG_E_FILEALREADYEXISTS; ++attempt) {
        if (lastUserId_ == INT_MAX) {
            hr = STG_E_INSUFFICIENTMEMORY;
            break;
        }
        ++lastUserId_;
        const std::string number = std::to_string(lastUserId_);
        IStorage* storage = nullptr;
        // Never replaces: an element of that name belongs to someone else.
        hr = root_->CreateStorage(ToElementName(number).c_str(), kStorageAccess, 0, 0, &storage);
        if (SUCCEEDED(hr)) {
            userMap_[accountName] = number;
            return storage;
        }
    }
    // The number stays used, but the name must not point at a storage that
    // may belong to someone else.
    ReportStorageError("Failed to create storage for user %s. Code 0x%08X", accountName, HexCode(hr));
    return nullptr;
}

int CStorageDb::OpenAccount(const char* accountName, std::initializer_list<AccountStream> streams,
                            parleym::ComPtr<IStorage>& storage, HRESULT& streamError, bool* created) {
    streamError = S_OK;
    if (created) *created = false;
    storage.Reset();
    for (const AccountStream& slot : streams) slot.stream->Reset();
    IStorage* found = nullptr;
    if (!OpenUserStorage(accountName, &found)) return 0;
    if (found) {
        storage = parleym::ComPtr<IStorage>(found);
    } else {
        storage = parleym::ComPtr<IStorage>(CreateUserStorage(accountName));
        if (!storage) return 0;
        if (created) *created = true;
        // Recorded now: a process that ends before Close would otherwise leave
        // the storage unrecorded and the account without its data next time.
        SaveUserIds();
    }
    if (mayHoldPendingRewrites_ || parleym::RewritesLeftUnfinished() != unfinishedRewritesAtOpen_)
        parleym::RecoverReplacements(storage.Get(), root_.Get());
    HRESULT hr = S_OK;
    for (const AccountStream& slot : streams) {
        hr = storage->OpenStream(slot.name, nullptr, kStorageAccess, 0, slot.stream->Put());
        if (hr == STG_E_FILENOTFOUND) hr = storage->CreateStream(slot.name, kStorageAccess, 0, 0, slot.stream->Put());
        if (FAILED(hr)) break;
    }
    if (FAILED(hr)) {
        for (const AccountStream& slot : streams) slot.stream->Reset();
        storage.Reset();
        streamError = hr;
        return 0;
    }
    return 1;
}

HRESULT CStorageDb::WriteUserIds() {
    parleym::UserIdsRecord record;
    record.lastUserId = lastUserId_;
    record.entries.reserve(userMap_.size());
    for (const auto& user : userMap_)
        record.entries.push_back(parleym::UserIdEntry{user.first, std::atoi(user.second.c_str())});
    const HRESULT hr = parleym::ReplaceStream(root_.Get(), kUserIdsStream, parleym::EncodeUserIds(record), &userIds_);
    if (SUCCEEDED(hr)) {
        storedMap_ = userMap_;
        storedLastUserId_ = lastUserId_;
    }
    return hr;
}

int CStorageDb::SaveUserIds() {
    if (!root_) return 0;
    if (lastUserId_ == storedLastUserId_ && userMap_ == storedMap_) return 1;
    const HRESULT hr = WriteUserIds();
    if (FAILED(hr)) {
        ReportStorageError("Failed to save db. Code 0x%08X", HexCode(hr));
        return 0;
    }
    return 1;
}

HRESULT CStorageDb::Flush() {
    // On a direct-mode root, Commit writes out the sectors the compound-file
    // code still holds in memory.
    return root_ ? root_->Commit(STGC_DEFAULT) : S_OK;
}

void CStorageDb::Close() {
    if (!root_) return;
    SaveUserIds();
    ReleaseAll();
}

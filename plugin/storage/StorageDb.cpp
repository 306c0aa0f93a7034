#include "plugin/storage/StorageDb.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "plugin/storage/LeftoverRewrites.h"
#include "plugin/storage/StorageErrors.h"
#include "plugin/storage/StreamIO.h"
#include "plugin/storage/UserIdsCodec.h"

namespace parleym {

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
    ComPtr<IEnumSTATSTG> elements;
    if (FAILED(root->EnumElements(0, nullptr, 0, elements.Put()))) {
        contents.empty = false;
        return contents;
    }
    STATSTG stat;
    while (elements->Next(1, &stat, nullptr) == S_OK) {
        const std::wstring wide = stat.pwcsName ? stat.pwcsName : L"";
        const std::string name = FromElementName(stat.pwcsName);
        CoTaskMemFree(stat.pwcsName);
        if (!IsPendingRewriteSibling(wide)) contents.empty = false;
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
        // The stores' pointers the account went into may be gone already.
        haveAccount_ = false;
        Close();
    } catch (...) {
    }
}

void CStorageDb::ReleaseAll() {
    haveAccount_ = false;
    userIds_.Reset();
    file_.Close();
}

int CStorageDb::Open(const char* path) {
    ReleaseAll();
    // Nothing of a previously opened file may leak into this one.
    userMap_.clear();
    lastUserId_ = 0;
    storedMap_.clear();
    storedLastUserId_ = -1;
    failureTold_ = false;

    bool created = false;
    bool leftovers = false;
    HRESULT hr = file_.Open(ToElementName(path), &created, &leftovers, salvage_);
    heldPath_.clear();
    if (FAILED(hr)) {
        // Damage stays damage, but a held file is only held for a while.
        if (hr == STG_E_SHAREVIOLATION || hr == STG_E_LOCKVIOLATION) heldPath_ = path;
        ReportStorageError("Failed to open storage %s. Code: 0x%08X", path, HexCode(hr));
        return 0;
    }
    IStorage* root = file_.Root();

    bool writeNow = created;
    if (!created) {
        // What a version before the journal left in the middle of a rewrite;
        // if it cannot be finished, the leftovers wait for the next open.
        if (leftovers && FAILED(RecoverLeftoverRewrites(root, true))) {
            hr = file_.Revert();
            root = file_.Root();
        }
        const RootContents contents = SUCCEEDED(hr) ? ListRoot(root) : RootContents{};
        if (SUCCEEDED(hr)) hr = root->OpenStream(kUserIdsStream, nullptr, kStorageAccess, 0, userIds_.Put());
        Bytes data;
        // A file whose creation was cut short before its first write holds nothing.
        if (hr == STG_E_FILENOTFOUND && contents.empty)
            hr = root->CreateStream(kUserIdsStream, kStorageAccess, 0, 0, userIds_.Put());
        else if (SUCCEEDED(hr))
            hr = ReadWholeStream(userIds_.Get(), data);
        writeNow = SUCCEEDED(hr) && data.empty();
        UserIdsRecord record;
        // Empty: left by a process that ended before its first save, no accounts yet.
        if (SUCCEEDED(hr) && !data.empty() && !DecodeUserIds(data, record)) hr = STG_E_READFAULT;
        if (SUCCEEDED(hr)) {
            lastUserId_ = record.lastUserId;
            for (const UserIdEntry& entry : record.entries) userMap_[entry.name] = std::to_string(entry.number);
            storedMap_ = userMap_;
            storedLastUserId_ = data.empty() ? -1 : lastUserId_;
            lastUserId_ = std::max(lastUserId_, contents.highestNumber);
            // A counter behind a recorded number would hand that storage to a second account.
            for (const UserIdEntry& entry : record.entries) lastUserId_ = std::max(lastUserId_, entry.number);
        }
    } else {
        hr = root->CreateStream(kUserIdsStream, kStorageAccess, 0, 0, userIds_.Put());
    }
    // Written at once: a process that ends before Close still leaves a readable file.
    if (SUCCEEDED(hr) && writeNow) hr = WriteUserIds();
    if (SUCCEEDED(hr)) hr = file_.Commit();
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
    if (IsOpen()) return 1;
    if (heldPath_.empty()) return 0;
    const std::string path = heldPath_;
    return Open(path.c_str());
}

int CStorageDb::OpenUserStorage(const char* accountName, IStorage** storage) {
    *storage = nullptr;
    if (!IsOpen()) return 0;
    const auto found = userMap_.find(accountName);
    if (found == userMap_.end()) return 1;
    const HRESULT hr =
        Root()->OpenStorage(ToElementName(found->second).c_str(), nullptr, kStorageAccess, nullptr, 0, storage);
    if (SUCCEEDED(hr)) return 1;
    *storage = nullptr;
    if (hr == STG_E_FILENOTFOUND) return 1;
    ReportStorageError("Failed to open storage for user %s. Code 0x%08X", accountName, HexCode(hr));
    return 0;
}

IStorage* CStorageDb::CreateUserStorage(const char* accountName) {
    if (!IsOpen()) return nullptr;
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
        hr = Root()->CreateStorage(ToElementName(number).c_str(), kStorageAccess, 0, 0, &storage);
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

HRESULT CStorageDb::AttachAccount(const HeldAccount& account, bool* created, bool& reported) {
    reported = false;
    if (created) *created = false;
    ReleaseAccountSlots(account);
    IStorage* found = nullptr;
    if (!OpenUserStorage(account.name.c_str(), &found)) {
        reported = true;
        return E_FAIL;
    }
    ComPtr<IStorage>& storage = *account.storage;
    if (found) {
        storage = ComPtr<IStorage>(found);
    } else {
        storage = ComPtr<IStorage>(CreateUserStorage(account.name.c_str()));
        if (!storage) {
            reported = true;
            return E_FAIL;
        }
        if (created) *created = true;
        // Recorded with the storage: an account made without its entry would
        // come back without its data.
        const HRESULT hr = WriteUserIdsIfChanged();
        if (FAILED(hr)) {
            ReleaseAccountSlots(account);
            ReportStorageError("Failed to save db. Code 0x%08X", HexCode(hr));
            reported = true;
            return hr;
        }
    }
    HRESULT hr = S_OK;
    for (const AccountStream& slot : account.streams) {
        hr = storage->OpenStream(slot.name, nullptr, kStorageAccess, 0, slot.stream->Put());
        if (hr == STG_E_FILENOTFOUND) hr = storage->CreateStream(slot.name, kStorageAccess, 0, 0, slot.stream->Put());
        if (FAILED(hr)) break;
    }
    if (FAILED(hr)) ReleaseAccountSlots(account);
    return hr;
}

void CStorageDb::ReleaseAccountSlots(const HeldAccount& account) {
    for (const AccountStream& slot : account.streams) slot.stream->Reset();
    if (account.storage) account.storage->Reset();
}

int CStorageDb::OpenAccount(const char* accountName, std::initializer_list<AccountStream> streams,
                            ComPtr<IStorage>& storage, HRESULT& streamError, bool* created) {
    streamError = S_OK;
    if (created) *created = false;
    CloseAccount();
    HeldAccount account{accountName ? accountName : "", std::vector<AccountStream>(streams), &storage};
    ReleaseAccountSlots(account);
    if (!IsOpen()) return 0;
    bool reported = false;
    const HRESULT attached = AttachAccount(account, created, reported);
    if (FAILED(attached)) {
        EndOperation(attached);
        if (!reported) streamError = attached;
        return 0;
    }
    account_ = std::move(account);
    haveAccount_ = true;
    const HRESULT hr = EndOperation(S_OK);
    if (FAILED(hr) && TellFailure(hr)) ReportStorageError("Failed to save db. Code 0x%08X", HexCode(hr));
    return 1;
}

void CStorageDb::CloseAccount() {
    if (haveAccount_) ReleaseAccountSlots(account_);
    haveAccount_ = false;
}

HRESULT CStorageDb::WriteUserIds() {
    UserIdsRecord record;
    record.lastUserId = lastUserId_;
    record.entries.reserve(userMap_.size());
    for (const auto& user : userMap_)
        record.entries.push_back(UserIdEntry{user.first, std::atoi(user.second.c_str())});
    const HRESULT hr = OverwriteStream(userIds_.Get(), EncodeUserIds(record));
    if (SUCCEEDED(hr)) {
        storedMap_ = userMap_;
        storedLastUserId_ = lastUserId_;
    }
    return hr;
}

HRESULT CStorageDb::WriteUserIdsIfChanged() {
    if (!IsOpen() || !userIds_) return STG_E_REVERTED;
    if (lastUserId_ == storedLastUserId_ && userMap_ == storedMap_) return S_OK;
    return WriteUserIds();
}

int CStorageDb::SaveUserIds() {
    if (!IsOpen()) return 0;
    const HRESULT hr = EndOperation(WriteUserIdsIfChanged());
    if (FAILED(hr)) {
        if (TellFailure(hr)) ReportStorageError("Failed to save db. Code 0x%08X", HexCode(hr));
        return 0;
    }
    return 1;
}

HRESULT CStorageDb::EndOperation(HRESULT hr) {
    if (!IsOpen()) return FAILED(hr) ? hr : STG_E_REVERTED;
    if (FAILED(hr)) {
        Revert();
        return hr;
    }
    hr = file_.Commit();
    if (SUCCEEDED(hr)) failureTold_ = false;
    return hr;
}

bool CStorageDb::TellFailure(HRESULT hr) {
    if (SUCCEEDED(hr) || failureTold_) return false;
    failureTold_ = true;
    return true;
}

void CStorageDb::Revert() {
    userIds_.Reset();
    if (haveAccount_) ReleaseAccountSlots(account_);
    // The map is kept; the file's copy of it is no longer known.
    storedMap_.clear();
    storedLastUserId_ = -1;
    if (FAILED(file_.Revert())) {
        haveAccount_ = false;
        return;
    }
    IStorage* root = file_.Root();
    HRESULT hr = root->OpenStream(kUserIdsStream, nullptr, kStorageAccess, 0, userIds_.Put());
    // The file's making was what went back.
    if (hr == STG_E_FILENOTFOUND) hr = root->CreateStream(kUserIdsStream, kStorageAccess, 0, 0, userIds_.Put());
    if (FAILED(hr) || !haveAccount_) return;
    bool reported = false;
    if (FAILED(AttachAccount(account_, nullptr, reported))) haveAccount_ = false;
}

void CStorageDb::Close() {
    if (!IsOpen()) {
        ReleaseAll();
        return;
    }
    haveAccount_ = false;
    SaveUserIds();
    ReleaseAll();
}

} // namespace parleym

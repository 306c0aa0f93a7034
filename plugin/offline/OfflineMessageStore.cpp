#include "plugin/offline/OfflineMessageStore.h"

#include "plugin/storage/StorageErrors.h"
#include "plugin/storage/StreamIO.h"

namespace parleym {

namespace {
const wchar_t kMessagesStream[] = L"messages";
}

COfflineMessageStore::~COfflineMessageStore() {
    try {
        pending_.clear();
    } catch (...) {
    }
}

int COfflineMessageStore::Open(const char* path) {
    if (!db_.Open(path)) return 0;
    // A new file's account list is otherwise written only at close; a process
    // ending before that would leave a file that no later start can read.
    if (db_.Users().empty()) db_.SaveUserIds();
    return 1;
}

void COfflineMessageStore::Load(const char* accountName) {
    // Messages of an account still loaded must reach its file, not the next account's.
    Save();
    if (IsLoaded()) return;

    IStorage* found = nullptr;
    if (!db_.OpenUserStorage(accountName, &found)) return;
    HRESULT hr = S_OK;
    if (!found) {
        storage_ = ComPtr<IStorage>(db_.CreateUserStorage(accountName));
        if (!storage_) return;
        // Write the account list now: a process that ends without closing would
        // otherwise leave this account's storage unrecorded and its number taken.
        db_.SaveUserIds();
        hr = storage_->CreateStream(kMessagesStream, kStorageAccess, 0, 0, messages_.Put());
    } else {
        storage_ = ComPtr<IStorage>(found);
        hr = storage_->OpenStream(kMessagesStream, nullptr, kStorageAccess, 0, messages_.Put());
        // Missing when its creation was cut short: nothing was stored in it yet.
        if (hr == STG_E_FILENOTFOUND)
            hr = storage_->CreateStream(kMessagesStream, kStorageReplace, 0, 0, messages_.Put());
        Bytes data;
        if (SUCCEEDED(hr)) hr = ReadWholeStream(messages_.Get(), data);
        PendingMessages loaded;
        if (SUCCEEDED(hr) && !DecodeOfflineMessages(data, loaded)) hr = STG_E_READFAULT;
        if (SUCCEEDED(hr)) {
            for (auto& entry : loaded) {
                OfflineMessageList& list = pending_[entry.first];
                list.splice(list.end(), entry.second);
            }
        }
    }
    if (FAILED(hr)) {
        ReportStorageError("Failed to read offline messages. Code: 0x%08X", HexCode(hr));
        messages_.Reset();
        storage_.Reset();
    }
}

const OfflineMessageList* COfflineMessageStore::GetMessages(const std::string& contactName) const {
    if (!IsLoaded()) return nullptr;
    const auto found = pending_.find(contactName);
    if (found == pending_.end() || found->second.empty()) return nullptr;
    return &found->second;
}

CMessageContent* COfflineMessageStore::AddMessage(const std::string& contactName, const CMessageContent& content) {
    if (!IsLoaded()) return nullptr;
    OfflineMessageList& list = pending_[contactName];
    list.push_back(content);
    return &list.back();
}

void COfflineMessageStore::RemoveMessages(const std::string& contactName) {
    if (!IsLoaded()) return;
    pending_.erase(contactName);
}

void COfflineMessageStore::RemoveFirstMessages(const std::string& contactName, size_t count) {
    if (!IsLoaded() || count == 0) return;
    const auto found = pending_.find(contactName);
    if (found == pending_.end()) return;
    OfflineMessageList& list = found->second;
    while (count-- > 0 && !list.empty()) list.pop_front();
    if (list.empty()) pending_.erase(found);
}

void COfflineMessageStore::Save() {
    if (!IsLoaded()) return;
    const HRESULT hr = RewriteStream(messages_.Get(), EncodeOfflineMessages(pending_));
    if (FAILED(hr)) {
        ReportStorageError("Failed to save offline messages. Code: 0x%08X", HexCode(hr));
        return;
    }
    Unload();
}

void COfflineMessageStore::Unload() {
    messages_.Reset();
    storage_.Reset();
    pending_.clear();
}

void COfflineMessageStore::Close() {
    Save();
    db_.Close();
}

} // namespace parleym

#include "plugin/offline/OfflineMessageStore.h"

#include "plugin/offline/OfflineFileSalvage.h"
#include "plugin/storage/StorageErrors.h"
#include "plugin/storage/StreamIO.h"
#include "plugin/storage/StreamReplace.h"

namespace parleym {

namespace {
const wchar_t kMessagesStream[] = L"messages";
}

COfflineMessageStore::COfflineMessageStore() { db_.SalvageWith(&parleym::PlanOfflineFileSalvage); }

COfflineMessageStore::~COfflineMessageStore() {
    try {
        pending_.clear();
        setAside_.clear();
    } catch (...) {
    }
}

int COfflineMessageStore::Open(const char* path) { return db_.Open(path); }

void COfflineMessageStore::Load(const char* accountName) {
    // Messages of an account still loaded must reach its file, not the next account's.
    Save();
    if (IsLoaded()) {
        if (account_ == accountName) return;  // its own messages, still unsaved
        setAside_.push_back(AccountMessages{account_, std::move(storage_), std::move(messages_), std::move(pending_)});
        Unload();
    }
    for (auto held = setAside_.begin(); held != setAside_.end(); ++held) {
        if (held->account != accountName) continue;
        // What memory holds is newer than the file: it becomes current again.
        account_ = held->account;
        storage_ = std::move(held->storage);
        messages_ = std::move(held->messages);
        pending_ = std::move(held->pending);
        setAside_.erase(held);
        return;
    }

    if (!db_.ReopenIfHeld()) return;  // the database has said why, or did at start
    HRESULT hr = S_OK;
    bool created = false;
    if (!db_.OpenAccount(accountName, {{kMessagesStream, &messages_}}, storage_, hr, &created) && SUCCEEDED(hr))
        return;  // the database has said why
    if (SUCCEEDED(hr) && !created) {
        Bytes data;
        hr = ReadWholeStream(messages_.Get(), data);
        PendingMessages loaded;
        // Empty: nothing was ever saved for the account.
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
        Unload();
        return;
    }
    account_ = accountName;
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
    CMessageContent* added = &list.back();
    WriteThrough();
    return added;
}

void COfflineMessageStore::RemoveMessages(const std::string& contactName) {
    if (!IsLoaded()) return;
    if (pending_.erase(contactName) != 0) WriteThrough();
}

HRESULT COfflineMessageStore::WriteStream(IStorage* storage, const Bytes& data, ComPtr<IStream>& stream) {
    return ReplaceStream(storage, kMessagesStream, data, &stream, db_.Root());
}

HRESULT COfflineMessageStore::Write(IStorage* storage, const PendingMessages& pending, ComPtr<IStream>& stream) {
    const HRESULT hr = WriteStream(storage, EncodeOfflineMessages(pending), stream);
    return SUCCEEDED(hr) ? db_.Flush() : hr;
}

void COfflineMessageStore::WriteThrough() {
    if (!IsLoaded()) return;
    const HRESULT hr = Write(storage_.Get(), pending_, messages_);
    if (SUCCEEDED(hr)) {
        writeThroughFailing_ = false;
        return;
    }
    if (!writeThroughFailing_)
        ReportStorageError("Failed to save offline messages. Code: 0x%08X", HexCode(hr));
    writeThroughFailing_ = true;
}

void COfflineMessageStore::SaveSetAside() {
    for (auto held = setAside_.begin(); held != setAside_.end();) {
        const HRESULT hr = Write(held->storage.Get(), held->pending, held->messages);
        if (FAILED(hr)) {
            ReportStorageError("Failed to save offline messages. Code: 0x%08X", HexCode(hr));
            ++held;
        } else {
            held = setAside_.erase(held);
        }
    }
}

void COfflineMessageStore::RemoveFirstMessages(const std::string& contactName, size_t count) {
    if (!IsLoaded() || count == 0) return;
    const auto found = pending_.find(contactName);
    if (found == pending_.end()) return;
    OfflineMessageList& list = found->second;
    while (count-- > 0 && !list.empty()) list.pop_front();
    if (list.empty()) pending_.erase(found);
    WriteThrough();
}

bool COfflineMessageStore::TakeFirstMessage(const std::string& contactName, CMessageContent& message) {
    const OfflineMessageList* pending = GetMessages(contactName);
    if (!pending) return false;
    message = pending->front();
    RemoveFirstMessages(contactName, 1);
    return true;
}

void COfflineMessageStore::ReturnMessage(const std::string& accountName, const std::string& contactName,
                                         const CMessageContent& message) {
    if (IsLoaded() && account_ == accountName) {
        pending_[contactName].push_front(message);
        WriteThrough();
        return;
    }
    for (AccountMessages& held : setAside_) {
        if (held.account != accountName) continue;
        held.pending[contactName].push_front(message);
        const HRESULT hr = Write(held.storage.Get(), held.pending, held.messages);
        if (FAILED(hr)) ReportStorageError("Failed to save offline messages. Code: 0x%08X", HexCode(hr));
        return;
    }
    // The account signed out meanwhile: its messages are in the file.
    if (!db_.IsOpen()) return;
    ComPtr<IStorage> storage;
    ComPtr<IStream> stream;
    HRESULT hr = S_OK;
    if (!db_.OpenAccount(accountName.c_str(), {{kMessagesStream, &stream}}, storage, hr)) {
        if (FAILED(hr)) ReportStorageError("Failed to save offline messages. Code: 0x%08X", HexCode(hr));
        return;
    }
    Bytes data;
    PendingMessages pending;
    hr = ReadWholeStream(stream.Get(), data);
    if (SUCCEEDED(hr) && !DecodeOfflineMessages(data, pending)) hr = STG_E_READFAULT;
    if (FAILED(hr)) {
        // What the file holds is not ours to overwrite.
        ReportStorageError("Failed to read offline messages. Code: 0x%08X", HexCode(hr));
        return;
    }
    pending[contactName].push_front(message);
    hr = Write(storage.Get(), pending, stream);
    if (FAILED(hr)) ReportStorageError("Failed to save offline messages. Code: 0x%08X", HexCode(hr));
}

void COfflineMessageStore::Save() {
    SaveSetAside();
    if (!IsLoaded()) return;
    const HRESULT hr = Write(storage_.Get(), pending_, messages_);
    if (FAILED(hr)) {
        ReportStorageError("Failed to save offline messages. Code: 0x%08X", HexCode(hr));
        return;
    }
    Unload();
}

void COfflineMessageStore::Unload() {
    writeThroughFailing_ = false;
    messages_.Reset();
    storage_.Reset();
    pending_.clear();
    account_.clear();
}

void COfflineMessageStore::Close() {
    Save();
    // What still could not be saved has nowhere left to go once the file closes.
    setAside_.clear();
    Unload();
    db_.Close();
}

} // namespace parleym

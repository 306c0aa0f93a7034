#include "plugin/offline/OfflineMessageStore.h"

#include "plugin/offline/OfflineFileSalvage.h"
#include "plugin/storage/StorageErrors.h"
#include "plugin/storage/StreamIO.h"

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
        setAside_.push_back(AccountMessages{account_, std::move(pending_)});
        Unload();
    }
    PendingMessages keptInMemory;
    bool kept = false;
    for (auto held = setAside_.begin(); held != setAside_.end(); ++held) {
        if (held->account != accountName) continue;
        // What memory holds is newer than the file: it becomes current again.
        keptInMemory = std::move(held->pending);
        setAside_.erase(held);
        kept = true;
        break;
    }

    HRESULT hr = S_OK;
    bool created = false;
    const bool opened = db_.ReopenIfHeld() &&
                        db_.OpenAccount(accountName, {{kMessagesStream, &messages_}}, storage_, hr, &created);
    if (!opened) {
        // Messages kept in memory wait for a sign-in that opens the account.
        if (kept) setAside_.push_back(AccountMessages{accountName, std::move(keptInMemory)});
        // Otherwise the database has said why, or did at start.
        if (FAILED(hr)) ReportStorageError("Failed to read offline messages. Code: 0x%08X", HexCode(hr));
        return;
    }
    if (kept) {
        account_ = accountName;
        pending_ = std::move(keptInMemory);
        return;
    }
    if (!created) {
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
    if (stream) return OverwriteStream(stream.Get(), data);
    return WriteNamedStream(storage, kMessagesStream, data, &stream);
}

HRESULT COfflineMessageStore::WriteThrough() {
    if (!IsLoaded()) return S_OK;
    const HRESULT hr = db_.EndOperation(WriteStream(storage_.Get(), EncodeOfflineMessages(pending_), messages_));
    // Only the first of a run of failures is told: a full disk must not bring
    // up a box at every message typed.
    if (FAILED(hr) && db_.TellFailure(hr)) ReportStorageError("Failed to save offline messages. Code: 0x%08X", HexCode(hr));
    if (FAILED(hr) && !IsLoaded()) {
        // The account could not be opened again after the failure: its
        // messages wait with its name, never in the next account's.
        setAside_.push_back(AccountMessages{account_, std::move(pending_)});
        Unload();
    }
    return hr;
}

HRESULT COfflineMessageStore::WriteSetAside(const AccountMessages& held) {
    IStorage* found = nullptr;
    if (!db_.OpenUserStorage(held.account.c_str(), &found)) return E_FAIL;  // the database has said why
    ComPtr<IStorage> storage(found);
    HRESULT hr = S_OK;
    if (!storage) {
        storage = ComPtr<IStorage>(db_.CreateUserStorage(held.account.c_str()));
        if (!storage) return E_FAIL;
        hr = db_.WriteUserIdsIfChanged();
    }
    ComPtr<IStream> stream;
    if (SUCCEEDED(hr)) hr = WriteStream(storage.Get(), EncodeOfflineMessages(held.pending), stream);
    stream.Reset();
    storage.Reset();
    return db_.EndOperation(hr);
}

void COfflineMessageStore::SaveSetAside() {
    for (auto held = setAside_.begin(); held != setAside_.end();) {
        const HRESULT hr = WriteSetAside(*held);
        if (FAILED(hr)) {
            if (db_.TellFailure(hr)) ReportStorageError("Failed to save offline messages. Code: 0x%08X", HexCode(hr));
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
        SaveSetAside();
        return;
    }
    // The account signed out meanwhile: its messages are in the file. They
    // wait in memory until written, like those of any account not loaded.
    AccountMessages held{accountName, {}};
    if (!db_.IsOpen() || !ReadStored(accountName, held.pending)) return;
    held.pending[contactName].push_front(message);
    setAside_.push_back(std::move(held));
    SaveSetAside();
}

bool COfflineMessageStore::ReadStored(const std::string& accountName, PendingMessages& pending) {
    IStorage* found = nullptr;
    if (!db_.OpenUserStorage(accountName.c_str(), &found)) return false;  // the database has said why
    ComPtr<IStorage> storage(found);
    if (!storage) return true;
    ComPtr<IStream> stream;
    HRESULT hr = storage->OpenStream(kMessagesStream, nullptr, kStorageAccess, 0, stream.Put());
    if (hr == STG_E_FILENOTFOUND) return true;
    Bytes data;
    if (SUCCEEDED(hr)) hr = ReadWholeStream(stream.Get(), data);
    if (SUCCEEDED(hr) && !DecodeOfflineMessages(data, pending)) hr = STG_E_READFAULT;
    // What the file holds and cannot be read is not ours to overwrite.
    if (FAILED(hr)) ReportStorageError("Failed to read offline messages. Code: 0x%08X", HexCode(hr));
    return SUCCEEDED(hr);
}

void COfflineMessageStore::Save() {
    SaveSetAside();
    if (!IsLoaded()) return;
    if (FAILED(WriteThrough())) return;
    Unload();
}

void COfflineMessageStore::Unload() {
    db_.CloseAccount();
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

#include "plugin/logging/LogManager.h"

#include <algorithm>
#include <climits>

#include "plugin/core/UserMessage.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/StorageErrors.h"
#include "plugin/storage/StreamIO.h"

using parleym::HexCode;
using parleym::ReportStorageError;
using parleym::ToElementName;

namespace {
const wchar_t kIndexStream[] = L"conversations";
}

CLogManager::CLogManager(parleym::CParleymanager* owner) : owner_(owner) {}

CLogManager::~CLogManager() {
    try {
        Close();
    } catch (...) {
    }
}

int CLogManager::Open(const char* path) {
    path_ = path;
    return database_.Open(path);
}

int CLogManager::OpenConfiguredOrDefault(const std::string& configuredPath, const std::string& defaultPath) {
    Close();
    if (!configuredPath.empty() && Open(configuredPath.c_str())) return 1;
    if (Open(defaultPath.c_str())) return 1;
    parleym::ShowError("Failed to initialize log manager", "Parleym");
    return 0;
}

int CLogManager::OpenAccount(const char* signInName) {
    CloseAccount();
    IStorage* storage = nullptr;
    if (!database_.OpenUserStorage(signInName, &storage)) return 0;
    bool isNew = false;
    if (!storage) {
        storage = database_.CreateUserStorage(signInName);
        if (!storage) return 0;
        isNew = true;
    }
    accountStorage_ = parleym::ComPtr<IStorage>(storage);

    HRESULT hr;
    if (isNew) {
        // A new account starts afresh, not with the previous account's counter and switch.
        nextNumber_ = 1;
        loggingEnabled_ = 1;
        hr = accountStorage_->CreateStream(kIndexStream, kStorageAccess, 0, 0, indexStream_.Put());
    } else {
        hr = accountStorage_->OpenStream(kIndexStream, nullptr, kStorageAccess, 0, indexStream_.Put());
    }
    if (FAILED(hr)) {
        ReleaseAccount();
        ReportStorageError("Failed to convesation index for user %s. Code 0x%08X", signInName, HexCode(hr));
        return 0;
    }
    if (!isNew && !LoadIndex()) {
        // An index we could not read must not be overwritten at sign-out.
        ReleaseAccount();
        return 0;
    }
    return 1;
}

int CLogManager::LoadIndex() {
    parleym::Bytes data;
    HRESULT hr = parleym::ReadWholeStream(indexStream_.Get(), data);
    parleym::ConversationIndex index;
    if (SUCCEEDED(hr) && !parleym::DecodeConversationIndex(data, index)) hr = STG_E_READFAULT;
    if (FAILED(hr)) {
        ReportStorageError("Failed to load logged conversations index. Code: 0x%08X", HexCode(hr));
        return 0;
    }
    nextNumber_ = index.nextNumber;
    loggingEnabled_ = index.loggingEnabled;
    index_ = std::move(index.entries);
    // A counter behind a recorded number would overwrite that conversation.
    for (const LogEntry& entry : index_) {
        if (entry.number >= nextNumber_) nextNumber_ = entry.number == INT_MAX ? INT_MAX : entry.number + 1;
    }
    return 1;
}

void CLogManager::SaveIndex() {
    if (!IsAccountOpen()) return;
    parleym::ConversationIndex index;
    index.nextNumber = nextNumber_;
    index.loggingEnabled = loggingEnabled_;
    index.entries = index_;
    const HRESULT hr = parleym::RewriteStream(indexStream_.Get(), parleym::EncodeConversationIndex(index));
    if (FAILED(hr)) ReportStorageError("Failed to save logged conversation index. Code: 0x%08X", HexCode(hr));
}

void CLogManager::ReleaseAccount() {
    indexStream_.Reset();
    accountStorage_.Reset();
    index_.clear();
}

void CLogManager::CloseAccount() {
    if (!IsAccountOpen()) {
        ReleaseAccount();
        return;
    }
    SaveIndex();
    ReleaseAccount();
}

void CLogManager::Close() {
    CloseAccount();
    database_.Close();
}

int CLogManager::TakeNextNumber() {
    const int number = nextNumber_;
    if (nextNumber_ < INT_MAX) ++nextNumber_;
    return number;
}

void CLogManager::SaveConversation(const LogEntry& entry, const CMessageContent& content) {
    if (!IsAccountOpen()) return;
    const std::wstring name = ToElementName(std::to_string(entry.number));
    parleym::ComPtr<IStream> stream;
    bool isNew = false;
    HRESULT hr = accountStorage_->OpenStream(name.c_str(), nullptr, kStorageAccess, 0, stream.Put());
    if (FAILED(hr)) {
        hr = accountStorage_->CreateStream(name.c_str(), kStorageAccess, 0, 0, stream.Put());
        isNew = true;
    }
    if (SUCCEEDED(hr)) {
        parleym::BinaryWriter out;
        content.Encode(out);
        hr = parleym::RewriteStream(stream.Get(), out.Data());
    }
    if (FAILED(hr)) {
        ReportStorageError("Failed to save conversation with %s. Code: 0x%08X", entry.contact.c_str(), HexCode(hr));
        return;
    }
    if (isNew) {
        database_.SaveUserIds();
        index_.push_back(entry);
    } else {
        const auto found = std::find_if(index_.begin(), index_.end(),
                                        [&](const LogEntry& logged) { return logged.number == entry.number; });
        if (found != index_.end()) found->end = entry.end;
    }
}

HRESULT CLogManager::LoadConversation(const char* streamName, CMessageContent& content) {
    if (!IsAccountOpen()) return S_FALSE;
    parleym::ComPtr<IStream> stream;
    const HRESULT hr =
        accountStorage_->OpenStream(ToElementName(streamName).c_str(), nullptr, kStorageAccess, 0, stream.Put());
    if (FAILED(hr)) return hr;
    return content.Read(stream.Get());
}

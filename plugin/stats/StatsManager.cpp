#include "plugin/stats/StatsManager.h"

#include <oleauto.h>

#include <utility>

#include "plugin/stats/StatsCodec.h"
#include "plugin/storage/StorageErrors.h"
#include "plugin/storage/StreamIO.h"

namespace parleym {

namespace {
const wchar_t kUsersStream[] = L"users";
const wchar_t kSessionsStream[] = L"sessions";

// A stream missing from an account's storage (its creation was cut short)
// holds nothing yet: it is made anew rather than failing the account for good.
HRESULT OpenAccountStream(IStorage* storage, const wchar_t* name, ComPtr<IStream>& stream) {
    HRESULT hr = storage->OpenStream(name, nullptr, kStorageAccess, 0, stream.Put());
    if (hr == STG_E_FILENOTFOUND) hr = storage->CreateStream(name, kStorageReplace, 0, 0, stream.Put());
    return hr;
}

bool IsOwnReport(const StatsIdentity& self, const std::string& signInName, const std::string& friendlyName) {
    return signInName == self.signInName && friendlyName == self.friendlyName;
}
} // namespace

CStatsManager::CStatsManager(SelfSource self) : self_(std::move(self)) {}

CStatsManager::~CStatsManager() {
    try {
        ReleaseAccount();
    } catch (...) {
    }
}

StatsIdentity CStatsManager::Self() const { return self_ ? self_() : StatsIdentity(); }

double CStatsManager::Now() const {
    SYSTEMTIME local;
    GetLocalTime(&local);
    local.wMilliseconds = 0;
    double date = 0.0;
    SystemTimeToVariantTime(&local, &date);
    return date;
}

bool CStatsManager::OpenStatsFile(const char* path) {
    if (!db_.Open(path)) return false;
    // A new file's account list is otherwise written only at close; a process
    // ending before that would leave a file that no later start can read.
    if (db_.Users().empty()) db_.SaveUserIds();
    return true;
}

bool CStatsManager::OpenAccount(const char* signInName) {
    CloseAccount();
    IStorage* found = nullptr;
    if (!db_.OpenUserStorage(signInName, &found)) return false;
    HRESULT hr = S_OK;
    if (!found) {
        storage_ = ComPtr<IStorage>(db_.CreateUserStorage(signInName));
        if (!storage_) return false;
        // Write the account list now: a process that ends without closing would
        // otherwise leave this account's storage unrecorded and its number taken.
        db_.SaveUserIds();
        hr = storage_->CreateStream(kUsersStream, kStorageAccess, 0, 0, users_.Put());
        if (SUCCEEDED(hr)) hr = storage_->CreateStream(kSessionsStream, kStorageAccess, 0, 0, sessions_.Put());
        ledger_.SetOwnStatus(kStatsOffline);
    } else {
        storage_ = ComPtr<IStorage>(found);
        hr = OpenAccountStream(storage_.Get(), kUsersStream, users_);
        if (SUCCEEDED(hr)) hr = OpenAccountStream(storage_.Get(), kSessionsStream, sessions_);
        ledger_.SetOwnStatus(kStatsOffline);
        if (SUCCEEDED(hr)) hr = LoadAccount();
    }
    if (FAILED(hr)) {
        ReportStorageError("Failed to open statistics db. Code 0x%08X", HexCode(hr));
        ReleaseAccount();
        ledger_.Clear();
        return false;
    }
    return true;
}

HRESULT CStatsManager::LoadAccount() {
    Bytes usersData;
    Bytes sessionsData;
    HRESULT hr = ReadWholeStream(users_.Get(), usersData);
    if (SUCCEEDED(hr)) hr = ReadWholeStream(sessions_.Get(), sessionsData);
    if (FAILED(hr)) return hr;

    // A stream that ends before its counts are met was left by a process that
    // never closed the account (or died saving it): it counts as empty.
    // Impossible values mean the data is not ours; the file is then left alone.
    StatsUsers users;
    std::vector<StatsSession> sessions;
    const StatsDecode usersRead = DecodeStatsUsers(usersData, users);
    const StatsDecode sessionsRead = DecodeStatsSessions(sessionsData, sessions);
    if (usersRead == StatsDecode::corrupt || sessionsRead == StatsDecode::corrupt) return STG_E_READFAULT;
    ledger_.Merge(std::move(users), std::move(sessions));
    ledger_.AdvanceContactNumber();
    return S_OK;
}

bool CStatsManager::SaveAccount() {
    HRESULT hr = RewriteStream(users_.Get(), EncodeStatsUsers(ledger_.OwnTotal(), ledger_.Contacts()));
    if (SUCCEEDED(hr)) hr = RewriteStream(sessions_.Get(), EncodeStatsSessions(ledger_.Sessions()));
    if (FAILED(hr)) {
        ReportStorageError("Failed to save statistics. Code 0x%08X", HexCode(hr));
        return false;
    }
    return true;
}

void CStatsManager::ReleaseAccount() {
    sessions_.Reset();
    users_.Reset();
    storage_.Reset();
}

void CStatsManager::CloseAccount() {
    if (!IsAccountOpen()) return;
    // Whatever the manager last reported, a session still open ends here.
    ledger_.OnOwnStatus(kStatsOffline, false, Now());
    SaveAccount();
    ledger_.Clear();
    ReleaseAccount();
}

void CStatsManager::Shutdown() {
    CloseAccount();
    db_.Close();
}

void CStatsManager::OnStatusChange(const std::string& signInName, const std::string& friendlyName,
                                   std::int32_t status, bool refresh) {
    if (!IsAccountOpen()) return;
    if (IsOwnReport(Self(), signInName, friendlyName))
        ledger_.OnOwnStatus(status, refresh, Now());
    else
        ledger_.OnContactStatus(signInName, status, refresh, Now());
}

void CStatsManager::RefreshTotals() {
    if (!IsAccountOpen()) return;
    ledger_.RefreshTotals(Self().status, Now());
}

void CStatsManager::ResetStatistics() {
    if (!IsAccountOpen()) return;
    ledger_.Reset(Now());
}

} // namespace parleym

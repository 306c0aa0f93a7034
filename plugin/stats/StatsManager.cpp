#include "plugin/stats/StatsManager.h"

#include <oleauto.h>

#include <utility>

#include "plugin/core/OleDate.h"
#include "plugin/stats/StatsCodec.h"
#include "plugin/stats/StatsFileSalvage.h"
#include "plugin/storage/StorageErrors.h"
#include "plugin/storage/StreamIO.h"

namespace parleym {

namespace {
const wchar_t kUsersStream[] = L"users";
const wchar_t kSessionsStream[] = L"sessions";

bool IsOwnReport(const StatsIdentity& self, const std::string& signInName, const std::string& friendlyName) {
    return signInName == self.signInName && friendlyName == self.friendlyName;
}
} // namespace

CStatsManager::CStatsManager(SelfSource self) : self_(std::move(self)) { db_.SalvageWith(&PlanStatsFileSalvage); }

CStatsManager::~CStatsManager() {
    try {
        ReleaseAccount();
    } catch (...) {
    }
}

StatsIdentity CStatsManager::Self() const { return self_ ? self_() : StatsIdentity(); }

double CStatsManager::Now() const { return CurrentOleDate(); }

bool CStatsManager::OpenStatsFile(const char* path) { return db_.Open(path) != 0; }

bool CStatsManager::OpenAccount(const char* signInName) {
    CloseAccount();
    // An account lost after a failed save (reported then) leaves nothing to
    // the next one.
    if (!IsAccountOpen()) ledger_.Clear();
    if (!db_.ReopenIfHeld()) return false;  // the database has said why, or did at start
    HRESULT hr = S_OK;
    bool created = false;
    const int opened =
        db_.OpenAccount(signInName, {{kUsersStream, &users_}, {kSessionsStream, &sessions_}}, storage_, hr, &created);
    if (!opened && SUCCEEDED(hr)) return false;  // the database has said why
    ledger_.SetOwnStatus(kStatsOffline);
    // A new account has nothing to read.
    if (opened && !created) hr = LoadAccount();
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

    // Only an empty stream starts an empty store: an account opened and never
    // closed leaves its streams that way. Anything else that does not decode
    // in full is damaged, and the account stays closed so that nothing is
    // written over what may still be recovered from the file.
    StatsUsers users;
    std::vector<StatsSession> sessions;
    if (!usersData.empty() && DecodeStatsUsers(usersData, users) != StatsDecode::ok) return STG_E_READFAULT;
    if (!sessionsData.empty() && DecodeStatsSessions(sessionsData, sessions) != StatsDecode::ok)
        return STG_E_READFAULT;
    ledger_.Merge(std::move(users), std::move(sessions));
    ledger_.AdvanceContactNumber();
    return S_OK;
}

bool CStatsManager::SaveAccount() {
    // Both streams in one commit: totals and history always agree on disk.
    HRESULT hr = OverwriteStream(users_.Get(), EncodeStatsUsers(ledger_.OwnTotal(), ledger_.Contacts()));
    if (SUCCEEDED(hr)) hr = OverwriteStream(sessions_.Get(), EncodeStatsSessions(ledger_.Sessions()));
    hr = db_.EndOperation(hr);
    if (FAILED(hr)) {
        if (db_.TellFailure(hr)) ReportStorageError("Failed to save statistics. Code 0x%08X", HexCode(hr));
        return false;
    }
    return true;
}

void CStatsManager::Checkpoint() {
    if (!IsAccountOpen()) return;
    if (ledger_.OwnStatus() == kStatsOnline) ledger_.RefreshTotals(kStatsOnline, Now());
    SaveAccount();
}

void CStatsManager::ReleaseAccount() {
    db_.CloseAccount();
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
    if (IsOwnReport(Self(), signInName, friendlyName)) {
        const std::int32_t before = ledger_.OwnStatus();
        ledger_.OnOwnStatus(status, refresh, Now());
        // A session that starts is on disk at once.
        if (before != kStatsOnline && ledger_.OwnStatus() == kStatsOnline && !refresh) SaveAccount();
    } else
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

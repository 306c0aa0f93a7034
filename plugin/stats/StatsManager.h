#pragma once
// Per-account online statistics kept in stats.dat: the account's sub-storage
// holds "users" (totals, contacts) and "sessions" (history). They live in
// memory from OpenAccount to CloseAccount and are written when a session
// starts, at every Checkpoint (the manager's timer) and at close, so that a
// messenger that ends abruptly loses only the time since the last write.
#include <objbase.h>

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

#include "plugin/stats/OnlineTime.h"
#include "plugin/stats/StatsLedger.h"
#include "plugin/storage/Scoped.h"
#include "plugin/storage/StorageDb.h"

namespace parleym {

// The signed-in user as the manager knows it; status 1 online, 2 offline.
struct StatsIdentity {
    std::string signInName;
    std::string friendlyName;
    std::int32_t status = kStatsOffline;
};

class CListView;

// Sign-in name -> friendly name of the contacts the messenger lists now.
using ContactNames = std::unordered_map<std::string, std::string>;

class CStatsManager {
public:
    using SelfSource = std::function<StatsIdentity()>;

    // `self` reads the manager's record of the signed-in user whenever needed.
    explicit CStatsManager(SelfSource self);
    CStatsManager(const CStatsManager&) = delete;
    CStatsManager& operator=(const CStatsManager&) = delete;
    virtual ~CStatsManager();

    bool OpenStatsFile(const char* path);
    // Makes the account's statistics current; an account already open is closed first.
    // A file that was held by another process at start is opened again here.
    bool OpenAccount(const char* signInName);
    // Ends the open session, saves and forgets the account.
    void CloseAccount();
    void Shutdown();

    // A status report (1 online, 2 offline) about the user himself or a contact.
    void OnStatusChange(const std::string& signInName, const std::string& friendlyName, std::int32_t status,
                        bool refresh);
    void RefreshTotals();
    void ResetStatistics();
    // Brings an open session up to now and writes the account, which stays
    // open. Nothing while no account is open.
    void Checkpoint();

    // The statistics dialog's list: one row per contact (name, sign-in name,
    // online time), unsorted; ownText gets the account's total. False, with a
    // message and nothing changed, while no account is open.
    bool FillStatsList(const CListView& list, std::string& ownText, bool refresh, const ContactNames& names);
    // The detail dialog's list for one contact: each session it was online in
    // (item data 1) followed by its periods (item data 0); summary gets the
    // two-line share text. False, with a message, for a contact not recorded.
    bool FillDetailList(const std::string& signInName, const CListView& list, std::string& summary) const;

    static std::string FormatOnlineTime(const OnlineTime& time) { return parleym::FormatOnlineTime(time); }

    bool IsAccountOpen() const { return storage_ && users_ && sessions_; }
    // What the statistics dialogs show: contacts, sessions and totals.
    const StatsLedger& Ledger() const { return ledger_; }

protected:
    // Local time as an OLE date, whole seconds.
    virtual double Now() const;

private:
    StatsIdentity Self() const;
    HRESULT LoadAccount();
    bool SaveAccount();
    void ReleaseAccount();

    SelfSource self_;
    StatsLedger ledger_;
    CStorageDb db_;
    ComPtr<IStorage> storage_;
    ComPtr<IStream> users_;
    ComPtr<IStream> sessions_;
};

} // namespace parleym

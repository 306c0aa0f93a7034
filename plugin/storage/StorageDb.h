#pragma once
// Top level of the compound data files (logs, statistics, offline messages):
// the `userids` stream mapping account sign-in names to numbered sub-storages.
// Everything here runs on the messenger's UI thread; failures are reported to
// the user (caption "Error") and returned as 0 / null.
//
// Every store operation that writes ends with EndOperation: the file reaches
// the disk whole at that point (StorageFile::Commit), or, when the operation
// failed part-way, goes back to the last one (StorageFile::Revert) and the
// account's storage and streams are opened again in the places OpenAccount
// filled, so the store goes on working.
#include <objbase.h>

#include <initializer_list>
#include <string>
#include <unordered_map>
#include <vector>

#include "plugin/storage/Scoped.h"
#include "plugin/storage/SalvagePlan.h"
#include "plugin/storage/StorageFileOpen.h"

namespace parleym {

// Access used for every element: read-write, exclusive, direct mode.
constexpr DWORD kStorageAccess = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;      // 0x12
constexpr DWORD kStorageReplace = kStorageAccess | STGM_CREATE;              // 0x1012

class CStorageDb {
public:
    using UserMap = std::unordered_map<std::string, std::string>;

    CStorageDb() = default;
    CStorageDb(const CStorageDb&) = delete;
    CStorageDb& operator=(const CStorageDb&) = delete;
    virtual ~CStorageDb();

    // How the store that owns the file salvages it when it is damaged; without
    // one, a damaged file is refused.
    void SalvageWith(SalvagePlanner planner) { salvage_ = planner; }

    // Opens `path`, creating the file when missing (or empty). Starts from an
    // empty map and last user id 0, then takes what the file records. 1 on
    // success, 0 after reporting a failure (nothing is held then).
    int Open(const char* path);

    // 1 with *storage = the account's sub-storage (caller releases) or null when
    // the account has none yet; 0 when not open or after reporting a failure.
    int OpenUserStorage(const char* accountName, IStorage** storage);

    // A file that Open found held by another process (a second messenger) is
    // opened again once it is free: the stores call this at sign-in. 1 when
    // the file is open, 0 when it is not (reported when it is still held).
    int ReopenIfHeld();

    // Numbers a new sub-storage for the account and creates it; the caller owns
    // the result. Null after reporting a failure.
    IStorage* CreateUserStorage(const char* accountName);

    // Writes `userids` from the map when it changed, as an operation of its
    // own. 1 on success, 0 after reporting a failure.
    int SaveUserIds();
    // The same as part of the caller's operation: nothing committed, nothing
    // reported.
    HRESULT WriteUserIdsIfChanged();

    // A stream an account's store keeps in its sub-storage, and where its open
    // pointer goes.
    struct AccountStream {
        const wchar_t* name;
        ComPtr<IStream>* stream;
    };
    // What every store does at sign-in: opens the account's sub-storage, or
    // creates it and records the account in `userids` at once; opens each
    // stream, creating those that are missing (a new account, or one whose
    // set-up was cut short), so an empty stream means nothing stored yet.
    // 1 with everything held, until CloseAccount or Close. 0 with nothing
    // held: `streamError` is the failing stream call's code for the store to
    // report in its own words, or S_OK when the database has reported
    // already. `created` (when given) tells whether the sub-storage was made
    // just now. A set-up that cannot reach the disk is reported once and the
    // account still opens: it goes to the disk with the next save.
    int OpenAccount(const char* accountName, std::initializer_list<AccountStream> streams,
                    ComPtr<IStorage>& storage, HRESULT& streamError, bool* created = nullptr);
    // Lets go of the account's storage and streams.
    void CloseAccount();

    // Ends a store operation that wrote; `hr` is how its writes went (see
    // above). Returns the operation's failure or the commit's.
    HRESULT EndOperation(HRESULT hr);
    // True for the first failure since the last operation that reached the
    // disk: a full disk is told once, not at every message typed.
    bool TellFailure(HRESULT hr);

    // Saves the map and releases the file. Safe when not open.
    void Close();

    bool IsOpen() const { return file_.IsOpen(); }
    IStorage* Root() const { return file_.Root(); }
    const UserMap& Users() const { return userMap_; }
    int LastUserId() const { return lastUserId_; }

private:
    struct HeldAccount {
        std::string name;
        std::vector<AccountStream> streams;
        ComPtr<IStorage>* storage = nullptr;
    };

    void ReleaseAll();
    HRESULT WriteUserIds();
    HRESULT AttachAccount(const HeldAccount& account, bool* created, bool& reported);
    void ReleaseAccountSlots(const HeldAccount& account);
    void Revert();

    UserMap userMap_;
    // What the file's `userids` holds, so an unchanged map is not rewritten.
    UserMap storedMap_;
    int storedLastUserId_ = -1;
    SalvagePlanner salvage_ = nullptr;
    StorageFile file_;
    ComPtr<IStream> userIds_;
    int lastUserId_ = 0;
    // The path of a file found held at the last Open; empty otherwise.
    std::string heldPath_;
    bool haveAccount_ = false;
    HeldAccount account_;
    bool failureTold_ = false;
};

} // namespace parleym

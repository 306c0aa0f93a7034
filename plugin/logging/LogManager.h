#pragma once
// Conversation logs of the signed-in account: one compound file laid out by
// CStorageDb, per account a `conversations` index stream and one content
// stream per conversation. UI thread only; failures are reported ("Error").
#include <objbase.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "plugin/logging/ConversationIndexCodec.h"
#include "plugin/logging/LogSearch.h"
#include "plugin/storage/Scoped.h"
#include "plugin/storage/StorageDb.h"

namespace parleym {

class CMessageContent;
class CParleymanager;

// What a conversation's stream was last written with by SaveConversation, so
// the next save of it writes only what changed. Valid for one opening of the
// account only.
struct WrittenConversation {
    unsigned opening = 0;
    Bytes bytes;
};

class CLogManager {
public:
    explicit CLogManager(CParleymanager* owner = nullptr);
    CLogManager(const CLogManager&) = delete;
    CLogManager& operator=(const CLogManager&) = delete;
    virtual ~CLogManager();

    // Remembers the path (shown by the viewer even when the open fails), then
    // opens or creates the file. 1 or 0.
    int Open(const char* path);
    // Sign-in sequence: Close, then the configured path (when not empty), then
    // the default one; when neither opens shows "Failed to initialize log
    // manager" (caption "Parleym") and returns 0.
    int OpenConfiguredOrDefault(const std::string& configuredPath, const std::string& defaultPath);

    // Opens (or creates) the account's sub-storage and loads its index. 1 or 0.
    int OpenAccount(const char* signInName);
    // Writes the index and lets go of the account. Nothing when none is open.
    void CloseAccount();
    void Close();

    // Creates or rewrites the conversation's stream; a new number also gets an
    // index entry. Silently nothing without an open account. `written`, when
    // given, is what this caller last wrote there and is kept up to date.
    void SaveConversation(const LogEntry& entry, const CMessageContent& content,
                          WrittenConversation* written = nullptr);
    // Reads the stream named `streamName` (a conversation number) into
    // `content`. S_OK, the failing code (content untouched), or S_FALSE
    // without an open account.
    HRESULT LoadConversation(const char* streamName, CMessageContent& content);

    // The number for a conversation that starts now, never one whose stream
    // exists already nor one handed out before; the counter moves on.
    int TakeNextNumber();
    // Also written to the account's index at once.
    void SetLoggingEnabled(int enabled);
    int IsLoggingEnabled() const { return loggingEnabled_; }
    const std::vector<LogEntry>& Index() const { return index_; }
    const std::string& Path() const { return path_; }
    bool IsAccountOpen() const { return accountStorage_ && indexStream_; }
    // The sign-in name of the open account; empty when none is open.
    const std::string& AccountName() const { return accountName_; }
    CStorageDb& Database() { return database_; }
    // Plain texts of conversations already read by a search. A conversation
    // saved again is forgotten; another account or file empties it.
    LogTextCache& TextCache() { return textCache_; }

private:
    int LoadIndex();
    // Conversation streams the index does not list (written just before an
    // abrupt end) get entries again.
    void RecoverUnindexed();
    // Whether a stream of that number is there; it is given to `note` with
    // its modification time.
    bool LookUpUnindexed(std::int32_t number, const std::function<void(std::int32_t, const FILETIME&)>& note);
    void ListUnindexed(const std::set<std::int32_t>& indexed,
                       const std::function<void(std::int32_t, const FILETIME&)>& note);
    // The index into its stream, as part of an operation.
    HRESULT WriteIndex();
    // The index as an operation of its own.
    void SaveIndex();
    // database_.EndOperation, forgetting what a step back made stale.
    HRESULT EndOperation(HRESULT hr);
    // Puts the entry's end time into the stored index in place; false when
    // the stored index is not known to match the one in memory.
    bool WriteEndInPlace(std::size_t entry);
    void ReleaseAccount();
    void RaiseNextNumberAbove(std::int32_t number);
    bool NumberInUse(std::int32_t number) const;

    std::string path_;
    CStorageDb database_;
    CParleymanager* owner_;
    ComPtr<IStorage> accountStorage_;
    ComPtr<IStream> indexStream_;
    int nextNumber_ = 1;
    int loggingEnabled_ = 1;
    std::vector<LogEntry> index_;
    std::set<std::int32_t> handedOut_;  // numbers found in a gap, not yet saved
    LogTextCache textCache_;
    // The index stream holds index_ as encoded (set by each load and save).
    bool indexStored_ = false;
    // Counts account openings and steps back to a commit point, for WrittenConversation.
    unsigned accountOpening_ = 0;
    std::string accountName_;
};

} // namespace parleym

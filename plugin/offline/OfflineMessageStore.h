#pragma once
// Messages written to offline contacts, kept per contact until delivery: in
// memory while an account is signed in, and in offlinemsg.dat (the account's
// "messages" stream), rewritten at every addition and removal so that a
// messenger that ends abruptly neither loses nor sends again a message.
#include <objbase.h>

#include <string>
#include <vector>

#include "plugin/offline/OfflineMessagesCodec.h"
#include "plugin/storage/Scoped.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/StorageDb.h"

namespace parleym {

class COfflineMessageStore {
public:
    COfflineMessageStore();
    COfflineMessageStore(const COfflineMessageStore&) = delete;
    COfflineMessageStore& operator=(const COfflineMessageStore&) = delete;
    virtual ~COfflineMessageStore();

    // 1 on success, 0 after the database reported the failure.
    int Open(const char* path);
    // Makes the account's pending messages current, opening the file again
    // when another process held it at start. A stream that cannot be
    // read is reported and left untouched; the store then stays unloaded.
    // Messages of another account that could not be saved are set aside (and
    // saved again at every later Save) rather than served to this one.
    void Load(const char* accountName);
    // Null when not loaded or nothing waits for the contact.
    const OfflineMessageList* GetMessages(const std::string& contactName) const;
    // Appends a copy and writes the account's messages; null (message
    // dropped) when not loaded. A failed write keeps the message in memory.
    CMessageContent* AddMessage(const std::string& contactName, const CMessageContent& content);
    // Both removals write the account's messages when they removed any.
    void RemoveMessages(const std::string& contactName);
    // Drops the contact's first `count` messages (those delivered), keeping the rest in order.
    void RemoveFirstMessages(const std::string& contactName, size_t count);
    // Delivery, one message at a time: the first message leaves the store (and
    // the file) before the messenger is asked to send it, so that whatever the
    // messenger does meanwhile (an abrupt end, a sign-out that saves) cannot
    // send it twice. False when not loaded or nothing waits for the contact.
    bool TakeFirstMessage(const std::string& contactName, CMessageContent& message);
    // A taken message the messenger did not send goes back in front, into the
    // account it was taken from, loaded or not.
    void ReturnMessage(const std::string& accountName, const std::string& contactName,
                       const CMessageContent& message);
    // Writes everything back and unloads. On failure the store stays loaded
    // with all its messages, so a later Save writes them again.
    void Save();
    void Close();

    bool IsLoaded() const { return storage_ && messages_; }
    const std::string& LoadedAccount() const { return account_; }
    // Accounts whose messages wait in memory for a save that failed.
    std::size_t SetAsideCount() const { return setAside_.size(); }

protected:
    // Writes one account's "messages" stream (overridden by tests to fail).
    virtual HRESULT WriteStream(IStorage* storage, const Bytes& data, ComPtr<IStream>& stream);

private:
    struct AccountMessages {
        std::string account;
        PendingMessages pending;
    };
    // What the file holds for an account that is not loaded (nothing when it
    // has none); false after reporting what could not be read.
    bool ReadStored(const std::string& accountName, PendingMessages& pending);

    void Unload();
    // The loaded account's messages to disk after a change, the store staying
    // loaded; only the first of a run of failures is reported.
    HRESULT WriteThrough();
    HRESULT WriteSetAside(const AccountMessages& held);
    void SaveSetAside();

    CStorageDb db_;
    std::string account_;
    ComPtr<IStorage> storage_;
    ComPtr<IStream> messages_;
    PendingMessages pending_;
    std::vector<AccountMessages> setAside_;
};

} // namespace parleym

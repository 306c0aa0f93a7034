// Every store's save with one failing storage call, for every call it makes:
// afterwards the real code reopens the file and finds each element as it was
// before the save or as the save meant to leave it, never less; and a save
// that did not land is reported as failed. Beneath the journal, a disk that
// fails for good leaves the file exactly as before the save, and one that
// works again (a single failure, space freed) takes everything at the close.
#include <gtest/gtest.h>

#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/stats/ClockedStats.h"
#include "tests/stats/StoreTestSupport.h"
#include "plugin/logging/DigestMapCodec.h"
#include "plugin/logging/LogManager.h"
#include "plugin/logging/ObjectCache.h"
#include "plugin/offline/OfflineMessageStore.h"
#include "plugin/stats/StatsCodec.h"
#include "plugin/stats/StatsManager.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/StreamIO.h"
#include "plugin/storage/JournaledFile.h"
#include "plugin/storage/RollbackJournal.h"
#include "tests/objcache/TestStoredObject.h"
#include "tests/storage/FaultInjection.h"
#include "tests/storage/StorageTestSupport.h"

using namespace storage_faults;
using parleym::Bytes;
using parleym::CMessageContent;
using parleym::CLogManager;
using parleym::CObjectCache;
using parleym::CStorageDb;
using parleym::LogEntry;
using parleym::kStorageAccess;

namespace {

// What a store holds, element by element, as comparable text.
using State = std::map<std::string, std::string>;
const char kAbsent[] = "<absent>";

std::string Hex(const Bytes& data) {
    std::string out;
    char digits[3];
    for (std::uint8_t byte : data) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        out += digits;
    }
    return out;
}

// One store driven through the real code.
class StoreUnderTest {
public:
    virtual ~StoreUnderTest() = default;
    // Opens the file and whatever the save needs; false when it did not open.
    virtual bool Open(const std::string& path) = 0;
    // What happens between opening and the save (nothing written).
    virtual void BeforeSave() {}
    // The one save under test; false when the store said it failed.
    virtual bool Save() = 0;
    virtual State Snapshot() = 0;
    virtual void Close() = 0;
};

struct Scenario {
    std::string name;
    std::string file;
    // Writes the state before the save with the real code.
    std::function<void(const std::string& path)> prepare;
    std::function<std::unique_ptr<StoreUnderTest>()> make;
    // A value that is neither old nor new but loses nothing (may be null).
    std::function<bool(const std::string& key, const std::string& value, const std::map<std::string, std::string>& state)>
        alsoSound;
    // Whether what the save was for is in `after` (null: all of it).
    std::function<bool(const std::map<std::string, std::string>& after, const std::map<std::string, std::string>& meant)>
        landed;
    // A store that keeps what it could not save writes it at the close; one
    // that says it failed (the object cache) keeps nothing of it.
    bool catchesUp = true;
};

CMessageContent Text(const std::string& text) {
    CMessageContent content;
    content.isRtf = 0;
    content.text = text;
    return content;
}

// ---- logs.dat: conversation streams, the index and userids --------------

class LogStore : public StoreUnderTest {
public:
    explicit LogStore(std::function<bool(CLogManager&)> save) : save_(std::move(save)) {}
    bool Open(const std::string& path) override {
        return logs_.Open(path.c_str()) == 1 && logs_.OpenAccount("me@example.com") == 1;
    }
    bool Save() override { return save_(logs_); }
    State Snapshot() override {
        State state;
        const CStorageDb::UserMap users = logs_.Database().Users();
        for (const auto& user : users) {
            state["user/" + user.first] = user.second;
            if (logs_.OpenAccount(user.first.c_str()) != 1) {
                state["account/" + user.first] = "<unopened>";
                continue;
            }
            // By rank, not number: a number the store could not check is
            // skipped, never reused, and the conversation takes the next one.
            std::map<std::int32_t, const LogEntry*> byNumber;
            for (const LogEntry& entry : logs_.Index()) byNumber[entry.number] = &entry;
            int rank = 0;
            for (const auto& numbered : byNumber) {
                const LogEntry& entry = *numbered.second;
                const std::string prefix = user.first + "/" + std::to_string(++rank);
                std::ostringstream index;
                index << entry.contact << "|" << entry.start << "|" << entry.end;
                state[prefix + "/index"] = index.str();
                CMessageContent content;
                const HRESULT hr = logs_.LoadConversation(std::to_string(entry.number).c_str(), content);
                state[prefix + "/text"] = SUCCEEDED(hr) ? content.text : "<unreadable>";
            }
            state[user.first + "/logging"] = std::to_string(logs_.IsLoggingEnabled());
        }
        return state;
    }
    void Close() override { logs_.Close(); }

private:
    CLogManager logs_;
    std::function<bool(CLogManager&)> save_;
};

// Failures show up as messages, which the run collects.
bool SaveLogged(CLogManager& logs, const LogEntry& entry, const std::string& text, std::size_t before) {
    logs.SaveConversation(entry, Text(text));
    return logs.Index().size() >= before;
}

void PrepareLogs(const std::string& path) {
    CLogManager logs;
    ASSERT_EQ(logs.Open(path.c_str()), 1);
    ASSERT_EQ(logs.OpenAccount("me@example.com"), 1);
    logs.SaveConversation(LogEntry{45000.25, 45000.5, "bob@example.com", logs.TakeNextNumber()}, Text("hello bob"));
    logs.SaveConversation(LogEntry{45001.25, 45001.5, "amy@example.com", logs.TakeNextNumber()},
                          Text(std::string(300, 'a')));
    logs.Close();
}

// ---- objcache.dat: object storages and md5map ---------------------------

class CacheStore : public StoreUnderTest {
public:
    explicit CacheStore(std::string picture) : picture_(std::move(picture)) {}
    bool Open(const std::string& path) override {
        cache_.Open(path.c_str());
        return cache_.IsOpen();
    }
    bool Save() override {
        IPersistStorage* object = objcache_test::CreateStoredObject(picture_);
        std::string key;
        const int added = cache_.Add(object, key);
        object->Release();
        return added == 1;
    }
    State Snapshot() override {
        State state;
        for (const auto& pair : cache_.Digests()) state["digest/" + pair.first] = pair.second;
        // Keys are handed out in order, so the few in use lie below the next one.
        for (int number = 0; number < cache_.NextKey() + 3; ++number) {
            const std::string key = std::to_string(number);
            CLSID classId = CLSID_NULL;
            IStorage* storage = cache_.Lookup(key, classId);
            if (!storage) continue;
            parleym::ComPtr<IStream> contents;
            Bytes data;
            HRESULT hr = storage->OpenStream(L"CONTENTS", nullptr, kStorageAccess, 0, contents.Put());
            if (SUCCEEDED(hr)) hr = parleym::ReadWholeStream(contents.Get(), data);
            state["object/" + key] = SUCCEEDED(hr) ? Hex(data) : "<unreadable>";
        }
        return state;
    }
    void Close() override { cache_.Close(); }

private:
    CObjectCache cache_;
    std::string picture_;
};

void PrepareCache(const std::string& path) {
    CObjectCache cache;
    cache.Open(path.c_str());
    ASSERT_TRUE(cache.IsOpen());
    for (const char* picture : {"first picture", "second picture"}) {
        IPersistStorage* object = objcache_test::CreateStoredObject(picture);
        std::string key;
        EXPECT_EQ(cache.Add(object, key), 1);
        object->Release();
    }
    cache.Close();
}

// A map naming, for the picture about to be added, a key whose object is
// gone: the add stores it again and rewrites the whole map.
void PrepareCacheWithLostObject(const std::string& path) {
    PrepareCache(path);
    const std::string scratchPath = path + ".scratch";
    std::string digest;
    {
        CObjectCache scratch;
        scratch.Open(scratchPath.c_str());
        ASSERT_TRUE(scratch.IsOpen());
        IPersistStorage* object = objcache_test::CreateStoredObject("third picture");
        std::string key;
        EXPECT_EQ(scratch.Add(object, key), 1);
        object->Release();
        for (const auto& pair : scratch.Digests())
            if (pair.second == key) digest = pair.first;
        scratch.Close();
    }
    DeleteFileA(scratchPath.c_str());
    ASSERT_FALSE(digest.empty());
    parleym::DigestMap digests;
    ASSERT_TRUE(parleym::DecodeDigestMap(storage_test::ReadElementStream(path, "md5map"), digests));
    ASSERT_EQ(digests.count(digest), 0u);
    digests[digest] = "7";
    storage_test::WriteElementStream(path, "md5map", parleym::EncodeDigestMap(digests));
}

// ---- stats.dat: users and sessions ---------------------------------------

constexpr double kDay = 45000.0;
constexpr double kMinute = 1.0 / 1440.0;

using storetest::ClockedStats;

class StatsStore : public StoreUnderTest {
public:
    StatsStore() : stats_(&self_) {
        self_.signInName = "me@example.com";
        self_.friendlyName = "Me";
    }
    bool Open(const std::string& path) override {
        return stats_.OpenStatsFile(path.c_str()) && stats_.OpenAccount(self_.signInName.c_str());
    }
    void BeforeSave() override {
        // Signed in, a contact online for a while: the checkpoint has news to write.
        self_.status = parleym::kStatsOnline;
        stats_.now = kDay + 2;
        stats_.OnStatusChange(self_.signInName, self_.friendlyName, parleym::kStatsOnline, true);
        stats_.OnStatusChange("carol@example.com", "Carol", parleym::kStatsOnline, false);
        stats_.now += 7 * kMinute;
    }
    bool Save() override {
        stats_.Checkpoint();
        return true;
    }
    State Snapshot() override {
        const parleym::StatsLedger& ledger = stats_.Ledger();
        return State{{"users", Hex(parleym::EncodeStatsUsers(ledger.OwnTotal(), ledger.Contacts()))},
                     {"sessions", Hex(parleym::EncodeStatsSessions(ledger.Sessions()))}};
    }
    void Close() override { stats_.Shutdown(); }

private:
    parleym::StatsIdentity self_;
    ClockedStats stats_;
};

void PrepareStats(const std::string& path) {
    parleym::StatsIdentity self{"me@example.com", "Me", parleym::kStatsOnline};
    ClockedStats stats(&self);
    ASSERT_TRUE(stats.OpenStatsFile(path.c_str()));
    ASSERT_TRUE(stats.OpenAccount(self.signInName.c_str()));
    stats.OnStatusChange(self.signInName, self.friendlyName, parleym::kStatsOnline, false);
    stats.OnStatusChange("bob@example.com", "Bob", parleym::kStatsOnline, false);
    stats.now += 30 * kMinute;
    stats.OnStatusChange("bob@example.com", "Bob", parleym::kStatsOffline, false);
    stats.now += 30 * kMinute;
    self.status = parleym::kStatsOffline;
    stats.OnStatusChange(self.signInName, self.friendlyName, parleym::kStatsOffline, false);
    stats.Shutdown();
}

// ---- offlinemsg.dat: messages --------------------------------------------

class OfflineStore : public StoreUnderTest {
public:
    explicit OfflineStore(std::function<void(parleym::COfflineMessageStore&)> save) : save_(std::move(save)) {}
    bool Open(const std::string& path) override {
        if (store_.Open(path.c_str()) != 1) return false;
        store_.Load("me@example.com");
        return store_.IsLoaded();
    }
    bool Save() override {
        save_(store_);
        return true;
    }
    State Snapshot() override {
        State state;
        for (const char* contact : {"bob@example.com", "carol@example.com"}) {
            const parleym::OfflineMessageList* list = store_.GetMessages(contact);
            if (!list) continue;
            std::string texts;
            for (const CMessageContent& message : *list) texts += message.text + "|";
            state[contact] = texts;
        }
        return state;
    }
    void Close() override { store_.Close(); }

private:
    parleym::COfflineMessageStore store_;
    std::function<void(parleym::COfflineMessageStore&)> save_;
};

void PrepareOffline(const std::string& path) {
    parleym::COfflineMessageStore store;
    ASSERT_EQ(store.Open(path.c_str()), 1);
    store.Load("me@example.com");
    store.AddMessage("bob@example.com", Text("one for bob"));
    store.AddMessage("bob@example.com", Text("two for bob"));
    store.AddMessage("carol@example.com", Text("one for carol"));
    store.Close();
}

// ---- the runs -------------------------------------------------------------

struct Figures {
    long points = 0;   // counted calls in one save
    long cases = 0;
    long becameNew = 0;
    long stayedOld = 0;
    long mixed = 0;    // some elements old, some new
    long reported = 0; // cases whose save said it failed
    long injected = 0; // cases in which a call was made to fail
    long sound = 0;    // cases that lost nothing and reported what failed
};

class FaultInjectionTest : public ::testing::Test {
protected:
    storage_test::ComEnvironment com;
    storage_test::TempFolder folder;
    storage_test::MessageCapture messages;

    State Read(const Scenario& scenario, const std::string& path) {
        messages.Clear();
        std::unique_ptr<StoreUnderTest> store = scenario.make();
        State state;
        if (!store->Open(path))
            state["<open>"] = "failed";
        else
            state = store->Snapshot();
        store->Close();
        for (const storage_test::ShownMessage& shown : messages.Messages()) state["<message>"] += shown.text + ";";
        return state;
    }

    // One save in a store opened unharmed, faults as armed; true when the
    // store claimed success.
    bool RunSave(const Scenario& scenario, const std::string& path, Layer layer, long failAt, bool sticky,
                 Failure failure, State* intended, FaultPlan* counted) {
        messages.Clear();
        FaultyStorageFiles faulty(layer);
        EXPECT_TRUE(faulty.Installed());
        std::unique_ptr<StoreUnderTest> store = scenario.make();
        if (!store->Open(path)) {
            ADD_FAILURE() << scenario.name << ": the store did not open before the save";
            return false;
        }
        store->BeforeSave();
        Arm(failAt, sticky, failure);
        bool claimed = store->Save();
        // A broken medium stays broken until the store lets go of the file;
        // a single failing call is followed by calls that work, and a full
        // disk gets space again before the store closes.
        if (!(sticky && failure != Failure::DiskFull && Plan().injected > 0)) Plan().armed = false;
        if (intended) *intended = store->Snapshot();
        store->Close();
        const FaultPlan plan = Disarm();
        if (counted) *counted = plan;
        return claimed && messages.Messages().empty();
    }

    struct Mode {
        bool sticky;
        Failure failure;
    };

    Figures Run(const Scenario& scenario, Layer layer, const std::vector<Mode>& modes) {
        const std::string path = folder.Path(scenario.file);
        DeleteFileA(path.c_str());
        scenario.prepare(path);
        const Bytes before = storage_test::ReadFileBytes(path);
        const State old = Read(scenario, path);
        EXPECT_EQ(old.count("<message>"), 0u) << scenario.name;

        State intended;
        FaultPlan counted;
        storage_test::WriteFileBytes(path, before);
        EXPECT_TRUE(RunSave(scenario, path, layer, 0, false, Failure::Refuse, &intended, nullptr)) << scenario.name;
        storage_test::WriteFileBytes(path, before);
        EXPECT_TRUE(RunSave(scenario, path, layer, 0, false, Failure::Refuse, nullptr, &counted)) << scenario.name;
        const State closed = Read(scenario, path);
        EXPECT_NE(intended, old) << scenario.name << ": the save changes nothing";
        EXPECT_EQ(closed.count("<message>"), 0u) << scenario.name;

        Figures figures;
        figures.points = counted.calls;
        for (const Mode& mode : modes) {
            const bool sticky = mode.sticky;
            const Failure failure = mode.failure;
            {
                for (long failAt = 1; failAt <= counted.calls; ++failAt) {
                    if (std::getenv("PARLEYM_FAULT_TRACE"))
                        std::printf("CASE %s %ld %d %d\n", scenario.name.c_str(), failAt, sticky ? 1 : 0,
                                    static_cast<int>(failure)), std::fflush(stdout);
                    storage_test::WriteFileBytes(path, before);
                    FaultPlan plan;
                    const bool claimed = RunSave(scenario, path, layer, failAt, sticky, failure, nullptr, &plan);
                    if (plan.injected > 0) ++figures.injected;
                    const Bytes left = storage_test::ReadFileBytes(path);
                    Bytes asOpened = left;
                    parleym::RollBackInMemory(
                        asOpened, storage_test::ReadFileBytes(
                                      path + "-journal"));
                    const State after = Read(scenario, path);
                    const std::string where = scenario.name + (layer == Layer::Disk ? " disk" : " interfaces") +
                                              (sticky ? " from call " : " call ") + std::to_string(failAt) +
                                              (failure == Failure::Partial    ? " partial"
                                               : failure == Failure::DiskFull ? " disk full"
                                                                              : " refused");
                    ++figures.cases;
                    if (!claimed) ++figures.reported;
                    bool sound = Judge(scenario, where, old, intended, closed, after, claimed, figures);
                    if (layer == Layer::Disk && plan.injected > 0) {
                        const bool isNew = after == intended || after == closed;
                        if (!sticky || failure == Failure::DiskFull) {
                            // Nothing was lost: the close wrote what the save could not.
                            const bool caughtUp = scenario.catchesUp ? isNew : isNew || (!claimed && after == old);
                            EXPECT_TRUE(caughtUp) << where << ": the store did not catch up once the disk worked";
                            sound = sound && caughtUp;
                        } else if (after == old) {
                            EXPECT_TRUE(asOpened == before) << where << ": the file is not as at the last commit point";
                            sound = sound && asOpened == before;
                        }
                    }
                    if (sound)
                        ++figures.sound;
                    else
                        Keep(where, left);
                }
            }
        }
        std::printf("FAULTS %s %s%s: %ld calls in one save, %ld cases, %ld with a fault injected, %ld recovered "
                    "(%ld new, %ld old, %ld mixed), %ld reported\n",
                    scenario.name.c_str(), layer == Layer::Disk ? "disk" : "interfaces",
                    modes.size() == 1 && modes[0].failure == Failure::DiskFull ? " disk full" : "", figures.points,
                    figures.cases, figures.injected, figures.sound, figures.becameNew, figures.stayedOld,
                    figures.mixed, figures.reported);
        return figures;
    }

    // PARLEYM_FAULT_KEEP names a folder for the files a failing case left.
    static void Keep(const std::string& where, const Bytes& left) {
        const char* folder = std::getenv("PARLEYM_FAULT_KEEP");
        if (!folder || !*folder) return;
        std::string name = where;
        for (char& c : name)
            if (c == ' ') c = '_';
        storage_test::WriteFileBytes(std::string(folder) + "\\" + name + ".dat", left);
    }

    bool Judge(const Scenario& scenario, const std::string& where, const State& old, const State& intended,
               const State& closed, const State& after, bool claimed, Figures& figures) {
        auto value = [](const State& state, const std::string& key) {
            const auto found = state.find(key);
            return found == state.end() ? std::string(kAbsent) : found->second;
        };
        std::map<std::string, bool> keys;
        for (const State* state : {&old, &intended, &closed, &after})
            for (const auto& pair : *state) keys[pair.first] = true;
        bool sound = true;
        for (const auto& key : keys) {
            const std::string now = value(after, key.first);
            if (now == value(old, key.first) || now == value(intended, key.first) || now == value(closed, key.first))
                continue;
            if (scenario.alsoSound && scenario.alsoSound(key.first, now, after)) continue;
            sound = false;
            ADD_FAILURE() << where << ": " << key.first << " is '" << now << "', was '" << value(old, key.first)
                          << "', meant '" << value(intended, key.first) << "'";
        }
        const bool isNew = after == intended || after == closed;
        if (isNew)
            ++figures.becameNew;
        else if (after == old)
            ++figures.stayedOld;
        else
            ++figures.mixed;
        if (claimed && !isNew && !(scenario.landed && scenario.landed(after, intended))) {
            sound = false;
            ADD_FAILURE() << where << ": the save claimed success but did not land";
        }
        return sound;
    }

    void RunLayer(const Scenario& scenario, Layer layer) {
        const std::vector<Mode> modes = {
            {false, Failure::Refuse}, {false, Failure::Partial}, {true, Failure::Refuse}, {true, Failure::Partial}};
        const Figures figures = Run(scenario, layer, modes);
        EXPECT_GT(figures.points, 0) << scenario.name;
        EXPECT_EQ(figures.cases, 4 * figures.points) << scenario.name;
    }

    // The disk fills up at each point of the save; space comes back before
    // the store closes.
    void RunDiskFull(const Scenario& scenario) {
        const Figures figures = Run(scenario, Layer::Disk, {{true, Failure::DiskFull}});
        EXPECT_GT(figures.points, 0) << scenario.name;
    }
};

bool RecoveredEntry(const std::string& key, const std::string& value, const State&) {
    // A conversation whose index entry was lost comes back from its stream,
    // without the contact, which only the index keeps.
    return key.size() > 6 && key.compare(key.size() - 6, 6, "/index") == 0 && !value.empty() && value[0] == '|';
}

// An add that failed on a medium that stays broken cannot take its storage
// out again; no message refers to it and its key is never handed out again.
bool OrphanObject(const std::string& key, const std::string&, const State& state) {
    if (key.compare(0, 7, "object/") != 0) return false;
    for (const auto& pair : state)
        if (pair.first.compare(0, 7, "digest/") == 0 && pair.second == key.substr(7)) return false;
    return true;
}

// The cache's promise is the object under its key; the digest only spares
// storing an identical picture twice.
bool ObjectStored(const State& after, const State& meant) {
    for (const auto& pair : meant) {
        if (pair.first.compare(0, 7, "object/") != 0) continue;
        const auto found = after.find(pair.first);
        if (found == after.end() || found->second != pair.second) return false;
    }
    return true;
}

Scenario LogsNewConversation() {
    return Scenario{"logs new conversation", "logs.dat", PrepareLogs,
           [] {
               return std::make_unique<LogStore>([](CLogManager& logs) {
                   const std::size_t before = logs.Index().size();
                   return SaveLogged(logs, LogEntry{45002.25, 45002.5, "carol@example.com",
                                                    logs.TakeNextNumber()},
                                     "hi carol", before + 1);
               });
           },
           RecoveredEntry, nullptr};
}

Scenario LogsConversationRewritten() {
    return Scenario{"logs rewritten conversation", "logs.dat", PrepareLogs,
           [] {
               return std::make_unique<LogStore>([](CLogManager& logs) {
                   return SaveLogged(logs, LogEntry{45000.25, 45000.75, "bob@example.com", 1},
                                     "hello bob, and more " + std::string(700, 'b'), 2);
               });
           },
           RecoveredEntry, nullptr};
}

Scenario LogsNewAccount() {
    return Scenario{"logs new account", "logs.dat", PrepareLogs,
           [] {
               return std::make_unique<LogStore>([](CLogManager& logs) {
                   if (logs.OpenAccount("new@example.com") != 1) return false;
                   return SaveLogged(logs, LogEntry{45003.25, 45003.5, "bob@example.com",
                                                    logs.TakeNextNumber()},
                                     "first words", 1);
               });
           },
           RecoveredEntry, nullptr};
}

Scenario ObjectCacheNewObject() {
    return Scenario{"objcache new object", "objcache.dat", PrepareCache,
           [] { return std::make_unique<CacheStore>("third picture"); }, OrphanObject,
           ObjectStored, false};
}

Scenario ObjectCacheDigestMapRewritten() {
    return Scenario{"objcache map rewritten", "objcache.dat", PrepareCacheWithLostObject,
           [] { return std::make_unique<CacheStore>("third picture"); }, OrphanObject,
           ObjectStored, false};
}

Scenario Statistics() {
    return Scenario{"stats checkpoint", "stats.dat", PrepareStats,
           [] { return std::make_unique<StatsStore>(); }, nullptr, nullptr};
}

Scenario OfflineMessageAdded() {
    return Scenario{"offline add", "offlinemsg.dat", PrepareOffline,
           [] {
               return std::make_unique<OfflineStore>([](parleym::COfflineMessageStore& store) {
                   store.AddMessage("carol@example.com", Text("two for carol"));
               });
           },
           nullptr, nullptr};
}

Scenario OfflineMessagesDelivered() {
    return Scenario{"offline removal", "offlinemsg.dat", PrepareOffline,
           [] {
               return std::make_unique<OfflineStore>([](parleym::COfflineMessageStore& store) {
                   store.RemoveFirstMessages("bob@example.com", 1);
               });
           },
           nullptr, nullptr};
}

std::vector<Scenario> EveryScenario() {
    return {LogsNewConversation(), LogsConversationRewritten(), LogsNewAccount(), ObjectCacheNewObject(),
            ObjectCacheDigestMapRewritten(), Statistics(), OfflineMessageAdded(), OfflineMessagesDelivered()};
}

} // namespace

TEST_F(FaultInjectionTest, LogsNewConversation) { RunLayer(LogsNewConversation(), Layer::Interfaces); }

TEST_F(FaultInjectionTest, LogsConversationRewritten) { RunLayer(LogsConversationRewritten(), Layer::Interfaces); }

TEST_F(FaultInjectionTest, LogsNewAccount) { RunLayer(LogsNewAccount(), Layer::Interfaces); }

TEST_F(FaultInjectionTest, ObjectCacheNewObject) { RunLayer(ObjectCacheNewObject(), Layer::Interfaces); }

TEST_F(FaultInjectionTest, ObjectCacheDigestMapRewritten) {
    RunLayer(ObjectCacheDigestMapRewritten(), Layer::Interfaces);
}

TEST_F(FaultInjectionTest, Statistics) { RunLayer(Statistics(), Layer::Interfaces); }

TEST_F(FaultInjectionTest, OfflineMessageAdded) { RunLayer(OfflineMessageAdded(), Layer::Interfaces); }

TEST_F(FaultInjectionTest, OfflineMessagesDelivered) { RunLayer(OfflineMessagesDelivered(), Layer::Interfaces); }

// Beneath the journal, every call of every store's save failing in turn.
// PARLEYM_FAULT_ONLY picks the scenarios whose name holds it.
TEST_F(FaultInjectionTest, EveryStoreBelowTheCompoundFileCode) {
    const char* only = std::getenv("PARLEYM_FAULT_ONLY");
    for (const Scenario& scenario : EveryScenario())
        if (!only || scenario.name.find(only) != std::string::npos) RunLayer(scenario, Layer::Disk);
}

// A disk that fills up at any point of a save which grows a file.
TEST_F(FaultInjectionTest, EveryStoreOnAFullDisk) {
    const char* only = std::getenv("PARLEYM_FAULT_ONLY");
    for (const Scenario& scenario : EveryScenario())
        if (!only || scenario.name.find(only) != std::string::npos) RunDiskFull(scenario);
}

const LogEntry kLaterEnd{45000.25, 45009.75, "bob@example.com", 1};

// The index written whole with a failure at PARLEYM_FAIL_AT, then an end time
// written in place, then the process ends without closing anything.
TEST(IndexChild, FailsAnIndexSaveUpdatesAnEndAndEndsAbruptly) {
    if (storetest::ChildFile().empty()) GTEST_SKIP() << "run by FaultInjectionTest.AFailedIndexSaveNeverUndoesLaterEndTimes";
    CoInitialize(nullptr);
    storage_test::MessageCapture messages;
    FaultyStorageFiles faulty(Layer::Interfaces);
    auto* logs = new CLogManager;  // never closed
    if (logs->Open(storetest::ChildFile().c_str()) != 1 || logs->OpenAccount("me@example.com") != 1) std::exit(3);
    Arm(std::atol(std::getenv("PARLEYM_FAIL_AT")), false, Failure::Refuse);
    logs->SetLoggingEnabled(0);
    Disarm();
    logs->SaveConversation(kLaterEnd, Text("hello bob, later"));
    storetest::EndAbruptly();
}

// An index save failing at any one call must never undo a later end-time
// update written in place, even when the process then ends abruptly: no copy
// of the index may be left to be put back over it at the next open.
TEST_F(FaultInjectionTest, AFailedIndexSaveNeverUndoesLaterEndTimes) {
    const std::string path = folder.Path("logs.dat");
    PrepareLogs(path);
    const Bytes before = storage_test::ReadFileBytes(path);
    long calls = 0;
    {
        FaultyStorageFiles faulty(Layer::Interfaces);
        CLogManager logs;
        ASSERT_EQ(logs.Open(path.c_str()), 1);
        ASSERT_EQ(logs.OpenAccount("me@example.com"), 1);
        Arm(0, false, Failure::Refuse);
        logs.SetLoggingEnabled(0);
        calls = Disarm().calls;
        logs.Close();
    }
    ASSERT_GT(calls, 1);
    for (long failAt = 1; failAt <= calls; ++failAt) {
        storage_test::WriteFileBytes(path, before);
        DeleteFileA((path + "-journal").c_str());
        SetEnvironmentVariableA("PARLEYM_FAIL_AT", std::to_string(failAt).c_str());
        storetest::RunChildTest("IndexChild.FailsAnIndexSaveUpdatesAnEndAndEndsAbruptly", path);
        CLogManager logs;
        ASSERT_EQ(logs.Open(path.c_str()), 1);
        ASSERT_EQ(logs.OpenAccount("me@example.com"), 1);
        const auto found = std::find_if(logs.Index().begin(), logs.Index().end(),
                                        [](const LogEntry& entry) { return entry.number == 1; });
        ASSERT_NE(found, logs.Index().end()) << "call " << failAt;
        EXPECT_EQ(found->end, kLaterEnd.end) << "call " << failAt;
        logs.Close();
    }
    SetEnvironmentVariableA("PARLEYM_FAIL_AT", nullptr);
}

namespace {

// Three saves of one store, the first two failing at one call each: what the
// store shows and the file holds afterwards, as text to compare.
using ThreeSaves = std::function<std::string(const std::string& path, long firstFailsAt, long secondFailsAt)>;

// Arms a single failure at `failAt` (none for 0) around `save`; the calls it counted.
long Counted(long failAt, const std::function<void()>& save) {
    Arm(failAt, false, Failure::Refuse);
    save();
    return Disarm().calls;
}

std::string OfflineThreeSaves(const std::string& path, long first, long second) {
    parleym::COfflineMessageStore store;
    store.Open(path.c_str());
    store.Load("me@example.com");
    const long calls = Counted(first, [&] { store.AddMessage("carol@example.com", Text("two for carol")); }) +
                       Counted(second, [&] { store.AddMessage("carol@example.com", Text("three for carol")); });
    std::string seen = "calls " + std::to_string(calls) + "\n";
    seen += store.AddMessage("carol@example.com", Text("four for carol")) ? "" : "dropped\n";
    auto texts = [&store](const char* contact) {
        std::string all;
        if (const parleym::OfflineMessageList* list = store.GetMessages(contact))
            for (const CMessageContent& message : *list) all += message.text + "|";
        return all;
    };
    seen += "memory " + texts("carol@example.com") + "\n";
    store.Load("other@example.com");
    seen += "other " + texts("carol@example.com") + "\n";
    store.Close();
    parleym::COfflineMessageStore reopened;
    reopened.Open(path.c_str());
    reopened.Load("me@example.com");
    if (const parleym::OfflineMessageList* list = reopened.GetMessages("carol@example.com"))
        for (const CMessageContent& message : *list) seen += "file " + message.text + "\n";
    reopened.Close();
    return seen;
}

std::string LogThreeSaves(const std::string& path, long first, long second) {
    CLogManager logs;
    logs.Open(path.c_str());
    logs.OpenAccount("me@example.com");
    const long calls = Counted(first, [&] { logs.SetLoggingEnabled(0); }) +
                       Counted(second, [&] { logs.SetLoggingEnabled(1); });
    std::string seen = "calls " + std::to_string(calls) + "\n";
    seen += logs.IsAccountOpen() ? "" : "closed\n";
    logs.SaveConversation(LogEntry{45005.25, 45005.5, "dan@example.com", logs.TakeNextNumber()}, Text("hi dan"));
    logs.Close();
    CLogManager reopened;
    reopened.Open(path.c_str());
    reopened.OpenAccount("me@example.com");
    for (const LogEntry& entry : reopened.Index()) {
        CMessageContent content;
        reopened.LoadConversation(std::to_string(entry.number).c_str(), content);
        seen += "file " + entry.contact + " " + content.text + "\n";
    }
    seen += "logging " + std::to_string(reopened.IsLoggingEnabled()) + "\n";
    reopened.Close();
    return seen;
}

std::string StatsThreeSaves(const std::string& path, long first, long second) {
    parleym::StatsIdentity self{"me@example.com", "Me", parleym::kStatsOnline};
    storetest::ClockedStats stats(&self);
    stats.now = kDay + 3;
    stats.OpenStatsFile(path.c_str());
    stats.OpenAccount(self.signInName.c_str());
    stats.OnStatusChange(self.signInName, self.friendlyName, parleym::kStatsOnline, false);
    const long calls = Counted(first, [&] {
                           stats.OnStatusChange("dan@example.com", "Dan", parleym::kStatsOnline, false);
                           stats.now += kMinute;
                           stats.Checkpoint();
                       }) +
                       Counted(second, [&] {
                           stats.now += kMinute;
                           stats.Checkpoint();
                       });
    std::string seen = "calls " + std::to_string(calls) + "\n";
    seen += stats.IsAccountOpen() ? "" : "closed\n";
    stats.now += kMinute;
    stats.Checkpoint();
    const parleym::StatsLedger& ledger = stats.Ledger();
    const std::string kept = Hex(parleym::EncodeStatsUsers(ledger.OwnTotal(), ledger.Contacts()));
    stats.OpenAccount("other@example.com");
    seen += "other " + Hex(parleym::EncodeStatsSessions(stats.Ledger().Sessions())) + "\n";
    stats.Shutdown();
    storetest::ClockedStats reopened(&self);
    reopened.OpenStatsFile(path.c_str());
    reopened.OpenAccount(self.signInName.c_str());
    const parleym::StatsLedger& stored = reopened.Ledger();
    seen += Hex(parleym::EncodeStatsUsers(stored.OwnTotal(), stored.Contacts())) == kept ? "" : "file differs\n";
    reopened.Shutdown();
    return seen;
}

} // namespace

// A save failing at any one call, and the next one too, must leave the store
// open on its own account: the third save keeps everything, lands in the
// file, and nothing reaches the next account.
TEST_F(FaultInjectionTest, TwoFailedSavesInARowLeaveEveryStoreWorking) {
    struct Case {
        const char* name;
        const char* file;
        std::function<void(const std::string&)> prepare;
        ThreeSaves run;
    };
    const Case cases[] = {{"offline", "offlinemsg.dat", PrepareOffline, OfflineThreeSaves},
                          {"logs", "logs.dat", PrepareLogs, LogThreeSaves},
                          {"stats", "stats.dat", PrepareStats, StatsThreeSaves}};
    for (const Case& c : cases) {
        const std::string path = folder.Path(c.file);
        DeleteFileA(path.c_str());
        c.prepare(path);
        const Bytes before = storage_test::ReadFileBytes(path);
        FaultyStorageFiles faulty(Layer::Interfaces);
        ASSERT_TRUE(faulty.Installed());
        const std::string expected = c.run(path, 0, 0);
        const std::string counted = expected.substr(6, expected.find('\n') - 6);
        const long calls = std::atol(counted.c_str());
        ASSERT_GT(calls, 1) << c.name;
        for (long first = 1; first <= calls; ++first) {
            for (long second = 1; second <= calls; ++second) {
                storage_test::WriteFileBytes(path, before);
                DeleteFileA((path + "-journal").c_str());
                const std::string seen = c.run(path, first, second);
                // The calls counted differ with the failures; the rest must not.
                EXPECT_EQ(seen.substr(seen.find('\n')), expected.substr(expected.find('\n')))
                    << c.name << ": failures at calls " << first << " and " << second;
            }
        }
    }
}

// Every store's save with one failing storage call, for every call it makes:
// afterwards the real code reopens the file and finds each element as it was
// before the save or as the save meant to leave it, never less; and a save
// that did not land is reported as failed.
#include <gtest/gtest.h>

#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/stats/ClockedStats.h"
#include "plugin/logging/DigestMapCodec.h"
#include "plugin/logging/LogManager.h"
#include "plugin/logging/ObjectCache.h"
#include "plugin/offline/OfflineMessageStore.h"
#include "plugin/stats/StatsCodec.h"
#include "plugin/stats/StatsManager.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/StreamIO.h"
#include "plugin/storage/StreamReplace.h"
#include "tests/objcache/TestStoredObject.h"
#include "tests/storage/FaultInjection.h"
#include "tests/storage/StorageTestSupport.h"

using namespace storage_faults;
using parleym::Bytes;

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
        // a single failing call is followed by calls that work.
        if (!(sticky && Plan().injected > 0)) Plan().armed = false;
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
                    const State after = Read(scenario, path);
                    const std::string where = scenario.name + (layer == Layer::LockBytes ? " lockbytes" : " interfaces") +
                                              (sticky ? " from call " : " call ") + std::to_string(failAt) +
                                              (failure == Failure::Partial    ? " partial"
                                               : failure == Failure::DiskFull ? " disk full"
                                                                              : " refused");
                    ++figures.cases;
                    if (!claimed) ++figures.reported;
                    if (Judge(scenario, where, old, intended, closed, after, claimed, figures))
                        ++figures.sound;
                    else
                        Keep(where, left);
                }
            }
        }
        std::printf("FAULTS %s %s%s: %ld calls in one save, %ld cases, %ld with a fault injected, %ld recovered "
                    "(%ld new, %ld old, %ld mixed), %ld reported\n",
                    scenario.name.c_str(), layer == Layer::LockBytes ? "lockbytes" : "interfaces",
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

    // The disk fills up at each point of the save and stays full until the
    // store lets go of the file.
    void RunDiskFull(const Scenario& scenario) {
        const Figures figures = Run(scenario, Layer::LockBytes, {{true, Failure::DiskFull}});
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
           ObjectStored};
}

Scenario ObjectCacheDigestMapRewritten() {
    return Scenario{"objcache map rewritten", "objcache.dat", PrepareCacheWithLostObject,
           [] { return std::make_unique<CacheStore>("third picture"); }, OrphanObject,
           ObjectStored};
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

// Below the compound-file code, a single failing sector write in direct mode
// leaves Wine's implementation with a damaged file (and, with a medium that
// stays broken, an assertion inside it), whatever the stores do above it. Run
// by hand with --gtest_also_run_disabled_tests to see the figures.
TEST_F(FaultInjectionTest, DISABLED_EveryStoreBelowTheCompoundFileCode) {
    // PARLEYM_FAULT_ONLY picks the scenarios whose name holds it.
    const char* only = std::getenv("PARLEYM_FAULT_ONLY");
    for (const Scenario& scenario : EveryScenario())
        if (!only || scenario.name.find(only) != std::string::npos) RunLayer(scenario, Layer::LockBytes);
}

// A disk that fills up during a save which grows logs.dat or objcache.dat
// leaves Wine's direct-mode compound-file code with a file it reports as
// damaged at the next open; the saves that fit in the file's free sectors are
// untouched. By hand as above; PARLEYM_FAULT_ONLY as above.
TEST_F(FaultInjectionTest, DISABLED_EveryStoreOnAFullDisk) {
    const char* only = std::getenv("PARLEYM_FAULT_ONLY");
    for (const Scenario& scenario : EveryScenario())
        if (!only || scenario.name.find(only) != std::string::npos) RunDiskFull(scenario);
}

// A rewrite that fails leaves its siblings in the account; signing in again
// without reopening the file must still finish or drop them, although the
// file held none when it was opened.
TEST_F(FaultInjectionTest, ARewriteLeftUnfinishedIsRecoveredAtTheNextSignIn) {
    const std::string path = folder.Path("logs.dat");
    PrepareLogs(path);
    const Bytes before = storage_test::ReadFileBytes(path);
    const LogEntry rewritten{45000.25, 45000.75, "bob@example.com", 1};
    const std::string newText = "hello bob, and more " + std::string(700, 'b');
    auto hasSiblings = [&path](const std::string& account) {
        for (const std::string& name : storage_test::ElementNames(path, account))
            if (parleym::IsPendingRewriteSibling(parleym::ToElementName(name))) return true;
        return false;
    };
    std::string account;
    int leftBehind = 0;
    for (long failAt = 1; failAt <= 40; ++failAt) {
        for (const bool signInAgain : {false, true}) {
            storage_test::WriteFileBytes(path, before);
            std::string text;
            {
                FaultyStorageFiles faulty(Layer::Interfaces);
                ASSERT_TRUE(faulty.Installed());
                CLogManager logs;
                ASSERT_EQ(logs.Open(path.c_str()), 1);
                ASSERT_EQ(logs.OpenAccount("me@example.com"), 1);
                account = logs.Database().Users().at("me@example.com");
                Arm(failAt, false, Failure::Refuse);
                logs.SaveConversation(rewritten, Text(newText));
                Disarm();
                if (signInAgain) {
                    ASSERT_EQ(logs.OpenAccount("me@example.com"), 1);
                    CMessageContent content;
                    if (SUCCEEDED(logs.LoadConversation("1", content))) text = content.text;
                }
                logs.Close();
            }
            if (!signInAgain) {
                if (hasSiblings(account)) ++leftBehind;
                continue;
            }
            EXPECT_FALSE(hasSiblings(account)) << "call " << failAt;
            EXPECT_TRUE(text == "hello bob" || text == newText) << "call " << failAt << ": '" << text << "'";
        }
    }
    // Otherwise the second sign-in had nothing to recover.
    EXPECT_GT(leftBehind, 0);
}

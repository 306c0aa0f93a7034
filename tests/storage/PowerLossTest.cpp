// Power losses under the real stores: every data file on the simulated disk
// (SimulatedFiles.h), a sequence of real store operations run once to learn
// what each one leaves, then again for every call the sequence makes to the
// disk with the power cut at that call. The disk then keeps what was flushed
// and a random subset, in random order, of what was written since; several
// such endings are tried per cut. After each, the real code opens the file
// without a message and finds exactly what the last operation finished
// before the cut left, or what the one under way meant to leave.
// PARLEYM_POWER_SEED repeats a run; PARLEYM_POWER_ENDINGS sets the endings
// tried per cut.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <sstream>

#include "plugin/core/UserSettingsFile.h"
#include "plugin/core/UserSettingsFormat.h"
#include "plugin/logging/LogManager.h"
#include "plugin/logging/ObjectCache.h"
#include "plugin/offline/OfflineMessageStore.h"
#include "plugin/stats/StatsCodec.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/StreamIO.h"
#include "plugin/storage/Win32FileSystem.h"
#include "tests/objcache/TestStoredObject.h"
#include "tests/stats/ClockedStats.h"
#include "tests/storage/SimulatedFiles.h"
#include "tests/storage/StorageTestSupport.h"

using parleym::Bytes;
using parleym::CMessageContent;
using parleym::CLogManager;
using parleym::CObjectCache;
using parleym::LogEntry;
using parleym::WrittenConversation;
using parleym::kStorageAccess;
using storage_test::FaultPlan;
using storage_test::SimulatedFileSystem;

namespace {

std::string Hex(const Bytes& data) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t byte : data) {
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
    return out;
}

CMessageContent Text(const std::string& text) {
    CMessageContent content;
    content.isRtf = 0;
    content.text = text;
    return content;
}

std::string Filler(char letter, std::size_t size) {
    std::string text;
    for (std::size_t i = 0; i < size; ++i) text += static_cast<char>(letter + i % 7);
    return text;
}

// One store's operations. A fresh object is made for every run; Step(i)
// runs the i-th operation on the live store, Describe reads the file from a
// fresh start with the real code.
class Sequence {
public:
    virtual ~Sequence() = default;
    virtual int Steps() const = 0;
    virtual void Step(int step) = 0;
    // Lets go of the live store, whatever fails.
    virtual void Drop() = 0;
    virtual std::string Describe() = 0;
    // What the disk holds before the first operation.
    virtual void Prepare(SimulatedFileSystem&) {}
};

const char kLogs[] = "C:\\power\\logs.dat";
const char kStats[] = "C:\\power\\stats.dat";
const char kOffline[] = "C:\\power\\offlinemsg.dat";
const char kCache[] = "C:\\power\\objcache.dat";
const char kUsers[] = "C:\\power\\users.dat";

// ---- logs.dat: new conversations, long ones rewritten, the index, accounts

const char* const kAccounts[] = {"amy@x.org", "bob@x.org", "cid@x.org"};

// A random text: short, past the small sectors, or long.
std::string RandomText(std::mt19937& random) {
    const std::size_t sizes[] = {40, 900, 4500, 9000, 20000};
    return Filler(static_cast<char>('a' + random() % 20), sizes[random() % 5] + random() % 300);
}

class LogSequence : public Sequence {
public:
    // Seed 0: a fixed script; any other, a random one.
    explicit LogSequence(unsigned seed) {
        if (seed == 0) {
            script_ = {{Op::open}, {Op::account, 0}, {Op::save, 0, "hello bob"}, {Op::save, 0, "hello bob, how are you"},
                       {Op::save, 0, "hello bob, how are you " + Filler('a', 5000)}, {Op::save, 1, Filler('k', 9000)},
                       {Op::save, 1, Filler('k', 4000) + "changed in the middle" + Filler('k', 4979)},
                       {Op::logging, 0}, {Op::save, 0, "hello bob, how are you " + Filler('a', 5000) + " and more"},
                       {Op::logging, 1}, {Op::signOut}, {Op::account, 1}, {Op::save, 2, "from bob's side"},
                       {Op::save, 2, "from bob's side " + Filler('p', 3000)}, {Op::account, 0},
                       {Op::save, 3, Filler('d', 20000)}, {Op::save, 3, Filler('d', 700)}, {Op::close}};
            return;
        }
        std::mt19937 random(seed);
        script_ = {{Op::open}, {Op::account, 0}};
        for (int i = 0; i < 30; ++i) {
            const unsigned pick = random() % 12;
            if (pick < 8)
                script_.push_back({Op::save, static_cast<int>(random() % 5), RandomText(random)});
            else if (pick == 8)
                script_.push_back({Op::logging, static_cast<int>(random() % 2)});
            else if (pick == 9)
                script_.push_back({Op::signOut});
            else
                script_.push_back({Op::account, static_cast<int>(random() % 3)});
        }
        script_.push_back({Op::close});
    }
    int Steps() const override { return static_cast<int>(script_.size()); }
    void Step(int step) override {
        const Op& op = script_[static_cast<std::size_t>(step)];
        switch (op.kind) {
        case Op::open: logs_.Open(kLogs); break;
        case Op::account:
            account_ = op.number;
            logs_.OpenAccount(kAccounts[account_]);
            break;
        case Op::save: Save(op.number, op.text, step); break;
        case Op::logging: logs_.SetLoggingEnabled(op.number); break;
        case Op::signOut: logs_.CloseAccount(); break;
        case Op::close: logs_.Close(); break;
        }
    }
    void Drop() override { logs_.Close(); }
    std::string Describe() override {
        CLogManager logs;
        if (logs.Open(kLogs) != 1) return "<does not open>";
        std::vector<std::pair<std::string, std::string>> users(logs.Database().Users().begin(),
                                                               logs.Database().Users().end());
        std::sort(users.begin(), users.end());
        std::ostringstream out;
        for (const auto& user : users) {
            out << user.first << "=" << user.second;
            if (logs.OpenAccount(user.first.c_str()) != 1) {
                out << " <does not open>\n";
                continue;
            }
            out << " logging " << logs.IsLoggingEnabled() << "\n";
            std::vector<LogEntry> index = logs.Index();
            std::sort(index.begin(), index.end(), [](const LogEntry& a, const LogEntry& b) { return a.number < b.number; });
            for (const LogEntry& entry : index) {
                CMessageContent content;
                const HRESULT hr = logs.LoadConversation(std::to_string(entry.number).c_str(), content);
                out << entry.number << " " << entry.contact << " " << entry.start << " " << entry.end << " "
                    << (SUCCEEDED(hr) ? content.text : "<unreadable>") << "\n";
            }
        }
        logs.Close();
        return out.str();
    }

private:
    struct Op {
        enum Kind { open, account, save, logging, signOut, close } kind;
        Op(Kind kind, int number = 0, std::string text = std::string()) : kind(kind), number(number), text(text) {}
        int number;  // account, conversation or logging switch
        std::string text;
    };
    struct Conversation {
        int number = 0;
        WrittenConversation written;
    };

    void Save(int conversation, const std::string& text, int step) {
        if (!logs_.IsAccountOpen()) return;
        Conversation& saved = conversations_[{account_, conversation}];
        if (saved.number == 0) saved.number = logs_.TakeNextNumber();
        const double start = 45000.0 + conversation;
        logs_.SaveConversation(LogEntry{start, start + step / 100.0, "contact" + std::to_string(conversation) + "@x.org",
                                        saved.number},
                               Text(text), &saved.written);
    }

    std::vector<Op> script_;
    CLogManager logs_;
    int account_ = 0;
    std::map<std::pair<int, int>, Conversation> conversations_;
};

// ---- stats.dat: sessions begun, checkpoints, accounts ---------------------

class StatsSequence : public Sequence {
public:
    explicit StatsSequence(unsigned seed) : stats_(&self_) {
        if (seed == 0) {
            // Sixty contacts: the history leaves the small sectors.
            script_ = {{Op::open},     {Op::account, 0}, {Op::online},  {Op::contacts, 60, 1}, {Op::contacts, 60, 2},
                       {Op::contacts, 60, 1}, {Op::signOut}, {Op::account, 1}, {Op::online}, {Op::contacts, 2, 1},
                       {Op::reset},    {Op::close}};
            return;
        }
        std::mt19937 random(seed);
        script_ = {{Op::open}, {Op::account, 0}};
        for (int i = 0; i < 24; ++i) {
            const unsigned pick = random() % 10;
            if (pick < 5)
                script_.push_back({Op::contacts, static_cast<int>(1 + random() % 70), static_cast<int>(random() % 3)});
            else if (pick < 7)
                script_.push_back({Op::online});
            else if (pick == 7)
                script_.push_back({Op::signOut});
            else if (pick == 8)
                script_.push_back({Op::account, static_cast<int>(random() % 3)});
            else
                script_.push_back({Op::reset});
        }
        script_.push_back({Op::close});
    }
    int Steps() const override { return static_cast<int>(script_.size()); }
    void Step(int step) override {
        const Op& op = script_[static_cast<std::size_t>(step)];
        stats_.now += 3.0 / 1440;
        switch (op.kind) {
        case Op::open: stats_.OpenStatsFile(kStats); break;
        case Op::account:
            self_ = {kAccounts[op.count], "Me", parleym::kStatsOffline};
            stats_.OpenAccount(self_.signInName.c_str());
            break;
        case Op::online:
            self_.status = parleym::kStatsOnline;
            stats_.OnStatusChange(self_.signInName, self_.friendlyName, parleym::kStatsOnline, false);
            break;
        case Op::contacts:
            // Each contact of the first `count` online, or offline, or every other one offline.
            for (int contact = 0; contact < op.count; ++contact)
                stats_.OnStatusChange("contact" + std::to_string(contact) + "@x.org", "C",
                                      op.how == 1 || (op.how == 0 && contact % 2) ? parleym::kStatsOnline
                                                                                  : parleym::kStatsOffline,
                                      false);
            stats_.Checkpoint();
            break;
        case Op::reset:
            stats_.ResetStatistics();
            stats_.Checkpoint();
            break;
        case Op::signOut:
            self_.status = parleym::kStatsOffline;
            stats_.CloseAccount();
            break;
        case Op::close: stats_.Shutdown(); break;
        }
    }
    void Drop() override { stats_.Shutdown(); }
    std::string Describe() override {
        parleym::StatsIdentity reader{"nobody", "", parleym::kStatsOffline};
        storetest::ClockedStats stats(&reader);
        if (!stats.OpenStatsFile(kStats)) return "<does not open>";
        std::string out;
        for (const char* account : kAccounts) {
            if (!stats.OpenAccount(account)) {
                out += std::string(account) + " <does not open>\n";
                continue;
            }
            const parleym::StatsLedger& ledger = stats.Ledger();
            out += std::string(account) + " " + Hex(parleym::EncodeStatsUsers(ledger.OwnTotal(), ledger.Contacts())) +
                   " " + Hex(parleym::EncodeStatsSessions(ledger.Sessions())) + "\n";
        }
        stats.Shutdown();
        return out;
    }

private:
    struct Op {
        enum Kind { open, account, online, contacts, reset, signOut, close } kind;
        Op(Kind kind, int count = 0, int how = 0) : kind(kind), count(count), how(how) {}
        int count;  // account, or how many contacts
        int how;    // contacts: 1 online, 2 offline, 0 every other one offline
    };
    std::vector<Op> script_;
    parleym::StatsIdentity self_{kAccounts[0], "Me", parleym::kStatsOffline};
    storetest::ClockedStats stats_;
};

// ---- offlinemsg.dat: messages added, delivered, accounts -------------------

class OfflineSequence : public Sequence {
public:
    explicit OfflineSequence(unsigned seed) {
        if (seed == 0) {
            script_ = {{Op::open},         {Op::load, 0},   {Op::add, 1, "first for bob"}, {Op::add, 1, Filler('m', 5000)},
                       {Op::add, 2, "for cid"}, {Op::removeFirst, 1}, {Op::remove, 2}, {Op::save},
                       {Op::load, 2},      {Op::add, 1, "cid to bob"}, {Op::load, 0}, {Op::add, 2, "to cid again"},
                       {Op::close}};
            return;
        }
        std::mt19937 random(seed);
        script_ = {{Op::open}, {Op::load, 0}};
        for (int i = 0; i < 24; ++i) {
            const unsigned pick = random() % 10;
            const int contact = static_cast<int>(random() % 3);
            if (pick < 5)
                script_.push_back({Op::add, contact, RandomText(random)});
            else if (pick < 7)
                script_.push_back({Op::removeFirst, contact});
            else if (pick == 7)
                script_.push_back({Op::remove, contact});
            else if (pick == 8)
                script_.push_back({Op::save});
            else
                script_.push_back({Op::load, static_cast<int>(random() % 3)});
        }
        script_.push_back({Op::close});
    }
    int Steps() const override { return static_cast<int>(script_.size()); }
    void Step(int step) override {
        const Op& op = script_[static_cast<std::size_t>(step)];
        switch (op.kind) {
        case Op::open: store_.Open(kOffline); break;
        case Op::load: store_.Load(kAccounts[op.number]); break;
        case Op::add: store_.AddMessage(kAccounts[op.number], Text(op.text)); break;
        case Op::removeFirst: store_.RemoveFirstMessages(kAccounts[op.number], 1); break;
        case Op::remove: store_.RemoveMessages(kAccounts[op.number]); break;
        case Op::save: store_.Save(); break;
        case Op::close: store_.Close(); break;
        }
    }
    void Drop() override { store_.Close(); }
    std::string Describe() override {
        parleym::COfflineMessageStore store;
        if (store.Open(kOffline) != 1) return "<does not open>";
        std::string out;
        for (const char* account : kAccounts) {
            store.Load(account);
            out += std::string(account) + (store.IsLoaded() ? "\n" : " <does not load>\n");
            for (const char* contact : kAccounts) {
                const parleym::OfflineMessageList* list = store.GetMessages(contact);
                if (!list) continue;
                out += std::string(" ") + contact + ":";
                for (const CMessageContent& message : *list) out += " [" + message.text + "]";
                out += "\n";
            }
        }
        store.Close();
        return out;
    }

private:
    struct Op {
        enum Kind { open, load, add, removeFirst, remove, save, close } kind;
        Op(Kind kind, int number = 0, std::string text = std::string()) : kind(kind), number(number), text(text) {}
        int number;  // account or contact
        std::string text;
    };
    std::vector<Op> script_;
    parleym::COfflineMessageStore store_;
};

// ---- objcache.dat: pictures added, some of them twice -----------------------

class CacheSequence : public Sequence {
public:
    explicit CacheSequence(unsigned seed) {
        const std::string pictures[] = {"smile", Filler('x', 6000), "wink", Filler('y', 300), Filler('z', 4096),
                                        Filler('q', 12000)};
        if (seed == 0) {
            script_ = {pictures[0], pictures[1], pictures[0], pictures[2], pictures[3], pictures[1]};
            return;
        }
        std::mt19937 random(seed);
        for (int i = 0; i < 16; ++i) script_.push_back(pictures[random() % 6]);
    }
    // Open, the adds, close.
    int Steps() const override { return static_cast<int>(script_.size()) + 2; }
    void Step(int step) override {
        if (step == 0) return cache_.Open(kCache);
        if (step > static_cast<int>(script_.size())) return cache_.Close();
        IPersistStorage* object = objcache_test::CreateStoredObject(script_[static_cast<std::size_t>(step - 1)]);
        std::string key;
        cache_.Add(object, key);
        object->Release();
    }
    void Drop() override { cache_.Close(); }
    std::string Describe() override {
        CObjectCache cache;
        cache.Open(kCache);
        if (!cache.IsOpen()) return "<does not open>";
        std::string out;
        for (const auto& pair : cache.Digests()) {
            CLSID classId = CLSID_NULL;
            IStorage* storage = cache.Lookup(pair.second, classId);
            parleym::ComPtr<IStream> contents;
            Bytes data;
            HRESULT hr = storage ? storage->OpenStream(L"CONTENTS", nullptr, kStorageAccess, 0, contents.Put()) : E_FAIL;
            if (SUCCEEDED(hr)) hr = parleym::ReadWholeStream(contents.Get(), data);
            out += pair.first + "=" + pair.second + " " + (SUCCEEDED(hr) ? Hex(data) : "<unreadable>") + "\n";
        }
        out += "next " + std::to_string(cache.NextKey()) + "\n";
        cache.Close();
        return out;
    }

private:
    std::vector<std::string> script_;
    CObjectCache cache_;
};

// ---- users.dat: the settings rewritten beside and moved over ---------------

std::vector<parleym::CUserSettings> Settings(int step) {
    std::vector<parleym::CUserSettings> records;
    for (int account = 0; account <= step % 4; ++account)
        records.push_back({"user" + std::to_string(account) + "@x.org", std::string(32, static_cast<char>('a' + step)),
                           step % 2 ? "C:\\logs\\" + std::to_string(step) + ".dat" : ""});
    return records;
}

class UsersSequence : public Sequence {
public:
    int Steps() const override { return 8; }
    void Step(int step) override { parleym::WriteUserSettingsFile(kUsers, Settings(step)); }
    void Drop() override {}
    void Prepare(SimulatedFileSystem& files) override {
        Bytes cipher;
        ASSERT_TRUE(parleym::EncryptUserSettings(parleym::EncodeUserSettings({}), cipher));
        files.SetContents(parleym::ToElementName(kUsers), cipher);
    }
    std::string Describe() override {
        std::vector<parleym::CUserSettings> records;
        const parleym::SettingsFileResult result = parleym::ReadUserSettingsFile(kUsers, records);
        if (result.kind != parleym::SettingsFileResult::Ok) return "<does not read> " + std::to_string(result.kind);
        return Hex(parleym::EncodeUserSettings(records));
    }
};

// ---- the runs ---------------------------------------------------------------

struct Figures {
    long crashes = 0;
    long cuts = 0;
    long commitPoints = 0;
    long failures = 0;
};

class PowerLossTest : public ::testing::Test {
protected:
    void TearDown() override { parleym::UseDataFileSystem(nullptr); }

    // `sequence`'s Describe on a copy of `files` as it is now, with every
    // message it brings up.
    std::string DescribeCopy(const SimulatedFileSystem& files, bool powerLost, std::mt19937* random,
                             const std::function<std::unique_ptr<Sequence>()>& make) {
        std::unique_ptr<SimulatedFileSystem> copy = files.Clone();
        if (powerLost) copy->PowerLoss(*random);
        parleym::UseDataFileSystem(copy.get());
        messages.Clear();
        std::string described = make()->Describe();
        for (const storage_test::ShownMessage& shown : messages.Messages()) described += "<message> " + shown.text + "\n";
        parleym::UseDataFileSystem(nullptr);
        return described;
    }

    void Run(const char* name, const std::function<std::unique_ptr<Sequence>()>& make, unsigned seed, int endings,
             Figures& total) {
        // Once through with the disk counting: what each operation leaves.
        std::vector<std::string> states;
        long calls = 0;
        {
            SimulatedFileSystem files;
            std::unique_ptr<Sequence> sequence = make();
            sequence->Prepare(files);
            states.push_back(DescribeCopy(files, false, nullptr, make));
            files.Arm(FaultPlan{});
            parleym::UseDataFileSystem(&files);
            for (int step = 0; step < sequence->Steps(); ++step) {
                sequence->Step(step);
                parleym::UseDataFileSystem(nullptr);
                states.push_back(DescribeCopy(files, false, nullptr, make));
                parleym::UseDataFileSystem(&files);
                if (states.back() != states[states.size() - 2]) ++total.commitPoints;
            }
            sequence->Drop();
            parleym::UseDataFileSystem(nullptr);
            calls = files.Calls();
            for (const std::string& state : states) EXPECT_EQ(state.find("<"), std::string::npos) << name << ": " << state;
        }
        std::mt19937 random(seed);
        long failures = 0;
        for (long cut = 1; cut <= calls; ++cut) {
            SimulatedFileSystem files;
            std::unique_ptr<Sequence> sequence = make();
            sequence->Prepare(files);
            files.Arm(FaultPlan{0, false, storage_test::Fault::refuse, cut});
            parleym::UseDataFileSystem(&files);
            int underWay = sequence->Steps();
            for (int step = 0; step < sequence->Steps() && underWay == sequence->Steps(); ++step) {
                sequence->Step(step);
                if (files.PowerIsOut()) underWay = step;
            }
            sequence->Drop();
            sequence.reset();
            parleym::UseDataFileSystem(nullptr);
            ++total.cuts;
            if (underWay == static_cast<int>(states.size()) - 1) continue;  // the cut came after the last call
            for (int ending = 0; ending < endings; ++ending) {
                const std::string found = DescribeCopy(files, true, &random, make);
                ++total.crashes;
                if (found == states[underWay] || found == states[underWay + 1]) continue;
                ++failures;
                ADD_FAILURE() << name << ": power cut at call " << cut << " (operation " << underWay << "), ending "
                              << ending << ", seed " << seed << ":\n"
                              << found << "--- before the operation:\n"
                              << states[underWay] << "--- after it:\n"
                              << states[underWay + 1];
                if (failures > 3) break;
            }
            if (failures > 3) break;
        }
        total.failures += failures;
    }

    storage_test::ComEnvironment com;
    storage_test::MessageCapture messages;
};

unsigned Seed() {
    const char* value = std::getenv("PARLEYM_POWER_SEED");
    return value && *value ? static_cast<unsigned>(std::strtoul(value, nullptr, 10))
                           : static_cast<unsigned>(std::time(nullptr));
}

int Endings() {
    const char* value = std::getenv("PARLEYM_POWER_ENDINGS");
    const int endings = value ? std::atoi(value) : 0;
    return endings > 0 ? endings : 12;
}

TEST_F(PowerLossTest, EveryStoreOperationIsWholeOrAbsentAfterAPowerCutAtEveryCall) {
    const unsigned seed = Seed();
    const int endings = Endings();
    const DWORD started = GetTickCount();
    Figures total;
    Run("logs.dat", [] { return std::make_unique<LogSequence>(0); }, seed, endings, total);
    for (unsigned script = 1; script <= 3; ++script)
        Run("logs.dat, random script", [seed, script] { return std::make_unique<LogSequence>(seed + script); },
            seed + script, endings, total);
    for (unsigned script = 1; script <= 3; ++script) {
        Run("stats.dat, random script", [seed, script] { return std::make_unique<StatsSequence>(seed + 10 + script); },
            seed + 10 + script, endings, total);
        Run("offlinemsg.dat, random script",
            [seed, script] { return std::make_unique<OfflineSequence>(seed + 20 + script); }, seed + 20 + script,
            endings, total);
        Run("objcache.dat, random script", [seed, script] { return std::make_unique<CacheSequence>(seed + 30 + script); },
            seed + 30 + script, endings, total);
    }
    Run("stats.dat", [] { return std::make_unique<StatsSequence>(0); }, seed + 1, endings, total);
    Run("offlinemsg.dat", [] { return std::make_unique<OfflineSequence>(0); }, seed + 2, endings, total);
    Run("objcache.dat", [] { return std::make_unique<CacheSequence>(0); }, seed + 3, endings, total);
    Run("users.dat", [] { return std::make_unique<UsersSequence>(); }, seed + 4, endings, total);
    std::printf("power loss: %ld crashes (%ld cuts, %d endings each), %ld commit points, %ld failures; %.1f s, seed %u\n",
                total.crashes, total.cuts, endings, total.commitPoints, total.failures,
                (GetTickCount() - started) / 1000.0, seed);
    EXPECT_GE(total.crashes, 10000);
    EXPECT_EQ(total.failures, 0);
}

} // namespace

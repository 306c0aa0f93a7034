// A stream is rewritten by writing the new content beside it ("name.new"),
// marking that copy complete ("name.ok"), writing it over the stream and
// dropping both. Here every stream of every store is left as a rewrite cut
// short at each of those steps leaves it, with contents the store itself
// wrote, and the store opened again must give back the old content before the
// mark and the new one after it, and leave no sibling behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "tests/stats/ClockedStats.h"
#include "plugin/logging/LogManager.h"
#include "plugin/logging/ObjectCache.h"
#include "plugin/offline/OfflineMessageStore.h"
#include "plugin/stats/StatsManager.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/StorageDb.h"
#include "plugin/storage/StreamIO.h"
#include "tests/objcache/TestStoredObject.h"
#include "tests/storage/StorageTestSupport.h"

using namespace parleym;
using namespace storage_test;

namespace {
const char kAmy[] = "amy@example.com";
const char kBob[] = "bob@example.com";

using storetest::ClockedStats;

// One stream: how the store writes it a first and a second time (each a
// complete start, save and shut-down), and what the store shows of it.
struct StreamCase {
    const char* name;
    const char* file;
    const char* element;  // "1/users"
    std::function<void(const std::string& path)> first;
    std::function<void(const std::string& path)> second;
    std::function<std::string(const std::string& path)> describe;
    // False for `userids`: the old map comes back with its counter raised
    // past the storage the second save made, so its bytes differ.
    bool sameBytes = true;
};

// A session of `account` in which `contact` comes online; a day later each time.
void StatsSession(const std::string& path, const char* account, const char* contact, int day) {
    StatsIdentity self{account, "Me", kStatsOnline};
    ClockedStats stats(&self);
    stats.now += day;
    ASSERT_TRUE(stats.OpenStatsFile(path.c_str()));
    ASSERT_TRUE(stats.OpenAccount(account));
    stats.OnStatusChange(account, "Me", kStatsOnline, false);
    stats.OnStatusChange(contact, "C", kStatsOnline, false);
    stats.now += 0.01;
    self.status = kStatsOffline;
    stats.OnStatusChange(account, "Me", kStatsOffline, false);
    stats.Shutdown();
}

std::string DescribeStats(const std::string& path, bool sessions) {
    StatsIdentity self{kAmy, "Me", kStatsOffline};
    ClockedStats stats(&self);
    if (!stats.OpenStatsFile(path.c_str()) || !stats.OpenAccount(kAmy)) return "does not open";
    std::string seen;
    if (sessions) {
        for (const auto& session : stats.Ledger().Sessions()) seen += std::to_string(session.periods.size()) + " ";
    } else {
        std::vector<std::string> names;
        for (const StatsContact* contact : stats.Ledger().Contacts()) names.push_back(contact->signInName);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) seen += name + " ";
    }
    stats.Shutdown();
    return seen;
}

CMessageContent Text(const std::string& text, int rtf = 0) {
    CMessageContent content;
    content.isRtf = rtf;
    content.text = text;
    return content;
}

void AddOffline(const std::string& path, const char* account, const std::string& text) {
    COfflineMessageStore store;
    ASSERT_EQ(store.Open(path.c_str()), 1);
    store.Load(account);
    ASSERT_TRUE(store.AddMessage(kBob, Text(text)));
    store.Close();
}

std::string DescribeOffline(const std::string& path) {
    COfflineMessageStore store;
    if (!store.Open(path.c_str())) return "does not open";
    store.Load(kAmy);
    if (!store.IsLoaded()) return "does not load";
    std::string seen;
    if (const OfflineMessageList* list = store.GetMessages(kBob))
        for (const CMessageContent& message : *list) seen += message.text + " ";
    store.Close();
    return seen;
}

// Conversation 1 of `account`, saved again with more text and a later end.
void LogConversation(const std::string& path, const char* account, const std::string& text, double end) {
    CLogManager logs;
    ASSERT_EQ(logs.Open(path.c_str()), 1);
    ASSERT_EQ(logs.OpenAccount(account), 1);
    logs.SaveConversation(LogEntry{45000.0, end, kBob, 1}, Text(text, 1));
    logs.Close();
}

std::string DescribeLogs(const std::string& path, bool index) {
    CLogManager logs;
    if (!logs.Open(path.c_str()) || !logs.OpenAccount(kAmy)) return "does not open";
    std::string seen;
    if (index) {
        for (const LogEntry& entry : logs.Index())
            seen += std::to_string(entry.number) + " " + entry.contact + " " + std::to_string(entry.end) + " ";
    } else {
        CMessageContent content;
        seen = logs.LoadConversation("1", content) == S_OK ? content.text : "unreadable";
    }
    logs.Close();
    return seen;
}

void AddPicture(const std::string& path, const std::string& picture) {
    CObjectCache cache;
    cache.Open(path.c_str());
    ASSERT_TRUE(cache.IsOpen());
    IPersistStorage* object = objcache_test::CreateStoredObject(picture);
    std::string key;
    EXPECT_EQ(cache.Add(object, key), 1);
    object->Release();
}

std::string DescribeCache(const std::string& path) {
    CObjectCache cache;
    cache.Open(path.c_str());
    if (!cache.IsOpen()) return "does not open";
    std::vector<std::string> keys;
    for (const auto& pair : cache.Digests()) keys.push_back(pair.second);
    std::sort(keys.begin(), keys.end());
    std::string seen;
    for (const std::string& key : keys) seen += key + " ";
    return seen;
}

std::string DescribeUsers(const std::string& path) {
    CStorageDb db;
    if (!db.Open(path.c_str())) return "does not open";
    std::vector<std::string> names;
    for (const auto& user : db.Users()) names.push_back(user.first + "=" + user.second);
    std::sort(names.begin(), names.end());
    db.Close();
    std::string seen;
    for (const std::string& name : names) seen += name + " ";
    return seen;
}

std::vector<StreamCase> Streams() {
    using P = const std::string&;
    return {
        {"statistics users", "stats.dat", "1/users", [](P p) { StatsSession(p, kAmy, "bob@x.org", 0); },
         [](P p) { StatsSession(p, kAmy, "cid@x.org", 1); }, [](P p) { return DescribeStats(p, false); }},
        {"statistics sessions", "stats.dat", "1/sessions", [](P p) { StatsSession(p, kAmy, "bob@x.org", 0); },
         [](P p) { StatsSession(p, kAmy, "cid@x.org", 1); }, [](P p) { return DescribeStats(p, true); }},
        {"statistics userids", "stats.dat", "userids", [](P p) { StatsSession(p, kAmy, "bob@x.org", 0); },
         [](P p) { StatsSession(p, kBob, "cid@x.org", 1); }, DescribeUsers, false},
        {"offline messages", "offlinemsg.dat", "1/messages", [](P p) { AddOffline(p, kAmy, "first"); },
         [](P p) { AddOffline(p, kAmy, "second"); }, DescribeOffline},
        {"offline userids", "offlinemsg.dat", "userids", [](P p) { AddOffline(p, kAmy, "first"); },
         [](P p) { AddOffline(p, kBob, "second"); }, DescribeUsers, false},
        {"log index", "logs.dat", "1/conversations",
         [](P p) { LogConversation(p, kAmy, "{\\rtf1 one}", 45000.5); },
         [](P p) { LogConversation(p, kAmy, "{\\rtf1 one two}", 45000.75); }, [](P p) { return DescribeLogs(p, true); }},
        {"log conversation", "logs.dat", "1/1", [](P p) { LogConversation(p, kAmy, "{\\rtf1 one}", 45000.5); },
         [](P p) { LogConversation(p, kAmy, "{\\rtf1 one two}", 45000.75); },
         [](P p) { return DescribeLogs(p, false); }},
        {"log userids", "logs.dat", "userids", [](P p) { LogConversation(p, kAmy, "{\\rtf1 one}", 45000.5); },
         [](P p) { LogConversation(p, kBob, "{\\rtf1 two}", 45000.75); }, DescribeUsers, false},
        {"object cache digest map", "objcache.dat", "md5map", [](P p) { AddPicture(p, "first picture"); },
         [](P p) { AddPicture(p, "second picture " + std::string(5000, 'p')); }, DescribeCache},
    };
}

// Where a rewrite can be cut short, and which content must come back.
struct Cut {
    const char* name;
    bool copy;        // "name.new" is there
    bool copyWhole;   // ... with all of the new content
    bool marked;      // "name.ok" is there
    enum { old, half, fresh, gone } stream;
    bool expectFresh;
};

const Cut kCuts[] = {
    {"copy cut short", true, false, false, Cut::old, false},
    {"copy complete, not marked", true, true, false, Cut::old, false},
    {"marked, stream not yet touched", true, true, true, Cut::old, true},
    {"marked, stream half written over", true, true, true, Cut::half, true},
    {"marked, stream gone", true, true, true, Cut::gone, true},
    {"marked, stream written", true, true, true, Cut::fresh, true},
    {"mark dropped, copy left", true, true, false, Cut::fresh, true},
};

std::string Parent(const std::string& element) {
    const std::size_t slash = element.rfind('/');
    return slash == std::string::npos ? std::string() : element.substr(0, slash);
}

std::string Leaf(const std::string& element) {
    const std::size_t slash = element.rfind('/');
    return slash == std::string::npos ? element : element.substr(slash + 1);
}

void DestroyElement(const std::string& file, const std::string& element) {
    ComPtr<IStorage> root, parent;
    ASSERT_EQ(StgOpenStorage(parleym::ToElementName(file).c_str(), nullptr, kStorageAccess, nullptr, 0, root.Put()), S_OK);
    IStorage* in = root.Get();
    if (!Parent(element).empty()) {
        ASSERT_EQ(root->OpenStorage(parleym::ToElementName(Parent(element)).c_str(), nullptr, kStorageAccess, nullptr, 0,
                                    parent.Put()),
                  S_OK);
        in = parent.Get();
    }
    ASSERT_EQ(in->DestroyElement(parleym::ToElementName(Leaf(element)).c_str()), S_OK);
}

class InterruptedRewriteTest : public ::testing::Test {
protected:
    ComEnvironment com;
    TempFolder folder;
    MessageCapture messages;
};

TEST_F(InterruptedRewriteTest, EveryStreamComesBackOldBeforeTheMarkAndNewAfterIt) {
    int tried = 0;
    for (const StreamCase& stream : Streams()) {
        SCOPED_TRACE(stream.name);
        const std::string path = folder.Path(std::string("cut-") + stream.file);
        DeleteFileA(path.c_str());
        stream.first(path);
        const std::string oldSeen = stream.describe(path);
        const Bytes old = ReadElementStream(path, stream.element);
        stream.second(path);
        const std::string freshSeen = stream.describe(path);
        const Bytes fresh = ReadElementStream(path, stream.element);
        ASSERT_NE(oldSeen, freshSeen) << "the two saves must differ";
        ASSERT_FALSE(fresh.empty());
        const Bytes saved = ReadFileBytes(path);
        const std::vector<std::string> elements = ElementNames(path, Parent(stream.element));
        ASSERT_TRUE(messages.Messages().empty()) << messages.Messages()[0].text;

        for (const Cut& cut : kCuts) {
            SCOPED_TRACE(cut.name);
            ++tried;
            WriteFileBytes(path, saved);
            const std::string element = stream.element;
            Bytes half = old;
            half.resize(std::max(old.size(), fresh.size() / 2));
            std::copy(fresh.begin(), fresh.begin() + static_cast<std::ptrdiff_t>(fresh.size() / 2), half.begin());
            if (cut.stream == Cut::old) WriteElementStream(path, element, old);
            if (cut.stream == Cut::half) WriteElementStream(path, element, half);
            if (cut.stream == Cut::gone) DestroyElement(path, element);
            if (cut.copy)
                WriteElementStream(path, element + ".new",
                                   cut.copyWhole ? fresh : Bytes(fresh.begin(), fresh.begin() + fresh.size() / 3));
            if (cut.marked) WriteElementStream(path, element + ".ok", Bytes());
            EXPECT_EQ(stream.describe(path), cut.expectFresh ? freshSeen : oldSeen);
            if (stream.sameBytes || cut.expectFresh) {
                EXPECT_EQ(ReadElementStream(path, element), cut.expectFresh ? fresh : old);
            }
            EXPECT_EQ(ElementNames(path, Parent(element)), elements) << "a sibling was left behind";
            EXPECT_TRUE(messages.Messages().empty()) << messages.Messages()[0].text;
            messages.Clear();
        }
    }
    std::printf("interrupted rewrites: %d tried over %zu streams\n", tried, Streams().size());
}

} // namespace

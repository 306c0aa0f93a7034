// What the salvage of each damaged data file keeps, and what it tells the
// user: files made with the stores' own layouts, spoiled in the ways a disk
// or an abrupt end spoils them.
#include <gtest/gtest.h>

#include <memory>

#include "plugin/core/PasswordDigest.h"
#include "plugin/logging/ConversationIndexCodec.h"
#include "plugin/logging/DigestMapCodec.h"
#include "plugin/logging/LogFileSalvage.h"
#include "plugin/logging/ObjectCacheSalvage.h"
#include "plugin/offline/OfflineFileSalvage.h"
#include "plugin/offline/OfflineMessagesCodec.h"
#include "plugin/stats/StatsCodec.h"
#include "plugin/stats/StatsFileSalvage.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/UserIdsCodec.h"
#include "tests/storage/CompoundFileMap.h"

using cfbtest::CompoundFileMap;
using cfbtest::Node;
using cfbtest::Storage;
using cfbtest::Stream;
using parleym::Bytes;
using parleym::CompoundFileSalvage;
using parleym::SalvagePlan;
using parleym::CMessageContent;
using parleym::LogEntry;

namespace {

constexpr std::uint32_t kFree = cfbtest::kFree;

Bytes Conversation(const std::string& text) {
    CMessageContent content;
    content.text = "{\\rtf1 " + text + "}";
    content.AddObject(3, "13");
    parleym::BinaryWriter out;
    content.Encode(out);
    return out.Take();
}

Bytes Index(std::int32_t next, const std::vector<std::pair<std::int32_t, std::string>>& entries) {
    parleym::ConversationIndex index;
    index.nextNumber = next;
    for (const auto& entry : entries) index.entries.push_back(LogEntry{40000.0 + entry.first, 40001.0, entry.second, entry.first});
    return parleym::EncodeConversationIndex(index);
}

Bytes UserIds(std::int32_t last, const std::vector<std::pair<std::string, std::int32_t>>& accounts) {
    parleym::UserIdsRecord record;
    record.lastUserId = last;
    for (const auto& account : accounts) record.entries.push_back({account.first, account.second});
    return parleym::EncodeUserIds(record);
}

// A damaged file loaded for salvage; keeps its bytes for the reader.
struct Damaged {
    explicit Damaged(Bytes data) : bytes(std::move(data)) {
        loaded = salvage.Load(bytes.size(), [this](std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
            if (offset > bytes.size() || size > bytes.size() - offset) return false;
            std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                      bytes.begin() + static_cast<std::ptrdiff_t>(offset + size), buffer);
            return true;
        });
    }
    Bytes bytes;
    CompoundFileSalvage salvage;
    bool loaded = false;
};

// The fresh file a plan makes: path -> bytes, "<storage>" for storages.
void Flatten(const parleym::FreshElement& element, const std::string& prefix, const CompoundFileSalvage& from,
             std::map<std::string, std::string>& out) {
    for (const parleym::FreshElement& child : element.children) {
        const std::string path = prefix + parleym::NarrowName(child.name);
        if (child.storage) {
            out[path] = "<storage>";
            Flatten(child, path + "/", from, out);
            continue;
        }
        Bytes data = child.data;
        if (child.source != parleym::FreshElement::kNoSource) {
            EXPECT_TRUE(from.ReadStream(child.source, data)) << path;
        }
        out[path] = std::string(data.begin(), data.end());
    }
}

std::map<std::string, std::string> Fresh(const SalvagePlan& plan, const CompoundFileSalvage& from) {
    std::map<std::string, std::string> out;
    Flatten(plan.root, "", from, out);
    return out;
}

std::string Str(const Bytes& data) { return std::string(data.begin(), data.end()); }

// Account 1 ("me") with three conversations, the second one's complete new
// content waiting beside it from an interrupted rewrite, and a copy that was
// never finished; account 2 ("you") with one.
Node LogsSample() {
    return Storage("", {Stream("userids", UserIds(2, {{"me", 1}, {"you", 2}})),
                        Storage("1", {Stream("conversations", Index(4, {{1, "bob"}, {2, "carol"}, {3, "dan"}})),
                                      Stream("1", Conversation(std::string(5000, 'a'))), Stream("2", Conversation("old")),
                                      Stream("2.new", Conversation("new")), Stream("2.ok", Bytes()),
                                      Stream("3", Conversation("three")), Stream("3.new", Conversation("unfinished"))}),
                        Storage("2", {Stream("conversations", Index(5, {{4, "erin"}})),
                                      Stream("4", Conversation("four"))})});
}

// The index of `path` in a fresh file.
parleym::ConversationIndex IndexOf(const std::map<std::string, std::string>& fresh, const std::string& path) {
    parleym::ConversationIndex index;
    const std::string& text = fresh.at(path);
    EXPECT_TRUE(parleym::DecodeConversationIndex(Bytes(text.begin(), text.end()), index)) << path;
    return index;
}

std::vector<std::int32_t> Numbers(const parleym::ConversationIndex& index) {
    std::vector<std::int32_t> numbers;
    for (const LogEntry& entry : index.entries) numbers.push_back(entry.number);
    return numbers;
}

} // namespace

TEST(StoreSalvagePlan, LogFile) {
    const Node sample = LogsSample();
    const Bytes sound = cfbtest::WriteCompoundFile(sample);
    const CompoundFileMap map(sound);
    const auto wiped = [&](const std::string& path) {
        Bytes file = sound;
        std::fill_n(file.begin() + static_cast<std::ptrdiff_t>(map.EntryOffset(path)), 128, 0);
        return file;
    };
    const auto with = [&](std::size_t at, std::uint32_t value) {
        Bytes file = sound;
        cfbtest::Put32(file, at, value);
        return file;
    };
    Bytes freedTwo = sound;  // freed, its links left as they were
    freedTwo[map.EntryOffset("2") + 66] = freedTwo[map.EntryOffset("2") + 64] = 0;
    Bytes badRecord = sound;
    cfbtest::Put32(badRecord, map.StreamByte("1/3", 4), 0x7FFFFFFF);
    ASSERT_EQ(cfbtest::Get32(sound, map.EntryOffset("") + 76), map.Entry("2")) << "account 2 tops the root's tree";

    const struct {
        const char* what;
        Bytes file;
        std::string recovered;
        std::vector<std::int32_t> indexOne;  // the entries account 1's index keeps
        std::vector<std::string> gone;       // paths the fresh file lacks
    } cases[] = {
        {"nothing lost", sound, "4 of 4 conversations recovered", {1, 2, 3}, {}},
        {"a conversation's chain cut short", with(map.FatEntry(map.Chain("1/1")[3]), cfbtest::kEnd),
         "3 of 4 conversations recovered", {2, 3}, {"1/1"}},
        {"a record that does not read", badRecord, "3 of 4 conversations recovered", {1, 2}, {"1/3"}},
        {"an index lost", with(map.MiniFatEntry(map.Chain("1/conversations")[0]), kFree),
         "4 of 4 conversations recovered", {}, {}},
        {"an account freed with its links", freedTwo, "3 of 4 conversations recovered", {1, 2, 3}, {"2"}},
        // Wiped as the platform frees an entry: account 1 and the list hung
        // below it, and can only have hung below the root.
        {"an account wiped", wiped("2"), "3 of 4 conversations recovered", {1, 2, 3}, {"2"}},
        {"the account list lost", with(map.MiniFatEntry(map.Chain("userids")[0]), kFree),
         "0 of 4 conversations recovered (the list of accounts could not be read)", {1, 2, 3}, {}},
    };
    for (const auto& damage : cases) {
        const Damaged damaged(damage.file);
        ASSERT_TRUE(damaged.loaded) << damage.what;
        const SalvagePlan plan = parleym::PlanLogFileSalvage(damaged.salvage);
        EXPECT_TRUE(plan.anything) << damage.what;
        EXPECT_EQ(plan.recovered, damage.recovered) << damage.what;
        const std::map<std::string, std::string> fresh = Fresh(plan, damaged.salvage);
        for (const auto& kept : std::map<std::string, Bytes>{{"1/1", Conversation(std::string(5000, 'a'))},
                                                             {"1/2", Conversation("new")},
                                                             {"1/3", Conversation("three")},
                                                             {"2/4", Conversation("four")}}) {
            const bool gone = std::find(damage.gone.begin(), damage.gone.end(), kept.first) != damage.gone.end() ||
                              std::find(damage.gone.begin(), damage.gone.end(), kept.first.substr(0, 1)) !=
                                  damage.gone.end();
            if (gone) EXPECT_EQ(fresh.count(kept.first), 0u) << damage.what << ": " << kept.first;
            else EXPECT_EQ(fresh.count(kept.first) ? fresh.at(kept.first) : "", Str(kept.second)) << damage.what << ": " << kept.first;
        }
        // The rewrites' siblings are settled, never copied.
        for (const char* sibling : {"1/2.new", "1/2.ok", "1/3.new"}) EXPECT_EQ(fresh.count(sibling), 0u) << damage.what;
        const parleym::ConversationIndex index = IndexOf(fresh, "1/conversations");
        EXPECT_EQ(Numbers(index), damage.indexOne) << damage.what;
        // No lost conversation's number is handed out again.
        EXPECT_EQ(index.nextNumber, 4) << damage.what;
        EXPECT_EQ(fresh.count("userids"), 1u) << damage.what;
    }

    // The list lost: it is made afresh without accounts, above every number in use.
    const Damaged listLost(with(map.MiniFatEntry(map.Chain("userids")[0]), kFree));
    const std::map<std::string, std::string> fresh = Fresh(parleym::PlanLogFileSalvage(listLost.salvage), listLost.salvage);
    EXPECT_EQ(fresh.at("userids"), Str(UserIds(2, {})));
}

// With a single account, account elements whose storage link was lost can
// only be its own; with two, they are nobody's.
TEST(StoreSalvagePlan, LogFileAccountElementsGoWhereOnlyOneAccountCouldHoldThem) {
    for (bool second : {false, true}) {
        std::vector<Node> root = {Stream("userids", second ? UserIds(2, {{"me", 1}, {"you", 2}}) : UserIds(1, {{"me", 1}})),
                                  Storage("1", {Stream("conversations", Index(4, {{1, "bob"}, {2, "carol"}, {3, "dan"}})),
                                                Stream("1", Conversation("one")), Stream("2", Conversation("two")),
                                                Stream("3", Conversation("three"))})};
        if (second) root.push_back(Storage("2", {Stream("conversations", Index(1, {}))}));
        const Bytes sound = cfbtest::WriteCompoundFile(Storage("", root));
        const CompoundFileMap map(sound);
        // "3" tops account 1's tree: "1" and "2" hang to its left, the index to its right.
        ASSERT_EQ(cfbtest::Get32(sound, map.EntryOffset("1") + 76), map.Entry("1/3"));
        Bytes file = sound;
        std::fill_n(file.begin() + static_cast<std::ptrdiff_t>(map.EntryOffset("1/3")), 128, 0);
        const Damaged damaged(file);
        const SalvagePlan plan = parleym::PlanLogFileSalvage(damaged.salvage);
        const std::map<std::string, std::string> fresh = Fresh(plan, damaged.salvage);
        if (second) {
            EXPECT_EQ(plan.recovered, "0 of 3 conversations recovered");
            EXPECT_EQ(fresh.count("1/1"), 0u);
        } else {
            EXPECT_EQ(plan.recovered, "2 of 3 conversations recovered");
            EXPECT_EQ(fresh.at("1/1"), Str(Conversation("one")));
            EXPECT_EQ(Numbers(IndexOf(fresh, "1/conversations")), (std::vector<std::int32_t>{1, 2}));
        }
    }
}

TEST(StoreSalvagePlan, StatisticsAndOfflineMessages) {
    parleym::OnlineTime hour;
    hour.hours = 1;
    parleym::StatsContact bob;
    bob.number = 1;
    bob.signInName = "bob";
    bob.onlineTime = hour;
    const Bytes users = parleym::EncodeStatsUsers(hour, {&bob});
    const Bytes sessions = parleym::EncodeStatsSessions({parleym::StatsSession{40000.0, 40000.5, {{1, 40000.1, 40000.2}}}});
    const Node stats = Storage("", {Stream("userids", UserIds(2, {{"me", 1}, {"you", 2}})),
                                   Storage("1", {Stream("users", users), Stream("sessions", sessions)}),
                                   Storage("2", {Stream("users", users), Stream("sessions", sessions)})});
    parleym::PendingMessages pending;
    CMessageContent message;
    message.isRtf = 0;
    message.text = "see you";
    pending["bob"] = {message, message};
    pending["carol"] = {message};
    const Bytes messages = parleym::EncodeOfflineMessages(pending);
    const Node offline = Storage("", {Stream("userids", UserIds(2, {{"me", 1}, {"you", 2}})),
                                     Storage("1", {Stream("messages", messages)}), Storage("2", {Stream("messages", messages)})});

    const struct {
        const char* what;
        Node sample;
        parleym::SalvagePlanner plan;
        std::string lostStream;
        std::string recovered;
        std::vector<std::string> kept;
    } cases[] = {
        {"statistics", stats, &parleym::PlanStatsFileSalvage, "1/sessions", "Statistics of 1 of 2 accounts recovered",
         {"2/sessions", "2/users"}},
        {"offline messages", offline, &parleym::PlanOfflineFileSalvage, "2/messages",
         "Offline messages of 1 of 2 accounts recovered (3 messages)", {"1/messages"}},
    };
    for (const auto& store : cases) {
        const Bytes sound = cfbtest::WriteCompoundFile(store.sample);
        const CompoundFileMap map(sound);
        Bytes file = sound;
        cfbtest::Put32(file, map.MiniFatEntry(map.Chain(store.lostStream).back()), kFree);
        const Damaged damaged(file);
        const SalvagePlan plan = store.plan(damaged.salvage);
        EXPECT_TRUE(plan.anything) << store.what;
        EXPECT_EQ(plan.recovered, store.recovered) << store.what;
        std::map<std::string, std::string> expected{{"1", "<storage>"}, {"2", "<storage>"}, {"userids", ""}};
        for (const std::string& path : store.kept) expected[path] = "";
        std::map<std::string, std::string> fresh = Fresh(plan, damaged.salvage);
        for (auto& element : fresh)
            if (element.second != "<storage>") element.second.clear();
        // One stream of an account is never kept without the other.
        EXPECT_EQ(fresh, expected) << store.what;
    }
}

TEST(StoreSalvagePlan, ObjectCache) {
    const auto object = [](const std::string& key, const std::string& picture) {
        Node node = Storage(key, {Stream("\x01Ole", Bytes(20, 1)), Stream("CONTENTS", picture)});
        node.classId[0] = 0x42;
        return node;
    };
    const auto digest = [](const std::string& data) {
        parleym::Md5Hex md5;
        md5.Update(data.data(), data.size());
        return md5.Final();
    };
    const std::string pictures[] = {std::string(300, 'x'), std::string(5000, 'y'), std::string(90, 'z')};
    const Bytes map = parleym::EncodeDigestMap(
        {{digest(pictures[0]), "0"}, {digest(pictures[1]), "1"}, {digest(pictures[2]), "2"}});
    const Bytes sound = cfbtest::WriteCompoundFile(
        Storage("", {Stream("md5map", map), object("0", pictures[0]), object("1", pictures[1]), object("2", pictures[2])}));
    const CompoundFileMap where(sound);
    Bytes chainCut = sound;
    cfbtest::Put32(chainCut, where.FatEntry(where.Chain("1/CONTENTS")[2]), cfbtest::kEnd);
    Bytes otherPicture = sound;  // the data no longer what the map recorded for it
    otherPicture[where.StreamByte("2/CONTENTS", 10)] = 'Q';
    Bytes mapLost = sound;
    cfbtest::Put32(mapLost, where.MiniFatEntry(where.Chain("md5map")[0]), kFree);
    const struct {
        const char* what;
        Bytes file;
        std::string recovered;
        std::vector<std::string> keys;  // whose pictures are kept
    } cases[] = {
        {"a picture's chain cut short", chainCut, "2 of 3 cached pictures recovered", {"0", "2"}},
        {"a picture that is not the one recorded", otherPicture, "2 of 3 cached pictures recovered", {"0", "1"}},
        {"the digest map lost", mapLost, "3 of 3 cached pictures recovered", {"0", "1", "2"}},
    };
    for (const auto& damage : cases) {
        const Damaged damaged(damage.file);
        const SalvagePlan plan = parleym::PlanObjectCacheSalvage(damaged.salvage);
        EXPECT_TRUE(plan.anything) << damage.what;
        EXPECT_EQ(plan.recovered, damage.recovered) << damage.what;
        const std::map<std::string, std::string> fresh = Fresh(plan, damaged.salvage);
        parleym::DigestMap digests;
        ASSERT_TRUE(parleym::DecodeDigestMap(Bytes(fresh.at("md5map").begin(), fresh.at("md5map").end()), digests));
        parleym::DigestMap expected;
        for (const std::string& key : damage.keys) {
            const std::string& picture = pictures[std::stoi(key)];
            expected[digest(picture)] = key;
            EXPECT_EQ(fresh.at(key + "/CONTENTS"), picture) << damage.what;
            EXPECT_EQ(fresh.count(key + "/\x01Ole"), 1u) << damage.what;
            const auto& kept = plan.root.children;
            EXPECT_TRUE(std::any_of(kept.begin(), kept.end(), [&](const parleym::FreshElement& element) {
                return parleym::NarrowName(element.name) == key && element.classId[0] == 0x42;
            })) << damage.what << ": the class of " << key;
        }
        EXPECT_EQ(digests, expected) << damage.what;
        // A lost picture's key stays taken by an empty storage.
        for (const char* key : {"0", "1", "2"}) {
            ASSERT_EQ(fresh.count(key), 1u) << damage.what << ": " << key;
            if (std::find(damage.keys.begin(), damage.keys.end(), key) == damage.keys.end()) {
                EXPECT_EQ(fresh.count(std::string(key) + "/CONTENTS"), 0u) << damage.what;
            }
        }
    }
}

// Where nothing of the store's can be read, the plan says so and the file stays as it is.
TEST(StoreSalvagePlan, NothingReadableIsNoSalvage) {
    const Node foreign = Storage("", {Stream("WordDocument", Bytes(700, 0)), Stream("\x05SummaryInformation", Bytes(90, 1))});
    const Damaged damaged(cfbtest::WriteCompoundFile(foreign));
    for (parleym::SalvagePlanner plan : {&parleym::PlanLogFileSalvage, &parleym::PlanStatsFileSalvage,
                                         &parleym::PlanOfflineFileSalvage, &parleym::PlanObjectCacheSalvage})
        EXPECT_FALSE(plan(damaged.salvage).anything);
}

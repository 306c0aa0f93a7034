// Each store on its own data file written by the real code and then damaged
// the way a disk or an abrupt end damages it: the damaged file is salvaged,
// never written to (a second name for it, a hard link, sees the same bytes
// and time after the open), its bytes are kept beside it, every intact
// element is in the fresh file the store then works on, and one box says
// what was kept. "Set logs path..." only ever reads what it inspects.
#include <gtest/gtest.h>

#include <windows.h>

#include <regex>

#include "plugin/logging/LogFileKind.h"
#include "plugin/logging/LogManager.h"
#include "plugin/logging/ObjectCache.h"
#include "plugin/offline/OfflineMessageStore.h"
#include "plugin/storage/CompoundFileCheck.h"
#include "plugin/storage/MessageContent.h"
#include "tests/objcache/TestStoredObject.h"
#include "tests/stats/ClockedStats.h"
#include "tests/stats/StoreTestSupport.h"
#include "tests/storage/CompoundFileMap.h"

using cfbtest::CompoundFileMap;
using parleym::Bytes;
using parleym::ComPtr;
using parleym::CMessageContent;
using parleym::CLogManager;
using parleym::CObjectCache;
using parleym::LogEntry;
using storetest::ReadFileBytes;
using storetest::WriteFileBytes;

namespace {

const char kAmy[] = "amy@x.org";
const char kBob[] = "bob@x.org";

CMessageContent Content(const std::string& text) {
    CMessageContent content;
    content.text = "{\\rtf1 " + text + "}";
    return content;
}

FILETIME Modified(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    EXPECT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) << path;
    return data.ftLastWriteTime;
}

bool operator==(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// The names of files beside `path` that start with its name and `suffix`.
std::vector<std::string> Beside(const std::string& path, const std::string& suffix) {
    std::vector<std::string> found;
    WIN32_FIND_DATAA data;
    const HANDLE search = FindFirstFileA((path + suffix + "*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return found;
    const std::string folder = path.substr(0, path.find_last_of('\\') + 1);
    do found.push_back(folder + data.cFileName);
    while (FindNextFileA(search, &data));
    FindClose(search);
    return found;
}

class StorageFileSalvageTest : public ::testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }

    struct Outcome {
        std::vector<storetest::ShownMessage> shown;
        Bytes kept;  // the copy of the damaged bytes beside the file; empty when none was made
    };

    // Puts `damaged` at `path`, runs `open`, and checks that nothing wrote
    // into the damaged file: a hard link to it still holds the same bytes
    // and time. Leaves no kept copy behind for the next case.
    Outcome OpenDamaged(const std::string& path, const Bytes& damaged, const std::function<void()>& open) {
        WriteFileBytes(path, damaged);
        const std::string witness = path + ".witness";
        DeleteFileA(witness.c_str());
        EXPECT_TRUE(CreateHardLinkA(witness.c_str(), path.c_str(), nullptr));
        const FILETIME before = Modified(path);
        messages.Clear();
        open();
        Outcome outcome;
        outcome.shown = messages.Messages();
        EXPECT_TRUE(ReadFileBytes(witness) == damaged) << "the damaged file was written to";
        EXPECT_TRUE(Modified(witness) == before) << "the damaged file was written to";
        DeleteFileA(witness.c_str());
        const std::vector<std::string> kept = Beside(path, ".damaged-");
        EXPECT_LE(kept.size(), 1u);
        for (const std::string& copy : kept) {
            outcome.kept = ReadFileBytes(copy);
            EXPECT_TRUE(std::regex_match(copy, std::regex(".*\\.damaged-\\d{8}-\\d{6}"))) << copy;
            DeleteFileA(copy.c_str());
        }
        EXPECT_TRUE(Beside(path, ".salvage").empty()) << "a fresh file was left beside";
        return outcome;
    }

    // One box with the warning icon: the file, what was recovered, where the
    // damaged bytes are. (The fresh file passed the store's own look when it
    // opened, and the store holds it without sharing.)
    void ExpectSalvageBox(const Outcome& outcome, const std::string& path, const std::string& recovered,
                          const Bytes& damaged) {
        ASSERT_EQ(outcome.shown.size(), 1u) << (outcome.shown.empty() ? "" : outcome.shown[0].text);
        EXPECT_EQ(outcome.shown[0].caption, "Parleym");
        EXPECT_EQ(outcome.shown[0].style & MB_ICONMASK, static_cast<UINT>(MB_ICONWARNING));
        const std::string& text = outcome.shown[0].text;
        EXPECT_EQ(text.rfind("The file " + path + " was damaged. " + recovered, 0), 0u) << text;
        EXPECT_NE(text.find("; the damaged file was kept as " + path + ".damaged-"), std::string::npos) << text;
        EXPECT_TRUE(outcome.kept == damaged) << "the damaged bytes were not kept as they were";
    }

    storetest::ScratchFolder folder{"salvage"};
    storetest::MessageCapture messages;
};

// Amy's three conversations (the second in sectors of its own) and Bob's one.
const char* const kTexts[] = {"amy one", "amy two", "amy three", "bob one"};
std::string TextOf(int number) { return number == 2 ? std::string(6000, 'x') : kTexts[number - 1]; }

Bytes MakeLogs(const std::string& path) {
    CLogManager logs;
    EXPECT_EQ(logs.Open(path.c_str()), 1);
    for (const char* account : {kAmy, kBob}) {
        EXPECT_EQ(logs.OpenAccount(account), 1);
        for (int i = 0; i < (account == kAmy ? 3 : 1); ++i) {
            const int number = logs.TakeNextNumber();
            logs.SaveConversation(LogEntry{100.0 + number, 101.0, "carol", number},
                                  Content(TextOf(account == kAmy ? number : 4)));
        }
        logs.CloseAccount();
    }
    logs.Close();
    return ReadFileBytes(path);
}

// The conversations the store lists for the account, each read back: number -> text.
std::map<int, std::string> Logged(CLogManager& logs, const char* account) {
    std::map<int, std::string> found;
    if (logs.OpenAccount(account) != 1) return found;
    for (const LogEntry& entry : logs.Index()) {
        CMessageContent content;
        EXPECT_EQ(logs.LoadConversation(std::to_string(entry.number).c_str(), content), S_OK);
        found[entry.number] = content.text;
    }
    logs.CloseAccount();
    return found;
}

} // namespace

TEST_F(StorageFileSalvageTest, LogFile) {
    const std::string path = folder.WinPath("logs.dat");
    const Bytes sound = MakeLogs(path);
    ASSERT_EQ(parleym::CheckCompoundFile(sound), parleym::CompoundFileFault::none);
    const CompoundFileMap map(sound);
    // Amy's storage with its links left, as a directory change cut short leaves a freed entry.
    Bytes freedAccount = sound;
    const std::size_t amy = map.EntryOffset("1");
    freedAccount[amy + 66] = freedAccount[amy + 64] = freedAccount[amy + 65] = 0;
    Bytes wipedAccount = sound;
    std::fill_n(wipedAccount.begin() + static_cast<std::ptrdiff_t>(amy), 128, 0);
    Bytes chainCut = sound;
    cfbtest::Put32(chainCut, map.FatEntry(map.Chain("1/2")[3]), cfbtest::kEnd);
    const std::string amyTexts[] = {Content(TextOf(1)).text, Content(TextOf(2)).text, Content(TextOf(3)).text};
    const std::string bobText = Content(TextOf(4)).text;

    const struct {
        const char* what;
        Bytes file;
        std::string recovered;
        std::map<int, std::string> amy;
    } cases[] = {
        {"an account freed with live children", freedAccount, "1 of 4 conversations recovered", {}},
        {"an account's entry wiped", wipedAccount, "1 of 4 conversations recovered", {}},
        {"a chain cut short", chainCut, "3 of 4 conversations recovered", {{1, amyTexts[0]}, {3, amyTexts[2]}}},
    };
    for (const auto& damage : cases) {
        SCOPED_TRACE(damage.what);
        CLogManager logs;
        const Outcome outcome = OpenDamaged(path, damage.file, [&] { EXPECT_EQ(logs.Open(path.c_str()), 1); });
        ExpectSalvageBox(outcome, path, damage.recovered, damage.file);
        // The store works on the fresh file: what was kept is there, more can be logged.
        EXPECT_EQ(Logged(logs, kBob), (std::map<int, std::string>{{1, bobText}}));
        EXPECT_EQ(Logged(logs, kAmy), damage.amy);
        ASSERT_EQ(logs.OpenAccount(kAmy), 1);
        const int number = logs.TakeNextNumber();
        if (!damage.amy.empty()) {
            EXPECT_GE(number, 4) << "a lost conversation's number handed out again";
        }
        logs.SaveConversation(LogEntry{200, 201, "dan", number}, Content("after"));
        logs.Close();
        EXPECT_EQ(messages.Messages().size(), 1u);
    }

    // Cut short anywhere, or a sector of tables or directory gone to garbage:
    // whatever is listed reads back as it was written, and the box counts
    // exactly that; or nothing can be read and the file is refused as it is.
    std::vector<std::pair<std::string, Bytes>> spoilt;
    for (std::size_t length = sound.size() - map.SectorSize(); length > 2048; length -= 3 * map.SectorSize())
        spoilt.push_back({"cut at " + std::to_string(length), Bytes(sound.begin(), sound.begin() + static_cast<std::ptrdiff_t>(length))});
    for (std::uint32_t sector = 0; map.SectorOffset(sector) < sound.size(); ++sector) {
        Bytes garbage = sound;
        for (std::size_t i = 0; i < map.SectorSize(); ++i)
            garbage[map.SectorOffset(sector) + i] = static_cast<std::uint8_t>(0xA5 ^ (i * 7));
        // Garbage in a stream's own bytes is no damage to the file: the store reads and refuses that stream.
        if (parleym::CheckCompoundFile(garbage) != parleym::CompoundFileFault::none)
            spoilt.push_back({"garbage in sector " + std::to_string(sector), garbage});
    }
    ASSERT_GT(spoilt.size(), 6u);
    for (const auto& spoil : spoilt) {
        SCOPED_TRACE(spoil.first);
        const Bytes& cut = spoil.second;
        CLogManager logs;
        const Outcome outcome = OpenDamaged(path, cut, [&] { logs.Open(path.c_str()); });
        if (outcome.kept.empty()) {
            // Nothing could be read: refused as a damaged file always was.
            ASSERT_EQ(outcome.shown.size(), 1u);
            EXPECT_EQ(outcome.shown[0].text.rfind("Failed to open storage " + path, 0), 0u) << outcome.shown[0].text;
            EXPECT_TRUE(ReadFileBytes(path) == cut);
            continue;
        }
        std::map<int, std::string> listed = Logged(logs, kAmy);
        for (const auto& conversation : listed) EXPECT_EQ(conversation.second, amyTexts[conversation.first - 1]);
        const std::map<int, std::string> bob = Logged(logs, kBob);
        for (const auto& conversation : bob) EXPECT_EQ(conversation.second, bobText);
        ExpectSalvageBox(outcome, path, std::to_string(listed.size() + bob.size()) + " of ", cut);
    }
}

TEST_F(StorageFileSalvageTest, NothingReadableIsRefusedAndLeftAsItWas) {
    const std::string path = folder.WinPath("logs.dat");
    Bytes damaged = MakeLogs(path);
    cfbtest::Put32(damaged, 48, 0x00FFFFFF);  // the directory lies past the end
    CLogManager logs;
    const Outcome outcome = OpenDamaged(path, damaged, [&] { EXPECT_EQ(logs.Open(path.c_str()), 0); });
    ASSERT_EQ(outcome.shown.size(), 1u);
    EXPECT_EQ(outcome.shown[0].text, "Failed to open storage " + path + ". Code: 0x80030109");
    EXPECT_TRUE(outcome.kept.empty());
    EXPECT_TRUE(ReadFileBytes(path) == damaged);
}

TEST_F(StorageFileSalvageTest, StatisticsAndOfflineMessages) {
    parleym::StatsIdentity self{kAmy, "Amy", parleym::kStatsOnline};
    const std::string statsPath = folder.WinPath("stats.dat");
    {
        storetest::ClockedStats stats(&self);
        ASSERT_TRUE(stats.OpenStatsFile(statsPath.c_str()));
        for (const char* account : {kAmy, kBob}) {
            self.signInName = account;
            self.status = parleym::kStatsOnline;
            ASSERT_TRUE(stats.OpenAccount(account));
            stats.OnStatusChange(account, "Amy", parleym::kStatsOnline, false);
            stats.OnStatusChange("carol@x.org", "Carol", parleym::kStatsOnline, false);
            stats.now += 0.01;
            self.status = parleym::kStatsOffline;
            stats.OnStatusChange(account, "Amy", parleym::kStatsOffline, false);
            stats.CloseAccount();
        }
        stats.Shutdown();
    }
    const std::string offlinePath = folder.WinPath("offlinemsg.dat");
    {
        parleym::COfflineMessageStore offline;
        ASSERT_EQ(offline.Open(offlinePath.c_str()), 1);
        for (const char* account : {kAmy, kBob}) {
            offline.Load(account);
            offline.AddMessage("carol@x.org", Content(std::string("for carol from ") + account));
            offline.AddMessage("dan@x.org", Content("for dan"));
            offline.Save();
        }
        offline.Close();
    }
    const Bytes stats = ReadFileBytes(statsPath);
    const Bytes offline = ReadFileBytes(offlinePath);
    Bytes statsDamaged = stats;  // Amy's session history cut short
    const CompoundFileMap statsMap(stats);
    cfbtest::Put32(statsDamaged, statsMap.MiniFatEntry(statsMap.Chain("1/sessions")[0]), cfbtest::kFree);
    Bytes offlineDamaged = offline;  // Bob's storage entry freed, its links left
    const CompoundFileMap offlineMap(offline);
    offlineDamaged[offlineMap.EntryOffset("2") + 66] = 0;
    offlineDamaged[offlineMap.EntryOffset("2") + 64] = 0;

    {
        SCOPED_TRACE("statistics");
        storetest::ClockedStats store(&self);
        const Outcome outcome =
            OpenDamaged(statsPath, statsDamaged, [&] { EXPECT_TRUE(store.OpenStatsFile(statsPath.c_str())); });
        ExpectSalvageBox(outcome, statsPath, "Statistics of 1 of 2 accounts recovered", statsDamaged);
        // Bob's statistics are there; Amy's start afresh.
        self.signInName = kBob;
        ASSERT_TRUE(store.OpenAccount(kBob));
        EXPECT_GT(store.Ledger().OwnTotal().minutes, 0);
        store.CloseAccount();
        self.signInName = kAmy;
        ASSERT_TRUE(store.OpenAccount(kAmy));
        EXPECT_EQ(store.Ledger().OwnTotal().minutes, 0);
        store.Shutdown();
        EXPECT_EQ(messages.Messages().size(), 1u);
    }
    {
        SCOPED_TRACE("offline messages");
        parleym::COfflineMessageStore store;
        const Outcome outcome =
            OpenDamaged(offlinePath, offlineDamaged, [&] { EXPECT_EQ(store.Open(offlinePath.c_str()), 1); });
        ExpectSalvageBox(outcome, offlinePath, "Offline messages of 1 of 2 accounts recovered (2 messages)",
                         offlineDamaged);
        store.Load(kAmy);
        ASSERT_NE(store.GetMessages("carol@x.org"), nullptr);
        EXPECT_EQ(store.GetMessages("carol@x.org")->front().text, Content("for carol from amy@x.org").text);
        store.Load(kBob);
        EXPECT_EQ(store.GetMessages("carol@x.org"), nullptr);
        EXPECT_NE(store.AddMessage("carol@x.org", Content("new")), nullptr);
        store.Close();
        EXPECT_EQ(messages.Messages().size(), 1u);
    }
}

TEST_F(StorageFileSalvageTest, ObjectCache) {
    const std::string path = folder.WinPath("objcache.dat");
    const std::string pictures[] = {"smile", "wink", std::string(5000, 'w')};
    {
        CObjectCache cache;
        cache.Open(path.c_str());
        ASSERT_TRUE(cache.IsOpen());
        for (const std::string& picture : pictures) {
            ComPtr<IPersistStorage> object(objcache_test::CreateStoredObject(picture));
            std::string key;
            ASSERT_EQ(cache.Add(object.Get(), key), 1);
        }
    }
    const Bytes sound = ReadFileBytes(path);
    const CompoundFileMap map(sound);
    Bytes damaged = sound;  // the long picture's chain cut short
    cfbtest::Put32(damaged, map.FatEntry(map.Chain("2/CONTENTS")[2]), cfbtest::kEnd);
    CObjectCache cache;
    const Outcome outcome = OpenDamaged(path, damaged, [&] { cache.Open(path.c_str()); });
    ExpectSalvageBox(outcome, path, "2 of 3 cached pictures recovered", damaged);
    ASSERT_TRUE(cache.IsOpen());
    CLSID classId;
    EXPECT_NE(cache.Lookup("0", classId), nullptr);
    EXPECT_TRUE(IsEqualCLSID(classId, objcache_test::kStoredObjectClassId));
    EXPECT_NE(cache.Lookup("1", classId), nullptr);
    // The lost picture's key is never handed to another picture.
    ComPtr<IPersistStorage> object(objcache_test::CreateStoredObject("new"));
    std::string key;
    ASSERT_EQ(cache.Add(object.Get(), key), 1);
    EXPECT_EQ(key, "3");
}

// "Set logs path..." looks at whatever file the user picks and writes into none of them.
TEST_F(StorageFileSalvageTest, SetLogsPathOnlyReads) {
    const std::string path = folder.WinPath("picked.dat");
    const Bytes logs = MakeLogs(path);
    const CompoundFileMap map(logs);
    Bytes damagedLogs = logs;
    cfbtest::Put32(damagedLogs, map.FatEntry(map.Chain("1/2")[3]), cfbtest::kEnd);
    const Bytes document = cfbtest::WriteCompoundFile(cfbtest::Storage(
        "", {cfbtest::Stream("WordDocument", Bytes(6000, 1)), cfbtest::Stream("\x05SummaryInformation", Bytes(90, 2))}));
    Bytes damagedDocument = document;
    cfbtest::Put32(damagedDocument, CompoundFileMap(document).FatEntry(CompoundFileMap(document).Chain("WordDocument")[2]),
                   cfbtest::kFree);
    Bytes unreadable = logs;
    cfbtest::Put32(unreadable, 48, 0x00FFFFFF);
    const struct {
        const char* what;
        Bytes file;
        parleym::LogFileKind kind;
    } cases[] = {
        {"a logs file", logs, parleym::LogFileKind::kLogs},
        {"a damaged logs file, salvaged when next opened", damagedLogs, parleym::LogFileKind::kLogs},
        {"a damaged document", damagedDocument, parleym::LogFileKind::kOther},
        {"a file nothing can be read of", unreadable, parleym::LogFileKind::kOther},
    };
    for (const auto& picked : cases) {
        SCOPED_TRACE(picked.what);
        parleym::LogFileKind kind = parleym::LogFileKind::kMissing;
        const Outcome outcome = OpenDamaged(path, picked.file, [&] { kind = parleym::InspectLogFile(path); });
        EXPECT_EQ(kind, picked.kind);
        EXPECT_TRUE(outcome.shown.empty());
        EXPECT_TRUE(outcome.kept.empty());
        EXPECT_TRUE(ReadFileBytes(path) == picked.file);
    }
}

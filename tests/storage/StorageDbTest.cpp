// CStorageDb on real compound files.
#include <gtest/gtest.h>

#include "plugin/storage/Scoped.h"
#include "plugin/storage/CompoundFileCheck.h"
#include "plugin/storage/StorageDb.h"
#include "plugin/storage/StreamIO.h"
#include "plugin/storage/UserIdsCodec.h"
#include "tests/storage/StorageTestSupport.h"

using namespace storage_test;
using parleym::Bytes;
using parleym::ComPtr;
using parleym::CStorageDb;
using parleym::kStorageAccess;
using parleym::kStorageReplace;

namespace {

void MakeStorage(const std::string& file, const wchar_t* name) {
    ComPtr<IStorage> root, made;
    ASSERT_EQ(StgOpenStorage(parleym::ToElementName(file).c_str(), nullptr, kStorageAccess, nullptr, 0, root.Put()),
              S_OK);
    ASSERT_EQ(root->CreateStorage(name, kStorageAccess, 0, 0, made.Put()), S_OK);
}

class StorageDbTest : public ::testing::Test {
protected:
    ComPtr<IStorage> OpenUser(CStorageDb& db, const char* name, int expectedResult = 1) {
        IStorage* storage = reinterpret_cast<IStorage*>(1);
        EXPECT_EQ(db.OpenUserStorage(name, &storage), expectedResult);
        return ComPtr<IStorage>(storage);
    }

    parleym::UserIdsRecord StoredUserIds() {
        parleym::UserIdsRecord record;
        EXPECT_TRUE(parleym::DecodeUserIds(ReadElementStream(path, "userids"), record));
        return record;
    }

    ComEnvironment com;
    TempFolder folder;
    MessageCapture messages;
    std::string path = folder.Path("logs.dat");
};

TEST_F(StorageDbTest, NewFileClosedAtOnceHoldsEmptyUserIds) {
    CStorageDb db;
    ASSERT_EQ(db.Open(path.c_str()), 1);
    db.Close();
    EXPECT_FALSE(db.IsOpen());
    EXPECT_EQ(ReadElementStream(path, "userids"), Bytes(8, 0));
    EXPECT_TRUE(messages.Messages().empty());
}

// A new file is made where it is to be: what an end during its making left
// (a file of zero length) is made anew, and a file of the user's beside it is
// never touched.
TEST_F(StorageDbTest, ANewFileIsMadeInPlaceAndAnEmptyOneTooWhateverLiesBeside) {
    const Bytes users(100, 0x41);
    WriteFileBytes(path + ".new", users);
    for (const bool emptyBefore : {false, true}) {
        SCOPED_TRACE(emptyBefore);
        DeleteFileA(path.c_str());
        if (emptyBefore) WriteFileBytes(path, Bytes());
        CStorageDb db;
        ASSERT_EQ(db.Open(path.c_str()), 1);
        db.Close();
        EXPECT_EQ(ReadElementStream(path, "userids"), Bytes(8, 0));
        EXPECT_EQ(ReadFileBytes(path + ".new"), users);
        EXPECT_EQ(GetFileAttributesA((path + "-journal").c_str()), INVALID_FILE_ATTRIBUTES);
    }
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(StorageDbTest, AccountsAreNumberedAndNumberingContinuesAfterReopen) {
    {
        CStorageDb db;
        ASSERT_EQ(db.Open(path.c_str()), 1);
        EXPECT_FALSE(OpenUser(db, "amy@x.org"));  // unknown: success without storage
        ComPtr<IStorage> amy(db.CreateUserStorage("amy@x.org"));
        ComPtr<IStorage> bob(db.CreateUserStorage("bob@x.org"));
        ASSERT_TRUE(amy && bob);
        // Letter case makes a different account.
        ComPtr<IStorage> bobUpper(db.CreateUserStorage("Bob@x.org"));
        ASSERT_TRUE(bobUpper);
        EXPECT_EQ(db.Users().at("amy@x.org"), "1");
        EXPECT_EQ(db.Users().at("bob@x.org"), "2");
        EXPECT_EQ(db.Users().at("Bob@x.org"), "3");
        db.Close();
    }
    EXPECT_EQ(ElementNames(path), (std::vector<std::string>{"1", "2", "3", "userids"}));
    EXPECT_EQ(StoredUserIds().lastUserId, 3);

    CStorageDb db;
    ASSERT_EQ(db.Open(path.c_str()), 1);
    EXPECT_TRUE(OpenUser(db, "bob@x.org"));
    EXPECT_FALSE(OpenUser(db, "BOB@x.org"));
    ComPtr<IStorage> carl(db.CreateUserStorage("carl@x.org"));
    ASSERT_TRUE(carl);
    EXPECT_EQ(db.Users().at("carl@x.org"), "4");
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(StorageDbTest, MappedAccountWithoutStorageIsNoError) {
    parleym::UserIdsRecord record;
    record.lastUserId = 5;
    record.entries = {{"ghost", 5}};
    {
        CStorageDb db;
        ASSERT_EQ(db.Open(path.c_str()), 1);
        db.Close();
    }
    WriteElementStream(path, "userids", parleym::EncodeUserIds(record));

    CStorageDb db;
    ASSERT_EQ(db.Open(path.c_str()), 1);
    EXPECT_FALSE(OpenUser(db, "ghost", 1));
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(StorageDbTest, ReopenStartsFromTheNewFileOnly) {
    CStorageDb db;
    ASSERT_EQ(db.Open(path.c_str()), 1);
    ComPtr<IStorage>(db.CreateUserStorage("amy"));
    ComPtr<IStorage>(db.CreateUserStorage("bob"));
    db.Close();

    const std::string other = folder.Path("other.dat");
    ASSERT_EQ(db.Open(other.c_str()), 1);
    EXPECT_TRUE(db.Users().empty());
    EXPECT_EQ(db.LastUserId(), 0);
    ComPtr<IStorage> carl(db.CreateUserStorage("carl"));
    EXPECT_EQ(db.Users().at("carl"), "1");
    carl.Reset();
    db.Close();
    parleym::UserIdsRecord record;
    ASSERT_TRUE(parleym::DecodeUserIds(ReadElementStream(other, "userids"), record));
    ASSERT_EQ(record.entries.size(), 1u);
    EXPECT_EQ(record.entries[0].name, "carl");
}

TEST_F(StorageDbTest, CounterBehindRecordedNumbersDoesNotReuseAStorage) {
    {
        CStorageDb db;
        ASSERT_EQ(db.Open(path.c_str()), 1);
        ComPtr<IStorage>(db.CreateUserStorage("amy"));
        ComPtr<IStorage>(db.CreateUserStorage("bob"));
        db.Close();
    }
    parleym::UserIdsRecord record = StoredUserIds();
    record.lastUserId = 1;  // damaged: behind bob's 2
    WriteElementStream(path, "userids", parleym::EncodeUserIds(record));

    CStorageDb db;
    ASSERT_EQ(db.Open(path.c_str()), 1);
    ComPtr<IStorage> carl(db.CreateUserStorage("carl"));
    ASSERT_TRUE(carl);
    EXPECT_EQ(db.Users().at("carl"), "3");
    EXPECT_EQ(db.Users().at("bob"), "2");
}

TEST_F(StorageDbTest, FileHeldElsewhereIsReported) {
    CStorageDb first;
    ASSERT_EQ(first.Open(path.c_str()), 1);
    CStorageDb second;
    EXPECT_EQ(second.Open(path.c_str()), 0);
    EXPECT_FALSE(second.IsOpen());
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].text, "Failed to open storage " + path + ". Code: 0x80030020");
    EXPECT_EQ(messages.Messages()[0].caption, "Error");
    EXPECT_EQ(messages.Messages()[0].style, unsigned(MB_TASKMODAL | MB_ICONERROR | MB_OK));
}

// A process that ended before its first save leaves an empty stream; the file
// stays usable and the orphaned storage is not handed to a new account.
TEST_F(StorageDbTest, EmptyUserIdsOpensWithoutReusingAStorage) {
    {
        CStorageDb db;
        ASSERT_EQ(db.Open(path.c_str()), 1);
        ComPtr<IStorage>(db.CreateUserStorage("amy@x.org"));
        db.Close();
    }
    WriteElementStream(path, "userids", Bytes());
    CStorageDb db;
    ASSERT_EQ(db.Open(path.c_str()), 1);
    ComPtr<IStorage> created(db.CreateUserStorage("bob@x.org"));
    EXPECT_NE(created.Get(), nullptr);
    db.Close();
    EXPECT_TRUE(messages.Messages().empty());
    const parleym::UserIdsRecord record = StoredUserIds();
    ASSERT_EQ(record.entries.size(), 1u);
    EXPECT_EQ(record.entries[0].name, "bob@x.org");
    EXPECT_EQ(record.entries[0].number, 2);
}

// Damaged files: the right message, nothing held, and the file left as it was.
TEST_F(StorageDbTest, DamagedFilesAreReportedAndLeftAlone) {
    {
        CStorageDb db;
        ASSERT_EQ(db.Open(path.c_str()), 1);
        ComPtr<IStorage>(db.CreateUserStorage("amy@x.org"));
        db.Close();
    }
    const Bytes good = ReadElementStream(path, "userids");
    struct Damage {
        const char* name;
        Bytes userIds;
    };
    Bytes flipped = good;
    flipped[8] = 0xFF;  // name length becomes huge
    const Damage damages[] = {
        {"truncated", Bytes(good.begin(), good.end() - 3)},
        {"flipped", flipped},
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.name);
        WriteElementStream(path, "userids", damage.userIds);
        const Bytes before = ReadFileBytes(path);
        messages.Clear();
        CStorageDb db;
        EXPECT_EQ(db.Open(path.c_str()), 0);
        EXPECT_FALSE(db.IsOpen());
        db.Close();
        ASSERT_EQ(messages.Messages().size(), 1u);
        EXPECT_EQ(messages.Messages()[0].text,
                  "Failed to access db content in file " + path + ". Code: 0x8003001E");
        EXPECT_EQ(ReadFileBytes(path), before);
    }

    // Not a compound file at all.
    const Bytes foreign = {'h', 'e', 'l', 'l', 'o', '\r', '\n'};
    WriteFileBytes(path, foreign);
    messages.Clear();
    CStorageDb db;
    EXPECT_EQ(db.Open(path.c_str()), 0);
    db.Close();
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].text.rfind("Failed to open storage " + path + ". Code: 0x", 0), 0u);
    EXPECT_EQ(ReadFileBytes(path), foreign);
}

// A storage whose number `userids` does not account for (its account was
// created and the process ended before the map was saved) is never handed to
// another account, and the new account is recorded at once.
TEST_F(StorageDbTest, ExistingStorageNumberIsNeverHandedOut) {
    {
        CStorageDb db;
        ASSERT_EQ(db.Open(path.c_str()), 1);
        db.Close();
    }
    MakeStorage(path, L"1");
    WriteElementStream(path, "1/conversations", Bytes{9, 9});
    WriteElementStream(path, "3", Bytes{1});  // any numbered element blocks its number
    CStorageDb db;
    ASSERT_EQ(db.Open(path.c_str()), 1);
    ComPtr<IStorage> bob;
    ComPtr<IStream> stream;
    HRESULT streamError = E_FAIL;
    bool created = false;
    ASSERT_EQ(db.OpenAccount("bob@x.org", {{L"conversations", &stream}}, bob, streamError, &created), 1);
    EXPECT_TRUE(created);
    EXPECT_EQ(db.Users().at("bob@x.org"), "4");
    EXPECT_TRUE(messages.Messages().empty());
    stream.Reset();
    bob.Reset();
    db.Close();
    EXPECT_EQ(ReadElementStream(path, "1/conversations"), (Bytes{9, 9}));
    EXPECT_EQ(ReadElementStream(path, "4/conversations"), Bytes());
}

// The one open-or-create path: a mapped account whose storage or streams were
// lost is set up again, and rewrites an earlier version left unfinished
// inside are finished when the file is opened.
TEST_F(StorageDbTest, OpenAccountMakesMissingPartsAndFinishesRewrites) {
    {
        CStorageDb db;
        ASSERT_EQ(db.Open(path.c_str()), 1);
        ComPtr<IStorage> amy, bob;
        ComPtr<IStream> users, sessions;
        HRESULT error = S_OK;
        ASSERT_EQ(db.OpenAccount("amy", {{L"users", &users}, {L"sessions", &sessions}}, amy, error), 1);
        ASSERT_EQ(db.EndOperation(parleym::OverwriteStream(users.Get(), Bytes{1, 2, 3})), S_OK);
        ASSERT_TRUE(users);
        ASSERT_EQ(db.OpenAccount("bob", {{L"users", &users}, {L"sessions", &sessions}}, bob, error), 1);
        users.Reset();
        sessions.Reset();
        amy.Reset();
        bob.Reset();
        db.Close();
    }
    EXPECT_EQ(ElementNames(path, "1"), (std::vector<std::string>{"sessions", "users"}));
    EXPECT_EQ(ReadElementStream(path, "1/users"), (Bytes{1, 2, 3}));
    // amy: a rewrite of "users" cut short before its mark (old content stays),
    // one of "sessions" cut short after it (new content goes in place).
    WriteElementStream(path, "1/users.new", Bytes{7});
    WriteElementStream(path, "1/sessions.new", Bytes{4, 5});
    WriteElementStream(path, "1/sessions.ok", Bytes());
    WriteElementStream(path, "1/sessions", Bytes{4});  // half-rewritten
    // bob: its storage is gone.
    {
        ComPtr<IStorage> root;
        ASSERT_EQ(StgOpenStorage(parleym::ToElementName(path).c_str(), nullptr, kStorageAccess, nullptr, 0,
                                 root.Put()),
                  S_OK);
        ASSERT_EQ(root->DestroyElement(L"2"), S_OK);
    }
    CStorageDb db;
    ASSERT_EQ(db.Open(path.c_str()), 1);
    ComPtr<IStorage> storage;
    ComPtr<IStream> users, sessions;
    HRESULT error = E_FAIL;
    bool created = true;
    ASSERT_EQ(db.OpenAccount("amy", {{L"users", &users}, {L"sessions", &sessions}}, storage, error, &created), 1);
    EXPECT_FALSE(created);
    Bytes data;
    ASSERT_EQ(parleym::ReadWholeStream(users.Get(), data), S_OK);
    EXPECT_EQ(data, (Bytes{1, 2, 3}));
    ASSERT_EQ(parleym::ReadWholeStream(sessions.Get(), data), S_OK);
    EXPECT_EQ(data, (Bytes{4, 5}));
    ASSERT_EQ(db.OpenAccount("bob", {{L"users", &users}, {L"sessions", &sessions}}, storage, error, &created), 1);
    EXPECT_TRUE(created);
    EXPECT_EQ(db.Users().at("bob"), "3");
    users.Reset();
    sessions.Reset();
    storage.Reset();
    db.Close();
    EXPECT_EQ(ElementNames(path, "1"), (std::vector<std::string>{"sessions", "users"}));
    EXPECT_TRUE(messages.Messages().empty());
}

// `userids` itself: a rewrite cut short at any step leaves the old or the new
// map, never none (the file would otherwise be refused for good).
TEST_F(StorageDbTest, InterruptedUserIdsRewriteLeavesOldOrNewMap) {
    {
        CStorageDb db;
        ASSERT_EQ(db.Open(path.c_str()), 1);
        ComPtr<IStorage>(db.CreateUserStorage("amy"));
        db.Close();
    }
    const Bytes old = ReadElementStream(path, "userids");
    parleym::UserIdsRecord record = StoredUserIds();
    record.entries.push_back({"bob", 2});
    record.lastUserId = 2;
    const Bytes fresh = parleym::EncodeUserIds(record);
    struct Cut {
        const char* name;
        std::vector<std::pair<std::string, Bytes>> leftovers;
        bool hasUserIds;
        bool expectNew;
    };
    const Cut cuts[] = {
        {"new content half-written", {{"userids.new", Bytes(fresh.begin(), fresh.begin() + 5)}}, true, false},
        {"marked, stream rewritten half", {{"userids.new", fresh}, {"userids.ok", Bytes()}}, true, true},
        {"marked, stream gone", {{"userids.new", fresh}, {"userids.ok", Bytes()}}, false, true},
        {"mark gone, copy left", {{"userids.new", fresh}}, true, false},
    };
    for (const Cut& cut : cuts) {
        SCOPED_TRACE(cut.name);
        WriteElementStream(path, "userids", old);
        for (const auto& leftover : cut.leftovers) WriteElementStream(path, leftover.first, leftover.second);
        if (!cut.hasUserIds) {
            ComPtr<IStorage> root;
            ASSERT_EQ(StgOpenStorage(parleym::ToElementName(path).c_str(), nullptr, kStorageAccess, nullptr, 0,
                                     root.Put()),
                      S_OK);
            ASSERT_EQ(root->DestroyElement(L"userids"), S_OK);
        } else if (cut.expectNew) {
            WriteElementStream(path, "userids", Bytes(old.begin(), old.begin() + 6));
        }
        CStorageDb db;
        ASSERT_EQ(db.Open(path.c_str()), 1);
        EXPECT_EQ(db.Users().count("bob"), cut.expectNew ? 1u : 0u);
        EXPECT_EQ(db.Users().at("amy"), "1");
        db.Close();
        EXPECT_EQ(ElementNames(path), (std::vector<std::string>{"1", "userids"}));
    }
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(StorageDbTest, TwoAccountsInOneStorageAreDamage) {
    {
        CStorageDb db;
        ASSERT_EQ(db.Open(path.c_str()), 1);
        ComPtr<IStorage>(db.CreateUserStorage("amy"));
        db.Close();
    }
    parleym::UserIdsRecord record = StoredUserIds();
    record.entries.push_back({"bob", 1});
    WriteElementStream(path, "userids", parleym::EncodeUserIds(record));
    const Bytes before = ReadFileBytes(path);
    CStorageDb db;
    EXPECT_EQ(db.Open(path.c_str()), 0);
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].text, "Failed to access db content in file " + path + ". Code: 0x8003001E");
    EXPECT_EQ(ReadFileBytes(path), before);
}

} // namespace

// A file cut anywhere (inside the header, inside a directory sector, at a
// sector boundary) is reported at once and left as it was; none may hang.
TEST_F(StorageDbTest, TruncatedFilesAreReportedAndLeftAlone) {
    {
        CStorageDb db;
        ASSERT_EQ(db.Open(path.c_str()), 1);
        // Enough elements for the directory to span several sectors.
        for (int i = 0; i < 12; ++i) ComPtr<IStorage>(db.CreateUserStorage(("user" + std::to_string(i)).c_str()));
        db.Close();
    }
    const Bytes good = ReadFileBytes(path);
    ASSERT_GT(good.size(), 4u * 512);
    EXPECT_EQ(parleym::CheckCompoundFile(good), parleym::CompoundFileFault::none);
    int tried = 0;
    // Zero length is what an end during the file's making leaves: made anew.
    std::vector<std::size_t> lengths = {7, 300, 511};
    for (std::size_t at = 512; at < good.size(); at += 512) {
        lengths.push_back(at);
        lengths.push_back(at + 200);
    }
    for (std::size_t length : lengths) {
        SCOPED_TRACE(length);
        const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
        WriteFileBytes(path, cut);
        messages.Clear();
        CStorageDb db;
        EXPECT_EQ(db.Open(path.c_str()), 0);
        db.Close();
        ASSERT_EQ(messages.Messages().size(), 1u);
        EXPECT_EQ(messages.Messages()[0].text.rfind("Failed to ", 0), 0u) << messages.Messages()[0].text;
        EXPECT_EQ(ReadFileBytes(path), cut);
        ++tried;
    }
    EXPECT_GT(tried, 8);
}

// A rewrite told what the stream holds writes only where the bytes differ;
// whatever the change, the stream ends up holding exactly the new content,
// and a stream that does not hold what the caller thinks is rewritten whole.
TEST_F(StorageDbTest, RewriteOfChangesLeavesExactlyTheNewContent) {
    ComPtr<IStorage> root;
    ASSERT_EQ(StgCreateDocfile(parleym::ToElementName(path).c_str(), kStorageReplace, 0, root.Put()), S_OK);
    ComPtr<IStream> stream;
    ASSERT_EQ(root->CreateStream(L"7", kStorageAccess, 0, 0, stream.Put()), S_OK);
    Bytes previous(20000);
    for (std::size_t i = 0; i < previous.size(); ++i) previous[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_EQ(parleym::OverwriteStream(stream.Get(), previous), S_OK);

    auto stored = [&] {
        Bytes data;
        EXPECT_EQ(parleym::ReadWholeStream(stream.Get(), data), S_OK);
        return data;
    };
    Bytes grown = previous;
    grown.insert(grown.end(), 5000, 0x5A);
    grown[4] = 1;  // the length at the front changes as well
    Bytes middle = grown;
    for (std::size_t i = 8000; i < 8100; ++i) middle[i] ^= 0xFF;
    middle[16383] ^= 0x01;  // the last byte of a chunk only
    Bytes shrunk(middle.begin(), middle.begin() + 9000);
    shrunk[3] = 2;
    const std::vector<Bytes> steps{grown, middle, middle, shrunk, Bytes(), Bytes{1, 2, 3}};
    for (std::size_t step = 0; step < steps.size(); ++step) {
        SCOPED_TRACE(step);
        ASSERT_EQ(parleym::OverwriteStreamChanges(stream.Get(), steps[step], previous), S_OK);
        EXPECT_EQ(stored(), steps[step]);
        previous = steps[step];
    }

    // Written behind the caller's back: the size tells, and all is written.
    ASSERT_EQ(parleym::OverwriteStream(stream.Get(), Bytes(100, 9)), S_OK);
    const Bytes next(3000, 4);
    ASSERT_EQ(parleym::OverwriteStreamChanges(stream.Get(), next, previous), S_OK);
    EXPECT_EQ(stored(), next);
}

// CStorageDb on real compound files.
#include <gtest/gtest.h>

#include "plugin/storage/ComPtr.h"
#include "plugin/storage/StorageDb.h"
#include "plugin/storage/UserIdsCodec.h"
#include "tests/storage/StorageTestSupport.h"

using namespace storage_test;
using parleym::Bytes;
using parleym::ComPtr;

namespace {

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

} // namespace

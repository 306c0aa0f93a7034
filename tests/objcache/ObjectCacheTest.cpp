// CObjectCache on real compound files with a small object of our own.
#include <gtest/gtest.h>

#include "plugin/logging/DigestMapCodec.h"
#include "plugin/logging/ObjectCache.h"
#include "plugin/storage/Scoped.h"
#include "plugin/storage/StorageDb.h"
#include "plugin/storage/StreamIO.h"
#include "tests/objcache/TestStoredObject.h"
#include "tests/storage/StorageTestSupport.h"

using namespace storage_test;
using namespace objcache_test;
using parleym::Bytes;
using parleym::ComPtr;
using parleym::CObjectCache;
using parleym::kStorageAccess;
using parleym::kStorageReplace;

namespace {

class ObjectCacheTest : public ::testing::Test {
protected:
    std::string AddPicture(CObjectCache& cache, const std::string& bytes, int expected = 1) {
        ComPtr<IPersistStorage> object(CreateStoredObject(bytes));
        std::string key = "unset";
        EXPECT_EQ(cache.Add(object.Get(), key), expected);
        return key;
    }
    // A file holding pictures "p0", "p1", "p2" under keys 0, 1, 2.
    void MakeFileWithThreePictures() {
        CObjectCache cache;
        cache.Open(path.c_str());
        ASSERT_TRUE(cache.IsOpen());
        for (const char* bytes : {"p0", "p1", "p2"}) AddPicture(cache, bytes);
        cache.Close();
    }

    ComEnvironment com;
    TempFolder folder;
    std::string path = folder.Path("objcache.dat");
};

TEST_F(ObjectCacheTest, SamePictureIsStoredOnceButConsumesAKey) {
    CObjectCache cache;
    cache.Open(path.c_str());
    ASSERT_TRUE(cache.IsOpen());
    EXPECT_EQ(AddPicture(cache, "smile"), "0");
    EXPECT_EQ(AddPicture(cache, "smile"), "0");
    EXPECT_EQ(cache.NextKey(), 2);
    EXPECT_EQ(AddPicture(cache, "wink"), "2");
    CLSID classId = CLSID_NULL;
    IStorage* stored = cache.Lookup("0", classId);
    ASSERT_NE(stored, nullptr);
    EXPECT_TRUE(IsEqualCLSID(classId, kStoredObjectClassId));
    EXPECT_EQ(cache.Lookup("1", classId), nullptr);
    cache.Close();
    EXPECT_EQ(cache.Lookup("0", classId), nullptr);
    EXPECT_EQ(ElementNames(path), (std::vector<std::string>{"0", "2", "md5map"}));
    EXPECT_EQ(ReadElementStream(path, "0/CONTENTS"), Bytes({'s', 'm', 'i', 'l', 'e'}));
}

TEST_F(ObjectCacheTest, ObjectsThatCannotBeStoredLeaveNothingBehind) {
    CObjectCache cache;
    cache.Open(path.c_str());
    ASSERT_TRUE(cache.IsOpen());
    for (SaveBehaviour behaviour : {SaveBehaviour::NoContents, SaveBehaviour::Fails}) {
        ComPtr<IPersistStorage> object(CreateStoredObject("x", behaviour));
        std::string key;
        EXPECT_EQ(cache.Add(object.Get(), key), 0);
    }
    std::string key;
    EXPECT_EQ(cache.Add(nullptr, key), 0);
    cache.Close();
    EXPECT_EQ(ElementNames(path), (std::vector<std::string>{"md5map"}));
    EXPECT_EQ(AddPicture(cache, "closed", 0), "unset");
}

TEST_F(ObjectCacheTest, ReopenKnowsStoredPicturesAndContinuesAboveHighestKey) {
    MakeFileWithThreePictures();
    CObjectCache cache;
    cache.Open(path.c_str());
    ASSERT_TRUE(cache.IsOpen());
    EXPECT_EQ(cache.NextKey(), 3);
    EXPECT_EQ(AddPicture(cache, "p1"), "1");
    CLSID classId = CLSID_NULL;
    EXPECT_NE(cache.Lookup("2", classId), nullptr);
    EXPECT_TRUE(IsEqualCLSID(classId, kStoredObjectClassId));
    cache.Close();
}

// Elements the digest map does not name, made behind its back: storages and
// streams with the next free numbers, and one far above them.
void AddStrayElements(const std::string& path, const std::vector<std::string>& streams,
                      const std::vector<std::string>& storages) {
    ComPtr<IStorage> root;
    ASSERT_EQ(StgOpenStorage(parleym::ToElementName(path).c_str(), nullptr, kStorageAccess, nullptr, 0, root.Put()),
              S_OK);
    for (const std::string& name : streams) {
        ComPtr<IStream> stream;
        ASSERT_EQ(root->CreateStream(parleym::ToElementName(name).c_str(), kStorageReplace, 0, 0, stream.Put()), S_OK);
        ASSERT_EQ(parleym::WriteBytes(stream.Get(), name.data(), name.size()), S_OK);
    }
    for (const std::string& name : storages) {
        ComPtr<IStorage> storage;
        ComPtr<IStream> contents;
        ASSERT_EQ(root->CreateStorage(parleym::ToElementName(name).c_str(), kStorageReplace, 0, 0, storage.Put()),
                  S_OK);
        ASSERT_EQ(storage->SetClass(kStoredObjectClassId), S_OK);
        ASSERT_EQ(storage->CreateStream(L"CONTENTS", kStorageReplace, 0, 0, contents.Put()), S_OK);
        ASSERT_EQ(parleym::WriteBytes(contents.Get(), name.data(), name.size()), S_OK);
    }
}

TEST_F(ObjectCacheTest, ElementsTheMapDoesNotNameAreNeverReusedAsKeys) {
    MakeFileWithThreePictures();
    AddStrayElements(path, {"3", "6"}, {"4", "44"});

    CObjectCache cache;
    cache.Open(path.c_str());
    ASSERT_TRUE(cache.IsOpen());
    // Keys 3 and 4 are taken, 5 goes to the first new picture, 6 is taken.
    EXPECT_EQ(AddPicture(cache, "fresh"), "5");
    EXPECT_EQ(AddPicture(cache, "fresher"), "7");
    EXPECT_EQ(AddPicture(cache, "p2"), "2");
    EXPECT_EQ(AddPicture(cache, "fresh"), "5");
    // A storage the map does not know is still an object to replay.
    CLSID classId = CLSID_NULL;
    EXPECT_NE(cache.Lookup("4", classId), nullptr);
    EXPECT_TRUE(IsEqualCLSID(classId, kStoredObjectClassId));
    EXPECT_EQ(cache.Lookup("3", classId), nullptr);
    EXPECT_EQ(cache.Lookup("9", classId), nullptr);
    cache.Close();
    for (const char* name : {"3", "6"}) EXPECT_EQ(ReadElementStream(path, name), Bytes(name, name + 1));
    EXPECT_EQ(ReadElementStream(path, "4/CONTENTS"), Bytes({'4'}));
    EXPECT_EQ(ReadElementStream(path, "44/CONTENTS"), Bytes({'4', '4'}));
    EXPECT_EQ(ReadElementStream(path, "5/CONTENTS"), Bytes({'f', 'r', 'e', 's', 'h'}));

    // Reopened, the cache knows the pictures it stored and still skips the rest.
    cache.Open(path.c_str());
    ASSERT_TRUE(cache.IsOpen());
    EXPECT_EQ(cache.NextKey(), 8);
    EXPECT_EQ(AddPicture(cache, "fresher"), "7");
    EXPECT_NE(cache.Lookup("5", classId), nullptr);
    EXPECT_EQ(AddPicture(cache, "keys up to 43 are free"), "9");
}

// A long run of taken keys is given up on after a bounded search, leaving
// nothing behind; the next add goes on from where the search stopped.
TEST_F(ObjectCacheTest, LongRunOfForeignElementsNeverHangsAnAdd) {
    MakeFileWithThreePictures();
    std::vector<std::string> names;
    for (int key = 3; key < 3 + 1001; ++key) names.push_back(std::to_string(key));
    AddStrayElements(path, names, {});

    CObjectCache cache;
    cache.Open(path.c_str());
    ASSERT_TRUE(cache.IsOpen());
    EXPECT_EQ(AddPicture(cache, "late", 0), "unset");
    EXPECT_EQ(AddPicture(cache, "late"), "1004");
    EXPECT_EQ(AddPicture(cache, "p0"), "0");
    cache.Close();
    EXPECT_EQ(ReadElementStream(path, "1003"), Bytes({'1', '0', '0', '3'}));
    EXPECT_EQ(ReadElementStream(path, "3"), Bytes({'3'}));
    EXPECT_EQ(ElementNames(path).size(), 3u + 1001u + 1u + 1u);
}

// An append cut short leaves the count ahead of the pairs (the order of
// earlier versions) or behind them, or a pair cut short at the end: the cache
// opens with the complete pairs, stores the next object, and dedups again.
TEST_F(ObjectCacheTest, MapCutShortKeepsThePairsItHolds) {
    MakeFileWithThreePictures();
    const Bytes good = ReadElementStream(path, "md5map");
    Bytes countAhead = good;
    countAhead[0] = 4;
    Bytes countBehind = good;
    countBehind[0] = 2;
    struct Cut {
        const char* name;
        Bytes digests;
        std::size_t pairs;
    };
    const Cut cuts[] = {{"pair cut short", Bytes(good.begin(), good.end() - 1), 2},
                        {"count ahead", countAhead, 3},
                        {"count behind", countBehind, 3},
                        {"count far ahead", Bytes{0x7F, 0, 0, 0x7F}, 0}};
    for (const Cut& cut : cuts) {
        SCOPED_TRACE(cut.name);
        DeleteFileA(path.c_str());
        MakeFileWithThreePictures();
        WriteElementStream(path, "md5map", cut.digests);
        {
            CObjectCache cache;
            cache.Open(path.c_str());
            ASSERT_TRUE(cache.IsOpen());
            EXPECT_EQ(cache.Digests().size(), cut.pairs);
            EXPECT_EQ(AddPicture(cache, "later"), "3");
        }
        parleym::DigestMap digests;
        ASSERT_TRUE(parleym::DecodeDigestMap(ReadElementStream(path, "md5map"), digests));
        EXPECT_EQ(digests.size(), cut.pairs + 1);
        // Written afresh once at open, so its count is right again.
        const Bytes stored = ReadElementStream(path, "md5map");
        EXPECT_EQ(stored.size(), parleym::EncodeDigestMap(digests).size());
        EXPECT_EQ(stored[0], digests.size());
        CObjectCache cache;
        cache.Open(path.c_str());
        ASSERT_TRUE(cache.IsOpen());
        EXPECT_EQ(AddPicture(cache, "later"), "3");
        if (cut.pairs == 3) {
            EXPECT_EQ(AddPicture(cache, "p1"), "1");
        }
    }
}

TEST_F(ObjectCacheTest, DamagedFilesLeaveTheCacheClosedAndTheFileAsItWas) {
    MakeFileWithThreePictures();
    // Not even a count.
    WriteElementStream(path, "md5map", Bytes{3, 0});
    const Bytes before = ReadFileBytes(path);
    {
        CObjectCache cache;
        cache.Open(path.c_str());
        EXPECT_FALSE(cache.IsOpen());
    }
    EXPECT_EQ(ReadFileBytes(path), before);

    const Bytes foreign(600, 'z');
    WriteFileBytes(path, foreign);
    CObjectCache cache;
    cache.Open(path.c_str());
    EXPECT_FALSE(cache.IsOpen());
    EXPECT_EQ(ReadFileBytes(path), foreign);
}

namespace {
void DestroyRootElement(const std::string& file, const wchar_t* name) {
    ComPtr<IStorage> root;
    ASSERT_EQ(StgOpenStorage(parleym::ToElementName(file).c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                             nullptr, 0, root.Put()),
              S_OK);
    ASSERT_EQ(root->DestroyElement(name), S_OK);
}
} // namespace

// Without a map, only a file that holds nothing but our objects is taken as
// ours (its map is started afresh); another program's compound file is left
// alone.
TEST_F(ObjectCacheTest, FileWithoutAMapIsOursOnlyWhenItHoldsOnlyObjects) {
    MakeFileWithThreePictures();
    DestroyRootElement(path, L"md5map");
    {
        CObjectCache cache;
        cache.Open(path.c_str());
        ASSERT_TRUE(cache.IsOpen());
        EXPECT_EQ(AddPicture(cache, "new"), "3");
    }
    EXPECT_EQ(ElementNames(path), (std::vector<std::string>{"0", "1", "2", "3", "md5map"}));

    DestroyRootElement(path, L"md5map");
    WriteElementStream(path, "WordDocument", Bytes(700, 1));
    const Bytes foreign = ReadFileBytes(path);
    {
        CObjectCache cache;
        cache.Open(path.c_str());
        EXPECT_FALSE(cache.IsOpen());
    }
    EXPECT_EQ(ReadFileBytes(path), foreign);
}

// A rewrite of the map cut short leaves its siblings; the cache finds the old
// map or the new one, never an empty one.
TEST_F(ObjectCacheTest, InterruptedMapRewriteKeepsAMap) {
    MakeFileWithThreePictures();
    const Bytes good = ReadElementStream(path, "md5map");
    // New content half-written, no mark: the old map stays.
    WriteElementStream(path, "md5map.new", Bytes(good.begin(), good.begin() + 6));
    {
        CObjectCache cache;
        cache.Open(path.c_str());
        ASSERT_TRUE(cache.IsOpen());
        EXPECT_EQ(cache.Digests().size(), 3u);
    }
    EXPECT_EQ(ElementNames(path), (std::vector<std::string>{"0", "1", "2", "md5map"}));

    // New content complete and marked: it is put in place at open.
    parleym::DigestMap digests;
    ASSERT_TRUE(parleym::DecodeDigestMap(good, digests));
    digests.erase(digests.begin());
    WriteElementStream(path, "md5map.new", parleym::EncodeDigestMap(digests));
    WriteElementStream(path, "md5map.ok", Bytes());
    {
        CObjectCache cache;
        cache.Open(path.c_str());
        ASSERT_TRUE(cache.IsOpen());
        EXPECT_EQ(cache.Digests(), digests);
    }
    EXPECT_EQ(ElementNames(path), (std::vector<std::string>{"0", "1", "2", "md5map"}));
    EXPECT_EQ(ReadElementStream(path, "md5map"), parleym::EncodeDigestMap(digests));
}

TEST_F(ObjectCacheTest, PairsAddedAfterAnIrregularMapAreKept) {
    MakeFileWithThreePictures();
    // The same pair twice and a stray byte: legal to read, but a pair appended
    // after them would fall outside the recorded count.
    parleym::DigestMap digests;
    ASSERT_TRUE(parleym::DecodeDigestMap(ReadElementStream(path, "md5map"), digests));
    ASSERT_EQ(digests.size(), 3u);
    parleym::BinaryWriter irregular;
    irregular.PutInt32(4);
    for (const auto& pair : digests) {
        irregular.PutString(pair.first);
        irregular.PutString(pair.second);
    }
    irregular.PutString(digests.begin()->first);
    irregular.PutString(digests.begin()->second);
    irregular.PutUInt8(9);
    WriteElementStream(path, "md5map", irregular.Data());
    {
        CObjectCache cache;
        cache.Open(path.c_str());
        ASSERT_TRUE(cache.IsOpen());
        EXPECT_EQ(AddPicture(cache, "later"), "3");
    }
    CObjectCache cache;
    cache.Open(path.c_str());
    ASSERT_TRUE(cache.IsOpen());
    EXPECT_EQ(cache.Digests().size(), 4u);
    EXPECT_EQ(AddPicture(cache, "later"), "3");
}

TEST_F(ObjectCacheTest, OpenCacheHoldsItsFileExclusively) {
    CObjectCache first;
    first.Open(path.c_str());
    ASSERT_TRUE(first.IsOpen());
    CObjectCache second;
    second.Open(path.c_str());
    EXPECT_FALSE(second.IsOpen());
}

} // namespace

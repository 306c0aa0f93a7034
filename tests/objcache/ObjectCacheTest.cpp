// CObjectCache on real compound files with a small object of our own.
#include <gtest/gtest.h>

#include "plugin/logging/DigestMapCodec.h"
#include "plugin/logging/ObjectCache.h"
#include "plugin/storage/ComPtr.h"
#include "tests/objcache/TestStoredObject.h"
#include "tests/storage/StorageTestSupport.h"

using namespace storage_test;
using namespace objcache_test;
using parleym::Bytes;
using parleym::ComPtr;

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

    // Any element named by a number blocks that key, storage or not.
    WriteElementStream(path, "44", Bytes{1});
    cache.Open(path.c_str());
    EXPECT_EQ(cache.NextKey(), 45);
    EXPECT_EQ(AddPicture(cache, "new"), "45");
}

class UnlistableCache : public CObjectCache {
protected:
    HRESULT ListElements(IEnumSTATSTG**) override { return STG_E_ACCESSDENIED; }
};

TEST_F(ObjectCacheTest, UnlistableFileNeitherLosesNorOverwritesObjects) {
    MakeFileWithThreePictures();
    // Elements the digest map does not know: the next keys are taken.
    WriteElementStream(path, "3", Bytes{7, 7});
    WriteElementStream(path, "4", Bytes{8});

    UnlistableCache cache;
    cache.Open(path.c_str());
    ASSERT_TRUE(cache.IsOpen());
    CLSID classId = CLSID_NULL;
    EXPECT_NE(cache.Lookup("0", classId), nullptr);
    EXPECT_TRUE(IsEqualCLSID(classId, kStoredObjectClassId));
    EXPECT_EQ(AddPicture(cache, "p2"), "2");
    // Keys 3 and 4 were skipped, 5 went to the duplicate.
    EXPECT_EQ(AddPicture(cache, "fresh"), "6");
    cache.Close();
    EXPECT_EQ(ReadElementStream(path, "3"), Bytes({7, 7}));
    EXPECT_EQ(ReadElementStream(path, "4"), Bytes({8}));
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

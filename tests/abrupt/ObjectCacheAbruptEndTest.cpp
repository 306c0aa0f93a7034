// The object cache ended at random moments while it adds objects.
#include <gtest/gtest.h>

#include <set>

#include "plugin/logging/ObjectCache.h"
#include "plugin/storage/StorageDb.h"
#include "plugin/storage/StreamIO.h"
#include "tests/abrupt/AbruptEndRuns.h"
#include "tests/objcache/TestStoredObject.h"

using parleym::Bytes;
using parleym::CObjectCache;
using parleym::kStorageAccess;
using storetest::MessageCapture;

namespace {

// New pictures of varied sizes (small and large sectors), and every third
// add one already stored, whose copy the cache drops again.
TEST(ObjectCacheAbruptChild, AddsObjectsInALoop) {
    if (storetest::ChildFile().empty()) GTEST_SKIP() << "run by ObjectCacheAbruptEnds.EveryCompletedAddSurvives";
    storetest::SaveReport report;
    CoInitialize(nullptr);
    CObjectCache cache;
    cache.Open(storetest::ChildFile().c_str());
    if (!cache.IsOpen()) report.Fail("open");
    std::vector<std::string> added;
    for (int i = 0; i < 1000000; ++i) {
        std::string picture;
        if (i % 3 == 2) {
            picture = added[static_cast<std::size_t>(i) / 2];
        } else {
            picture = "run " + std::to_string(report.Run()) + " picture " + std::to_string(i) + " " +
                      std::string(static_cast<std::size_t>(i * 997 % 6000), static_cast<char>(i));
            added.push_back(picture);
        }
        report.Intent(Bytes(picture.begin(), picture.end()));
        IPersistStorage* object = objcache_test::CreateStoredObject(picture);
        std::string key;
        const int stored = cache.Add(object, key);
        object->Release();
        if (!stored) report.Fail("add " + std::to_string(i));
        report.Done();
    }
}

class ObjectCacheAbruptEnds : public ::testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }
    storetest::ScratchFolder folder{"objcache-abrupt"};
    MessageCapture messages;
};

TEST_F(ObjectCacheAbruptEnds, EveryCompletedAddSurvives) {
    const std::string path = folder.WinPath("objcache.dat");
    std::set<std::string> model;  // the pictures the file must hold
    abrupt_test::RunAbruptEnds("object cache", "ObjectCacheAbruptChild.AddsObjectsInALoop", path, 150,
                               [&](const storetest::EndedChild& child) {
        for (const Bytes& done : child.completed) model.insert(std::string(done.begin(), done.end()));
        const std::string pending(child.pending.begin(), child.pending.end());
        CObjectCache cache;
        cache.Open(path.c_str());
        if (!cache.IsOpen()) {
            ADD_FAILURE() << "the object cache does not open";
            return abrupt_test::Found::failed;
        }
        std::set<std::string> stored;
        for (const auto& pair : cache.Digests()) {
            CLSID classId;
            IStorage* object = cache.Lookup(pair.second, classId);
            if (!object) {
                ADD_FAILURE() << "key " << pair.second << " names no object";
                continue;
            }
            parleym::ComPtr<IStream> contents;
            Bytes picture;
            EXPECT_EQ(object->OpenStream(L"CONTENTS", nullptr, kStorageAccess, 0, contents.Put()), S_OK);
            if (contents) {
                EXPECT_EQ(parleym::ReadWholeStream(contents.Get(), picture), S_OK);
            }
            EXPECT_EQ(classId, objcache_test::kStoredObjectClassId);
            EXPECT_TRUE(stored.insert(std::string(picture.begin(), picture.end())).second)
                << "one picture under two keys";
        }
        for (const std::string& picture : model)
            EXPECT_EQ(stored.count(picture), 1u) << "a picture added before the end is gone";
        abrupt_test::Found found = abrupt_test::Found::old;
        for (const std::string& picture : stored) {
            if (model.count(picture)) continue;
            EXPECT_TRUE(child.inFlight && picture == pending) << "a picture never added";
            found = abrupt_test::Found::inFlight;
        }
        model = stored;
        return found;
    });
}

} // namespace

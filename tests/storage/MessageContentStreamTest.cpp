// Message content written to and read from a real stream.
#include <gtest/gtest.h>

#include "plugin/storage/Scoped.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/StorageDb.h"
#include "plugin/storage/StreamIO.h"
#include "tests/storage/StorageTestSupport.h"

using namespace storage_test;
using parleym::ComPtr;
using parleym::CMessageContent;
using parleym::kStorageAccess;
using parleym::kStorageReplace;

namespace {

class MessageContentStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(StgCreateDocfile(parleym::ToElementName(folder.Path("c.dat")).c_str(),
                                                  kStorageReplace, 0, root.Put()));
        ASSERT_HRESULT_SUCCEEDED(root->CreateStream(L"1", kStorageAccess, 0, 0, stream.Put()));
    }
    void Rewind() {
        LARGE_INTEGER zero = {};
        stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    }

    ComEnvironment com;
    TempFolder folder;
    ComPtr<IStorage> root;
    ComPtr<IStream> stream;
};

TEST_F(MessageContentStreamTest, RecordsFollowEachOtherInOneStream) {
    CMessageContent first;
    first.text = "{\\rtf1 a b}";
    first.AddObject(2, "13");
    CMessageContent second;
    second.isRtf = 0;
    second.text = "plain";
    ASSERT_HRESULT_SUCCEEDED(first.Write(stream.Get()));
    ASSERT_HRESULT_SUCCEEDED(second.Write(stream.Get()));

    Rewind();
    CMessageContent a, b;
    ASSERT_HRESULT_SUCCEEDED(a.Read(stream.Get()));
    ASSERT_HRESULT_SUCCEEDED(b.Read(stream.Get()));
    EXPECT_EQ(a.text, first.text);
    ASSERT_EQ(a.objects.size(), 1u);
    EXPECT_EQ(a.objects[0].position, 2);
    EXPECT_EQ(a.objects[0].key, "13");
    EXPECT_EQ(b.isRtf, 0);
    EXPECT_EQ(b.text, "plain");
    EXPECT_TRUE(b.objects.empty());
}

TEST_F(MessageContentStreamTest, CutShortRecordFailsAndKeepsContent) {
    CMessageContent written;
    written.text = "hello";
    written.AddObject(1, "2");
    ASSERT_HRESULT_SUCCEEDED(written.Write(stream.Get()));
    ULARGE_INTEGER shorter;
    shorter.QuadPart = 20;
    stream->SetSize(shorter);

    Rewind();
    CMessageContent target;
    target.text = "kept";
    EXPECT_EQ(target.Read(stream.Get()), STG_E_READFAULT);
    EXPECT_EQ(target.text, "kept");
    // The stream stays where the record began.
    LARGE_INTEGER zero = {};
    ULARGE_INTEGER position = {};
    stream->Seek(zero, STREAM_SEEK_CUR, &position);
    EXPECT_EQ(position.QuadPart, 0u);
}

} // namespace

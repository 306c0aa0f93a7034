// The "messages" byte layout and its refusal of anything this store would not write.
#include <gtest/gtest.h>

#include "plugin/offline/OfflineMessagesCodec.h"

using namespace parleym;

namespace {
CMessageContent Plain(const std::string& text) {
    CMessageContent content;
    content.isRtf = 0;
    content.text = text;
    return content;
}

PendingMessages Sample() {
    PendingMessages pending;
    pending["bob@x"].push_back(Plain("first"));
    pending["bob@x"].push_back(Plain("second"));
    CMessageContent rich;
    rich.text = "{\\rtf1 x}";
    rich.AddObject(3, "17");
    pending["Bob@x"].push_back(rich);
    return pending;
}
} // namespace

TEST(OfflineCodec, LayoutAndRoundTrip) {
    PendingMessages one;
    one["ab"].push_back(Plain("hi"));
    const Bytes expected = {1, 0, 0, 0, 2, 0, 0, 0, 'a', 'b', 1, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 'h', 'i', 0, 0, 0, 0};
    EXPECT_EQ(EncodeOfflineMessages(one), expected);
    EXPECT_EQ(EncodeOfflineMessages(PendingMessages()), Bytes({0, 0, 0, 0}));

    PendingMessages decoded;
    ASSERT_TRUE(DecodeOfflineMessages(EncodeOfflineMessages(Sample()), decoded));
    ASSERT_EQ(decoded.size(), 2u);
    const OfflineMessageList& bob = decoded["bob@x"];
    ASSERT_EQ(bob.size(), 2u);
    EXPECT_EQ(bob.front().text, "first");
    EXPECT_EQ(bob.back().text, "second");
    EXPECT_EQ(bob.front().isRtf, 0);
    const CMessageContent& rich = decoded["Bob@x"].front();
    EXPECT_EQ(rich.isRtf, 1);
    ASSERT_EQ(rich.objects.size(), 1u);
    EXPECT_EQ(rich.objects[0].position, 3);
    EXPECT_EQ(rich.objects[0].key, "17");
}

TEST(OfflineCodec, NamesEndAtZeroAndRepeatedBlocksJoin) {
    BinaryWriter writer;
    writer.PutInt32(2);
    for (const char* text : {"one", "two"}) {
        writer.PutString(std::string("bob\0junk", 8));
        writer.PutInt32(1);
        Plain(text).Encode(writer);
    }
    PendingMessages decoded;
    ASSERT_TRUE(DecodeOfflineMessages(writer.Data(), decoded));
    ASSERT_EQ(decoded.size(), 1u);
    ASSERT_EQ(decoded["bob"].size(), 2u);
    EXPECT_EQ(decoded["bob"].back().text, "two");
}

TEST(OfflineCodec, EmptyStreamHoldsNothingAndDamageIsRefused) {
    PendingMessages decoded;
    EXPECT_TRUE(DecodeOfflineMessages(Bytes(), decoded));
    EXPECT_TRUE(decoded.empty());

    const Bytes good = EncodeOfflineMessages(Sample());
    for (std::size_t cut = 1; cut < good.size(); ++cut) {
        EXPECT_FALSE(DecodeOfflineMessages(Bytes(good.begin(), good.begin() + cut), decoded)) << cut;
        EXPECT_TRUE(decoded.empty());
    }
    Bytes trailing = good;
    trailing.push_back(0);
    EXPECT_FALSE(DecodeOfflineMessages(trailing, decoded));
    Bytes negativeCount = good;
    negativeCount[3] = 0x80;
    EXPECT_FALSE(DecodeOfflineMessages(negativeCount, decoded));
    Bytes hugeName = good;
    hugeName[6] = 0x7F; // first name length
    EXPECT_FALSE(DecodeOfflineMessages(hugeName, decoded));
}

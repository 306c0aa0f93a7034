// Reading "messages" streams: names, repeated blocks, and refusal of anything this store would not write.
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

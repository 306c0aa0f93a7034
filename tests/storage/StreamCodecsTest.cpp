// How the stream decoders treat damaged data (exact layouts are checked on
// real files by check_file_layout.py).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "plugin/logging/ConversationIndexCodec.h"
#include "plugin/logging/DigestMapCodec.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/UserIdsCodec.h"

using parleym::Bytes;
using parleym::CMessageContent;
using parleym::LogEntry;

namespace {

Bytes Le32(std::initializer_list<std::int32_t> values) {
    parleym::BinaryWriter out;
    for (std::int32_t v : values) out.PutInt32(v);
    return out.Take();
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes EncodeContent(const CMessageContent& content) {
    parleym::BinaryWriter out;
    content.Encode(out);
    return out.Take();
}

bool DecodeContent(const Bytes& data, CMessageContent& content) {
    parleym::BinaryReader in(data);
    return content.Decode(in);
}

TEST(MessageContentCodec, LayoutAndEmptyContent) {
    CMessageContent content;
    content.isRtf = 0;
    content.text = "hi :)";
    content.AddObject(3, "13");
    EXPECT_EQ(EncodeContent(content), Concat({Le32({0, 5}), Text("hi :)"), Le32({1, 3, 2}), Text("13")}));

    // An empty record replaces whatever the content held.
    CMessageContent target;
    target.text = "old";
    target.AddObject(1, "4");
    ASSERT_TRUE(DecodeContent(Le32({1, 0, 0}), target));
    EXPECT_EQ(target.isRtf, 1);
    EXPECT_TRUE(target.text.empty());
    EXPECT_TRUE(target.objects.empty());
}

// Every codec: each cut-short copy of a valid record fails and leaves the
// target as it was; counts and lengths beyond the data fail without
// allocating for them.
struct CodecCase {
    const char* name;
    Bytes valid;
    // Decodes into a target pre-filled with a marker; true when the decode
    // succeeded, `untouched` whether the marker survived.
    std::function<bool(const Bytes&, bool& untouched)> decode;
};

std::vector<CodecCase> Cases() {
    parleym::UserIdsRecord users;
    users.lastUserId = 2;
    users.entries = {{"a", 1}, {"bb", 2}};
    CMessageContent content;
    content.text = "{\\rtf1 x}";
    content.AddObject(0, "2");
    content.AddObject(5, "44");
    parleym::ConversationIndex index;
    index.entries = {LogEntry{1, 2, "c", 1}, LogEntry{3, 4, "dd", 2}};

    return {
        {"userids", parleym::EncodeUserIds(users),
         [](const Bytes& data, bool& untouched) {
             parleym::UserIdsRecord target;
             target.lastUserId = -5;
             const bool ok = parleym::DecodeUserIds(data, target);
             untouched = target.lastUserId == -5 && target.entries.empty();
             return ok;
         }},
        {"content", EncodeContent(content),
         [](const Bytes& data, bool& untouched) {
             CMessageContent target;
             target.text = "marker";
             const bool ok = DecodeContent(data, target);
             untouched = target.text == "marker" && target.objects.empty();
             return ok;
         }},
        {"conversations", parleym::EncodeConversationIndex(index),
         [](const Bytes& data, bool& untouched) {
             parleym::ConversationIndex target;
             target.nextNumber = -5;
             const bool ok = parleym::DecodeConversationIndex(data, target);
             untouched = target.nextNumber == -5 && target.entries.empty();
             return ok;
         }},
    };
}

TEST(StreamCodecs, EveryTruncationFailsAndLeavesTargetAlone) {
    for (const CodecCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        bool untouched = false;
        EXPECT_TRUE(c.decode(c.valid, untouched));
        for (std::size_t size = 0; size < c.valid.size(); ++size) {
            const Bytes cut(c.valid.begin(), c.valid.begin() + static_cast<std::ptrdiff_t>(size));
            EXPECT_FALSE(c.decode(cut, untouched)) << "size " << size;
            EXPECT_TRUE(untouched) << "size " << size;
        }
    }
}

TEST(StreamCodecs, ImplausibleCountsAndLengthsFail) {
    bool untouched = false;
    const auto cases = Cases();
    // userids: a count of 2^31-1 entries in 8 bytes; a negative name length.
    EXPECT_FALSE(cases[0].decode(Le32({1, 0x7FFFFFFF}), untouched));
    EXPECT_FALSE(cases[0].decode(Le32({1, 1, -1, 1}), untouched));
    EXPECT_FALSE(cases[0].decode(Le32({1, -1}), untouched));
    // content: text longer than the data; object count beyond the data.
    EXPECT_FALSE(cases[1].decode(Le32({1, 1000, 0}), untouched));
    EXPECT_FALSE(cases[1].decode(Le32({1, 0, 0x10000000}), untouched));
    // conversations: entries need 24 bytes each.
    EXPECT_FALSE(cases[2].decode(Concat({Le32({1, 1, 1}), Bytes(23, 0)}), untouched));
}

// Two accounts in one storage would read and write each other's data.
TEST(StreamCodecs, UserIdsMappingTwoAccountsToOneStorageIsDamaged) {
    parleym::UserIdsRecord shared;
    shared.lastUserId = 2;
    shared.entries = {{"amy", 2}, {"bob", 2}};
    parleym::UserIdsRecord target;
    target.lastUserId = -5;
    EXPECT_FALSE(parleym::DecodeUserIds(parleym::EncodeUserIds(shared), target));
    EXPECT_EQ(target.lastUserId, -5);
    shared.entries[1].number = 1;
    EXPECT_TRUE(parleym::DecodeUserIds(parleym::EncodeUserIds(shared), target));
    EXPECT_EQ(target.entries.size(), 2u);
}

// The map's count is rewritten after each appended pair, so a cut leaves it
// ahead of or behind the pairs: every complete pair is kept, one cut short is
// dropped, and only a map without even its count fails.
TEST(StreamCodecs, DigestMapKeepsTheCompletePairsWhateverItsCount) {
    const std::string b(32, 'b'), c(32, 'c');
    const parleym::DigestMap both{{b, "3"}, {c, "4"}};
    const Bytes valid = parleym::EncodeDigestMap(both);
    const std::size_t firstPairEnd = 4 + 4 + 32 + 4 + 1;
    for (std::size_t size = 0; size <= valid.size(); ++size) {
        SCOPED_TRACE(size);
        const Bytes cut(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(size));
        parleym::DigestMap target{{"marker", "1"}};
        if (size < 4) {
            EXPECT_FALSE(parleym::DecodeDigestMap(cut, target));
            EXPECT_EQ(target.count("marker"), 1u);
            continue;
        }
        bool regular = true;
        ASSERT_TRUE(parleym::DecodeDigestMap(cut, target, &regular));
        const std::size_t expected = size == valid.size() ? 2 : size >= firstPairEnd ? 1 : 0;
        EXPECT_EQ(target.size(), expected);
        EXPECT_EQ(target.count("marker"), 0u);
        // Only the whole map may have pairs appended after it.
        EXPECT_EQ(regular, size == valid.size());
    }
    for (std::int32_t count : {0, 1, 3, 0x7FFFFFFF, -1}) {
        Bytes recounted = valid;
        const Bytes le = Le32({count});
        std::copy(le.begin(), le.end(), recounted.begin());
        parleym::DigestMap target;
        bool regular = true;
        ASSERT_TRUE(parleym::DecodeDigestMap(recounted, target, &regular)) << count;
        EXPECT_EQ(target, both) << count;
        EXPECT_FALSE(regular) << count;
    }
    // An append cut after the stream grew leaves zeros: the pairs before them
    // are kept, nothing names an empty key, and the map is to be written anew.
    for (std::size_t zeros : {1u, 4u, 8u, 40u}) {
        Bytes grown = valid;
        grown.insert(grown.end(), zeros, 0);
        parleym::DigestMap target;
        bool regular = true;
        ASSERT_TRUE(parleym::DecodeDigestMap(grown, target, &regular)) << zeros;
        EXPECT_EQ(target, both) << zeros;
        EXPECT_FALSE(regular) << zeros;
    }
    // Pairs in another order than the encoder's are as good; a digest twice
    // (the later pair wins) or bytes after the last pair are not.
    {
        parleym::BinaryWriter out;
        out.PutInt32(2);
        for (const auto& pair : {std::make_pair(c, std::string("4")), std::make_pair(b, std::string("3"))}) {
            out.PutString(pair.first);
            out.PutString(pair.second);
        }
        parleym::DigestMap target;
        bool regular = false;
        ASSERT_TRUE(parleym::DecodeDigestMap(out.Data(), target, &regular));
        EXPECT_EQ(target, both);
        EXPECT_TRUE(regular);
        Bytes trailing = out.Data();
        trailing.push_back(0);
        ASSERT_TRUE(parleym::DecodeDigestMap(trailing, target, &regular));
        EXPECT_EQ(target, both);
        EXPECT_FALSE(regular);
    }
    {
        parleym::BinaryWriter out;
        out.PutInt32(2);
        for (const char* key : {"3", "5"}) {
            out.PutString(b);
            out.PutString(key);
        }
        parleym::DigestMap target;
        bool regular = true;
        ASSERT_TRUE(parleym::DecodeDigestMap(out.Data(), target, &regular));
        EXPECT_EQ(target, (parleym::DigestMap{{b, "5"}}));
        EXPECT_FALSE(regular);
    }
    // A key length pointing past the end is a pair cut short.
    parleym::DigestMap target;
    EXPECT_TRUE(parleym::DecodeDigestMap(Le32({1, 0, 0x7FFFFFFF}), target));
    EXPECT_TRUE(target.empty());
}

} // namespace

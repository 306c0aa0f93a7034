// Conversions between emoticon objects and their text codes.
#include <gtest/gtest.h>

#include <set>

#include "plugin/logging/EmoticonCodes.h"
#include "plugin/storage/MessageContent.h"

using parleym::ConvertCodesToObjects;
using parleym::ConvertObjectsToCodes;
using parleym::CMessageContent;

namespace {

const char kSmile[] = "824ba3217a9690693ae81e590e85b365";
const char kThumbsUp[] = "0b7dc3e3dce63d0d273d3026ce445e2e";

TEST(EmoticonCodes, TablesCoverTheStandardEmoticons) {
    EXPECT_EQ(parleym::EmoticonTable().size(), 75u);
    std::set<std::string> digests;
    for (const auto& entry : parleym::EmoticonTable()) digests.insert(entry.digest);
    EXPECT_EQ(digests.size(), 43u);
    EXPECT_STREQ(parleym::EmoticonCodeForKey("2"), "(Y)");
    EXPECT_STREQ(parleym::EmoticonCodeForKey("13"), ":-)");
    EXPECT_STREQ(parleym::EmoticonCodeForKey("20"), ":-|");
    EXPECT_STREQ(parleym::EmoticonCodeForKey("44"), "(O)");
    for (const char* key : {"0", "1", "45", "02", "", "x", "-2"}) EXPECT_EQ(parleym::EmoticonCodeForKey(key), nullptr);
}

TEST(EmoticonCodes, ObjectsBecomeCodesAtTheirPlaces) {
    CMessageContent content;
    content.isRtf = 0;
    content.text = "a b c d";
    content.AddObject(2, "13");  // smile over the first placeholder
    content.AddObject(4, "2");   // thumbs up over the second
    content.AddObject(6, "99");  // no code: its placeholder stays
    ConvertObjectsToCodes(content);
    EXPECT_EQ(content.text, "a :-) (Y) d");
    EXPECT_TRUE(content.objects.empty());
}

TEST(EmoticonCodes, ReferencesOutsideTheTextAreDroppedSafely) {
    CMessageContent content;
    content.isRtf = 0;
    content.text = "ab";
    content.AddObject(2, "13");
    content.AddObject(-1, "2");
    content.AddObject(0x7FFFFFFF, "3");
    content.AddObject(0, "4");
    ConvertObjectsToCodes(content);
    EXPECT_EQ(content.text, "(B)b");
    EXPECT_TRUE(content.objects.empty());
}

TEST(EmoticonCodes, CodesBecomeObjectsAtFirstOccurrenceOnly) {
    const std::map<std::string, std::string> digests{{kSmile, "13"}, {kThumbsUp, "2"}};
    CMessageContent content;
    content.isRtf = 0;
    content.text = "x :) y (Y) z :)";
    ConvertCodesToObjects(content, digests);
    // Each code once: the second ":)" stays text.
    EXPECT_EQ(content.text, "x   y   z :)");
    ASSERT_EQ(content.objects.size(), 2u);
    // "(Y)" comes first in the table; converting ":)" later moves its placeholder left by one.
    EXPECT_EQ(content.objects[0].key, "2");
    EXPECT_EQ(content.objects[0].position, 6);
    EXPECT_EQ(content.objects[1].key, "13");
    EXPECT_EQ(content.objects[1].position, 2);
    EXPECT_EQ(content.text[6], ' ');

    content.objects.clear();
    content.text = "x :) y (Y) z :)";
    content.AddObject(13, "7");  // an existing reference after both codes
    ConvertCodesToObjects(content, digests);
    EXPECT_EQ(content.objects[0].position, 13 - 2 - 1);
    EXPECT_EQ(content.text.substr(10), ":)");
}

TEST(EmoticonCodes, CodeWithoutCachedPictureStaysText) {
    CMessageContent content;
    content.isRtf = 0;
    content.text = "hi :-) (Y)";
    ConvertCodesToObjects(content, {{kThumbsUp, "2"}});
    EXPECT_EQ(content.text, "hi :-)  ");
    ASSERT_EQ(content.objects.size(), 1u);
    EXPECT_EQ(content.objects[0].position, 7);
}

TEST(EmoticonCodes, RoundTripRestoresText) {
    const std::map<std::string, std::string> digests{{kSmile, "13"}, {kThumbsUp, "2"}};
    CMessageContent content;
    content.isRtf = 0;
    content.text = "(Y) well :-) done";
    ConvertCodesToObjects(content, digests);
    ConvertObjectsToCodes(content);
    EXPECT_EQ(content.text, "(Y) well :-) done");
}

} // namespace

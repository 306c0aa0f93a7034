// The stand-in's scenario reader and emoticon table: what every bench test relies on.
#include "testbench/standin/EmoticonTable.h"
#include "testbench/standin/Scenario.h"

#include <gtest/gtest.h>

#include <set>

namespace standin {
namespace {

TEST(ScenarioText, WordsQuotesOptionsAndComments) {
    Scenario scenario = ParseScenario(
        "# comment\r\n"
        "  signin alice@example.com \"Alice \\\"A\\\"\" hr=0x81000301\r\n"
        "\r\n"
        "receive bob \"a=b :-)\\nline\" caption=\"Two words\" edit=1:x edit=2:y\n"
        "type bob \"\"");
    ASSERT_TRUE(scenario.errors.empty());
    ASSERT_EQ(scenario.steps.size(), 3u);
    const Step& signin = scenario.steps[0];
    EXPECT_EQ(signin.line, 2);
    EXPECT_EQ(signin.command, "signin");
    ASSERT_EQ(signin.args.size(), 2u);
    EXPECT_EQ(signin.args[1], "Alice \"A\"");
    EXPECT_EQ(signin.Option("hr"), "0x81000301");
    EXPECT_EQ(signin.source, "signin alice@example.com \"Alice \\\"A\\\"\" hr=0x81000301");

    const Step& receive = scenario.steps[1];
    ASSERT_EQ(receive.args.size(), 2u);
    EXPECT_EQ(receive.args[1], "a=b :-)\nline");  // quoted text with '=' stays an argument
    EXPECT_EQ(receive.Option("caption"), "Two words");
    EXPECT_EQ(receive.options.count("edit"), 2u);

    ASSERT_EQ(scenario.steps[2].args.size(), 2u);
    EXPECT_EQ(scenario.steps[2].args[1], "");
}

TEST(ScenarioText, UnterminatedQuoteIsReportedAndSkipped) {
    Scenario scenario = ParseScenario("signin a\nreceive bob \"never closed\nsignout\n");
    ASSERT_EQ(scenario.errors.size(), 1u);
    EXPECT_EQ(scenario.errors[0], "line 2: unterminated quote");
    ASSERT_EQ(scenario.steps.size(), 2u);
    EXPECT_EQ(scenario.steps[1].command, "signout");
}

TEST(Emoticons, LongestCodeWinsAndAliasesShareAPicture) {
    std::vector<TextPiece> pieces = SplitEmoticons("hi :-) and :) (y)(Y):-|x:$");
    std::vector<std::string> texts;
    std::vector<int> pictures;
    for (const TextPiece& piece : pieces) {
        texts.push_back(piece.text);
        pictures.push_back(piece.picture);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"hi ", ":-)", " and ", ":)", " ", "(y)", "(Y)", ":-|", "x", ":$"}));
    EXPECT_EQ(pictures[1], pictures[3]);
    EXPECT_EQ(pictures[5], pictures[6]);
    EXPECT_EQ(EmoticonCode(pictures[1]), ":-)");
    EXPECT_EQ(EmoticonCode(pictures[5]), "(Y)");
    EXPECT_EQ(EmoticonPictureOf(":-$"), EmoticonPictureOf(":$"));
    EXPECT_EQ(EmoticonPictureOf("(Q)"), -1);
    EXPECT_TRUE(SplitEmoticons("").empty());
}

// The object cache tells pictures apart by the digest of their saved data, so every
// picture must save different bytes, and each must read back as itself.
TEST(Emoticons, EveryPictureSavesDistinctDataThatReadsBack) {
    std::set<std::vector<uint8_t>> contents, pixels;
    for (int picture = 0; picture < kEmoticonPictureCount; ++picture) {
        std::vector<uint8_t> data = EmoticonContents(picture);
        EXPECT_EQ(ParseEmoticonContents(data), picture);
        contents.insert(data);
        pixels.insert(EmoticonPixels(picture));
    }
    EXPECT_EQ(contents.size(), static_cast<size_t>(kEmoticonPictureCount));
    EXPECT_EQ(pixels.size(), static_cast<size_t>(kEmoticonPictureCount));
}

TEST(Emoticons, DamagedContentsAreRefused) {
    std::vector<uint8_t> data = EmoticonContents(5);
    std::vector<uint8_t> truncated(data.begin(), data.end() - 1);
    EXPECT_EQ(ParseEmoticonContents(truncated), -1);
    std::vector<uint8_t> wrongMagic = data;
    wrongMagic[0] = 'X';
    EXPECT_EQ(ParseEmoticonContents(wrongMagic), -1);
    std::vector<uint8_t> badPicture = data;
    badPicture[8] = static_cast<uint8_t>(kEmoticonPictureCount);
    EXPECT_EQ(ParseEmoticonContents(badPicture), -1);
    EXPECT_EQ(ParseEmoticonContents({}), -1);
}

}  // namespace
}  // namespace standin

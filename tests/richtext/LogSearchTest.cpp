// Finding text in logged conversations: what counts as the same letter, where
// a match lies in the control, snippets, the cache and the conversation loop.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/logging/LogSearch.h"
#include "tests/richtext/CodePageSamples.h"

using namespace parleym;

namespace {

std::vector<std::int32_t> Positions(const std::vector<TextMatch>& matches) {
    std::vector<std::int32_t> positions;
    for (const TextMatch& match : matches) positions.push_back(match.position);
    return positions;
}

std::vector<TextMatch> Find(const std::string& query, const std::string& text, CaseRules rules = CaseRules::kDefault) {
    FoldedText scratch;
    return TextQuery(query, rules).FindIn(text, scratch);
}

// The matched texts, as they stand in `text`.
std::vector<std::string> Matched(const std::vector<TextMatch>& matches, const std::string& text) {
    std::vector<std::string> found;
    for (const TextMatch& match : matches) found.push_back(text.substr(match.offset, match.size));
    return found;
}

LogEntry Entry(std::int32_t number, const char* contact, double start) {
    return LogEntry{start, start + 0.01, contact, number};
}

} // namespace

TEST(LogSearch, FoldsTheLettersOfTheLogCodePageAndKeepsOffsets) {
    // Windows-1252 letters both ways, Latin Extended-A, Greek and Cyrillic.
    const std::string upper = "CAF\xC3\x89 \xC5\x92UVRE \xC5\xA0KODA \xC5\xB8 \xC4\x8C \xCE\xA3 \xD0\x96\xD0\x81";
    const std::string lower = "caf\xC3\xA9 \xC5\x93uvre \xC5\xA1koda \xC3\xBF \xC4\x8D \xCF\x83 \xD0\xB6\xD1\x91";
    std::string folded;
    FoldCase(upper, folded);
    EXPECT_EQ(folded, lower);
    FoldCase(lower, folded);
    EXPECT_EQ(folded, lower);
    // Signs, the multiplication sign, the sharp s, the dotless i, other
    // scripts and broken bytes are left as they are.
    const std::string kept = "\xC3\x97\xC3\x9F\xC4\xB1\xE6\x97\xA5\xF0\x9F\x98\x80\xFF\xC3";
    FoldCase(kept, folded);
    EXPECT_EQ(folded, kept);
    EXPECT_EQ(FoldCharacter(0x178), 0xFFu);
    EXPECT_EQ(FoldCharacter(0x139), 0x13Au);  // odd capitals in the middle of the block
    EXPECT_EQ(FoldCharacter(0x13A), 0x13Au);
    // Greek accented capitals and final sigma, Cyrillic beyond Russian,
    // Vietnamese letters, fullwidth Latin.
    for (const auto& pair : std::vector<std::pair<std::uint32_t, std::uint32_t>>{
             {0x388, 0x3AD}, {0x38F, 0x3CE}, {0x3C2, 0x3C3}, {0x490, 0x491}, {0x4C1, 0x4C2}, {0x1A0, 0x1A1},
             {0x1EA0, 0x1EA1}, {0x1EF8, 0x1EF9}, {0xFF21, 0xFF41}, {0x130, 'i'}})
        EXPECT_EQ(FoldCharacter(pair.first), pair.second) << std::hex << pair.first;
    EXPECT_EQ(FoldCharacter('I', CaseRules::kTurkish), 0x131u);
    EXPECT_EQ(FoldCharacter(0x130, CaseRules::kTurkish), static_cast<std::uint32_t>('i'));
    EXPECT_EQ(CaseRulesOf(1254), CaseRules::kTurkish);
    EXPECT_EQ(CaseRulesOf(1252), CaseRules::kDefault);
}

TEST(LogSearch, MatchesAnyCaseAtControlPositions) {
    // Two lines, an object before the match and a character beyond the first
    // plane (two units in the control): positions are the control's.
    const std::string text = "Bob says:\n\xEF\xBF\xBC \xF0\x9F\x98\x80 H\xC3\xA9llo h\xC3\x89LLO h\xC3\xA9llo hello\n";
    const std::vector<TextMatch> matches = Find("H\xC3\xA9LLO", text);
    ASSERT_EQ(matches.size(), 3u);
    EXPECT_EQ(Positions(matches), (std::vector<std::int32_t>{15, 21, 27}));
    EXPECT_EQ(matches[0].length, 5);
    EXPECT_EQ(text.substr(matches[1].offset, matches[1].size), "h\xC3\x89LLO");
    // Overlapping candidates: each match starts after the one before.
    EXPECT_EQ(Positions(Find("aa", "aaaaa")), (std::vector<std::int32_t>{0, 2}));
    EXPECT_TRUE(Find("", "anything").empty());
    EXPECT_TRUE(Find("longer than", "short").empty());
    EXPECT_TRUE(Find("cafe", "caf\xC3\xA9").empty());  // accents are letters of their own
}

TEST(LogSearch, PlainTextOfStoredContentAsTheControlShowsIt) {
    // Stored RTF goes through the reader; its \'hh bytes are Windows-1252.
    const std::string rtf =
        "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0 Arial;}}\\pard Bob says:\\par\\tab \\'80 Caf\\'c9\\par}";
    EXPECT_EQ(ConversationPlainText(rtf, true), "Bob says:\n\t\xE2\x82\xAC Caf\xC3\x89\n");
    // Plain text: one break for CR LF, as the control keeps it, in the page given.
    EXPECT_EQ(ConversationPlainText("a\r\nb\rc\n\x80\xE9", false, 1252), "a\nb\nc\n\xE2\x82\xAC\xC3\xA9");
    const std::string plain = ConversationPlainText("one\r\ntwo CAF\xC9", false, 1252);
    const std::vector<TextMatch> matches = Find("caf\xC3\xA9", plain);
    ASSERT_EQ(matches.size(), 1u);
    EXPECT_EQ(matches[0].position, 8);
    EXPECT_EQ(ConversationPlainText("\x8A\xFF", false, 1252), "\xC5\xA0\xC3\xBF");
    EXPECT_EQ(ConversationPlainText("\x8A\xFF", false, 1251), "\xD0\x89\xD1\x8F");
}

TEST(LogSearch, FindsInEveryCodePageAtTheControlsPositions) {
    for (const auto& sample : parleym_test::kCodePageSamples) {
        SCOPED_TRACE(sample.page);
        const std::string stored = parleym_test::RichEditHistory(sample.page, sample.charset, 0, sample.escapes);
        const std::string plainStored = parleym_test::BytesOf(sample.escapes);
        for (const std::string& text : {ConversationPlainText(stored, true, 1252),
                                        ConversationPlainText(plainStored, false, sample.page)}) {
            const std::vector<TextMatch> matches = Find(sample.query, text, CaseRulesOf(sample.page));
            ASSERT_EQ(matches.size(), static_cast<std::size_t>(sample.matches)) << text;
            std::string folded, query;
            FoldCase(sample.query, query, CaseRulesOf(sample.page));
            for (const TextMatch& match : matches) {
                FoldCase(text.substr(match.offset, match.size), folded, CaseRulesOf(sample.page));
                EXPECT_EQ(folded, query);
                // Where the control has it: what comes before, counted as the control counts.
                EXPECT_EQ(match.position, parleym_test::ControlLength(text.substr(0, match.offset)));
                EXPECT_EQ(match.length, parleym_test::ControlLength(sample.query));
            }
        }
    }
}

TEST(LogSearch, TurkishLettersAndDoubleByteCharacters) {
    // Turkish pairs I with ı and İ with i; lengths change, matches stay on
    // the original text.
    const std::string text = "\xC4\xB0stanbul ILIK \xC4\xB1l\xC4\xB1k Ilik";
    const std::string dotless = "\xC4\xB1l\xC4\xB1k";
    std::vector<TextMatch> matches = Find(dotless, text, CaseRules::kTurkish);
    EXPECT_EQ(Matched(matches, text), (std::vector<std::string>{"ILIK", dotless}));
    EXPECT_EQ(Positions(matches), (std::vector<std::int32_t>{9, 14}));
    EXPECT_EQ(Matched(Find("ISTANBUL", text, CaseRules::kTurkish), text), std::vector<std::string>{});
    EXPECT_EQ(Matched(Find("\xC4\xB0STANBUL", text, CaseRules::kTurkish), text),
              std::vector<std::string>{"\xC4\xB0stanbul"});
    matches = Find("istanbul", text, CaseRules::kTurkish);
    ASSERT_EQ(matches.size(), 1u);
    EXPECT_EQ(matches[0].size, 9u);
    EXPECT_EQ(matches[0].length, 8);
    EXPECT_EQ(Matched(Find("ilik", text, CaseRules::kTurkish), text), std::vector<std::string>{});
    // Elsewhere I is the capital of i; İ still folds to i.
    EXPECT_EQ(Matched(Find("ilik", text), text), (std::vector<std::string>{"ILIK", "Ilik"}));
    EXPECT_EQ(Matched(Find("istanbul", text), text), std::vector<std::string>{"\xC4\xB0stanbul"});
    EXPECT_TRUE(Find(dotless, "ILIK").empty());

    // A character is never split: no backslash inside ソ or 許, no A inside ア,
    // and a query that is no whole character matches none.
    const std::string japanese = ConversationPlainText("\x83\x5C\x83\x41\x8B\x96", false, 932);
    EXPECT_EQ(japanese, "\xE3\x82\xBD\xE3\x82\xA2\xE8\xA8\xB1");
    EXPECT_TRUE(Find("\\", japanese).empty());
    EXPECT_TRUE(Find("a", japanese).empty());
    EXPECT_TRUE(Find("\x82", japanese).empty());
    EXPECT_TRUE(Find("\xBD\xE3", japanese).empty());
    EXPECT_EQ(Positions(Find("\xE8\xA8\xB1", japanese)), std::vector<std::int32_t>{2});
}

TEST(LogSearch, SnippetIsTheMatchLineCutAroundTheMatch) {
    const std::string text = "Bob says:\n  see you at the \xEF\xBF\xBC station\tat five\nCarol says:\n  ok\n";
    std::vector<TextMatch> matches = Find("station", text);
    ASSERT_EQ(matches.size(), 1u);
    std::size_t at = 0;
    const std::string snippet = MakeSnippet(text, matches[0], at);
    EXPECT_EQ(snippet, "see you at the   station at five");
    EXPECT_EQ(snippet.substr(at, 7), "station");

    // A long line is cut on character boundaries, with "..." where cut.
    std::string longLine;
    for (int i = 0; i < 60; ++i) longLine += "\xC3\xA9 ";
    const std::string text2 = longLine + "needle" + longLine;
    matches = Find("NEEDLE", text2);
    ASSERT_EQ(matches.size(), 1u);
    const std::string cut = MakeSnippet(text2, matches[0], at, 40);
    EXPECT_EQ(cut.substr(0, 3), "...");
    EXPECT_EQ(cut.substr(cut.size() - 3), "...");
    EXPECT_EQ(cut.substr(at, 6), "needle");
    EXPECT_LT(cut.size(), 100u);
    for (std::size_t i = 3; i < cut.size() - 3; ++i) {
        const unsigned char byte = static_cast<unsigned char>(cut[i]);
        if (byte == 0xC3) {
            EXPECT_EQ(static_cast<unsigned char>(cut[i + 1]), 0xA9u) << i;
        }
    }
    EXPECT_NE(static_cast<unsigned char>(cut[3]), 0xA9u);  // not cut inside a character
}

TEST(LogSearch, SearchVisitsEveryConversationAndKeepsTheFirstHits) {
    std::vector<LogEntry> entries = {Entry(1, "bob@x", 46000.5), Entry(2, "carol@x", 46001.5),
                                     Entry(3, "dave@x", 46002.5), Entry(4, "bob@x", 46003.5)};
    LogSearch search("Tea", entries, 3);
    EXPECT_EQ(search.Total(), 4u);
    std::vector<std::int32_t> visited;
    while (!search.Done()) {
        visited.push_back(search.Next().number);
        switch (search.Next().number) {
        case 1: search.Feed("tea? TEA!"); break;
        case 2: search.Feed("coffee"); break;
        case 3: search.Skip(); break;  // unreadable
        default: search.Feed("more tea"); break;
        }
    }
    EXPECT_EQ(visited, (std::vector<std::int32_t>{1, 2, 3, 4}));
    EXPECT_EQ(search.Unreadable(), 1u);
    EXPECT_EQ(search.MatchCount(), 3u);
    ASSERT_EQ(search.Hits().size(), 3u);
    EXPECT_FALSE(search.Truncated());
    EXPECT_EQ(search.Hits()[1].match.position, 5);
    EXPECT_EQ(search.Hits()[2].entry.contact, "bob@x");
    EXPECT_EQ(search.Hits()[2].entry.number, 4);
    EXPECT_EQ(search.Hits()[2].snippet, "more tea");

    LogSearch capped("a", entries, 2);
    while (!capped.Done()) capped.Feed("a a a");
    EXPECT_EQ(capped.MatchCount(), 12u);
    EXPECT_EQ(capped.Hits().size(), 2u);
    EXPECT_TRUE(capped.Truncated());

    LogSearch empty("", entries);
    EXPECT_TRUE(empty.Done());
    EXPECT_TRUE(empty.Hits().empty());
}

TEST(LogSearch, CacheForgetsWhatItIsTold) {
    LogTextCache cache;
    EXPECT_EQ(cache.Find(1), nullptr);
    cache.Put(1, "first");
    cache.Put(2, "second");
    EXPECT_EQ(cache.Bytes(), 11u);
    cache.Put(1, "again");  // replaces
    ASSERT_NE(cache.Find(1), nullptr);
    EXPECT_EQ(*cache.Find(1), "again");
    EXPECT_EQ(cache.Count(), 2u);
    cache.Forget(2);
    cache.Forget(7);
    EXPECT_EQ(cache.Find(2), nullptr);
    EXPECT_EQ(cache.Bytes(), 5u);
    cache.Clear();
    EXPECT_EQ(cache.Count(), 0u);
    EXPECT_EQ(cache.Bytes(), 0u);
}

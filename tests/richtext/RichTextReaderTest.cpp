// The rich-text reader against texts as Rich Edit controls write them in
// every code page, odd escapes, and damaged input; the code pages and UTF-8
// helpers it shares.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/logging/RichTextReader.h"
#include "tests/richtext/CodePageSamples.h"

using parleym::ReadRichText;
using parleym::RichText;
using parleym_test::kCodePageSamples;
using parleym_test::RichEditHistory;

namespace {

std::vector<std::int32_t> Positions(const RichText& read) {
    std::vector<std::int32_t> positions;
    for (const auto& object : read.objects) positions.push_back(object.position);
    return positions;
}

const char* const kObject = "\xEF\xBF\xBC";  // U+FFFC

} // namespace

TEST(RichTextReader, ReadsWhatWindowsRichEditWrites) {
    // A history line as the messenger's control streams it out without objects.
    const std::string rtf =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}"
        "{\\f1\\fnil\\fcharset2 Symbol;}}\r\n{\\colortbl ;\\red0\\green0\\blue255;\\red128\\green128\\blue128;}\r\n"
        "{\\*\\generator Msftedit 5.41.15.1515;}\\viewkind4\\uc1\\pard\\cf1\\f0\\fs20 Bob says:\\par\r\n"
        "\\cf0\\tab Caf\\'e9 \\'80 5 \\u8364?\\par\r\n}\r\n";
    const RichText read = ReadRichText(rtf);
    EXPECT_EQ(read.text, "Bob says:\n\tCaf\xC3\xA9 \xE2\x82\xAC 5 \xE2\x82\xAC\n");
    EXPECT_EQ(read.characters, 22);
    EXPECT_TRUE(read.objects.empty());
    EXPECT_TRUE(read.wellFormed);
}

TEST(RichTextReader, ReadsWhatWineRichEditWrites) {
    // Wine's control writes a font table, a colour table and a \ucN per run,
    // and its fallback for \uN is one or more \'hh bytes.
    const std::string rtf =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deftab720{\\fonttbl{\\f0\\fswiss\\fcharset0 Tahoma;}}\r\n"
        "{\\colortbl;\\red0\\green0\\blue0;}\r\n"
        "\\pard\\f0\\fs16\\uc1 hello \\u1087\\'3f\\u1088\\'3f\\uc2\\u26085\\'93\\'fa!\\line next\\par\r\n}";
    const RichText read = ReadRichText(rtf);
    EXPECT_EQ(read.text, "hello \xD0\xBF\xD1\x80\xE6\x97\xA5!\nnext\n");
    EXPECT_EQ(read.characters, 16);
    EXPECT_TRUE(read.wellFormed);
}

TEST(RichTextReader, ObjectsAndPicturesKeepTheirCharacterPositions) {
    // Positions as the control counts them: a paragraph is one character, a
    // surrogate pair two, an object one.
    const std::string rtf =
        "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}ab\\par "
        "{\\object\\objemb{\\*\\objclass Paint}{\\*\\objdata 0102}{\\result{\\pict\\wmetafile8 0a0b}}}"
        "\\u-10179?\\u-8704?x{\\pict\\pngblip\\picw10 89504e47}\\'e9}";
    const RichText read = ReadRichText(rtf);
    EXPECT_EQ(read.text, std::string("ab\n") + kObject + "\xF0\x9F\x98\x80x" + kObject + "\xC3\xA9");
    EXPECT_EQ(Positions(read), (std::vector<std::int32_t>{3, 7}));
    ASSERT_EQ(read.objects.size(), 2u);
    EXPECT_EQ(read.text.compare(read.objects[0].offset, 3, kObject), 0);
    EXPECT_EQ(read.text.compare(read.objects[1].offset, 3, kObject), 0);
    EXPECT_EQ(read.characters, 9);
    // Positions stored with the log map back onto the text.
    EXPECT_EQ(parleym::Utf8OffsetOf(read.text, 7), read.objects[1].offset);
    EXPECT_EQ(parleym::Utf8OffsetOf(read.text, 8), read.objects[1].offset + 3);
    EXPECT_EQ(parleym::Utf8OffsetOf(read.text, 100), read.text.size());
    EXPECT_EQ(parleym::Utf8OffsetOf(read.text, -1), 0u);
}

TEST(RichTextReader, ControlSymbolsAndEscapes) {
    const RichText read = ReadRichText(
        "{\\rtf1 a\\\\b\\{c\\}d\\~e\\_f\\-g\\emdash\\lquote q\\rquote\\bullet\\'4a\\'4 \\'zz|\\\r\nz}");
    EXPECT_EQ(read.text, "a\\b{c}d\xC2\xA0" "e\xE2\x80\x91" "fg\xE2\x80\x94\xE2\x80\x98q\xE2\x80\x99\xE2\x80\xA2J\x04 zz|\nz");
    // The delimiter space belongs to the control word; a second one is text.
    EXPECT_EQ(ReadRichText("{\\rtf1\\b  bold\\b0 x}").text, " boldx");
    EXPECT_EQ(ReadRichText("{\\rtf1\\fs-20x\\li-y}").text, "x-y");
    // Bytes outside escapes go through the same code page; control bytes are layout.
    EXPECT_EQ(ReadRichText("{\\rtf1 \x93q\x94\x01\xE9}", 1252).text, "\xE2\x80\x9Cq\xE2\x80\x9D\xC3\xA9");
    EXPECT_EQ(ReadRichText("{\\rtf1\\ansicpg28591 \\'93}").text, "\xC2\x93");
}

TEST(RichTextReader, UnicodeFallbacksAreSkippedByTheirCount) {
    // \uc0 has no fallback, \uc2 two; a group end ends a pending fallback, and
    // \ucN applies to its group only.
    EXPECT_EQ(ReadRichText("{\\rtf1\\uc0\\u233 x}").text, "\xC3\xA9x");
    EXPECT_EQ(ReadRichText("{\\rtf1\\uc2\\u233\\'65\\'3fx}").text, "\xC3\xA9x");
    EXPECT_EQ(ReadRichText("{\\rtf1{\\uc3\\u233}abc}").text, "\xC3\xA9" "abc");
    EXPECT_EQ(ReadRichText("{\\rtf1{\\uc3 a}\\u233 bc}").text, "a\xC3\xA9" "c");
    // A control word counts as one fallback character.
    EXPECT_EQ(ReadRichText("{\\rtf1\\u233\\b x}").text, "\xC3\xA9x");
    // Out-of-range and lone surrogate values give the replacement character.
    EXPECT_EQ(ReadRichText("{\\rtf1\\uc0\\u70000 \\u-40000 \\u-9000 a\\u-8704 b}").text,
              "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" "a\xEF\xBF\xBD" "b");
}

TEST(RichTextReader, Utf8AndCodePagesAtTheirBoundaries) {
    std::string out;
    for (const std::uint32_t code : {0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xFFFFu, 0x10000u, 0x10FFFFu})
        parleym::AppendUtf8(out, code);
    EXPECT_EQ(out, "\x7F" "\xC2\x80" "\xDF\xBF" "\xE0\xA0\x80" "\xEF\xBF\xBF" "\xF0\x90\x80\x80"
                   "\xF4\x8F\xBF\xBF");
    std::size_t length = 0;
    EXPECT_EQ(parleym::DecodeUtf8("\xF0\x9F\x98\x80", 0, length), 0x1F600u);
    EXPECT_EQ(length, 4u);
    for (const char* broken : {"\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82", "\x80"}) {
        EXPECT_EQ(parleym::DecodeUtf8(broken, 0, length), parleym::kNotUtf8) << broken;
        EXPECT_EQ(length, 1u);
    }
    // Windows-1252's holes are the C1 codes, as Windows maps them; a lead
    // byte alone is the page's default character; pairs need their trail.
    const parleym::CodePage& western = *parleym::CodePage::Find(1252);
    EXPECT_EQ(western.Single(0x80), 0x20ACu);
    EXPECT_EQ(western.Single(0x81), 0x81u);
    EXPECT_EQ(western.Single(0x9F), 0x178u);
    EXPECT_EQ(western.Single(0xFF), 0xFFu);
    EXPECT_FALSE(western.IsDoubleByte());
    const parleym::CodePage& japanese = *parleym::CodePage::Find(932);
    EXPECT_TRUE(japanese.IsLeadByte(0x82));
    EXPECT_FALSE(japanese.IsLeadByte(0xA0));
    EXPECT_EQ(japanese.Single(0x82), 0x30FBu);
    EXPECT_EQ(japanese.Pair(0x82, 0xA0), 0x3042u);
    EXPECT_EQ(japanese.Pair(0x82, 0x00), 0u);
    EXPECT_EQ(japanese.Single(0xB1), 0xFF71u);  // halfwidth katakana: one byte
    EXPECT_EQ(parleym::CodePage::Find(1254)->Single(0xDD), 0x130u);
    EXPECT_EQ(parleym::CodePage::Find(874)->Single(0xA1), 0xE01u);
    EXPECT_EQ(parleym::CodePage::Find(949)->Pair(0xB0, 0xA1), 0xAC00u);
    EXPECT_EQ(parleym::CodePage::Find(936)->Single(0x80), 0x20ACu);
    EXPECT_EQ(parleym::CodePage::Find(950)->Pair(0xA4, 0x40), 0x4E00u);
    EXPECT_EQ(parleym::CodePage::Find(12345), nullptr);
    EXPECT_EQ(parleym::CodePage::Find(437), nullptr);  // a page the system has, but no log is in
    EXPECT_EQ(parleym::CodePage::Find(parleym::kUtf8CodePage), nullptr);
    EXPECT_EQ(parleym::CodePage::FindOrDefault(12345).Number(), parleym::SystemCodePage());
    // Fonts' character sets name their pages; the default set is the document's.
    EXPECT_EQ(parleym::CodePageOfCharset(204), 1251);
    EXPECT_EQ(parleym::CodePageOfCharset(128), 932);
    EXPECT_EQ(parleym::CodePageOfCharset(1), 0);
}

TEST(RichTextReader, EveryCodePageAsRichEditWritesIt) {
    for (const auto& sample : kCodePageSamples) {
        SCOPED_TRACE(sample.page);
        const std::string expected = parleym_test::HistoryText(sample.utf8);
        // The document's page and the font's set agree, as a control on that system writes them.
        RichText read = ReadRichText(RichEditHistory(sample.page, sample.charset, 0, sample.escapes));
        EXPECT_EQ(read.text, expected);
        EXPECT_EQ(read.characters, parleym_test::ControlLength(expected));
        EXPECT_EQ(read.codePage, sample.page);
        EXPECT_TRUE(read.wellFormed);
        // The font's set decides over the document's page; a font's \cpg over its set.
        EXPECT_EQ(ReadRichText(RichEditHistory(1252, sample.charset, 0, sample.escapes)).text, expected);
        EXPECT_EQ(ReadRichText(RichEditHistory(1252, 0, sample.page, sample.escapes)).text, expected);
        // A font of the default set is in the document's page; a document that
        // names none is in the page it was written under, given by the caller.
        EXPECT_EQ(ReadRichText(RichEditHistory(sample.page, -1, 0, sample.escapes), 1252).text, expected);
        read = ReadRichText(RichEditHistory(0, -1, 0, sample.escapes), sample.page);
        EXPECT_EQ(read.text, expected);
        EXPECT_EQ(read.codePage, 0);
        EXPECT_EQ(parleym::NamedCodePage(RichEditHistory(sample.page, -1, 0, "")), sample.page);
        // Stored as plain text, in the same page.
        const std::string bytes = parleym_test::BytesOf(sample.escapes);
        EXPECT_EQ(parleym::ReadPlainText(bytes + "\r\n", sample.page), std::string(sample.utf8) + "\n");
        EXPECT_EQ(parleym::Utf8FromCodePage(bytes, sample.page), sample.utf8);
    }
}

TEST(RichTextReader, DoubleByteCharactersInEveryForm) {
    const auto japanese = [](const std::string& body) {
        return ReadRichText(RichEditHistory(932, 128, 0, body)).text;
    };
    // A lead byte escaped, its trail byte a letter, a backslash or a brace as they stand.
    EXPECT_EQ(japanese("\\'83A\\'83\\\\\\'83\\{"), parleym_test::HistoryText("\xE3\x82\xA2\xE3\x82\xBD\xE3\x83\x9C"));
    // A line break between the two bytes is layout.
    EXPECT_EQ(japanese("\\'82\r\n\\'a0"), parleym_test::HistoryText("\xE3\x81\x82"));
    // \uN with its fallback counted in bytes: two for a pair, the pair's
    // trail byte among them; one for "?".
    EXPECT_EQ(japanese("\\uc2\\u12354\\'82\\'a0x\\uc1\\u26085?y"),
              parleym_test::HistoryText("\xE3\x81\x82x\xE6\x97\xA5y"));
    // A lead byte with nothing after it is the page's default character.
    EXPECT_EQ(japanese("a\\'82\\par b\\'82"), parleym_test::HistoryText("a\xE3\x83\xBB\nb\xE3\x83\xBB"));
    // Fonts of two scripts in one paragraph, and a character neither has.
    const std::string mixed =
        "{\\rtf1\\ansi\\ansicpg1251\\deff0{\\fonttbl{\\f0\\fnil\\fcharset204 Tahoma;}{\\f1\\fnil\\fcharset128 "
        "MS UI Gothic;}}\\uc1\\pard\\f0\\'cf\\'f0\\'e8\\'e2\\'e5\\'f2 {\\f1\\'82\\'b1\\'82\\'f1}\\'e4\\u9786?"
        "{\\object{\\*\\objdata 00}}\\f1\\'93\\'fa\\par}";
    const RichText read = ReadRichText(mixed);
    EXPECT_EQ(read.text, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE3\x81\x93\xE3\x82\x93\xD0\xB4\xE2\x98\xBA"
                         "\xEF\xBF\xBC\xE6\x97\xA5\n");
    // One position per character, the double-byte ones too.
    ASSERT_EQ(read.objects.size(), 1u);
    EXPECT_EQ(read.objects[0].position, 11);
    EXPECT_EQ(read.characters, 14);
}

TEST(RichTextReader, DestinationsAreLeftOut) {
    const RichText read = ReadRichText(
        "{\\rtf1{\\stylesheet{\\s0 Normal;}}{\\info{\\author x}{\\title t}}{\\*\\unknown{\\nested y}z}"
        "{\\field{\\*\\fldinst HYPERLINK \"http://a\"}{\\fldrslt link}}"
        "{\\pntext\\f1 1.\\tab}{\\*\\pn\\pnlvlblt{\\pntxtb x}}item\\bin3 {}}x}");
    EXPECT_EQ(read.text, "linkitemx");
    EXPECT_TRUE(read.objects.empty());
    EXPECT_TRUE(read.wellFormed);
}

TEST(RichTextReader, DamagedInputGivesWhatCanBeRead) {
    // Cut short in the middle of a group, an escape and a control word.
    RichText read = ReadRichText("{\\rtf1{\\fonttbl{\\f0 Arial;}}hello {\\b wor");
    EXPECT_EQ(read.text, "hello wor");
    EXPECT_FALSE(read.wellFormed);
    EXPECT_EQ(ReadRichText("{\\rtf1 a\\'e").text, "a\x0E");
    EXPECT_EQ(ReadRichText("{\\rtf1 a\\").text, "a");
    EXPECT_EQ(ReadRichText("{\\rtf1 a\\par").text, "a\n");
    EXPECT_EQ(ReadRichText("{\\rtf1 a\\u").text, "a");
    EXPECT_EQ(ReadRichText(std::string("{\\rtf1 a\\'00\\uc0\\u0 \0b}", 23)).text, "ab");
    // A stray closing brace is noted and skipped; text after the document is not.
    read = ReadRichText("}{\\rtf1 a}}b} trailing");
    EXPECT_EQ(read.text, "a");
    EXPECT_FALSE(read.wellFormed);
    // Huge parameters saturate instead of overflowing.
    read = ReadRichText("{\\rtf1\\uc99999999999999999999\\u99999999999999999999 x\\bin99999999999999999999 abc}");
    EXPECT_EQ(read.text, "\xEF\xBF\xBD");
    EXPECT_EQ(ReadRichText("{\\rtf1\\u-99999999999999999999 x}").text, "\xEF\xBF\xBD");
    // Foreign text that is not RTF at all is read as it stands.
    EXPECT_EQ(ReadRichText("plain words").text, "plain words");
    EXPECT_EQ(ReadRichText("").text, "");
}

TEST(RichTextReader, DeepNestingIsBoundedAndStaysCorrect) {
    // Far deeper than the state stack: the braces still balance, a destination
    // opened deep down stays skipped until its own group closes, and no recursion.
    const int depth = 200000;
    std::string rtf = "{\\rtf1 a";
    for (int i = 0; i < depth; ++i) rtf += '{';
    rtf += "{\\fonttbl x}b";
    for (int i = 0; i < depth; ++i) rtf += '}';
    rtf += "c}";
    RichText read = ReadRichText(rtf);
    EXPECT_EQ(read.text, "abc");
    EXPECT_TRUE(read.wellFormed);

    rtf = "{\\rtf1{\\info";
    for (int i = 0; i < depth; ++i) rtf += "{x";
    for (int i = 0; i < depth; ++i) rtf += "}";
    rtf += "}shown}";
    read = ReadRichText(rtf);
    EXPECT_EQ(read.text, "shown");
    EXPECT_TRUE(read.wellFormed);
}

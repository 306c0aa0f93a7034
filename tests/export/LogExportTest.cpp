// The exporter over an in-memory source: pages, index, pictures, escaping,
// names from contacts that try to leave the folder, unreadable conversations,
// cancel and write failures.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "plugin/logging/LogExport.h"
#include "plugin/logging/RichTextReader.h"
#include "plugin/storage/MessageContent.h"
#include "tests/richtext/CodePageSamples.h"

using namespace parleym;

namespace {

const char kRtfHead[] = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}\\pard\\f0\\fs20 ";

std::string Rtf(const std::string& body) { return kRtfHead + body + "\\par\r\n}\r\n"; }

class MemorySource : public ExportSource {
public:
    std::map<int, CMessageContent> conversations;  // by number; missing ones are unreadable
    std::map<std::string, ExportPicture> pictures;
    int loads = 0;
    int page = kSystemCodePage;

    bool Load(const ExportItem& item, CMessageContent& content, std::string& error) override {
        ++loads;
        const auto found = conversations.find(item.entry.number);
        if (found == conversations.end()) {
            error = "damaged stream";
            return false;
        }
        content = found->second;
        return true;
    }
    bool Picture(const std::string& key, ExportPicture& picture) override {
        const auto found = pictures.find(key);
        if (found == pictures.end()) return false;
        picture = found->second;
        return true;
    }
    std::string FormatDate(double date) override { return "day " + std::to_string(static_cast<int>(date)); }
    int CodePage() override { return page; }
};

ExportItem Item(const std::string& account, const std::string& contact, int number, double start = 45000) {
    ExportItem item;
    item.account = account;
    item.entry.contact = contact;
    item.entry.number = number;
    item.entry.start = start;
    item.entry.end = start + 0.5;
    return item;
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

bool Exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

std::string TempFolder(const std::string& name) {
    // std::filesystem rather than a shell: the same test runs under Wine, whose command
    // prompt has no rm or mkdir -p.
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("parleym-export-" + name);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return folder.generic_string();
}

// Every src="..." and href="..." in a page.
std::vector<std::string> References(const std::string& page) {
    std::vector<std::string> found;
    for (const char* attribute : {"src=\"", "href=\""}) {
        for (std::size_t at = page.find(attribute); at != std::string::npos; at = page.find(attribute, at + 1)) {
            const std::size_t start = at + std::string(attribute).size();
            found.push_back(page.substr(start, page.find('"', start) - start));
        }
    }
    return found;
}

// The file a page links to: links are UTF-8, file names in the file functions' page.
std::string PathOf(const std::string& link) {
    if (kFileNameCodePage == kUtf8CodePage) return link;
    std::string path;
    const CodePage& page = CodePage::FindOrDefault(kFileNameCodePage);
    for (std::size_t at = 0, length = 1; at < link.size(); at += length)
        if (!page.Encode(DecodeUtf8(link, at, length), path)) path += '?';
    return path;
}

bool ValidUtf8(const std::string& text) {
    for (std::size_t at = 0, length = 1; at < text.size(); at += length)
        if (DecodeUtf8(text, at, length) == kNotUtf8) return false;
    return true;
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

} // namespace

TEST(LogExport, HtmlPagesIndexAndPicturesAcrossAccounts) {
    MemorySource source;
    CMessageContent first;
    first.text = Rtf("Hi <b>& \\'e9 look  here");  // two placeholder spaces, objects at 14 and 15
    first.AddObject(15, "13");
    first.AddObject(14, "2");
    source.conversations[1] = first;
    CMessageContent second;
    second.text = Rtf("again  ");
    second.AddObject(6, "13");
    second.AddObject(5, "77");  // no picture and no code
    source.conversations[2] = second;
    source.conversations[7] = second;
    source.pictures["13"] = {"png", std::string("\x89PNG\r\n\x1A\nsmile", 13)};
    source.pictures["2"] = {"gif", "GIF89a-thumb"};

    const std::string folder = TempFolder("html");
    LogExport exporter(source,
                       {Item("me@example.com", "bob@example.com", 1), Item("me@example.com", "ann@example.com", 2),
                        Item("other@example.com", "bob@example.com", 7)},
                       ExportFormat::kHtml, folder);
    const ExportOutcome outcome = RunExport(exporter, nullptr);
    ASSERT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(exporter.Exported(), 3u);
    EXPECT_EQ(exporter.PicturesWritten(), 2u);  // each picture once, however often used

    const std::string index = Read(folder + "/index.html");
    std::vector<std::string> pages;
    for (const std::string& link : References(index)) pages.push_back(link);
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0], "me@example.com/1-bob@example.com.html");
    EXPECT_NE(pages[0].substr(0, pages[0].find('/')), pages[2].substr(0, pages[2].find('/')));
    for (const std::string& page : pages) {
        ASSERT_TRUE(Exists(folder + "/" + page)) << page;
        const std::string text = Read(folder + "/" + page);
        for (const std::string& reference : References(text))
            EXPECT_TRUE(Exists(folder + "/" + page.substr(0, page.find('/')) + "/" + reference)) << reference;
    }
    const std::string page = Read(folder + "/" + pages[0]);
    // Message text is escaped, and each picture stands where its placeholder was.
    EXPECT_NE(page.find("Hi &lt;b&gt;&amp; \xC3\xA9 look<img src=\"../pictures/2.gif\" alt=\"(Y)\">"
                        "<img src=\"../pictures/13.png\" alt=\":-)\">here"),
              std::string::npos)
        << page;
    EXPECT_EQ(Read(folder + "/pictures/13.png"), source.pictures["13"].data);
    const std::string other = Read(folder + "/" + pages[1]);
    EXPECT_NE(other.find("again[picture]<img src=\"../pictures/13.png\""), std::string::npos) << other;
}

TEST(LogExport, NamesFromTheLogNeverLeaveTheFolderOrBreakThePage) {
    EXPECT_EQ(SafeFileName("../../etc/passwd"), "_etc_passwd");
    EXPECT_EQ(SafeFileName("..\\..\\boot.ini"), "_boot.ini");
    EXPECT_EQ(SafeFileName("CON"), "_CON");
    EXPECT_EQ(SafeFileName("lpt1.txt"), "_lpt1.txt");
    EXPECT_EQ(SafeFileName("..."), "_");
    EXPECT_EQ(SafeFileName(""), "_");
    EXPECT_EQ(SafeFileName("a:b*c?d|e\"f<g>h"), "a_b_c_d_e_f_g_h");
    EXPECT_EQ(SafeFileName(std::string(300, 'x')).size(), 64u);

    MemorySource source;
    CMessageContent content;
    content.text = Rtf("x");
    source.conversations[3] = content;
    source.conversations[4] = content;
    source.pictures["../../x"] = {"png", "\x89PNG\r\n\x1A\n"};
    content.AddObject(0, "../../x");
    source.conversations[5] = content;
    ExportItem named = Item("..", "<script>alert(1)</script>@x", 3);
    named.contactName = "Eve \"<img onerror>\" & co";
    const std::string folder = TempFolder("names");
    LogExport exporter(source, {named, Item("ME", "../../outside", 4), Item("me", "/abs", 5)}, ExportFormat::kHtml,
                       folder);
    ASSERT_TRUE(RunExport(exporter, nullptr).ok);
    const std::string index = Read(folder + "/index.html");
    EXPECT_EQ(index.find("<script>"), std::string::npos);
    EXPECT_EQ(index.find("<img"), std::string::npos);
    EXPECT_NE(index.find("Eve &quot;&lt;img onerror&gt;&quot; &amp; co"), std::string::npos);
    const std::vector<std::string> links = References(index);
    ASSERT_EQ(links.size(), 3u);
    for (const std::string& link : links) {
        EXPECT_EQ(link.find(".."), std::string::npos) << link;
        EXPECT_NE(link[0], '/');
        EXPECT_TRUE(Exists(folder + "/" + link)) << link;
    }
    // "ME" and "me" are one folder on Windows: they get two.
    EXPECT_NE(links[1].substr(0, links[1].find('/')), links[2].substr(0, links[2].find('/')));
    EXPECT_FALSE(Exists(folder + "/../outside.html"));
    // A key that is not a number is never used as a file name.
    EXPECT_EQ(exporter.PicturesWritten(), 0u);
}

TEST(LogExport, EveryScriptInUtf8PagesTextFilesAndNames) {
    for (const auto& sample : parleym_test::kCodePageSamples) {
        SCOPED_TRACE(sample.page);
        MemorySource source;
        source.page = sample.page;  // neither the rich text nor the names say it
        CMessageContent rich;
        rich.text = parleym_test::RichEditHistory(0, -1, 0, sample.escapes);
        source.conversations[1] = rich;
        CMessageContent plain;
        plain.isRtf = 0;
        plain.text = parleym_test::BytesOf(sample.escapes) + "\r\n";
        source.conversations[2] = plain;
        // The line's first word as the contact's sign-in name.
        const std::string line = parleym_test::BytesOf(sample.escapes);
        const std::string contact = line.substr(0, line.find_first_of(" ,"));
        const std::string contactUtf8 = Utf8FromCodePage(contact, sample.page);
        for (const ExportFormat format : {ExportFormat::kHtml, ExportFormat::kText}) {
            const bool html = format == ExportFormat::kHtml;
            const std::string folder = TempFolder("script-" + std::to_string(sample.page) + (html ? "-html" : "-text"));
            LogExport exporter(source, {Item("me", contact, 1), Item("me", contact, 2)}, format, folder);
            ASSERT_TRUE(RunExport(exporter, nullptr).ok);
            const std::string index = Read(folder + (html ? "/index.html" : "/index.txt"));
            EXPECT_NE(index.find(html ? HtmlEscape(contactUtf8) : contactUtf8), std::string::npos) << index;
            std::vector<std::string> links;
            if (html) {
                links = References(index);
            } else {
                for (std::size_t end = index.find('\n'); end != std::string::npos; end = index.find('\n', end + 1))
                    links.push_back(index.substr(index.rfind('\t', end) + 1, end - index.rfind('\t', end) - 1));
            }
            ASSERT_EQ(links.size(), 2u) << index;
            for (const std::string& link : links) {
                // The name the index gives is the file's, in any script.
                EXPECT_TRUE(ValidUtf8(link)) << link;
                ASSERT_TRUE(Exists(folder + "/" + PathOf(link))) << link;
                const std::string page = Read(folder + "/" + PathOf(link));
                if (html) {
                    EXPECT_NE(page.find("<meta charset=\"utf-8\">"), std::string::npos);
                    EXPECT_NE(page.find(HtmlEscape(sample.utf8)), std::string::npos) << page;
                } else {
                    EXPECT_EQ(page.substr(0, 3), "\xEF\xBB\xBF");
                    EXPECT_NE(page.find(std::string(sample.utf8) + "\n"), std::string::npos) << page;
                    EXPECT_NE(page.find("Conversation with " + contactUtf8 + " (" + contactUtf8 + ")"),
                              std::string::npos);
                }
            }
        }
    }
}

TEST(LogExport, FileNamesKeepWhatTheFileFunctionsCanName) {
    const std::string russian = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";  // Привет
    const std::string japanese = "\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88\xE8\xA1\xA8";  // ソフト表
    EXPECT_EQ(SafeFileName(russian + ", \xE6\x97\xA5\xE6\x9C\xAC"), russian + "_\xE6\x97\xA5\xE6\x9C\xAC");
    // In an ANSI page: its own bytes, and one mark for what it lacks, never
    // the "?" the system would put there.
    EXPECT_EQ(SafeFileName(russian + ", \xE6\x97\xA5\xE6\x9C\xAC", 64, 1251), "\xCF\xF0\xE8\xE2\xE5\xF2_");
    EXPECT_EQ(SafeFileName("\xE6\x97\xA5\xE6\x9C\xAC", 64, 1251), "_");
    // A second byte that is a backslash's stays: the file functions read the pair whole.
    EXPECT_EQ(SafeFileName(japanese, 64, 932), "\x83\x5C\x83\x74\x83\x67\x95\x5C");
    // Look-alikes of separators and other signs are no letters, whatever the page has.
    const std::string slashes = "a\xE2\x88\x95" "b\xEF\xBC\x8F" "c\xEF\xBC\xBC" "d\xCD\xBE" "e\xE2\x80\xAE" "f";
    for (const int page : {kUtf8CodePage, 932, 1252})
        EXPECT_EQ(SafeFileName(slashes, 64, page), "a_b_c_d_e_f") << page;
    // The limit counts bytes and never cuts a character.
    std::string many;
    for (int i = 0; i < 40; ++i) many += "\xD0\x96";
    EXPECT_EQ(SafeFileName(many, 47), many.substr(0, 46));
    EXPECT_EQ(SafeFileName(many, 47, 1251), std::string(40, '\xC6').substr(0, 40));
    EXPECT_EQ(SafeFileName(japanese + japanese, 7, 932), "\x83\x5C\x83\x74\x83\x67");
}

TEST(LogExport, TextFormatUnreadableConversationsAndCancel) {
    MemorySource source;
    CMessageContent plain;
    plain.isRtf = 0;
    plain.text = "line one\r\nsmile \x80 now";  // the placeholder space at position 14
    plain.AddObject(14, "13");
    source.conversations[1] = plain;
    source.conversations[3] = plain;
    const std::string folder = TempFolder("text");
    LogExport exporter(source, {Item("me", "bob", 1), Item("me", "ann", 2), Item("me", "cid", 3)}, ExportFormat::kText,
                       folder, "\r\n");
    const ExportOutcome outcome = RunExport(exporter, nullptr);
    ASSERT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(exporter.Unreadable(), 1u);
    EXPECT_EQ(Read(folder + "/me/1-bob.txt"),
              "\xEF\xBB\xBF" "Conversation with bob (bob)\r\nday 45000 - day 45000\r\n\r\nline one\r\nsmile:-)\xE2\x82\xAC now\r\n");
    EXPECT_FALSE(Exists(folder + "/me/2-ann.txt"));
    const std::string index = Read(folder + "/index.txt");
    EXPECT_EQ(index.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_NE(index.find("ann\t(damaged stream)\r\n"), std::string::npos) << index;
    EXPECT_NE(index.find("cid\tme/3-cid.txt\r\n"), std::string::npos) << index;

    // Cancelled after the first: the index lists that one and says so.
    const std::string cancelled = TempFolder("cancel");
    LogExport partial(source, {Item("me", "bob", 1), Item("me", "cid", 3)}, ExportFormat::kHtml, cancelled);
    const ExportOutcome stopped = RunExport(partial, [](std::size_t done, std::size_t) { return done < 1; });
    EXPECT_TRUE(stopped.ok);
    EXPECT_TRUE(stopped.cancelled);
    const std::string page = Read(cancelled + "/index.html");
    EXPECT_EQ(Count(page, "<a href="), 1u);
    EXPECT_NE(page.find("Export cancelled: 1 of 2"), std::string::npos);
    EXPECT_FALSE(Exists(cancelled + "/me/3-cid.html"));
}

TEST(LogExport, AFolderThatCannotBeMadeOrWrittenIsReported) {
    MemorySource source;
    const std::string blocker = TempFolder("blocked");
    std::ofstream(blocker) << "a file, not a folder";
    LogExport exporter(source, {Item("me", "bob", 1)}, ExportFormat::kHtml, blocker + "/inside");
    const ExportOutcome outcome = RunExport(exporter, nullptr);
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.error.find("Cannot create the folder"), std::string::npos) << outcome.error;
    EXPECT_EQ(source.loads, 0);
    // The file itself as the folder: said so, and the file is left as it was.
    LogExport onFile(source, {Item("me", "bob", 1)}, ExportFormat::kText, blocker);
    const ExportOutcome refused = RunExport(onFile, nullptr);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.error, blocker + " is a file, not a folder.");
    EXPECT_EQ(Read(blocker), "a file, not a folder");
    EXPECT_EQ(source.loads, 0);

    // The account folder's name is taken by a file: the step fails with a reason.
    CMessageContent content;
    content.text = Rtf("x");
    source.conversations[1] = content;
    const std::string folder = TempFolder("taken");
    ASSERT_TRUE(std::filesystem::create_directories(folder));
    std::ofstream(folder + "/me") << "";
    LogExport taken(source, {Item("me", "bob", 1)}, ExportFormat::kText, folder);
    const ExportOutcome failed = RunExport(taken, nullptr);
    EXPECT_FALSE(failed.ok);
    EXPECT_NE(failed.error.find("me"), std::string::npos);

    // Folders missing on the way are made; no probe file is left behind.
    const std::string deep = TempFolder("deep") + "/a/b";
    LogExport nested(source, {Item("me", "bob", 1)}, ExportFormat::kText, deep + "/");
    const ExportOutcome made = RunExport(nested, nullptr);
    ASSERT_TRUE(made.ok) << made.error;
    EXPECT_TRUE(Exists(deep + "/index.txt"));
    EXPECT_FALSE(Exists(deep + "/~parleym-export.tmp"));
}

TEST(LogExport, PicturesAreRecognisedByTheirData) {
    ExportPicture picture;
    EXPECT_TRUE(SniffPicture(std::string("\xFF\xD8\xFF\xE0", 4), picture));
    EXPECT_EQ(picture.extension, "jpg");
    EXPECT_FALSE(SniffPicture("SBEM\x01", picture));
    EXPECT_FALSE(SniffPicture("", picture));
    // A bare 2x1 24-bit bitmap gains a file header pointing past its info header.
    std::string dib(40, '\0');
    dib[0] = 40;
    dib[4] = 2;
    dib[8] = 1;
    dib[12] = 1;
    dib[14] = 24;
    dib += std::string(8, '\x7F');
    ASSERT_TRUE(SniffPicture(dib, picture));
    EXPECT_EQ(picture.extension, "bmp");
    ASSERT_EQ(picture.data.size(), 14 + dib.size());
    EXPECT_EQ(picture.data.substr(0, 2), "BM");
    EXPECT_EQ(static_cast<unsigned char>(picture.data[10]), 54u);  // pixels right after the headers
    EXPECT_EQ(picture.data.substr(14), dib);
    // A colour count no bitmap can have is not a picture.
    std::string bad = dib;
    bad[32] = '\xFF';
    bad[33] = '\xFF';
    EXPECT_FALSE(SniffPicture(bad, picture));
}

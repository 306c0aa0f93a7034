// "Export..." in the log viewer on the real manager, log store and object
// cache: what lands in the chosen folder for each choice, the pages read back
// as HTML, and what cancel, a closed viewer and a folder that takes no files do.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "plugin/logging/LogExportResources.h"
#include "plugin/logging/LogTree.h"
#include "plugin/logging/LogViewer.h"
#include "plugin/logging/LogViewerExport.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/RichEditBridge.h"
#include "tests/logging/ManagerHarness.h"

using namespace parleym_test;
using parleym::CLogViewer;
using parleym::ExportFormat;
using parleym::ExportRequest;
using parleym::ExportScope;
using parleym::CMessageContent;
using parleym::LogEntry;

namespace {

// What the user answers in the "Export logs" dialog, and what it offered.
ExportRequest g_answer;
ExportRequest g_offered;
bool g_confirm = true;

bool Answer(HWND, ExportRequest& request) {
    g_offered = request;
    request.scope = g_answer.scope;
    request.format = g_answer.format;
    request.folder = g_answer.folder;
    return g_confirm;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

// An HTML page read back: elements must nest and close, attributes be quoted;
// the links and pictures it references are collected.
struct ParsedPage {
    bool wellFormed = true;
    std::string problem;
    std::vector<std::string> links;     // href values
    std::vector<std::string> pictures;  // img src values
    std::string text;                   // character data, entities as written
};

ParsedPage ParseHtml(const std::string& page) {
    static const std::set<std::string> kVoid = {"meta", "img", "br", "!doctype"};
    ParsedPage parsed;
    std::vector<std::string> open;
    auto fail = [&](const std::string& why) {
        if (parsed.wellFormed) parsed.problem = why;
        parsed.wellFormed = false;
    };
    std::size_t at = 0;
    while (at < page.size()) {
        const std::size_t tag = page.find('<', at);
        parsed.text += page.substr(at, tag == std::string::npos ? std::string::npos : tag - at);
        if (tag == std::string::npos) break;
        const std::size_t end = page.find('>', tag);
        if (end == std::string::npos) {
            fail("unclosed tag");
            break;
        }
        std::string inside = page.substr(tag + 1, end - tag - 1);
        at = end + 1;
        const bool closing = !inside.empty() && inside[0] == '/';
        if (closing) inside.erase(0, 1);
        std::size_t nameEnd = inside.find_first_of(" \t\r\n");
        std::string name = inside.substr(0, nameEnd);
        for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        if (name == "style") {  // its text is no markup
            const std::size_t close = page.find("</style>", at);
            if (close == std::string::npos) fail("unclosed style");
            at = close == std::string::npos ? page.size() : close + 8;
            continue;
        }
        if (closing) {
            if (open.empty() || open.back() != name) fail("</" + name + "> closes nothing open");
            else open.pop_back();
            continue;
        }
        // Attributes: name="value" pairs; a '<' or unquoted value is malformed.
        std::size_t cursor = nameEnd == std::string::npos ? inside.size() : nameEnd;
        while (cursor < inside.size()) {
            cursor = inside.find_first_not_of(" \t\r\n", cursor);
            if (cursor == std::string::npos) break;
            const std::size_t equals = inside.find('=', cursor);
            if (name == "!doctype") break;
            if (equals == std::string::npos || equals + 1 >= inside.size() || inside[equals + 1] != '"') {
                fail("unquoted attribute in <" + name + ">");
                break;
            }
            const std::string attribute = inside.substr(cursor, equals - cursor);
            const std::size_t close = inside.find('"', equals + 2);
            if (close == std::string::npos) {
                fail("unterminated attribute");
                break;
            }
            const std::string value = inside.substr(equals + 2, close - equals - 2);
            if (value.find('<') != std::string::npos) fail("'<' inside an attribute");
            if (attribute == "href") parsed.links.push_back(value);
            if (attribute == "src" && name == "img") parsed.pictures.push_back(value);
            cursor = close + 1;
        }
        if (!kVoid.count(name)) open.push_back(name);
    }
    if (!open.empty()) fail("<" + open.back() + "> never closed");
    return parsed;
}

// Sub-folders the exports made, so the harness can remove its folder.
void RemoveFolders(const std::string& folder) {
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = folder + "\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveFolders(path);
            for (const std::string& file : FilesIn(path)) DeleteFileA((path + "\\" + file).c_str());
            RemoveDirectoryA(path.c_str());
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

std::string FolderOf(const std::string& file) {
    const std::size_t slash = file.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

class LogViewerExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousChooser = parleym::SetExportChooser(&Answer);
        previousBudget = parleym::SetLogExportSliceBudget(40);
        g_confirm = true;
        g_answer = ExportRequest();
        g_answer.folder = harness.DataFile("export");
        // Two conversations with Bob on one day, one with Carol the day after.
        Log(1, "bob@parleym.example", 46000.40, 46000.45, "Bob says: hi <b>&amp; ", "smile");
        Log(2, "bob@parleym.example", 46000.60, 46000.61, "Bob says: again", "");
        Log(3, "carol@parleym.example", 46001.50, 46001.52, "Carol says: hello ", "thumbs");
        viewer = parleym::OpenLogViewer(harness.Manager());
        ASSERT_NE(viewer, nullptr);
        PumpMessages();
    }
    void TearDown() override {
        if (harness.Manager().LogViewer()) DestroyWindow(harness.Manager().LogViewer()->GetSafeHwnd());
        parleym::SetExportChooser(previousChooser);
        parleym::SetLogExportSliceBudget(previousBudget);
        std::string data = harness.DataFile("");
        if (!data.empty() && (data.back() == '\\' || data.back() == '/')) data.pop_back();
        RemoveFolders(data);
    }

    void Log(int number, const char* contact, double start, double end, const char* text, const char* picture) {
        HWND history = host.AddRichEdit();
        AppendText(history, text);
        if (*picture) AppendPicture(history, picture);
        CMessageContent content;
        parleym::CRichEditBridge(&harness.ObjectCache(), history, true).Capture(content, true, true, false);
        harness.LogStore().SaveConversation(LogEntry{start, end, contact, number}, content);
        starts[number] = start;
    }

    HTREEITEM Child(HTREEITEM parent, int position) {
        HTREEITEM item = viewer->Tree().GetChildItem(parent);
        while (item && position-- > 0) item = viewer->Tree().GetNextSiblingItem(item);
        return item;
    }
    HTREEITEM BobsDay() { return Child(viewer->Tree().GetRootItem(), 1); }

    // Runs "Export..." to the end, as the timer slices would.
    void Export() {
        ManagerHarness::Messages().clear();
        SendMessageA(viewer->GetSafeHwnd(), WM_COMMAND, ID_LOG_EXPORT, 0);
        for (int round = 0; round < 500 && parleym::LogExportRunning(); ++round) {
            PumpMessages();
            Sleep(2);
        }
        ASSERT_FALSE(parleym::LogExportRunning());
    }
    std::string LastMessage() {
        return ManagerHarness::Messages().empty() ? std::string() : ManagerHarness::Messages().back().text;
    }
    std::string Folder(const std::string& relative = std::string()) { return g_answer.folder + "\\" + relative; }

    ManagerHarness harness;
    RichEditHost host;
    CLogViewer* viewer = nullptr;
    std::map<int, double> starts;
    parleym::ExportChooser previousChooser = nullptr;
    int previousBudget = 0;
};

TEST_F(LogViewerExportTest, AllLogsAsHtmlPagesWithAnIndexAndPictureFiles) {
    g_answer.scope = ExportScope::kAll;
    Export();
    EXPECT_EQ(LastMessage(), "Exported 3 conversations to " + g_answer.folder + ".");
    EXPECT_EQ(ManagerHarness::Messages().back().caption, "Parleym");

    const ParsedPage index = ParseHtml(Read(Folder("index.html")));
    ASSERT_TRUE(index.wellFormed) << index.problem;
    // Every conversation once, each page where the index says.
    std::map<std::string, int> linked;
    for (const std::string& link : index.links) ++linked[link];
    ASSERT_EQ(linked.size(), 3u);
    std::set<std::string> pictureFiles;
    for (const auto& link : linked) {
        SCOPED_TRACE(link.first);
        EXPECT_EQ(link.second, 1);
        const std::string file = Folder(link.first);
        ASSERT_TRUE(Exists(file));
        const std::string html = Read(file);
        const ParsedPage page = ParseHtml(html);
        EXPECT_TRUE(page.wellFormed) << page.problem;
        // Every picture a page shows is a file beside it.
        for (const std::string& picture : page.pictures) {
            EXPECT_TRUE(Exists(FolderOf(file) + picture)) << picture;
            pictureFiles.insert(picture.substr(picture.find_last_of('/') + 1));
        }
        if (link.first.find("1-bob") != std::string::npos) {
            // What was said is text on the page, never markup.
            EXPECT_NE(page.text.find("Bob says: hi &lt;b&gt;&amp;amp;"), std::string::npos) << html;
            EXPECT_EQ(page.pictures.size(), 1u);
        }
        const bool carol = link.first.find("3-carol") != std::string::npos;
        if (carol || link.first.find("2-bob") != std::string::npos) {
            EXPECT_EQ(page.pictures.size(), carol ? 1u : 0u);
        }
    }
    // Bob's smile and Carol's thumbs: two distinct objects, two files, all in use.
    EXPECT_EQ(pictureFiles.size(), 2u);
    EXPECT_EQ(FilesIn(Folder("pictures")).size(), 2u);
    // Dates as the viewer shows them, in the user's format.
    const std::string page = Read(Folder("index.html"));
    for (const auto& start : starts)
        EXPECT_NE(page.find(parleym::FormatDateTime(start.second)), std::string::npos) << start.first;
}

TEST_F(LogViewerExportTest, TheShownConversationOrTheSelectedDayAsText) {
    // Nothing selected: only all logs can be offered.
    g_answer.scope = ExportScope::kAll;
    g_confirm = false;
    Export();
    EXPECT_FALSE(g_offered.shownAvailable);
    EXPECT_FALSE(g_offered.selectedAvailable);
    EXPECT_FALSE(Exists(Folder()));  // the user said no: nothing is made
    EXPECT_TRUE(ManagerHarness::Messages().empty());
    g_confirm = true;

    viewer->Tree().SelectItem(Child(BobsDay(), 1));
    ASSERT_EQ(viewer->ShownConversation(), 2);
    g_answer.scope = ExportScope::kShown;
    g_answer.format = ExportFormat::kText;
    g_answer.folder = harness.DataFile("shown");
    Export();
    EXPECT_TRUE(g_offered.shownAvailable);
    EXPECT_TRUE(g_offered.selectedAvailable);
    EXPECT_EQ(LastMessage(), "Exported 1 conversation to " + g_answer.folder + ".");
    const std::string account = "me@parleym.example";
    std::vector<std::string> files = FilesIn(Folder(account));
    ASSERT_EQ(files, std::vector<std::string>{"2-bob@parleym.example.txt"});
    const std::string text = Read(Folder(account + "\\" + files[0]));
    // UTF-8 with a byte-order mark, so an editor on any system reads every script.
    EXPECT_EQ(text.rfind("\xEF\xBB\xBF" "Conversation with bob@parleym.example (bob@parleym.example)\r\n", 0), 0u)
        << text;
    EXPECT_NE(text.find("Bob says: again"), std::string::npos);
    EXPECT_EQ(Count(text, "\n"), Count(text, "\r\n"));  // Windows line ends throughout
    EXPECT_FALSE(Exists(Folder("pictures")));

    // The day selected: both conversations with Bob, nothing of Carol's.
    viewer->Tree().SelectItem(BobsDay());
    g_answer.scope = ExportScope::kSelected;
    g_answer.folder = harness.DataFile("day");
    Export();
    EXPECT_EQ(LastMessage(), "Exported 2 conversations to " + g_answer.folder + ".");
    files = FilesIn(Folder(account));
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"1-bob@parleym.example.txt", "2-bob@parleym.example.txt"}));
    const std::string index = Read(Folder("index.txt"));
    EXPECT_EQ(Count(index, "\r\n"), 2u);
    EXPECT_EQ(index.find("carol"), std::string::npos);
    // Text is written as said; the picture stands as words, not as a stray character.
    const std::string first = Read(Folder(account + "\\1-bob@parleym.example.txt"));
    const std::size_t said = first.find("Bob says: hi <b>&amp; ");
    ASSERT_NE(said, std::string::npos) << first;
    EXPECT_GT(first.size(), said + 22 + 2) << first;  // the picture's code or "[picture]" follows
    EXPECT_EQ(first.find("\xEF\xBF\xBC"), std::string::npos);
}

TEST_F(LogViewerExportTest, CancelLeavesAnIndexOfExactlyWhatWasWritten) {
    parleym::SetLogExportSliceBudget(0);  // one conversation per slice
    g_answer.scope = ExportScope::kAll;
    ManagerHarness::Messages().clear();
    SendMessageA(viewer->GetSafeHwnd(), WM_COMMAND, ID_LOG_EXPORT, 0);
    ASSERT_TRUE(parleym::LogExportRunning());
    HWND progress = FindWindowA(nullptr, "Exporting logs");
    ASSERT_NE(progress, nullptr);
    SendMessageA(progress, WM_TIMER, 1, 0);
    char shown[128] = {};
    GetDlgItemTextA(progress, IDC_EXPORT_PROGRESS_TEXT, shown, sizeof(shown));
    EXPECT_STREQ(shown, "Exporting conversation 1 of 3...");
    EXPECT_FALSE(Exists(Folder("index.html")));  // nothing claimed while it runs

    SendMessageA(progress, WM_COMMAND, IDCANCEL, 0);
    EXPECT_FALSE(parleym::LogExportRunning());
    EXPECT_FALSE(IsWindow(progress));
    EXPECT_EQ(LastMessage(), "Export cancelled after 1 conversation to " + g_answer.folder + ".");
    const std::string page = Read(Folder("index.html"));
    const ParsedPage index = ParseHtml(page);
    ASSERT_TRUE(index.wellFormed) << index.problem;
    ASSERT_EQ(index.links.size(), 1u);
    EXPECT_TRUE(Exists(Folder(index.links[0])));
    EXPECT_NE(page.find("Export cancelled: 1 of 3 conversations exported."), std::string::npos);
    EXPECT_EQ(FilesIn(Folder("me@parleym.example")).size(), 1u);
    // A timer message that was already queued does nothing more.
    PumpMessages();
    EXPECT_EQ(FilesIn(Folder("me@parleym.example")).size(), 1u);
}

TEST_F(LogViewerExportTest, ClosingTheViewerEndsTheExportWithItsIndex) {
    parleym::SetLogExportSliceBudget(0);
    g_answer.scope = ExportScope::kAll;
    g_answer.format = ExportFormat::kText;
    SendMessageA(viewer->GetSafeHwnd(), WM_COMMAND, ID_LOG_EXPORT, 0);
    HWND progress = FindWindowA(nullptr, "Exporting logs");
    ASSERT_NE(progress, nullptr);
    SendMessageA(progress, WM_TIMER, 1, 0);
    SendMessageA(progress, WM_TIMER, 1, 0);
    DestroyWindow(viewer->GetSafeHwnd());
    PumpMessages();
    EXPECT_FALSE(parleym::LogExportRunning());
    EXPECT_FALSE(IsWindow(progress));
    const std::string index = Read(Folder("index.txt"));
    EXPECT_EQ(index.rfind("\xEF\xBB\xBF" "Export cancelled: 2 of 3 conversations exported.\r\n", 0), 0u) << index;
    EXPECT_EQ(FilesIn(Folder("me@parleym.example")).size(), 2u);
}

TEST_F(LogViewerExportTest, AFolderThatTakesNoFilesIsReportedBeforeAnyWork) {
    const std::string blocker = harness.DataFile("blocker.txt");
    std::ofstream(blocker) << "a file, not a folder";
    g_answer.scope = ExportScope::kAll;
    g_answer.folder = blocker;
    Export();
    ASSERT_EQ(ManagerHarness::Messages().size(), 1u);
    EXPECT_EQ(LastMessage(), "Failed to export logs: " + blocker + " is a file, not a folder.");
    EXPECT_EQ(ManagerHarness::Messages()[0].caption, "Error");
    EXPECT_TRUE(ManagerHarness::Messages()[0].style & MB_ICONERROR);
    EXPECT_EQ(FindWindowA(nullptr, "Exporting logs"), nullptr);
    EXPECT_EQ(Read(blocker), "a file, not a folder");

    // A folder below a file cannot be made; the message names the file in the way.
    g_answer.folder = blocker + "\\logs";
    Export();
    ASSERT_EQ(ManagerHarness::Messages().size(), 1u);
    EXPECT_EQ(LastMessage().rfind("Failed to export logs: Cannot create the folder ", 0), 0u) << LastMessage();
    EXPECT_FALSE(parleym::LogExportRunning());

    // Missing folders on the way are made.
    g_answer.folder = harness.DataFile("new\\deeper\\logs");
    Export();
    EXPECT_EQ(LastMessage(), "Exported 3 conversations to " + g_answer.folder + ".");
    EXPECT_TRUE(Exists(Folder("index.html")));
}

} // namespace

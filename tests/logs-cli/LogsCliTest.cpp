// parleym-logs on a logs.dat and objcache.dat written by the plug-in, and on
// damaged and foreign files: a clear error, a non-zero status, no crash.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "plugin/logging/ConversationIndexCodec.h"
#include "plugin/storage/RollbackJournal.h"
#include "plugin/storage/UserIdsCodec.h"
#include "tests/storage/CompoundFileMap.h"
#include "tools/parleym-logs/Commands.h"
#include "tools/parleym-logs/LogsReader.h"
#include "tools/parleym-logs/TextCodePage.h"

using parleym::CMessageContent;
using parleym::LogEntry;

using namespace parleym_logs;

namespace {

const std::string kFixture = PARLEYM_LOGS_FIXTURE;
const std::string kLogs = kFixture + "/logs.dat";

struct Captured {
    int status = -1;
    std::string out, err;
};

std::string Drain(std::FILE* file) {
    std::string text;
    std::rewind(file);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof(buffer), file)) > 0;) text.append(buffer, n);
    std::fclose(file);
    return text;
}

template <typename Command>
Captured Capture(Command command) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    Captured captured;
    captured.status = command(out, err);
    captured.out = Drain(out);
    captured.err = Drain(err);
    return captured;
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

void Write(const std::string& path, const std::string& data) { std::ofstream(path, std::ios::binary) << data; }

std::string Scratch(const std::string& name) {
    const std::string folder = "/tmp/parleym-logs-test-" + std::to_string(getpid());
    mkdir(folder.c_str(), 0777);
    return folder + "/" + name;
}

} // namespace

TEST(ParleymLogs, ListsAndShowsWhatThePluginLogged) {
    const Captured list = Capture([](std::FILE* out, std::FILE* err) { return ListCommand(kLogs, out, err); });
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("me@parleym.example: 2 conversations\n"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("       1  2026-12-07 22:11:17 - 2026-12-07 22:11:29  bob@parleym.example\n"),
              std::string::npos)
        << list.out;
    EXPECT_NE(list.out.find("carol@parleym.example"), std::string::npos);

    const Captured show = Capture(
        [](std::FILE* out, std::FILE* err) { return ShowCommand(kLogs, "me@parleym.example", "1", out, err); });
    EXPECT_EQ(show.status, 0) << show.err;
    // The pictures the plug-in cached stand where they were, as text.
    EXPECT_NE(show.out.find("Conversation with bob@parleym.example\n"), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("Hi there [picture] how are you [picture]\n"), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("back again"), std::string::npos);

    for (const char* number : {"9", "0", "-1", "1x", "", "99999999999"}) {
        const Captured missing = Capture([&](std::FILE* out, std::FILE* err) {
            return ShowCommand(kLogs, "me@parleym.example", number, out, err);
        });
        EXPECT_EQ(missing.status, 1) << number;
        EXPECT_FALSE(missing.err.empty()) << number;
        EXPECT_TRUE(missing.out.empty()) << number;
    }
    const Captured stranger =
        Capture([](std::FILE* out, std::FILE* err) { return ShowCommand(kLogs, "nobody@x", "1", out, err); });
    EXPECT_EQ(stranger.status, 1);
    EXPECT_NE(stranger.err.find("no account nobody@x"), std::string::npos) << stranger.err;
}

TEST(ParleymLogs, ExportsEveryConversationOnce) {
    const std::string folder = Scratch("export");
    std::system(("rm -rf '" + folder + "'").c_str());
    const Captured html =
        Capture([&](std::FILE* out, std::FILE* err) { return ExportCommand(kLogs, folder, false, out, err); });
    ASSERT_EQ(html.status, 0) << html.err;
    EXPECT_NE(html.out.find("Exported 2 conversations"), std::string::npos) << html.out;
    const std::string index = Read(folder + "/index.html");
    EXPECT_EQ(std::count(index.begin(), index.end(), '\n') > 0, true);
    for (const char* page : {"me@parleym.example/1-bob@parleym.example.html",
                             "me@parleym.example/2-carol@parleym.example.html"}) {
        EXPECT_NE(index.find(std::string("href=\"") + page + "\""), std::string::npos) << page;
        EXPECT_NE(Read(folder + "/" + page).find("<div class=\"text\">"), std::string::npos) << page;
    }
    const Captured text =
        Capture([&](std::FILE* out, std::FILE* err) { return ExportCommand(kLogs, folder + "-text", true, out, err); });
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(Read(folder + "-text/me@parleym.example/1-bob@parleym.example.txt").find("back again"),
              std::string::npos);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(ParleymLogs, SearchPrintsOneLinePerMatchInEveryConversation) {
    auto search = [](const std::string& text) {
        return Capture([&](std::FILE* out, std::FILE* err) { return SearchCommand(kLogs, text, out, err); });
    };
    // Any case; the match's line, pictures as blanks.
    const Captured thanks = search("THANKS");
    EXPECT_EQ(thanks.status, 0) << thanks.err;
    EXPECT_EQ(Lines(thanks.out), (std::vector<std::string>{
                                     "me@parleym.example  2026-12-07 22:11:17  bob@parleym.example  fine   thanks"}))
        << thanks.out;
    // Two matches in Carol's conversation, one line each, in order.
    const std::vector<std::string> said = Lines(search("said").out);
    ASSERT_EQ(said.size(), 2u) << search("said").out;
    EXPECT_NE(said[0].find("carol@parleym.example  said while logging was off"), std::string::npos) << said[0];
    EXPECT_NE(said[1].find("carol@parleym.example  said after"), std::string::npos) << said[1];
    // Across conversations: both contacts' names as they speak.
    const std::vector<std::string> says = Lines(search(" says:").out);
    EXPECT_EQ(says.size(), 5u);
    EXPECT_EQ(says.front().find("me@parleym.example  "), 0u);
    // Nothing found is no failure; nothing to look for is.
    const Captured none = search("no such words");
    EXPECT_EQ(none.status, 0);
    EXPECT_TRUE(none.out.empty());
    const Captured empty = search("");
    EXPECT_EQ(empty.status, 1);
    EXPECT_NE(empty.err.find("nothing to search for"), std::string::npos) << empty.err;
}

TEST(ParleymLogs, DamagedAndForeignFilesGiveAClearErrorAndFail) {
    const std::string logs = Read(kLogs);
    ASSERT_GT(logs.size(), 8192u);
    struct Case {
        std::string name, data, reason;
    };
    const std::vector<Case> cases = {
        {"empty.dat", "", "the file is empty"},
        {"text.dat", "just some text, not a compound file at all\n", "not a compound file"},
        {"header.dat", logs.substr(0, 300), "damaged"},
        // Nothing of it can be read: the plug-in refuses it as well.
        {"directory.dat", logs.substr(0, 48) + std::string("\xFF\xFF\xFF\x00", 4) + logs.substr(52), "damaged"},
        // A compound file of the plug-in's that is no logs file.
        {"objcache.dat", Read(kFixture + "/objcache.dat"), "not a logs file"},
    };
    for (const Case& bad : cases) {
        const std::string path = Scratch(bad.name);
        Write(path, bad.data);
        for (int command = 0; command < 4; ++command) {
            const Captured run = Capture([&](std::FILE* out, std::FILE* err) {
                if (command == 0) return ListCommand(path, out, err);
                if (command == 1) return ShowCommand(path, "me@parleym.example", "1", out, err);
                if (command == 2) return SearchCommand(path, "said", out, err);
                return ExportCommand(path, Scratch("never"), false, out, err);
            });
            EXPECT_NE(run.status, 0) << bad.name << " command " << command;
            EXPECT_NE(run.err.find(path), std::string::npos) << bad.name << ": " << run.err;
            EXPECT_NE(run.err.find(bad.reason), std::string::npos) << run.err;
        }
    }
    // (The first record in the file is Carol's.) A conversation whose record claims more text than its stream holds: the
    // rest is listed and exported, the export fails and says so.
    std::string damaged = logs;
    const std::size_t rtf = damaged.find("{\\rtf1");
    ASSERT_NE(rtf, std::string::npos);
    damaged.replace(rtf - 4, 4, "\xFF\xFF\xFF\x7F");
    const std::string path = Scratch("record.dat");
    Write(path, damaged);
    const Captured list = Capture([&](std::FILE* out, std::FILE* err) { return ListCommand(path, out, err); });
    EXPECT_EQ(list.status, 0) << list.err;
    const Captured show = Capture([&](std::FILE* out, std::FILE* err) {
        return ShowCommand(path, "me@parleym.example", "2", out, err);
    });
    EXPECT_EQ(show.status, 1);
    EXPECT_NE(show.err.find("conversation 2 is damaged"), std::string::npos) << show.err;
    // Search finds what the readable conversations hold, names the damaged one and fails.
    const Captured search = Capture([&](std::FILE* out, std::FILE* err) { return SearchCommand(path, "a", out, err); });
    EXPECT_EQ(search.status, 1);
    EXPECT_NE(search.out.find("bob@parleym.example  Hi there"), std::string::npos) << search.out;
    EXPECT_EQ(search.out.find("carol@"), std::string::npos) << search.out;
    EXPECT_NE(search.err.find("conversation 2 is damaged"), std::string::npos) << search.err;
    EXPECT_NE(search.err.find("1 conversation could not be read"), std::string::npos) << search.err;
    const std::string folder = Scratch("partial");
    const Captured partial =
        Capture([&](std::FILE* out, std::FILE* err) { return ExportCommand(path, folder, false, out, err); });
    EXPECT_EQ(partial.status, 1);
    EXPECT_NE(partial.err.find("1 conversation could not be read"), std::string::npos) << partial.err;
    EXPECT_NE(Read(folder + "/index.html").find("conversation 2 is damaged"), std::string::npos);
    EXPECT_NE(Read(folder + "/me@parleym.example/1-bob@parleym.example.html").find("class=\"text\""),
              std::string::npos);

    const Captured missing = Capture([](std::FILE* out, std::FILE* err) { return ListCommand("/no/such/logs.dat", out, err); });
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("No such file"), std::string::npos) << missing.err;
    const Captured directory = Capture([](std::FILE* out, std::FILE* err) { return ListCommand("/tmp", out, err); });
    EXPECT_EQ(directory.status, 1);
    EXPECT_FALSE(directory.err.empty());
}

namespace {
parleym::Bytes Record(const std::string& text) {
    CMessageContent content;
    content.text = "{\\rtf1 " + text + "}";
    parleym::BinaryWriter out;
    content.Encode(out);
    return out.Take();
}
} // namespace

// A damaged file is read as the plug-in would salvage it, and says so; a
// rewrite an older version left unfinished is read as the plug-in finishes it.
TEST(ParleymLogs, ReadsWhatThePluginWouldRecover) {
    const std::string whole = Read(kLogs);
    const parleym::Bytes bytes(whole.begin(), whole.end());
    const cfbtest::CompoundFileMap map(bytes);
    parleym::Bytes chainCut = bytes;  // Carol's conversation loses the end of its chain
    const std::uint32_t second = map.Chain("1/2")[1];
    cfbtest::Put32(chainCut, map.IsSmall("1/2") ? map.MiniFatEntry(second) : map.FatEntry(second), cfbtest::kFree);
    const std::string path = Scratch("salvaged.dat");
    Write(path, std::string(chainCut.begin(), chainCut.end()));
    const Captured list = Capture([&](std::FILE* out, std::FILE* err) { return ListCommand(path, out, err); });
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.err, "parleym-logs: " + path + ": damaged: a stream lies outside the file (truncated?); read as it "
                                                  "would be salvaged: 1 of 2 conversations recovered\n");
    EXPECT_NE(list.out.find("me@parleym.example: 1 conversation\n"), std::string::npos) << list.out;
    const Captured show = Capture(
        [&](std::FILE* out, std::FILE* err) { return ShowCommand(path, "me@parleym.example", "1", out, err); });
    EXPECT_EQ(show.status, 0) << show.err;
    EXPECT_NE(show.out.find("Hi there [picture] how are you [picture]\n"), std::string::npos) << show.out;
    const Captured search =
        Capture([&](std::FILE* out, std::FILE* err) { return SearchCommand(path, "said", out, err); });
    EXPECT_EQ(search.status, 0) << search.err;
    EXPECT_TRUE(search.out.empty()) << search.out;

    // Interrupted rewrites: conversation 2's complete copy is marked, 1's never was; 3 is not indexed yet.
    parleym::ConversationIndex index;
    index.nextNumber = 3;
    index.entries = {LogEntry{40000.5, 40000.6, "bob", 1}, LogEntry{40001.5, 40001.6, "carol", 2}};
    parleym::UserIdsRecord ids;
    ids.lastUserId = 1;
    ids.entries = {{"me", 1}};
    const parleym::Bytes pending = cfbtest::WriteCompoundFile(cfbtest::Storage(
        "", {cfbtest::Stream("userids", parleym::EncodeUserIds(ids)),
             cfbtest::Storage("1", {cfbtest::Stream("conversations", parleym::EncodeConversationIndex(index)),
                                    cfbtest::Stream("1", Record("first as saved")),
                                    cfbtest::Stream("1.new", Record("never marked")),
                                    cfbtest::Stream("2", Record("torn hal")),
                                    cfbtest::Stream("2.new", Record("second complete")),
                                    cfbtest::Stream("2.ok", parleym::Bytes()), cfbtest::Stream("3", Record("third"))})}));
    const std::string rewrites = Scratch("rewrites.dat");
    Write(rewrites, std::string(pending.begin(), pending.end()));
    const auto shown = [&](const char* number) {
        return Capture([&](std::FILE* out, std::FILE* err) { return ShowCommand(rewrites, "me", number, out, err); });
    };
    EXPECT_NE(shown("1").out.find("first as saved"), std::string::npos) << shown("1").out;
    EXPECT_NE(shown("2").out.find("second complete"), std::string::npos) << shown("2").out;
    EXPECT_NE(shown("3").out.find("third"), std::string::npos) << shown("3").err;
    const Captured listed = Capture([&](std::FILE* out, std::FILE* err) { return ListCommand(rewrites, out, err); });
    EXPECT_TRUE(listed.err.empty()) << listed.err;
    EXPECT_NE(listed.out.find("me: 3 conversations\n"), std::string::npos) << listed.out;
}

// A save cut short in the middle of the header page is read as the plug-in's
// next open rolls it back, without writing the file or its journal.
TEST(ParleymLogs, ReadsAFileWithAHotJournalAsRolledBack) {
    const std::string whole = Read(kLogs);
    const parleym::Bytes before(whole.begin(), whole.end());
    parleym::Bytes torn = before;
    std::fill(torn.begin(), torn.begin() + parleym::kJournalPage, 0);
    constexpr std::uint64_t kNonce = 7;
    parleym::Bytes journal = parleym::EncodeJournalHeader({kNonce, before.size()});
    parleym::AppendJournalRecord(journal, kNonce, 0, before.data(), parleym::kJournalPage);
    const parleym::Bytes meant(parleym::kJournalPage, 0xFF);  // what the save was writing there
    parleym::AppendJournalTrailer(
        journal, kNonce, {before.size(), {{0, parleym::JournalPageChecksum(kNonce, meant.data(), meant.size())}}});
    const std::string path = Scratch("journaled.dat");
    Write(path, std::string(torn.begin(), torn.end()));
    Write(path + "-journal", std::string(journal.begin(), journal.end()));
    const Captured list = Capture([&](std::FILE* out, std::FILE* err) { return ListCommand(path, out, err); });
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.err, "parleym-logs: " + path + ": a save was cut short; read as it will be once " + path +
                            "-journal is rolled back\n");
    EXPECT_NE(list.out.find("me@parleym.example: 2 conversations\n"), std::string::npos) << list.out;
    EXPECT_EQ(Read(path), std::string(torn.begin(), torn.end()));
}

TEST(ParleymLogs, TheProgramsExitStatus) {
    const std::string program = PARLEYM_LOGS_PROGRAM;
    auto status = [&](const std::string& arguments) {
        const int raw = std::system((program + " " + arguments + " >/dev/null 2>&1").c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    };
    EXPECT_EQ(status("list '" + kLogs + "'"), 0);
    EXPECT_EQ(status(""), 2);
    EXPECT_EQ(status("frobnicate '" + kLogs + "'"), 2);
    EXPECT_EQ(status("export '" + kLogs + "' /tmp/x --html"), 2);
    EXPECT_EQ(status("search '" + kLogs + "'"), 2);
    EXPECT_EQ(status("search '" + kLogs + "' thanks"), 0);
    const std::string empty = Scratch("zero.dat");
    Write(empty, "");
    EXPECT_EQ(status("list '" + empty + "'"), 1);
}

TEST(ParleymLogs, ReadsTheCodePageTheFileNamesOrTheOneGiven) {
    // Logged by the plug-in under Windows' Japanese code page: a contact named in
    // Japanese, Japanese and Russian text, emoticons.
    const std::string logs = kFixture + "/cp932/logs.dat";
    const std::string contact = "\xE7\x94\xB0\xE4\xB8\xAD@\xE4\xBE\x8B\xE3\x81\x88.jp";  // 田中@例え.jp
    const std::string mixed = "\xD0\x9C\xD0\xB8\xD1\x80 \xD0\xB8 \xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB"
                              "\xE3\x81\xA1\xE3\x81\xAF";  // Мир и こんにちは
    LogsReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(logs, error)) << error;
    const TextCodePage learned = ChooseTextCodePage(reader, kPageFromFile);
    EXPECT_EQ(learned.page, 932);
    EXPECT_TRUE(learned.named);
    EXPECT_EQ(ChooseTextCodePage(reader, 1251).page, 1251);
    EXPECT_EQ(ChooseTextCodePage(reader, 1234).page, 932);  // no page this program reads
    EXPECT_NE(GuessedCodePageNote(reader, logs, TextCodePage{1252, false}).find("--codepage"), std::string::npos);
    EXPECT_EQ(GuessedCodePageNote(reader, logs, learned), "");

    const Captured list = Capture([&](std::FILE* out, std::FILE* err) { return ListCommand(logs, out, err); });
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.err, "");
    EXPECT_NE(list.out.find("  " + contact + "\n"), std::string::npos) << list.out;
    // Another page reads the name's bytes as its own letters; the text names its own page still.
    const Captured chinese = Capture([&](std::FILE* out, std::FILE* err) { return ListCommand(logs, out, err, 936); });
    EXPECT_EQ(chinese.out.find(contact), std::string::npos) << chinese.out;
    EXPECT_NE(chinese.out.find(".jp\n"), std::string::npos);
    const Captured show = Capture([&](std::FILE* out, std::FILE* err) {
        return ShowCommand(logs, "me@parleym.example", "1", out, err, 936);
    });
    EXPECT_NE(show.out.find(mixed), std::string::npos) << show.out;

    // Cyrillic found in any case, Japanese as written, one line each.
    for (const char* query : {"\xD0\x9C\xD0\x98\xD0\xA0", "\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88"}) {
        const Captured found = Capture([&](std::FILE* out, std::FILE* err) { return SearchCommand(logs, query, out, err); });
        EXPECT_EQ(found.status, 0) << found.err;
        EXPECT_EQ(Lines(found.out).size(), 1u) << found.out;
        EXPECT_NE(found.out.find("  " + contact + "  "), std::string::npos) << found.out;
    }

    // Exported text is UTF-8 with a byte-order mark, under the contact's own name.
    const std::string folder = Scratch("cp932-export");
    std::system(("rm -rf '" + folder + "'").c_str());
    const Captured text =
        Capture([&](std::FILE* out, std::FILE* err) { return ExportCommand(logs, folder, true, out, err); });
    ASSERT_EQ(text.status, 0) << text.err;
    const std::string page = Read(folder + "/me@parleym.example/1-" + contact + ".txt");
    EXPECT_EQ(page.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_NE(page.find(mixed), std::string::npos) << page;

    const std::string program = PARLEYM_LOGS_PROGRAM;
    auto status = [&](const std::string& arguments) {
        const int raw = std::system((program + " " + arguments + " >/dev/null 2>&1").c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    };
    EXPECT_EQ(status("--codepage=1251 list '" + logs + "'"), 0);
    EXPECT_EQ(status("list '" + logs + "' --codepage 874"), 0);
    EXPECT_EQ(status("--codepage 1234 list '" + logs + "'"), 2);
    EXPECT_EQ(status("--codepage 65001 list '" + logs + "'"), 2);
    EXPECT_EQ(status("list '" + logs + "' --codepage"), 2);
}

TEST(ParleymLogs, OleDatesInTheCLocale) {
    EXPECT_EQ(FormatOleDate(0.0), "1899-12-30 00:00:00");
    EXPECT_EQ(FormatOleDate(36526.75), "2000-01-01 18:00:00");
    EXPECT_EQ(FormatOleDate(-1.25), "1899-12-29 06:00:00");  // backwards in days, forwards in time
    EXPECT_EQ(FormatOleDate(2.0 - 1.0 / 86400 / 4), "1900-01-01 00:00:00");  // rounds up into the next day
    EXPECT_EQ(FormatOleDate(1e300), "Invalid DateTime");
    EXPECT_EQ(FormatOleDate(0.0 / 0.0), "Invalid DateTime");
}

#include "tools/parleym-logs/Commands.h"

#include <cerrno>
#include <cstdlib>

#include "plugin/logging/LogExport.h"
#include "plugin/logging/LogSearch.h"
#include "tools/parleym-logs/LogsReader.h"
#include "tools/parleym-logs/TextCodePage.h"

using parleym::CMessageContent;
using parleym::LogEntry;

namespace parleym_logs {

namespace {

bool OpenLogs(LogsReader& logs, const std::string& path, std::FILE* err) {
    std::string error;
    if (logs.Open(path, error)) {
        if (!logs.ReadNote().empty()) std::fprintf(err, "parleym-logs: %s: %s\n", path.c_str(), logs.ReadNote().c_str());
        return true;
    }
    std::fprintf(err, "parleym-logs: %s: %s\n", path.c_str(), error.c_str());
    return false;
}

// The page of the file's text that names none; says so when it is a guess.
int TextPage(const LogsReader& logs, const std::string& path, int asked, std::FILE* err) {
    const TextCodePage page = ChooseTextCodePage(logs, asked);
    const std::string note = GuessedCodePageNote(logs, path, page);
    if (!note.empty()) std::fputs(note.c_str(), err);
    return page.page;
}

// The cache is optional: without it objects show as their codes.
void OpenPictures(PictureCache& pictures, const std::string& logs) {
    std::string ignored;
    pictures.Open(ObjectCachePathFor(logs), ignored);
}

} // namespace

std::string ObjectCachePathFor(const std::string& logs) {
    const std::size_t slash = logs.find_last_of('/');
    return (slash == std::string::npos ? std::string() : logs.substr(0, slash + 1)) + "objcache.dat";
}

int ListCommand(const std::string& path, std::FILE* out, std::FILE* err, int codePage) {
    LogsReader logs;
    if (!OpenLogs(logs, path, err)) return 1;
    const int page = TextPage(logs, path, codePage, err);
    for (const Account& account : logs.Accounts()) {
        const std::string name = parleym::Utf8FromCodePage(account.name, page);
        if (!account.problem.empty()) {
            std::fprintf(out, "%s: %s\n", name.c_str(), account.problem.c_str());
            continue;
        }
        std::fprintf(out, "%s: %zu conversation%s%s\n", name.c_str(), account.index.entries.size(),
                     account.index.entries.size() == 1 ? "" : "s",
                     account.index.loggingEnabled ? "" : ", logging off");
        for (const LogEntry& entry : account.index.entries)
            std::fprintf(out, "  %6d  %s - %s  %s\n", entry.number, FormatOleDate(entry.start).c_str(),
                         FormatOleDate(entry.end).c_str(), parleym::Utf8FromCodePage(entry.contact, page).c_str());
    }
    return 0;
}

int ShowCommand(const std::string& path, const std::string& accountName, const std::string& numberText,
                std::FILE* out, std::FILE* err, int codePage) {
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(numberText.c_str(), &end, 10);
    if (numberText.empty() || *end != '\0' || errno != 0 || number <= 0 || number > 0x7FFFFFFF) {
        std::fprintf(err, "parleym-logs: %s is not a conversation number\n", numberText.c_str());
        return 1;
    }
    LogsReader logs;
    if (!OpenLogs(logs, path, err)) return 1;
    const int page = TextPage(logs, path, codePage, err);
    const Account* account = logs.FindAccount(accountName, page);
    if (!account) {
        std::fprintf(err, "parleym-logs: %s: no account %s\n", path.c_str(), accountName.c_str());
        return 1;
    }
    const LogEntry* entry = nullptr;
    for (const LogEntry& candidate : account->index.entries)
        if (candidate.number == number) entry = &candidate;
    if (!entry) {
        std::fprintf(err, "parleym-logs: %s: account %s has no conversation %ld\n", path.c_str(),
                     accountName.c_str(), number);
        return 1;
    }
    CMessageContent content;
    std::string error;
    if (!logs.Load(*account, static_cast<int>(number), content, error)) {
        std::fprintf(err, "parleym-logs: %s: %s\n", path.c_str(), error.c_str());
        return 1;
    }
    PictureCache pictures;
    OpenPictures(pictures, path);
    ReaderSource source(logs, pictures, page);
    std::fprintf(out, "Conversation with %s\n%s - %s\n\n", parleym::Utf8FromCodePage(entry->contact, page).c_str(),
                 FormatOleDate(entry->start).c_str(), FormatOleDate(entry->end).c_str());
    const std::string text =
        parleym::ConversationText(content, [&](const std::string& key) { return source.ObjectText(key); }, page);
    std::fwrite(text.data(), 1, text.size(), out);
    if (!text.empty() && text.back() != '\n') std::fputc('\n', out);
    return 0;
}

int SearchCommand(const std::string& path, const std::string& text, std::FILE* out, std::FILE* err, int codePage) {
    if (parleym::TextQuery(text).Empty()) {
        std::fprintf(err, "parleym-logs: nothing to search for\n");
        return 1;
    }
    LogsReader logs;
    if (!OpenLogs(logs, path, err)) return 1;
    const int page = TextPage(logs, path, codePage, err);
    // The terminal's text is UTF-8, as the conversations' plain texts are; the
    // letters pair up as in the language of the logs' code page.
    const parleym::TextQuery query(text, parleym::CaseRulesOf(page));
    std::size_t unreadable = 0;
    bool accountsRead = true;
    parleym::FoldedText scratch;
    for (const Account& account : logs.Accounts()) {
        const std::string name = parleym::Utf8FromCodePage(account.name, page);
        if (!account.problem.empty()) {
            std::fprintf(err, "parleym-logs: %s: account %s: %s\n", path.c_str(), name.c_str(), account.problem.c_str());
            accountsRead = false;
            continue;
        }
        for (const LogEntry& entry : account.index.entries) {
            CMessageContent content;
            std::string error;
            if (!logs.Load(account, entry.number, content, error)) {
                std::fprintf(err, "parleym-logs: %s: account %s: %s\n", path.c_str(), name.c_str(), error.c_str());
                ++unreadable;
                continue;
            }
            const std::string plain = parleym::ConversationPlainText(content.text, content.isRtf != 0, page);
            const std::vector<parleym::TextMatch> matches = query.FindIn(plain, scratch);
            if (matches.empty()) continue;
            // Printed as found: a common word in years of logs is many lines, none kept.
            const std::string date = FormatOleDate(entry.start);
            const std::string contact = parleym::Utf8FromCodePage(entry.contact, page);
            for (const parleym::TextMatch& match : matches) {
                std::size_t at = 0;
                const std::string snippet = parleym::MakeSnippet(plain, match, at);
                std::fprintf(out, "%s  %s  %s  %s\n", name.c_str(), date.c_str(), contact.c_str(), snippet.c_str());
            }
        }
    }
    if (unreadable > 0)
        std::fprintf(err, "parleym-logs: %s: %zu conversation%s could not be read (listed in the index)\n",
                     path.c_str(), unreadable, unreadable == 1 ? "" : "s");
    return unreadable == 0 && accountsRead ? 0 : 1;
}

int ExportCommand(const std::string& path, const std::string& folder, bool text, std::FILE* out, std::FILE* err,
                  int codePage) {
    LogsReader logs;
    if (!OpenLogs(logs, path, err)) return 1;
    const int page = TextPage(logs, path, codePage, err);
    PictureCache pictures;
    OpenPictures(pictures, path);
    std::vector<parleym::ExportItem> items;
    for (const Account& account : logs.Accounts()) {
        for (const LogEntry& entry : account.index.entries) {
            parleym::ExportItem item;
            item.account = parleym::Utf8FromCodePage(account.name, page);
            item.entry = entry;
            items.push_back(std::move(item));
        }
    }
    ReaderSource source(logs, pictures, page);
    parleym::LogExport exporter(source, std::move(items), text ? parleym::ExportFormat::kText : parleym::ExportFormat::kHtml,
                                folder);
    const parleym::ExportOutcome outcome = parleym::RunExport(exporter, nullptr);
    if (!outcome.ok) {
        std::fprintf(err, "parleym-logs: %s\n", outcome.error.c_str());
        return 1;
    }
    std::fprintf(out, "Exported %zu conversation%s to %s (%zu unreadable, %zu picture%s)\n",
                 exporter.Exported() - exporter.Unreadable(), exporter.Exported() - exporter.Unreadable() == 1 ? "" : "s",
                 folder.c_str(), exporter.Unreadable(), exporter.PicturesWritten(),
                 exporter.PicturesWritten() == 1 ? "" : "s");
    if (exporter.Unreadable() == 0) return 0;
    std::fprintf(err, "parleym-logs: %s: %zu conversation%s could not be read (listed in the index)\n", path.c_str(),
                 exporter.Unreadable(), exporter.Unreadable() == 1 ? "" : "s");
    return 1;
}

} // namespace parleym_logs

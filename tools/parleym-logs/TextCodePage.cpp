#include "tools/parleym-logs/TextCodePage.h"

#include "plugin/logging/RichTextReader.h"

using parleym::CMessageContent;
using parleym::LogEntry;

namespace parleym_logs {

namespace {

// Conversations looked at for a page: each Rich Edit text names one, so the
// first few say it when any does.
constexpr int kConversationsToAsk = 16;

bool BeyondAscii(const std::string& text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    return false;
}

} // namespace

bool IsReadableCodePage(int page) {
    return page == 874 || page == 932 || page == 936 || page == 949 || page == 950 || (page >= 1250 && page <= 1258);
}

const char* ReadableCodePages() { return "874, 932, 936, 949, 950, 1250-1258"; }

TextCodePage ChooseTextCodePage(const LogsReader& logs, int asked) {
    TextCodePage chosen;
    if (asked != kPageFromFile && parleym::CodePage::Find(asked)) {
        chosen.page = asked;
        chosen.named = true;
        return chosen;
    }
    int asks = 0;
    for (const Account& account : logs.Accounts()) {
        for (const LogEntry& entry : account.index.entries) {
            if (asks++ >= kConversationsToAsk) break;
            CMessageContent content;
            std::string ignored;
            if (!logs.Load(account, entry.number, content, ignored) || !content.isRtf) continue;
            const int page = parleym::NamedCodePage(content.text);
            if (page > 0 && parleym::CodePage::Find(page)) {
                chosen.page = page;
                chosen.named = true;
                return chosen;
            }
        }
    }
    chosen.page = parleym::CodePage::FindOrDefault(parleym::kSystemCodePage).Number();
    return chosen;
}

std::string GuessedCodePageNote(const LogsReader& logs, const std::string& path, const TextCodePage& page) {
    if (page.named) return std::string();
    bool beyondAscii = false;
    for (const Account& account : logs.Accounts()) {
        beyondAscii = beyondAscii || BeyondAscii(account.name);
        for (const LogEntry& entry : account.index.entries) beyondAscii = beyondAscii || BeyondAscii(entry.contact);
    }
    if (!beyondAscii) return std::string();
    return "parleym-logs: " + path + ": the file names no code page; its names are read as code page " +
           std::to_string(page.page) + " (--codepage N chooses another)\n";
}

} // namespace parleym_logs

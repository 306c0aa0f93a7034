#pragma once
// Which code page a logs file's ANSI text is in: sign-in names, plain-text
// conversations and rich text that names none. The file does not record it;
// the rich text Rich Edit wrote names the page of the system it ran on.
#include <string>

#include "tools/parleym-logs/LogsReader.h"

namespace parleym_logs {

// Learn the page from the file unless the user gave one.
constexpr int kPageFromFile = 0;

struct TextCodePage {
    int page = 1252;
    bool named = false;  // by the user or by the file's own rich text
};

// The page the user asked for (a page this program reads), else the one the
// first conversations name, else the system's.
TextCodePage ChooseTextCodePage(const LogsReader& logs, int asked);

// True when `page` is one --codepage accepts.
bool IsReadableCodePage(int page);
// "874, 932, 936, 949, 950, 1250-1258": for messages.
const char* ReadableCodePages();

// The note for stderr when the page had to be guessed and the file holds
// names beyond ASCII; empty otherwise.
std::string GuessedCodePageNote(const LogsReader& logs, const std::string& path, const TextCodePage& page);

} // namespace parleym_logs

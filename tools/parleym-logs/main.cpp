// parleym-logs: reads the messenger add-on's logs.dat (and objcache.dat next
// to it) without the messenger, and prints UTF-8.
//   parleym-logs [--codepage N] list LOGS.DAT
//   parleym-logs [--codepage N] show LOGS.DAT ACCOUNT NUMBER
//   parleym-logs [--codepage N] search LOGS.DAT TEXT
//   parleym-logs [--codepage N] export LOGS.DAT FOLDER [--text]
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "tools/parleym-logs/Commands.h"
#include "tools/parleym-logs/TextCodePage.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: parleym-logs [--codepage N] list LOGS.DAT\n"
                 "       parleym-logs [--codepage N] show LOGS.DAT ACCOUNT NUMBER\n"
                 "       parleym-logs [--codepage N] search LOGS.DAT TEXT\n"
                 "       parleym-logs [--codepage N] export LOGS.DAT FOLDER [--text]\n"
                 "Prints UTF-8. The conversations name the Windows code page they were written in;\n"
                 "--codepage N reads the rest (names, and text that names none) in page N\n"
                 "(%s) when the file cannot tell.\n",
                 parleym_logs::ReadableCodePages());
    return 2;
}

// "--codepage N" or "--codepage=N" anywhere; false with a message when its
// value is no page this program reads.
bool TakeCodePage(std::vector<std::string>& words, int& page) {
    for (std::size_t at = 0; at < words.size(); ++at) {
        std::string value;
        std::size_t taken = 0;
        if (words[at] == "--codepage" && at + 1 < words.size()) {
            value = words[at + 1];
            taken = 2;
        } else if (words[at].compare(0, 11, "--codepage=") == 0) {
            value = words[at].substr(11);
            taken = 1;
        } else {
            continue;
        }
        char* end = nullptr;
        errno = 0;
        const long number = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || errno != 0 || !parleym_logs::IsReadableCodePage(static_cast<int>(number)) ||
            number != static_cast<int>(number)) {
            std::fprintf(stderr, "parleym-logs: %s is no code page this program reads (%s)\n", value.c_str(),
                         parleym_logs::ReadableCodePages());
            return false;
        }
        page = static_cast<int>(number);
        words.erase(words.begin() + static_cast<std::ptrdiff_t>(at),
                    words.begin() + static_cast<std::ptrdiff_t>(at + taken));
        --at;
    }
    return true;
}

int Run(int argc, char** argv) {
    std::vector<std::string> words(argv + 1, argv + argc);
    int page = parleym_logs::kPageFromFile;
    if (!TakeCodePage(words, page)) return 2;
    if (words.size() < 2) return Usage();
    const std::string& command = words[0];
    const std::string& logs = words[1];
    const std::size_t count = words.size();
    if (command == "list" && count == 2) return parleym_logs::ListCommand(logs, stdout, stderr, page);
    if (command == "show" && count == 4)
        return parleym_logs::ShowCommand(logs, words[2], words[3], stdout, stderr, page);
    if (command == "search" && count == 3) return parleym_logs::SearchCommand(logs, words[2], stdout, stderr, page);
    if (command == "export" && (count == 3 || (count == 4 && words[3] == "--text")))
        return parleym_logs::ExportCommand(logs, words[2], count == 4, stdout, stderr, page);
    return Usage();
}

} // namespace

int main(int argc, char** argv) {
    // Dates as the user has them (LC_TIME); nothing else depends on the locale.
    std::setlocale(LC_TIME, "");
    try {
        const int status = Run(argc, argv);
        if (std::fflush(stdout) != 0) {
            std::perror("parleym-logs: writing the output");
            return 1;
        }
        return status;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "parleym-logs: %s\n", failure.what());
    } catch (...) {
        std::fputs("parleym-logs: unexpected failure\n", stderr);
    }
    return 1;
}

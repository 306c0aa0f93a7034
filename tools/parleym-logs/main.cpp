// parleym-logs: reads the messenger add-on's logs.dat (and objcache.dat next
// to it) without the messenger.
//   parleym-logs list LOGS.DAT
//   parleym-logs show LOGS.DAT ACCOUNT NUMBER
//   parleym-logs search LOGS.DAT TEXT
//   parleym-logs export LOGS.DAT FOLDER [--text]
#include <clocale>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "tools/parleym-logs/Commands.h"

namespace {

int Usage() {
    std::fputs("usage: parleym-logs list LOGS.DAT\n"
               "       parleym-logs show LOGS.DAT ACCOUNT NUMBER\n"
               "       parleym-logs search LOGS.DAT TEXT\n"
               "       parleym-logs export LOGS.DAT FOLDER [--text]\n",
               stderr);
    return 2;
}

int Run(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string command = argv[1];
    const std::string logs = argv[2];
    if (command == "list" && argc == 3) return parleym_logs::ListCommand(logs, stdout, stderr);
    if (command == "show" && argc == 5) return parleym_logs::ShowCommand(logs, argv[3], argv[4], stdout, stderr);
    if (command == "export" && (argc == 4 || (argc == 5 && std::strcmp(argv[4], "--text") == 0)))
        return parleym_logs::ExportCommand(logs, argv[3], argc == 5, stdout, stderr);
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

#include "bench/HeavyFiles.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace bench {

namespace {
constexpr int kContacts = 200;
}

std::string HeavyLogsName() {
    return "logs-" + std::to_string(kHeavyConversations) + "-" + std::to_string(kBigConversationBytes) + ".dat";
}

std::string HeavyObjectCacheName(int objects) { return "objcache-" + std::to_string(objects) + ".dat"; }

std::string HeavyStatsName() {
    return "stats-" + std::to_string(kStatsSessions) + "x" + std::to_string(kStatsPeriods) + ".dat";
}

std::string HeavyFilePath(const std::string& name) {
    const char* folder = std::getenv("PARLEYM_BENCH_FILES");
    if (!folder || !*folder) {
        std::printf("PARLEYM_BENCH_FILES is not set: scripts/bench.sh makes the heavy files and sets it\n");
        return std::string();
    }
#ifdef _WIN32
    const std::string path = std::string(folder) + "\\" + name;
#else
    const std::string path = std::string(folder) + "/" + name;
#endif
    if (!std::ifstream(path, std::ios::binary)) {
        std::printf("%s is missing: scripts/bench.sh makes it\n", path.c_str());
        return std::string();
    }
    return path;
}

std::string HeavyContact(int number) { return "contact" + std::to_string(number % kContacts) + "@example.com"; }

std::string ConversationRtf(std::size_t bytes) {
    std::string rtf = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}}"
                      "{\\colortbl ;\\red0\\green0\\blue255;\\red128\\green128\\blue128;}\\viewkind4\\uc1\\pard\\f0\\fs20 ";
    static const char* const kLines[] = {"are you coming to the meeting this afternoon?",
                                         "yes, but I will be ten minutes late, the train is slow again",
                                         "fine, we start with the figures anyway :)",
                                         "could you bring the printed copies of the report as well"};
    for (int line = 0; rtf.size() < bytes; ++line) {
        rtf += line % 2 ? "\\cf1 Bob says:\\cf0\\par " : "\\cf2 Me says:\\cf0\\par ";
        rtf += kLines[line % 4];
        rtf += " (" + std::to_string(line) + ")\\par ";
    }
    return rtf + "}";
}

} // namespace bench

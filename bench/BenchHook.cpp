// What the hook procedures cost per message under Wine: a stream of sent and
// posted messages (kinds the plug-in acts on and kinds it ignores) with our
// hook library, next to the same stream with a hook library that only passes
// messages on (BareHook.dll) and with no hook at all; (a) in this process,
// which is not a messenger, (b) in the stand-in messenger with the plug-in
// running (its hook-stream step). Also the hook library's size and what its
// DllMain costs here.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/BenchFigures.h"
#include "bench/HookStream.h"
#include "plugin/core/UserSettingsFile.h"

namespace {

constexpr int kRounds = 11;
constexpr int kCount = 4000;
const char* const kKinds[] = {"sent_ignored", "sent_interesting", "posted_ignored", "posted_interesting"};

std::string Folder(const std::string& path) { return path.substr(0, path.find_last_of('\\') + 1); }

std::string BenchFolder() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return Folder(path);
}

long long FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

using bench::Median;

// Times per library ("none", "BareHook.dll", "ParleymHk.dll") and kind, one per round.
using Samples = std::map<std::string, std::map<std::string, std::vector<double>>>;

bench::Timing Pair(Samples& samples, const std::string& ours, const std::string& floor, const std::string& kind) {
    return bench::Timing{Median(samples[ours][kind]), Median(samples[floor][kind]),
                         static_cast<int>(std::min(samples[ours][kind].size(), samples[floor][kind].size()))};
}

void AddRows(bench::Table& table, Samples& samples, const std::string& where, double ignoredGoal,
             double interestingGoal) {
    for (const char* kind : kKinds) {
        const bool ignored = std::string(kind).find("ignored") != std::string::npos;
        table.Add("hook_" + where + "_" + kind, kCount, Pair(samples, "ParleymHk.dll", "BareHook.dll", kind),
                  ignored ? ignoredGoal : interestingGoal);
    }
    for (const char* kind : kKinds)
        table.Add("hook_" + where + "_bare_vs_none_" + std::string(kind), kCount,
                  Pair(samples, "BareHook.dll", "none", kind), 0);
}

// (a) This process: ParleymHk.dll's DllMain finds no messenger and loads nothing.
void OutsideTheMessenger(const std::string& folder, bench::Table& table) {
    const std::string ours = folder + "..\\hook\\ParleymHk.dll";
    const std::string bare = folder + "BareHook.dll";
    // Loading and unloading: what DllMain does in a process that is not a messenger.
    const auto load = [](const std::string& path) {
        for (int i = 0; i < 20; ++i) {
            HMODULE module = LoadLibraryA(path.c_str());
            if (module) FreeLibrary(module);
        }
    };
    table.Add("hook_load_unload_x20_outside", 20, bench::Compare([&] { load(ours); }, [&] { load(bare); }, 7), 0);

    Samples samples;
    std::string error;
    for (int round = 0; round < kRounds; ++round) {
        // Alternating order, so each sees the same machine load.
        const std::vector<std::pair<std::string, std::string>> order =
            round % 2 ? std::vector<std::pair<std::string, std::string>>{{"ParleymHk.dll", ours},
                                                                         {"BareHook.dll", bare},
                                                                         {"none", ""}}
                      : std::vector<std::pair<std::string, std::string>>{{"none", ""},
                                                                         {"BareHook.dll", bare},
                                                                         {"ParleymHk.dll", ours}};
        for (const auto& library : order) {
            std::vector<bench::StreamKindTime> times;
            if (!bench::RunHookStream(library.second, kCount, times, error)) {
                std::printf("  hook stream FAILED: %s\n", error.c_str());
                return;
            }
            for (const auto& time : times) samples[library.first][time.kind].push_back(time.ms);
        }
    }
    std::printf("DllMain of ParleymHk.dll in a process that is not a messenger: turns off thread notices, reads "
                "its own and the process's file name, compares the latter with msmsgs.exe and msnmsgr.exe, "
                "stops; plug-in loaded here: %s\n",
                GetModuleHandleA("ParleymPlugin.dll") ? "YES (fault)" : "no");
    AddRows(table, samples, "outside", 1.05, 1.05);
}

bool CopyInto(const std::string& from, const std::string& folder, const char* name) {
    if (CopyFileA(from.c_str(), (folder + name).c_str(), FALSE)) return true;
    std::printf("  cannot copy %s (%lu)\n", from.c_str(), GetLastError());
    return false;
}

// (b) The stand-in messenger: its hook-stream step, with ParleymHk.dll loaded
// there (which starts the plug-in) and the hooks on the messenger's thread.
void InTheMessenger(const std::string& folder, bench::Table& table) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string run = std::string(temp) + "parleym-bench-hook\\";
    CreateDirectoryA(run.c_str(), nullptr);
    const std::string data = run + "data\\";
    CreateDirectoryA(data.c_str(), nullptr);
    for (const char* stale : {"logs.dat", "stats.dat", "objcache.dat", "offlinemsg.dat"})
        DeleteFileA((data + stale).c_str());
    if (!CopyInto(folder + "..\\hook\\ParleymHk.dll", data, "ParleymHk.dll") ||
        !CopyInto(folder + "..\\plugin\\ParleymPlugin.dll", data, "ParleymPlugin.dll") ||
        !CopyInto(folder + "BareHook.dll", data, "BareHook.dll"))
        return;
    // What set-up leaves: an existing settings file without accounts.
    CloseHandle(CreateFileA((data + "users.dat").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (parleym::WriteUserSettingsFile(data + "users.dat", {}).kind != parleym::SettingsFileResult::Ok) {
        std::printf("  cannot write users.dat\n");
        return;
    }
    std::ostringstream scenario;
    scenario << "signin me@parleym.example Me\n"
             << "add-contact bob@parleym.example Bob status=ONLINE\n"
             << "hook-stream ParleymHk.dll count=10\n"
             << "wait module ParleymPlugin.dll\n";
    for (int round = 0; round < kRounds; ++round) {
        if (round % 2)
            scenario << "hook-stream ParleymHk.dll count=" << kCount << "\nhook-stream BareHook.dll count=" << kCount
                     << "\nhook-stream none count=" << kCount << "\n";
        else
            scenario << "hook-stream none count=" << kCount << "\nhook-stream BareHook.dll count=" << kCount
                     << "\nhook-stream ParleymHk.dll count=" << kCount << "\n";
    }
    const std::string scenarioPath = run + "scenario.txt";
    const std::string transcriptPath = run + "transcript.txt";
    std::ofstream(scenarioPath) << scenario.str();
    DeleteFileA(transcriptPath.c_str());

    std::string commandLine = "\"" + folder + "..\\testbench\\bin\\msmsgs.exe\" --scenario \"" + scenarioPath +
                              "\" --transcript \"" + transcriptPath + "\" --out \"" + run + "\" --data \"" +
                              data.substr(0, data.size() - 1) + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, data.c_str(), &startup,
                        &process)) {
        std::printf("  cannot start the stand-in messenger (%lu)\n", GetLastError());
        return;
    }
    if (WaitForSingleObject(process.hProcess, 300000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    Samples samples;
    bool pluginLoaded = false;
    std::ifstream transcript(transcriptPath);
    std::string line;
    while (std::getline(transcript, line)) {
        if (line.find("wait-ok") != std::string::npos) pluginLoaded = true;
        if (line.rfind("hook-stream ", 0) != 0) continue;
        char library[64] = {}, kind[64] = {};
        int count = 0;
        double ms = 0;
        if (std::sscanf(line.c_str(), "hook-stream library=%63s kind=%63s count=%d ms=%lf", library, kind, &count,
                        &ms) == 4 &&
            count == kCount)
            samples[library][kind].push_back(ms);
    }
    if (!pluginLoaded || samples["ParleymHk.dll"]["sent_ignored"].empty()) {
        std::printf("  the stand-in messenger did not run the stream with the plug-in (see %s)\n",
                    transcriptPath.c_str());
        return;
    }
    AddRows(table, samples, "messenger", 1.3, 0);
}

void PrintLibrarySizes(const std::string& folder) {
    const std::string root = folder + "..\\..\\..\\";
    const struct {
        const char* label;
        std::string path;
        bool release;
    } libraries[] = {{"i686 release, stripped", root + "build\\bench-release\\ParleymHk.dll", true},
                     {"i686 build tree, not stripped", root + "build\\win32\\hook\\ParleymHk.dll", false},
                     {"x86_64 build tree, not stripped", folder + "..\\hook\\ParleymHk.dll", false}};
    std::printf("hook library size (goal: i686 release <= 65536 bytes)\n");
    for (const auto& library : libraries) {
        const long long size = FileSize(library.path);
        if (size < 0) {
            std::printf("  %-32s not built\n", library.label);
            continue;
        }
        std::printf("  %-32s %9lld bytes%s\n", library.label, size,
                    library.release ? (size <= 65536 ? "  met" : "  NOT met") : "");
        if (library.release)
            std::printf("BENCH figure=hook_library_bytes size=%lld goal=65536 met=%s\n", size,
                        size <= 65536 ? "yes" : "no");
    }
}

} // namespace

int main() {
    const std::string folder = BenchFolder();
    bench::Table outside("hook cost outside the messenger (this process), ours: ParleymHk.dll, floor: BareHook.dll "
                         "(procedures that only call CallNextHookEx); bare_vs_none: BareHook.dll next to no hook");
    OutsideTheMessenger(folder, outside);
    outside.Print();
    bench::Table messenger("hook cost in the stand-in messenger with the plug-in running, ours: ParleymHk.dll, "
                           "floor: BareHook.dll; goal for the kinds the plug-in ignores");
    InTheMessenger(folder, messenger);
    messenger.Print();
    PrintLibrarySizes(folder);
    return 0;
}

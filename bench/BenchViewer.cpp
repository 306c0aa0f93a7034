// The log viewer at 10,000 conversations (open, show a 1 MB conversation,
// bring it up to date after a contact's status change) next to reading the
// index and the content stream with plain storage calls; and the plug-in's
// private bytes with heavy data files open, each size in a fresh process of
// its own ("--memory <objects> <data folder> <result file>").
#include <objbase.h>
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <richedit.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bench/BenchFigures.h"
#include "bench/HeavyFiles.h"
#include "plugin/core/Parleymanager.h"
#include "plugin/core/UserMessage.h"
#include "plugin/core/UserSettingsFile.h"
#include "plugin/logging/LogManager.h"
#include "plugin/logging/LogTree.h"
#include "plugin/logging/LogViewer.h"
#include "plugin/logging/LogViewerResources.h"
#include "plugin/stats/StatsManager.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/StorageDb.h"
#include "plugin/storage/StreamIO.h"

using parleym::ComPtr;
using parleym::ToElementName;
using parleym::CMessageContent;
using parleym::CStorageDb;
using parleym::LogEntry;
using parleym::kStorageAccess;

namespace {

constexpr int kConversations = bench::kHeavyConversations;
constexpr std::size_t kBigConversation = bench::kBigConversationBytes;
constexpr int kStatsSessions = bench::kStatsSessions;
constexpr int kStatsPeriods = bench::kStatsPeriods;
constexpr double kMemoryGoalMb = 30;

int PrintMessage(HWND, const char* text, const char* caption, UINT) {
    std::printf("  message box: %s (%s)\n", text, caption);
    return IDOK;
}

std::string TempFolder(const std::string& name) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + name + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

using bench::Median;
using bench::TimeMs;

// Ours and the floor in turn; `before` (untimed) runs ahead of each of ours,
// `after` (untimed) behind it.
bench::Timing Alternate(const std::function<void()>& ours, const std::function<void()>& floor, int runs,
                        const std::function<void()>& before = nullptr, const std::function<void()>& after = nullptr) {
    std::vector<double> oursTimes, floorTimes;
    for (int run = 0; run < runs; ++run) {
        const double beforeMs = before ? TimeMs(before) : 0;
        oursTimes.push_back(TimeMs(ours));
        const double afterMs = after ? TimeMs(after) : 0;
        floorTimes.push_back(TimeMs(floor));
        std::printf("    run %d: ours %.1f ms, floor %.1f ms (untimed steps: before %.1f ms, after %.1f ms)\n", run + 1,
                    oursTimes.back(), floorTimes.back(), beforeMs, afterMs);
        std::fflush(stdout);
    }
    return bench::Timing{Median(oursTimes), Median(floorTimes), runs};
}

// Lets the viewer's posted first update, its painting and the tree's notices run.
void Pump() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

bool WriteSettings(const std::string& folder) {
    // What set-up leaves: an existing settings file without accounts.
    CloseHandle(CreateFileA((folder + "users.dat").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    return parleym::WriteUserSettingsFile(folder + "users.dat", {}).kind == parleym::SettingsFileResult::Ok;
}

// The plug-in's manager started on `folder` (no messenger) with the account
// signed in to its logs and statistics.
std::unique_ptr<parleym::CParleymanager> StartManager(const std::string& folder) {
    auto manager = std::make_unique<parleym::CParleymanager>();
    manager->SetDataFolder(folder);
    if (!manager->Init(1)) return nullptr;
    return manager;
}

bool SignIn(parleym::CParleymanager& manager, const std::string& folder) {
    return manager.LogStore().Open((folder + "logs.dat").c_str()) &&
           manager.LogStore().OpenAccount(bench::kHeavyAccount) &&
           manager.Statistics().OpenAccount(bench::kHeavyAccount);
}

parleym::CLogViewer* OpenViewer(parleym::CParleymanager& manager) {
    parleym::CLogViewer* viewer = parleym::OpenLogViewer(manager);
    if (!viewer) return nullptr;
    // The first update is posted by the frame itself.
    for (int round = 0; round < 100 && !viewer->Tree().ItemOf(kConversations); ++round) {
        Pump();
        if (!viewer->Tree().ItemOf(kConversations)) Sleep(1);
    }
    Pump();
    return viewer;
}

// ---- the plain calls the viewer's work is measured against

class PlainLogFile {
public:
    bool Open(const std::string& path) {
        if (!database_.Open(path.c_str())) return false;
        if (!database_.OpenUserStorage(bench::kHeavyAccount, account_.Put()) || !account_) return false;
        return SUCCEEDED(account_->OpenStream(L"conversations", nullptr, kStorageAccess, 0, index_.Put()));
    }
    std::size_t ReadIndex() {
        parleym::Bytes data;
        parleym::ReadWholeStream(index_.Get(), data);
        return data.size();
    }
    std::size_t ReadConversation(const char* number) {
        ComPtr<IStream> stream;
        parleym::Bytes data;
        if (SUCCEEDED(account_->OpenStream(ToElementName(number).c_str(), nullptr, kStorageAccess, 0, stream.Put())))
            parleym::ReadWholeStream(stream.Get(), data);
        return data.size();
    }
    ~PlainLogFile() {
        index_.Reset();
        account_.Reset();
        database_.Close();
    }

private:
    CStorageDb database_;
    ComPtr<IStorage> account_;
    ComPtr<IStream> index_;
};

DWORD CALLBACK ReadFromString(DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG* given) {
    auto* rest = reinterpret_cast<std::pair<const char*, std::size_t>*>(cookie);
    const std::size_t size = std::min<std::size_t>(rest->second, static_cast<std::size_t>(wanted));
    std::copy(rest->first, rest->first + size, buffer);
    rest->first += size;
    rest->second -= size;
    *given = static_cast<LONG>(size);
    return 0;
}

// Rich Edit's own part: the same RTF streamed into the same control.
void StreamIntoControl(HWND control, const std::string& rtf) {
    std::pair<const char*, std::size_t> rest(rtf.data(), rtf.size());
    EDITSTREAM stream{};
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(&rest);
    stream.pfnCallback = ReadFromString;
    SendMessageA(control, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
}

// ---- figures of the viewer

// Each figure takes a while under Wine: say which one runs.
void Progress(const char* figure) {
    std::printf("  measuring %s\n", figure);
    std::fflush(stdout);
}

void ViewerFigures(const std::string& folder) {
    const std::string floorCopy = folder + "logs-floor.dat";
    if (!CopyFileA((folder + "logs.dat").c_str(), floorCopy.c_str(), FALSE)) {
        std::printf("  cannot copy logs.dat (%lu)\n", GetLastError());
        return;
    }
    PlainLogFile plain;
    if (!plain.Open(floorCopy)) {
        std::printf("  the floor's copy of logs.dat does not open\n");
        return;
    }
    std::unique_ptr<parleym::CParleymanager> manager;
    bool started = false;
    const double startMs = TimeMs([&] {
        manager = StartManager(folder);
        started = manager && SignIn(*manager, folder);
    });
    if (!started) {
        std::printf("  the plug-in did not start on the heavy files\n");
        return;
    }
    std::printf("plug-in started and signed in on the heavy files in %.0f ms\n", startMs);
    std::fflush(stdout);
    if (manager->LogStore().Index().size() != static_cast<std::size_t>(kConversations)) {
        std::printf("  the index holds %zu conversations, not %d\n", manager->LogStore().Index().size(),
                    kConversations);
        return;
    }
    bench::Table table("log viewer at " + std::to_string(kConversations) +
                       " conversations, floor: reading the index (or the conversation's content stream) with plain "
                       "storage calls");
    const auto readIndex = [&] { plain.ReadIndex(); };
    const auto readBig = [&] { plain.ReadConversation("1"); };

    parleym::CLogViewer* viewer = nullptr;
    Progress("viewer_open");
    const bench::Timing open = Alternate([&] { viewer = OpenViewer(*manager); }, readIndex, 3, nullptr, [&] {
        if (viewer) DestroyWindow(viewer->GetSafeHwnd());
        viewer = nullptr;
        Pump();
    });
    table.Add("viewer_open", kConversations, open, 0, 1000);
    // Its parts: what the tree is built from (our code) and the tree control's share.
    std::map<std::string, std::string> names;
    Progress("viewer_open_build_items");
    table.Add("viewer_open_build_items", kConversations,
              Alternate([&] { parleym::BuildLogTree(manager->LogStore().Index(), names, parleym::LogGrouping::kByDate); },
                        readIndex, 3),
              0);

    viewer = OpenViewer(*manager);
    if (!viewer || !viewer->Tree().ItemOf(1)) {
        std::printf("  the viewer did not open with the conversations\n");
        return;
    }
    Progress("viewer_show_1mb");
    const bench::Timing show =
        Alternate([&] { viewer->ShowConversation(1); }, readBig, 5, [&] { viewer->ShowConversation(2); });
    table.Add("viewer_show_1mb", static_cast<long long>(kBigConversation), show, 2.0);
    // Its parts: reading and decoding the record, and Rich Edit taking the RTF in.
    CMessageContent big;
    Progress("viewer_show_load_record");
    table.Add("viewer_show_load_record", static_cast<long long>(kBigConversation),
              Alternate([&] { manager->LogStore().LoadConversation("1", big); }, readBig, 5), 0);
    const std::string rtf = big.text;
    Progress("viewer_show_richedit_streamin");
    table.Add("viewer_show_richedit_streamin", static_cast<long long>(rtf.size()),
              Alternate([&] { StreamIntoControl(viewer->Pane().RichEdit(), rtf); }, readBig, 5,
                        [&] { viewer->Pane().Clear(); }),
              0);
    viewer->ShowConversation(2);
    viewer->Tree().SelectItem(viewer->Tree().ItemOf(2));
    Pump();

    const auto refresh = [&] { parleym::RefreshLogViewer(viewer); };
    Progress("viewer_refresh_status_change");
    table.Add("viewer_refresh_status_change", kConversations, Alternate(refresh, readIndex, 7), 0, 100);
    // A conversation logged since the last status change: the tree takes it in.
    int next = kConversations + 1;
    CMessageContent small;
    small.isRtf = 1;
    small.text = bench::ConversationRtf(300);
    const auto logOneMore = [&] {
        const double start = 44000.0 + next / 10 + 0.3;
        manager->LogStore().SaveConversation(LogEntry{start, start + 0.01, "newcomer@parleym.example", next++}, small);
    };
    Progress("viewer_refresh_new_conversation");
    table.Add("viewer_refresh_new_conversation", kConversations, Alternate(refresh, readIndex, 5, logOneMore), 0,
              100);
    // A change of grouping rebuilds the tree and empties the pane, as a Refresh does.
    SendMessageA(viewer->GetSafeHwnd(), WM_COMMAND, ID_LOG_GROUP_BY_USER, 0);
    Pump();
    viewer->ShowConversation(2);
    viewer->Tree().SelectItem(viewer->Tree().ItemOf(2));
    Pump();
    Progress("viewer_refresh_by_contact");
    table.Add("viewer_refresh_by_contact", kConversations, Alternate(refresh, readIndex, 7), 0, 100);
    Progress("viewer_refresh_by_contact_new");
    table.Add("viewer_refresh_by_contact_new", kConversations, Alternate(refresh, readIndex, 5, logOneMore), 0, 100);
    const bool kept = viewer->ShownConversation() == 2 &&
                      viewer->Tree().GetSelectedItem() == viewer->Tree().ItemOf(2) &&
                      viewer->Grouping() == ID_LOG_GROUP_BY_USER;
    table.Print();
    std::printf("  after the refreshes the conversation on show, its selection and the grouping stayed: %s\n",
                kept ? "yes" : "NO");
    DestroyWindow(viewer->GetSafeHwnd());
    Pump();
    manager->Uninit();
}

// ---- memory

struct MemoryFigures {
    double committedMb = 0;  // private committed pages, counted region by region
    double reportedMb = 0;   // what the system reports as the process's private bytes
};

MemoryFigures Memory() {
    MemoryFigures figures;
    MEMORY_BASIC_INFORMATION region;
    const char* address = nullptr;
    double bytes = 0;
    while (VirtualQuery(address, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) bytes += static_cast<double>(region.RegionSize);
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= address) break;
        address = next;
    }
    figures.committedMb = bytes / (1024 * 1024);
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters))
        figures.reportedMb = static_cast<double>(counters.PrivateUsage) / (1024 * 1024);
    return figures;
}

// In a process of its own: the messenger's share first (COM, the common
// controls, Rich Edit, which it has loaded anyway), then the plug-in.
int MeasureMemory(const std::string& folder, const std::string& resultPath) {
    OleInitialize(nullptr);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    LoadLibraryA("RichEd20.dll");
    std::ofstream result(resultPath);
    const auto note = [&](const char* stage) {
        const MemoryFigures figures = Memory();
        result << stage << ' ' << figures.committedMb << ' ' << figures.reportedMb << '\n';
    };
    note("before");
    std::unique_ptr<parleym::CParleymanager> manager = StartManager(folder);
    if (!manager) return 1;
    note("started");
    if (!SignIn(*manager, folder)) return 1;
    note("signed_in");
    parleym::CLogViewer* viewer = OpenViewer(*manager);
    if (!viewer) return 1;
    viewer->ShowConversation(1);
    Pump();
    note("viewer_open");
    DestroyWindow(viewer->GetSafeHwnd());
    Pump();
    manager->Uninit();
    result.close();
    return 0;
}

bool RunMemoryProcess(const std::string& folder, const std::string& resultPath) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    // A backslash before a closing quote would escape it: the folder's own is doubled.
    const std::string quotedFolder = !folder.empty() && folder.back() == '\\' ? folder + "\\" : folder;
    std::string commandLine = "\"" + std::string(self) + "\" --memory \"" + quotedFolder + "\" \"" + resultPath + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    DWORD code = 1;
    if (WaitForSingleObject(process.hProcess, 600000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code == 0;
}

void MemoryFiguresFor(const std::vector<std::pair<int, std::string>>& folders) {
    std::printf("plug-in private bytes with heavy files open (logs of %d conversations, statistics of %d sessions of "
                "%d periods, the object cache as given), in a process of its own; floor: the same process before "
                "the plug-in starts; goal: the plug-in's share <= %.0f MB\n",
                kConversations, kStatsSessions, kStatsPeriods, kMemoryGoalMb);
    std::printf("  %-22s %8s %11s %11s %11s %11s %5s\n", "stage", "objects", "before MB", "plug-in MB", "total MB",
                "reported MB", "met");
    std::vector<std::string> lines;
    for (const auto& folder : folders) {
        const std::string resultPath = folder.second + "memory.txt";
        DeleteFileA(resultPath.c_str());
        if (!RunMemoryProcess(folder.second, resultPath)) {
            std::printf("  the measuring process for %d objects failed\n", folder.first);
            continue;
        }
        std::ifstream result(resultPath);
        std::string stage;
        double committed = 0, reported = 0, before = 0, beforeReported = 0;
        while (result >> stage >> committed >> reported) {
            if (stage == "before") {
                before = committed;
                beforeReported = reported;
                continue;
            }
            const double ours = committed - before;
            const bool met = ours <= kMemoryGoalMb;
            std::printf("  %-22s %8d %11.1f %11.1f %11.1f %11.1f %5s\n", stage.c_str(), folder.first, before, ours,
                        committed, reported - beforeReported, met ? "yes" : "NO");
            char line[256];
            std::snprintf(line, sizeof line,
                          "BENCH figure=memory_%s size=%d ours_mb=%.2f floor_mb=%.2f ratio=%.3f goal_mb=%.0f met=%s",
                          stage.c_str(), folder.first, ours, before, before > 0 ? committed / before : 0,
                          kMemoryGoalMb, met ? "yes" : "no");
            lines.push_back(line);
        }
    }
    for (const std::string& line : lines) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// The heavy file `name` made by make-bench-files, as `path`.
bool CopyHeavyFile(const std::string& name, const std::string& path) {
    const std::string made = bench::HeavyFilePath(name);
    return !made.empty() && CopyFileA(made.c_str(), path.c_str(), FALSE);
}

bool Prepare(const std::string& folder, int objects) {
    return WriteSettings(folder) && CopyHeavyFile(bench::HeavyObjectCacheName(objects), folder + "objcache.dat") &&
           CopyHeavyFile(bench::HeavyLogsName(), folder + "logs.dat") &&
           CopyHeavyFile(bench::HeavyStatsName(), folder + "stats.dat");
}

} // namespace

int main(int argc, char** argv) {
    parleym::SetUserMessageSink(PrintMessage);
    if (argc == 4 && std::string(argv[1]) == "--memory") return MeasureMemory(argv[2], argv[3]);

    OleInitialize(nullptr);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    std::vector<std::pair<int, std::string>> folders;
    for (int objects : {1000, 10000}) {
        const std::string folder = TempFolder("parleym-bench-heavy-" + std::to_string(objects));
        const bool prepared = Prepare(folder, objects);
        if (!prepared) {
            std::printf("could not prepare the data folder of %d objects\n", objects);
            continue;
        }
        folders.emplace_back(objects, folder);
    }
    if (folders.empty()) return 1;
    ViewerFigures(folders.front().second);
    MemoryFiguresFor(folders);
    OleUninitialize();
    return 0;
}

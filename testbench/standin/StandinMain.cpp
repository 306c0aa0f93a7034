// The stand-in messenger: plays Windows Messenger (msmsgs.exe) or MSN Messenger
// (msnmsgr.exe), chosen by its own file name, and runs one scenario.
//   msmsgs.exe --scenario FILE [--transcript FILE] [--out DIR] [--data DIR] [--profile wm|msn]
#include "testbench/standin/DialogWatcher.h"
#include "testbench/standin/EmoticonObject.h"
#include "testbench/standin/MessengerState.h"
#include "testbench/standin/Profile.h"
#include "testbench/standin/Scenario.h"
#include "testbench/standin/ScenarioRunner.h"
#include "testbench/standin/StandinMessenger.h"
#include "testbench/standin/TextUtil.h"
#include "testbench/standin/Transcript.h"

#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace standin {
namespace {

struct CommandLine {
    std::string scenario, transcript, out, data, profile;
};

CommandLine ParseCommandLine() {
    CommandLine result;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv) return result;
    for (int i = 1; i + 1 < count; i += 2) {
        std::string key = Narrow(argv[i]), value = Narrow(argv[i + 1]);
        if (key == "--scenario") result.scenario = value;
        else if (key == "--transcript") result.transcript = value;
        else if (key == "--out") result.out = value;
        else if (key == "--data") result.data = value;
        else if (key == "--profile") result.profile = value;
    }
    LocalFree(argv);
    return result;
}

std::string ModulePath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

std::string FileNameOf(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string FileVersion(const std::string& path) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (!size) return "none";
    std::vector<char> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoA(path.c_str(), 0, size, data.data()) ||
        !VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length) || !info)
        return "none";
    return std::to_string(HIWORD(info->dwFileVersionMS)) + "." + std::to_string(LOWORD(info->dwFileVersionMS));
}

// What the hook library will see: Wine answers per executable (AppDefaults).
std::string WindowsVersion() {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info)) return "unknown";
    return std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion);
}

bool ReadTextFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream content;
    content << in.rdbuf();
    text = content.str();
    return true;
}

bool HasOption(const std::vector<Step>& steps, const std::string& name, std::string* value = nullptr) {
    for (const Step& step : steps) {
        if (step.command != "option") continue;
        for (const std::string& arg : step.args)
            if (arg == name) return true;
        auto found = step.options.find(name);
        if (found != step.options.end()) {
            if (value) *value = found->second;
            return true;
        }
    }
    return false;
}

StandinMessenger* g_messenger = nullptr;

void CALLBACK CreateDelayedUiManager(HWND, UINT, UINT_PTR timer, DWORD) {
    try {
        KillTimer(nullptr, timer);
        if (g_messenger) g_messenger->CreateUiManager();
    } catch (...) {
    }
}

int Main() {
    CommandLine args = ParseCommandLine();
    const std::string exePath = ModulePath();
    const std::string exeName = FileNameOf(exePath);
    if (args.transcript.empty())
        args.transcript = (args.scenario.empty() ? FolderOf(exePath) : args.scenario) + ".transcript.txt";
    if (args.out.empty()) args.out = FolderOf(args.transcript);
    Transcript transcript(args.transcript);
    SetTranscript(&transcript);

    const Profile& profile = args.profile == "msn"  ? MsnMessengerProfile()
                             : args.profile == "wm" ? WindowsMessengerProfile()
                                                    : ProfileForExecutable(exeName);
    Log("start exe=" + exeName + " version=" + FileVersion(exePath) + " profile=" + profile.key +
        " windows=" + WindowsVersion() + " pid=" + std::to_string(GetCurrentProcessId()));

    std::string text;
    if (args.scenario.empty() || !ReadTextFile(args.scenario, text)) {
        Log("error cannot read scenario " + Quote(args.scenario));
        Log("end failures=1");
        return 2;
    }
    // Scenarios are UTF-8: the text a contact sends, the user types and the
    // names reach the messenger in the system's ANSI code page, as a real
    // messenger on that Windows converts what the network brings. Words are
    // split first: a double-byte character's second byte may be a backslash's.
    Scenario scenario = ParseScenario(text);
    for (Step& step : scenario.steps) {
        step.source = AnsiFromUtf8(step.source);
        for (std::string& arg : step.args) arg = AnsiFromUtf8(arg);
        for (auto& option : step.options) option.second = AnsiFromUtf8(option.second);
    }
    for (const std::string& error : scenario.errors) Log("error scenario " + error);

    OleInitialize(nullptr);
    HMODULE richEdit = LoadLibraryA("RichEd20.dll");
    RegisterEmoticonClass();
    int failures = static_cast<int>(scenario.errors.size());
    {
        MessengerState state;
        StandinMessenger messenger(GetModuleHandleA(nullptr), profile, state);
        g_messenger = &messenger;
        std::string delay;
        const bool delayed = HasOption(scenario.steps, "ui-manager-delay", &delay);
        const bool noUiManager = HasOption(scenario.steps, "no-ui-manager");
        DialogWatcher watcher;
        watcher.SetOutputFolder(args.out);
        watcher.Start();
        if (messenger.Start(!HasOption(scenario.steps, "no-api"), !delayed && !noUiManager)) {
            if (delayed)
                SetTimer(nullptr, 0, static_cast<UINT>(std::strtoul(delay.c_str(), nullptr, 0)),
                         CreateDelayedUiManager);
            ScenarioRunner runner(messenger, state, watcher, RunnerPaths{args.data, args.out});
            failures += runner.Run(scenario.steps);
            messenger.DestroyAll();
            runner.Pump(200);
        } else {
            ++failures;
        }
        g_messenger = nullptr;
        Log("boxes seen=" + std::to_string(watcher.SeenCount()) +
            " unexpected=" + std::to_string(watcher.UnexpectedCount()) +
            " unanswered-expectations=" + std::to_string(watcher.PendingExpectations()));
        watcher.Stop();
    }
    RevokeEmoticonClass();
    if (richEdit) FreeLibrary(richEdit);
    OleUninitialize();
    Log("end failures=" + std::to_string(failures));
    SetTranscript(nullptr);
    return failures ? 1 : 0;
}

}  // namespace
}  // namespace standin

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    try {
        return standin::Main();
    } catch (...) {
        return 3;
    }
}

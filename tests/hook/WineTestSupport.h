#pragma once
// Helpers for tests that run programs and libraries under Wine: processes,
// registry fixtures and answering message boxes (folders, pumps and paths are
// tests/support's).
#include <windows.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/MessagePump.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WinePaths.h"

namespace parleym::test {

inline bool CopyInto(const std::string& source, const std::string& destination) {
    return CopyFileA(WinPath(source).c_str(), destination.c_str(), FALSE) != FALSE;
}

inline std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

inline bool Contains(const std::vector<std::string>& lines, const std::string& wanted) {
    for (const auto& line : lines)
        if (line == wanted) return true;
    return false;
}

// The lines, without those equal to any of `noise`.
inline std::vector<std::string> Without(const std::vector<std::string>& lines, const std::vector<std::string>& noise) {
    std::vector<std::string> kept;
    for (const auto& line : lines) {
        bool drop = false;
        for (const auto& n : noise) drop = drop || line == n || line.rfind(n + " ", 0) == 0;
        if (!drop) kept.push_back(line);
    }
    return kept;
}

class Process {
public:
    Process() = default;
    ~Process() {
        if (info_.hProcess) {
            if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info_.hProcess, 99);
            CloseHandle(info_.hProcess);
            CloseHandle(info_.hThread);
        }
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool Start(const std::string& commandLine, const std::string& folder = std::string()) {
        std::vector<char> line(commandLine.begin(), commandLine.end());
        line.push_back('\0');
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              folder.empty() ? nullptr : folder.c_str(), &startup, &info_) != FALSE;
    }
    bool Wait(DWORD timeoutMs) { return WaitPumping(info_.hProcess, timeoutMs); }
    bool Running() const { return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }
    DWORD ExitCode() const {
        DWORD code = 0;
        GetExitCodeProcess(info_.hProcess, &code);
        return code;
    }
    DWORD Id() const { return info_.dwProcessId; }

private:
    PROCESS_INFORMATION info_ = {};
};

// HKCU\Software\Wine\AppDefaults\<exe>\Version: the system version Wine reports
// to programs of that name ("winxp" 5.1, "win2k" 5.0). Other tests of the run (the
// test bench's driver caches what it set) expect to find the value as they left
// it, so it is put back when the scope ends.
class ScopedWineVersion {
public:
    ScopedWineVersion(const char* exeName, const char* version)
        : path_(std::string("Software\\Wine\\AppDefaults\\") + exeName) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
            char value[64] = {};
            DWORD size = sizeof(value) - 1;
            DWORD type = 0;
            if (RegQueryValueExA(key, "Version", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
                    ERROR_SUCCESS &&
                type == REG_SZ) {
                hadValue_ = true;
                previous_ = value;
            }
            RegCloseKey(key);
        }
        Set(version);
    }
    ~ScopedWineVersion() {
        if (hadValue_) {
            Set(previous_.c_str());
            return;
        }
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, "Version");
            RegCloseKey(key);
        }
    }
    ScopedWineVersion(const ScopedWineVersion&) = delete;
    ScopedWineVersion& operator=(const ScopedWineVersion&) = delete;

    void Set(const char* version) {
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr) != ERROR_SUCCESS)
            return;
        RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                       static_cast<DWORD>(strlen(version) + 1));
        RegCloseKey(key);
    }

private:
    std::string path_;
    bool hadValue_ = false;
    std::string previous_;
};

struct SeenBox {
    std::string caption;
    std::string text;
};

// Watches for message boxes and dialogs (class "#32770") of any process,
// records their caption and text (static 0xFFFF) and answers them by
// pressing a button chosen by `answer` (default: IDOK, else IDCANCEL).
class BoxAnswerer {
public:
    using Answer = std::function<void(HWND box, const SeenBox& seen)>;

    explicit BoxAnswerer(Answer answer = Answer()) : answer_(std::move(answer)) {
        thread_ = std::thread([this] { Run(); });
    }
    ~BoxAnswerer() {
        stop_ = true;
        thread_.join();
    }
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;

    std::vector<SeenBox> Seen() {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }
    bool WaitFor(size_t count, DWORD timeoutMs) {
        return PumpUntil([&] { return Seen().size() >= count; }, timeoutMs);
    }

    static void Press(HWND box, int id) {
        HWND button = GetDlgItem(box, id);
        if (button) PostMessageA(button, BM_CLICK, 0, 0);
        else PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    }

private:
    void Run() {
        std::vector<HWND> answered;
        while (!stop_) {
            HWND box = nullptr;
            while ((box = FindWindowExA(nullptr, box, "#32770", nullptr)) != nullptr) {
                if (!IsWindowVisible(box)) continue;
                bool known = false;
                for (HWND h : answered) known = known || h == box;
                if (known) continue;
                answered.push_back(box);
                SeenBox seen;
                char buffer[1024] = {};
                GetWindowTextA(box, buffer, sizeof(buffer));
                seen.caption = buffer;
                buffer[0] = '\0';
                GetDlgItemTextA(box, 0xFFFF, buffer, sizeof(buffer));
                seen.text = buffer;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    seen_.push_back(seen);
                }
                if (answer_) answer_(box, seen);
                else Press(box, GetDlgItem(box, IDOK) ? IDOK : IDCANCEL);
            }
            Sleep(50);
        }
    }

    Answer answer_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<SeenBox> seen_;
    std::thread thread_;
};

// A window whose thread stops answering for `stallMs` right after creating it, as a
// hung program does; afterwards it answers again until the object goes.
class StalledWindow {
public:
    StalledWindow(const char* className, const char* title, DWORD stallMs) {
        HANDLE created = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_ = std::thread([this, className, title, stallMs, created] {
            WNDCLASSA windowClass = {};
            windowClass.lpfnWndProc = DefWindowProcA;
            windowClass.hInstance = GetModuleHandleA(nullptr);
            windowClass.lpszClassName = className;
            RegisterClassA(&windowClass);
            window = CreateWindowExA(0, className, title, 0, 0, 0, 0, 0, nullptr, nullptr, windowClass.hInstance,
                                     nullptr);
            threadId_ = GetCurrentThreadId();
            SetEvent(created);
            // Neither sent nor posted messages are taken meanwhile.
            WaitForSingleObject(stop_, stallMs);
            MSG message;
            while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
            DestroyWindow(window);
        });
        WaitForSingleObject(created, 10000);
        CloseHandle(created);
    }
    ~StalledWindow() {
        SetEvent(stop_);
        PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
        thread_.join();
        CloseHandle(stop_);
    }
    StalledWindow(const StalledWindow&) = delete;
    StalledWindow& operator=(const StalledWindow&) = delete;

    HWND window = nullptr;

private:
    std::thread thread_;
    DWORD threadId_ = 0;
    HANDLE stop_ = nullptr;
};

} // namespace parleym::test

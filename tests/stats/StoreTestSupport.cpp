#include "tests/stats/StoreTestSupport.h"

#include <objbase.h>

#include <cstdlib>
#include <stdexcept>

#include "plugin/storage/Scoped.h"

namespace storetest {

namespace {
std::string EnvOr(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

// The build tree, which python sees as well.
std::string BuildFolder() {
    const std::string folder = parleym::test::WinPath(EnvOr("PARLEYM_BINARY_DIR", "/tmp"));
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

void Check(HRESULT hr, const char* what) {
    if (FAILED(hr)) throw std::runtime_error(what);
}
} // namespace

ScratchFolder::ScratchFolder(const std::string& name) : folder_("scratch-" + name, BuildFolder()) {}

void WriteStoreFile(const std::string& path, const std::vector<AccountStreams>& accounts) {
    const std::wstring widePath(path.begin(), path.end());
    parleym::ComPtr<IStorage> root;
    Check(StgCreateDocfile(widePath.c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE, 0, root.Put()),
          "create file");
    parleym::BinaryWriter ids;
    int last = 0;
    for (const AccountStreams& account : accounts) last = account.number > last ? account.number : last;
    ids.PutInt32(last);
    ids.PutInt32(static_cast<std::int32_t>(accounts.size()));
    for (const AccountStreams& account : accounts) {
        ids.PutString(account.account);
        ids.PutInt32(account.number);
    }
    auto writeStream = [](IStorage* parent, const std::wstring& name, const parleym::Bytes& data) {
        parleym::ComPtr<IStream> stream;
        Check(parent->CreateStream(name.c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, stream.Put()),
              "create stream");
        ULONG written = 0;
        if (!data.empty()) Check(stream->Write(data.data(), static_cast<ULONG>(data.size()), &written), "write");
    };
    writeStream(root.Get(), L"userids", ids.Data());
    for (const AccountStreams& account : accounts) {
        parleym::ComPtr<IStorage> storage;
        const std::wstring number = std::to_wstring(account.number);
        Check(root->CreateStorage(number.c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, storage.Put()),
              "create storage");
        for (const auto& stream : account.streams) writeStream(storage.Get(), stream.first, stream.second);
    }
}

namespace {
const char kChildFileVariable[] = "PARLEYM_STORE_CHILD_FILE";
}

namespace {
const char kChildRunVariable[] = "PARLEYM_STORE_CHILD_RUN";
constexpr DWORD kEndedExitCode = 99;
enum ReportKind : std::int32_t { kIntent = 1, kDone = 2, kFailure = 3 };

std::string ReportFile(const std::string& file) { return file + ".saves"; }

bool StartChild(const std::string& childTest, const std::string& file, int run, PROCESS_INFORMATION& process) {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\" --gtest_filter=" + childTest;
    SetEnvironmentVariableA(kChildFileVariable, file.c_str());
    SetEnvironmentVariableA(kChildRunVariable, std::to_string(run).c_str());
    // The child's own test output would bury the parent's report of a failure.
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    const HANDLE nowhere = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                                       OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = nowhere;
    startup.hStdError = nowhere;
    process = {};
    // Under Wine a start now and then fails on a busy machine; a few more tries.
    BOOL started = FALSE;
    for (int attempt = 0; attempt < 5 && !started; ++attempt) {
        if (attempt > 0) Sleep(200);
        started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    }
    if (nowhere != INVALID_HANDLE_VALUE) CloseHandle(nowhere);
    SetEnvironmentVariableA(kChildFileVariable, nullptr);
    SetEnvironmentVariableA(kChildRunVariable, nullptr);
    return started != FALSE;
}

DWORD WaitAndClose(PROCESS_INFORMATION& process) {
    WaitForSingleObject(process.hProcess, 60000);
    DWORD exitCode = 0xFFFFFFFF;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

void ReadReports(const std::string& file, EndedChild& child) {
    const parleym::Bytes data = ReadFileBytes(ReportFile(file));
    parleym::BinaryReader in(data);
    std::int32_t kind = 0;
    std::int32_t length = 0;
    // A record cut short by the end is one that was never made.
    while (in.GetInt32(kind) && in.GetInt32(length) && length >= 0 &&
           in.Remaining() >= static_cast<std::size_t>(length)) {
        parleym::Bytes record(static_cast<std::size_t>(length));
        if (length > 0) in.GetBytes(record.data(), record.size());
        if (kind == kIntent) {
            child.pending = std::move(record);
            child.inFlight = true;
        } else if (kind == kDone && child.inFlight) {
            child.completed.push_back(std::move(child.pending));
            child.pending.clear();
            child.inFlight = false;
        } else if (kind == kFailure) {
            child.failure.assign(record.begin(), record.end());
        }
    }
}
} // namespace

DWORD RunChildTest(const std::string& childTest, const std::string& file) {
    PROCESS_INFORMATION process;
    if (!StartChild(childTest, file, 0, process)) return 0xFFFFFFFF;
    return WaitAndClose(process);
}

EndedChild RunChildAndEnd(const std::string& childTest, const std::string& file, int run, DWORD afterMs) {
    EndedChild child;
    const std::string reports = ReportFile(file);
    DeleteFileA(reports.c_str());
    PROCESS_INFORMATION process;
    if (!StartChild(childTest, file, run, process)) {
        child.failure = "could not start the child: error " + std::to_string(GetLastError());
        return child;
    }
    // The child's start-up is not part of its saving: the clock starts once it reports.
    for (int waited = 0; GetFileAttributesA(reports.c_str()) == INVALID_FILE_ATTRIBUTES && waited < 30000; ++waited) {
        if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0) break;
    }
    if (WaitForSingleObject(process.hProcess, afterMs) == WAIT_TIMEOUT) {
        TerminateProcess(process.hProcess, kEndedExitCode);
        child.ended = true;
    }
    child.exitCode = WaitAndClose(process);
    if (child.exitCode != kEndedExitCode) child.ended = false;
    ReadReports(file, child);
    return child;
}

SaveReport::SaveReport() : run_(std::atoi(EnvOr(kChildRunVariable, "0").c_str())) {
    file_ = CreateFileA(ReportFile(ChildFile()).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
}

SaveReport::~SaveReport() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

void SaveReport::Append(std::int32_t kind, const parleym::Bytes& data) {
    parleym::BinaryWriter record;
    record.PutInt32(kind);
    record.PutInt32(static_cast<std::int32_t>(data.size()));
    record.PutBytes(data.data(), data.size());
    // One write per record: an end in the middle leaves it short, and the parent drops it.
    DWORD written = 0;
    if (file_ == INVALID_HANDLE_VALUE ||
        !WriteFile(file_, record.Data().data(), static_cast<DWORD>(record.Data().size()), &written, nullptr))
        std::exit(5);
}

void SaveReport::Intent(const parleym::Bytes& save) { Append(kIntent, save); }
void SaveReport::Done() { Append(kDone, parleym::Bytes()); }

void SaveReport::Fail(const std::string& why) {
    Append(kFailure, parleym::Bytes(why.begin(), why.end()));
    std::exit(3);
}

std::string ChildFile() { return EnvOr(kChildFileVariable, ""); }

namespace {
// Named after the parent, so that runs side by side do not meet.
std::string HoldEventName(const char* what, DWORD parent) {
    return std::string("parleym-held-file-") + what + "-" + std::to_string(parent);
}
const char kHolderParentVariable[] = "PARLEYM_STORE_HOLDER_PARENT";
} // namespace

HeldFile::HeldFile(const std::string& holderTest, const std::string& file) {
    const DWORD self = GetCurrentProcessId();
    const HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, HoldEventName("ready", self).c_str());
    release_ = CreateEventA(nullptr, TRUE, FALSE, HoldEventName("release", self).c_str());
    SetEnvironmentVariableA(kHolderParentVariable, std::to_string(self).c_str());
    PROCESS_INFORMATION process;
    const bool started = StartChild(holderTest, file, 0, process);
    SetEnvironmentVariableA(kHolderParentVariable, nullptr);
    if (started) {
        CloseHandle(process.hThread);
        process_ = process.hProcess;
        const HANDLE waits[] = {ready, process.hProcess};
        held_ = WaitForMultipleObjects(2, waits, FALSE, 30000) == WAIT_OBJECT_0;
    }
    if (ready) CloseHandle(ready);
}

void HeldFile::Release() {
    if (release_) SetEvent(release_);
    if (process_) {
        if (WaitForSingleObject(process_, 30000) != WAIT_OBJECT_0) TerminateProcess(process_, 1);
        CloseHandle(process_);
        process_ = nullptr;
    }
    held_ = false;
}

HeldFile::~HeldFile() {
    Release();
    if (release_) CloseHandle(release_);
}

void HoldChildFile() {
    const DWORD parent = static_cast<DWORD>(std::strtoul(EnvOr(kHolderParentVariable, "0").c_str(), nullptr, 10));
    CoInitialize(nullptr);
    const std::string file = EnvOr(kChildFileVariable, "");
    const std::wstring widePath(file.begin(), file.end());
    IStorage* root = nullptr;
    if (FAILED(StgOpenStorage(widePath.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0, &root)))
        std::exit(4);
    const HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, HoldEventName("ready", parent).c_str());
    const HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, HoldEventName("release", parent).c_str());
    if (!ready || !release) std::exit(6);
    SetEvent(ready);
    WaitForSingleObject(release, 60000);
    root->Release();
    std::exit(0);
}



void EndAbruptly() {
    TerminateProcess(GetCurrentProcess(), 77);
    for (;;) Sleep(1000);
}

std::string DumpStore(const ScratchFolder& folder, const std::string& kind, const std::string& file) {
    const std::string script = EnvOr("PARLEYM_SOURCE_DIR", "/work/main") + "/tests/stats/dump_store.py";
    const std::string output = folder.UnixPath("dump.txt");
    std::string command = "Z:\\usr\\bin\\python3 \"" + script + "\" " + kind + " \"" + folder.UnixPath(file) +
                          "\" \"" + output + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    const std::string result = folder.WinPath("dump.txt");
    DeleteFileA(result.c_str());
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return "FAILED to start python";
    // Wine starts a Unix program without a process handle and leaves a stale
    // number in hThread: closing it would close whatever handle the test holds
    // under that number now (a store's data file). Nothing here is ours to close.
    // Nor does Wine wait for a Unix process; the script publishes its result
    // file in one rename, so its appearance means it is complete.
    for (int waited = 0; GetFileAttributesA(result.c_str()) == INVALID_FILE_ATTRIBUTES; waited += 20) {
        if (waited > 60000) return "FAILED: no result from python";
        Sleep(20);
    }
    const parleym::Bytes text = ReadFileBytes(result);
    DeleteFileA(result.c_str());
    return std::string(text.begin(), text.end());
}

} // namespace storetest

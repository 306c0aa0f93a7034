// A hardware fault in the messenger must reach Windows' exception handling with its
// own code: a crash of ours reported as an illegal instruction would send the search
// astray. (Under qemu this holds only through scripts/i686/sigshim.c.)
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

LONG WINAPI ExitWithCode(EXCEPTION_POINTERS* pointers) {
    ExitProcess(pointers->ExceptionRecord->ExceptionCode);
}

volatile int g_zero = 0;

// A copy of this program started with PARLEYM_FAULT set faults before any test runs.
const bool g_faultChild = [] {
    const char* kind = std::getenv("PARLEYM_FAULT");
    if (!kind) return false;
    SetUnhandledExceptionFilter(&ExitWithCode);
    if (std::string(kind) == "write-null") *static_cast<volatile int*>(nullptr) = 1;
    if (std::string(kind) == "divide-by-zero") g_zero = 7 / g_zero;
    ExitProcess(0);
}();

DWORD FaultInChild(const char* kind) {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    SetEnvironmentVariableA("PARLEYM_FAULT", kind);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessA(self, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableA("PARLEYM_FAULT", nullptr);
    if (!started) return 0;
    DWORD code = 0;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

TEST(HardwareFaults, KeepTheirExceptionCodes) {
    EXPECT_EQ(FaultInChild("write-null"), static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_EQ(FaultInChild("divide-by-zero"), static_cast<DWORD>(EXCEPTION_INT_DIVIDE_BY_ZERO));
}

} // namespace

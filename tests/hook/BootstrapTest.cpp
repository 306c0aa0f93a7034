// The hook library inside other processes: which programs start the plug-in,
// with which kind, and the shut-down when the library leaves the process.
// The processes are copies of a small host program; Wine reports the system
// version per executable name (AppDefaults), which stands in for a real XP,
// Windows 2000 or compatibility-layer process.
#include "tests/hook/WineTestSupport.h"

#include <gtest/gtest.h>

using namespace parleym::test;
using Lines = std::vector<std::string>;

namespace {

struct HostRun {
    Lines log;
    DWORD exitCode = 0;
};

class BootstrapTest : public ::testing::Test {
protected:
    void TearDown() override {
        SetEnvironmentVariableA("PARLEYM_PROBE_TITLE", nullptr);
        SetEnvironmentVariableA("PARLEYM_PROBE_NO_INSTANCE", nullptr);
    }

    // Lays out a data folder with the hook library, the probe as the plug-in
    // and the host under `exeName`, and runs it with Wine reporting `version`.
    HostRun Run(const char* host, const char* exeName, const char* version, bool withPlugin = true,
                const char* mode = "bootstrap") {
        EXPECT_TRUE(CopyInto(PARLEYM_HOOK_DLL, folder / "ParleymHk.dll"));
        if (withPlugin) {
            EXPECT_TRUE(CopyInto(PARLEYM_PROBE_DLL, folder / "ParleymPlugin.dll"));
        }
        EXPECT_TRUE(CopyInto(host, folder / exeName));
        ScopedWineVersion wineVersion(exeName, version);
        Process process;
        HostRun run;
        EXPECT_TRUE(process.Start("\"" + (folder / exeName) + "\" " + mode, folder.Path()));
        EXPECT_TRUE(process.Wait(30000));
        run.exitCode = process.ExitCode();
        run.log = ReadLines(folder / "probe.log");
        return run;
    }

    TempFolder folder{"parleym-boot"};
};

const Lines kInertRun = {
    "host loaded 1",
    "host patched entries 0",
    "host titleA Original A",
    "host titleW Original W",
    "host menu 30013",
    "host menu 105",
    "host freed plugin-loaded 0",
    "host imports restored",
};

TEST_F(BootstrapTest, WindowsMessengerOnXpRunsThePluginFromLoadToUnload) {
    const HostRun run = Run(PARLEYM_HOST_47, "msmsgs.exe", "winxp");
    EXPECT_EQ(run.exitCode, 0u);
    const Lines expected = {
        "GetInstance",
        "Init 1",
        "Reported window 0", // no loader in this test
        "host loaded 1",
        "host patched entries 3",
        "GetWindowTitle IMWindowClass (null)",
        "host titleA Original A",
        "GetWindowTitle IMWindowClass (null)",
        "host titleW Original W",
        // A command returned by a pop-up menu reaches the plug-in and the caller.
        "OnCommand 30013 IMWindowClass -",
        "host menu 30013",
        "host menu 105",
        // Imports restored before Uninit, then the object deleted and the library freed.
        "Uninit",
        "Destroy",
        "host freed plugin-loaded 0",
        "host imports restored",
    };
    EXPECT_EQ(run.log, expected);
}

TEST_F(BootstrapTest, AMessengerEndingWithTheHooksInLeavesThePluginToItsOwnDetach) {
    const HostRun run = Run(PARLEYM_HOST_47, "msmsgs.exe", "winxp", true, "exit");
    EXPECT_EQ(run.exitCode, 0u);
    // The plug-in library leaves first (it came after the hook library), so the hook
    // library calls nothing on it any more; the plug-in saves its stores itself.
    const Lines expected = {"GetInstance", "Init 1", "Reported window 0", "host loaded 1", "host exiting",
                            "Detach at process exit"};
    EXPECT_EQ(run.log, expected);
}

TEST_F(BootstrapTest, TitlesComeFromThePluginWhenItGivesOne) {
    SetEnvironmentVariableA("PARLEYM_PROBE_TITLE", "Offline message to Bob");
    const HostRun run = Run(PARLEYM_HOST_47, "msmsgs.exe", "winxp");
    EXPECT_TRUE(Contains(run.log, "host titleA Offline message to Bob"));
    EXPECT_TRUE(Contains(run.log, "host titleW Offline message to Bob"));
    EXPECT_TRUE(Contains(run.log, "host imports restored"));
}

TEST_F(BootstrapTest, MsnMessengerStartsWithKind2WhenItSeesWindows2000) {
    const HostRun run = Run(PARLEYM_HOST_50, "msnmsgr.exe", "win2k");
    ASSERT_GE(run.log.size(), 2u);
    EXPECT_EQ(run.log[0], "GetInstance");
    EXPECT_EQ(run.log[1], "Init 2");
    EXPECT_TRUE(Contains(run.log, "Uninit"));
    EXPECT_TRUE(Contains(run.log, "host imports restored"));
}

struct InertCase {
    const char* host;
    const char* exeName;
    const char* version;
};

TEST_F(BootstrapTest, EveryOtherProgramOrVersionStaysInert) {
    const InertCase cases[] = {
        {PARLEYM_HOST_47, "msmsgs.exe", "win2k"},  // Windows Messenger needs XP
        {PARLEYM_HOST_50, "msnmsgr.exe", "winxp"}, // MSN Messenger without the compatibility layer
        {PARLEYM_HOST_60, "msnmsgr.exe", "win2k"}, // a later MSN Messenger
        {PARLEYM_HOST_60, "msmsgs.exe", "winxp"},
        {PARLEYM_HOST_47, "notepad.exe", "winxp"}, // any other program
    };
    for (const InertCase& c : cases) {
        TempFolder own("parleym-inert");
        EXPECT_TRUE(CopyInto(PARLEYM_HOOK_DLL, own / "ParleymHk.dll"));
        EXPECT_TRUE(CopyInto(PARLEYM_PROBE_DLL, own / "ParleymPlugin.dll"));
        EXPECT_TRUE(CopyInto(c.host, own / c.exeName));
        ScopedWineVersion wineVersion(c.exeName, c.version);
        Process process;
        ASSERT_TRUE(process.Start("\"" + (own / c.exeName) + "\" bootstrap", own.Path()));
        ASSERT_TRUE(process.Wait(30000));
        EXPECT_EQ(ReadLines(own / "probe.log"), kInertRun) << c.exeName << " " << c.version;
    }
}

TEST_F(BootstrapTest, ASecondMessengerStaysInertWhileTheObjectCacheIsHeld) {
    const std::string cache = folder / "objcache.dat";
    HANDLE held = CreateFileA(cache.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    HostRun run = Run(PARLEYM_HOST_47, "msmsgs.exe", "winxp");
    EXPECT_EQ(run.log, kInertRun);
    CloseHandle(held);

    // The same file, no longer held, is no obstacle.
    DeleteFileA((folder / "probe.log").c_str());
    run = Run(PARLEYM_HOST_47, "msmsgs.exe", "winxp");
    ASSERT_FALSE(run.log.empty());
    EXPECT_EQ(run.log[0], "GetInstance");
}

TEST_F(BootstrapTest, AMissingPluginLibraryIsReportedAndLeavesTheMessengerAlone) {
    BoxAnswerer boxes;
    const HostRun run = Run(PARLEYM_HOST_47, "msmsgs.exe", "winxp", /*withPlugin=*/false);
    EXPECT_EQ(run.log, kInertRun);
    const auto seen = boxes.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "Error");
    EXPECT_EQ(seen[0].text, "Failed to load ParleymPlugin.dll. Code: 126");
}

TEST_F(BootstrapTest, APluginWithoutInstanceIsLeftUnpatchedAndUnloaded) {
    SetEnvironmentVariableA("PARLEYM_PROBE_NO_INSTANCE", "1");
    const HostRun run = Run(PARLEYM_HOST_47, "msmsgs.exe", "winxp");
    Lines expected = {"GetInstance null"};
    expected.insert(expected.end(), kInertRun.begin(), kInertRun.end());
    EXPECT_EQ(run.log, expected);
}

} // namespace

// The whole road with real processes: ParleymLdr.exe, a messenger-named host
// program and the probe plug-in. The loader installs its hooks, Windows (here
// Wine) maps the hook library into the messenger, the plug-in starts and
// reports its window; the tray menu offers its commands and they reach it.
// (The lock and dialog refusals are played with the stand-in messenger in
// test_standin_road.py.) Wine never unmaps a hook library after the hooks are
// removed, so the host frees it itself at that point, as Windows would.
#include "tests/hook/WineTestSupport.h"
#include "shared/Protocol.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace parleym;
using namespace parleym::test;
using Lines = std::vector<std::string>;

namespace {

class LoaderScenarioTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(CopyInto(PARLEYM_LOADER_EXE, folder / "ParleymLdr.exe"));
        ASSERT_TRUE(CopyInto(PARLEYM_HOOK_DLL, folder / "ParleymHk.dll"));
        ASSERT_TRUE(CopyInto(PARLEYM_PROBE_DLL, folder / "ParleymPlugin.dll"));
        ASSERT_TRUE(CopyInto(PARLEYM_HOST_47, folder / "msmsgs.exe"));
        ASSERT_TRUE(CopyInto(PARLEYM_MENU_READER_DLL, folder / "MenuReader.dll"));
    }

    Lines Log() { return ReadLines(folder / "probe.log"); }
    bool WaitForLine(const std::string& line, DWORD timeoutMs = 15000) {
        return PumpUntil([&] { return Contains(Log(), line); }, timeoutMs);
    }
    size_t CountLines(const std::string& line) {
        const Lines lines = Log();
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
    }
    HWND LoaderWindow() { return FindWindowA(kLoaderClassName, kLoaderWindowTitle); }
    bool StartLoader(Process& loader) {
        if (!loader.Start("\"" + (folder / "ParleymLdr.exe") + "\"", folder.Path())) return false;
        return PumpUntil([&] { return LoaderWindow() != nullptr; }, 15000);
    }
    void Post(UINT id) { PostMessageA(LoaderWindow(), WM_COMMAND, id, 0); }

    TempFolder folder{"parleym-scenario"};
    ScopedWineVersion wineVersion{"msmsgs.exe", "winxp"};
};

// The tray menu as a person would see it: opened by a right-click on the
// icon, read while shown (through a reader hooked into the loader's thread,
// since Wine cannot read another process's menus), then dismissed.
Lines ReadTrayMenu(HWND loader, const TempFolder& folder) {
    DeleteFileA((folder / "menu.txt").c_str());
    HMODULE reader = LoadLibraryA((folder / "MenuReader.dll").c_str());
    auto proc = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(reader, "MenuReaderProc")));
    HHOOK hook = proc ? SetWindowsHookExA(WH_CALLWNDPROC, proc, reader, GetWindowThreadProcessId(loader, nullptr))
                      : nullptr;
    Lines lines;
    PostMessageA(loader, LDR_TRAY_NOTIFY, 1, WM_RBUTTONUP);
    HWND menuWindow = nullptr;
    if (hook && PumpUntil([&] { return (menuWindow = FindWindowA("#32768", nullptr)) && IsWindowVisible(menuWindow); },
                          10000)) {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(loader, RegisterWindowMessageA("ParleymTestReadMenu"), 0, 0, SMTO_NORMAL, 5000, &ignored);
        lines = ReadLines(folder / "menu.txt");
        PostMessageA(menuWindow, WM_KEYDOWN, VK_ESCAPE, 0);
        PumpUntil([] { return !IsWindowVisible(FindWindowA("#32768", nullptr)); }, 5000);
    }
    if (hook) UnhookWindowsHookEx(hook);
    if (reader) FreeLibrary(reader);
    return lines;
}

TEST_F(LoaderScenarioTest, ASecondLoaderSaysSoAndEnds) {
    Process first;
    ASSERT_TRUE(StartLoader(first));
    HWND window = LoaderWindow();
    BoxAnswerer boxes;
    Process second;
    ASSERT_TRUE(second.Start("\"" + (folder / "ParleymLdr.exe") + "\"", folder.Path()));
    ASSERT_TRUE(second.Wait(15000));
    EXPECT_EQ(second.ExitCode(), 0u);
    const auto seen = boxes.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "Warning");
    EXPECT_EQ(seen[0].text, "Parleym is already running");
    EXPECT_EQ(LoaderWindow(), window);
    EXPECT_TRUE(first.Running());

    Post(ID_EXIT);
    ASSERT_TRUE(first.Wait(15000));
    EXPECT_EQ(first.ExitCode(), 0u);
}

TEST_F(LoaderScenarioTest, FromStartThroughTheTrayMenuToDisableAndExit) {
    Process messenger;
    ASSERT_TRUE(messenger.Start("\"" + (folder / "msmsgs.exe") + "\" run", folder.Path()));
    ASSERT_TRUE(WaitForLine("host running"));
    HWND messengerWindow = FindWindowA("MSBLClass", "Host Messenger");
    ASSERT_NE(messengerWindow, nullptr);

    Process loader;
    ASSERT_TRUE(StartLoader(loader));
    // The loader's broadcast after installing the hooks makes the messenger map
    // the hook library, which starts the plug-in as Windows Messenger.
    ASSERT_TRUE(WaitForLine("Init 1"));
    ASSERT_TRUE(WaitForLine("Reported window 1"));

    const Lines menu = ReadTrayMenu(LoaderWindow(), folder);
    const Lines expected = {
        "Enable #32771 [x]",
        "-",
        "Broadcast message... #30003",
        "Send offline message... #30000",
        "Statistics... #30012",
        "-",
        "Set password... #30019",
        "Auto lock messenger >",
        "  disabled #30020 [x]",
        "  at 5 minutes #30021",
        "  at 6 minutes #30022",
        "  at 10 minutes #30023",
        "  at 15 minutes #30024",
        "Lock messenger #30011",
        "-",
        "Enable logging #30013 [x]",
        "View logs... #30014",
        "Set logs path... #30026",
        "-",
        "About Parleym... #30001",
        "-",
        "Exit #105",
    };
    EXPECT_EQ(menu, expected);
    // Building the menu asked the plug-in for its check marks.
    EXPECT_TRUE(Contains(Log(), "Query autolock"));
    EXPECT_TRUE(Contains(Log(), "Query logging"));

    // A tray command travels to the plug-in's dispatch window in the messenger.
    Post(CMD_ABOUT);
    ASSERT_TRUE(WaitForLine("OnCommand 30001 ParleymDispWnd -"));

    // Disable. Windows would unmap the hook library from the
    // messenger here; Wine does not, so the host frees it.
    Post(ID_TOGGLE_ENABLE);
    Sleep(500);
    PostMessageA(messengerWindow, WM_APP, 0, 0);
    ASSERT_TRUE(WaitForLine("Destroy"));
    const Lines lines = Log();
    const auto uninit = std::find(lines.begin(), lines.end(), "Uninit");
    ASSERT_NE(uninit, lines.end());
    ASSERT_NE(uninit + 1, lines.end());
    EXPECT_EQ(*(uninit + 1), "Destroy");

    // The plug-in said goodbye, so the tray items are grayed again.
    const Lines after = ReadTrayMenu(LoaderWindow(), folder);
    ASSERT_GE(after.size(), 3u);
    EXPECT_EQ(after[0], "Enable #32771");
    EXPECT_EQ(after[2], "Broadcast message... #30003 (g)");

    Post(ID_EXIT);
    ASSERT_TRUE(loader.Wait(15000));
    EXPECT_EQ(loader.ExitCode(), 0u);
    PostMessageA(messengerWindow, WM_CLOSE, 0, 0);
    EXPECT_TRUE(messenger.Wait(15000));
}

} // namespace

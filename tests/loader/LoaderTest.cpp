// The loader's window procedure, run inside this test program with the real
// hook library installed system-wide (the prefix has no messenger running).
#include "tests/loader/LoaderTestSupport.h"

using namespace parleym;
using namespace parleym::test;
using Lines = std::vector<std::string>;

namespace {

class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        Menus() = MenuCapture();
        options.hookLibrary = hookPath.c_str();
        options.runInstallationChecks = false;
        options.showMenu = &CaptureMenu;
        options.postQuitOnDestroy = false;
    }
    void TearDown() override {
        if (loader && loader->Window()) {
            SendMessageA(loader->Window(), LDR_SET_LOCKED, 0, 0);
            SendMessageA(loader->Window(), LDR_SET_DIALOG_OPEN, 0, 0);
        }
        loader.reset();
    }

    // Starts the loader and lets its message loop install the hooks.
    void StartLoader() {
        loader = std::make_unique<Loader>(GetModuleHandleA(nullptr), options);
        ASSERT_TRUE(loader->Start());
        PumpMessages();
    }
    void Command(UINT id, LPARAM lParam = 0) { SendMessageA(loader->Window(), WM_COMMAND, id, lParam); }
    Lines TrayMenu() {
        SendMessageA(loader->Window(), LDR_TRAY_NOTIFY, 1, WM_RBUTTONUP);
        PumpMessages();
        return Menus().lines;
    }

    const std::vector<ShownMessage>& Boxes() const { return boxes_.Messages(); }

    MessageCapture boxes_{&SetLoaderMessageSink};
    std::string hookPath = WinPath(PARLEYM_HOOK_DLL);
    LoaderOptions options;
    RefreshCounter refreshes;
    std::unique_ptr<Loader> loader;
};

const Lines kGrayedMenu = {
    "Enable #32771 [x]",
    "-",
    "Broadcast message... #30003 (g)",
    "Send offline message... #30000 (g)",
    "Statistics... #30012 (g)",
    "-",
    "Set password... #30019 (g)",
    "Auto lock messenger >",
    "  disabled #30020 (g)",
    "  at 5 minutes #30021 (g)",
    "  at 6 minutes #30022 (g)",
    "  at 10 minutes #30023 (g)",
    "  at 15 minutes #30024 (g)",
    "Lock messenger #30011 (g)",
    "-",
    "Enable logging #30013 (g)",
    "View logs... #30014 (g)",
    "Set logs path... #30026 (g)",
    "-",
    "About Parleym... #30001 (g)",
    "-",
    "Exit #105",
};

TEST_F(LoaderTest, StartInstallsTheHooksFromTheMessageLoopAndTellsEveryWindow) {
    loader = std::make_unique<Loader>(GetModuleHandleA(nullptr), options);
    ASSERT_TRUE(loader->Start());
    EXPECT_EQ(FindWindowA("ParleymLdrClass", "Parleym Loader"), loader->Window());
    EXPECT_FALSE(loader->Enabled());
    EXPECT_FALSE(loader->AnyHookInstalled());
    PumpMessages();
    EXPECT_TRUE(loader->Enabled());
    EXPECT_TRUE(loader->HooksInstalled());
    EXPECT_EQ(refreshes.count, 1);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(LoaderTest, ASecondLoaderRefusesAndLeavesTheFirstAlone) {
    StartLoader();
    Loader second(GetModuleHandleA(nullptr), options);
    EXPECT_FALSE(second.Start());
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "Parleym is already running");
    EXPECT_EQ(Boxes()[0].caption, "Warning");
    EXPECT_EQ(Boxes()[0].owner, nullptr);
    EXPECT_TRUE(Boxes()[0].style & MB_ICONWARNING);
    EXPECT_TRUE(IsWindow(loader->Window()));
    EXPECT_TRUE(loader->HooksInstalled());
}

TEST_F(LoaderTest, AMissingHookLibraryEndsTheStart) {
    hookPath = "Z:\\nonexistent\\ParleymHk.dll";
    options.hookLibrary = hookPath.c_str();
    loader = std::make_unique<Loader>(GetModuleHandleA(nullptr), options);
    EXPECT_FALSE(loader->Start());
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text.rfind("Failed to load hooks library. Code ", 0), 0u) << Boxes()[0].text;
    EXPECT_EQ(Boxes()[0].caption, "Error");
}

TEST_F(LoaderTest, TrayMenuIsGrayedWithoutPluginAndOnlyRightClickOpensIt) {
    StartLoader();
    SendMessageA(loader->Window(), LDR_TRAY_NOTIFY, 1, WM_LBUTTONUP);
    SendMessageA(loader->Window(), LDR_TRAY_NOTIFY, 1, WM_LBUTTONDBLCLK);
    EXPECT_EQ(Menus().shown, 0);
    EXPECT_EQ(TrayMenu(), kGrayedMenu);
    EXPECT_EQ(Menus().shown, 1);
}

TEST_F(LoaderTest, TrayMenuAsksThePluginForItsChecksAndGraysAgainWhenItIsGone) {
    StartLoader();
    auto plugin = std::make_unique<FakePluginWindow>();
    SendMessageA(loader->Window(), LDR_SET_PLUGIN_WINDOW, 0, reinterpret_cast<LPARAM>(plugin->window));
    EXPECT_EQ(loader->PluginWindow(), plugin->window);

    Lines expected = kGrayedMenu;
    for (auto& line : expected)
        if (line.size() > 4 && line.compare(line.size() - 4, 4, " (g)") == 0) line.resize(line.size() - 4);
    for (auto& line : expected) {
        if (line == "  at 10 minutes #30023") line += " [x]";
        if (line == "Enable logging #30013") line += " [x]";
    }
    EXPECT_EQ(TrayMenu(), expected);

    plugin->logging = 0;
    plugin->autoLock = CMD_AUTOLOCK_DISABLED;
    const Lines lines = TrayMenu();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Enable logging #30013"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "  disabled #30020 [x]"), lines.end());

    // A plug-in window that died without saying so counts as none.
    plugin.reset();
    EXPECT_EQ(TrayMenu(), kGrayedMenu);
}

TEST_F(LoaderTest, OnlyTheTrayMenusCommandsAreRelayed) {
    StartLoader();
    FakePluginWindow plugin;
    SendMessageA(loader->Window(), LDR_SET_PLUGIN_WINDOW, 0, reinterpret_cast<LPARAM>(plugin.window));

    Menus().choose = CMD_STATISTICS;
    TrayMenu();
    Command(CMD_SEND_OFFLINE_MESSAGE, 77);
    // Anyone may post to the loader: the plug-in's own commands, which name windows, stay here.
    const HWND foreign = loader->Window();
    const unsigned notOffered[] = {CMD_TRACK_WINDOW,    CMD_HANDLER_COMMAND, CMD_SET_FOREGROUND, CMD_RESELECT_HANDLER,
                                   CMD_HISTORY_CHANGED, CMD_AUTOLOCK_TIMER,  30025};
    for (unsigned id : notOffered) Command(id, reinterpret_cast<LPARAM>(foreign));
    Command(29999);
    Command(30028);
    PumpMessages();
    const std::vector<std::pair<WPARAM, LPARAM>> expected = {{30012, 0}, {30000, 0}};
    EXPECT_EQ(plugin.commands, expected);

    // Without a plug-in window a relayed command is dropped.
    SendMessageA(loader->Window(), LDR_SET_PLUGIN_WINDOW, 0, 0);
    Command(CMD_ABOUT);
    PumpMessages();
    EXPECT_EQ(plugin.commands.size(), 2u);
}

TEST_F(LoaderTest, AHungPluginDoesNotHangTheTrayMenu) {
    StartLoader();
    StalledWindow plugin("HungParleymDispWnd", "", 8000);
    SendMessageA(loader->Window(), LDR_SET_PLUGIN_WINDOW, 0, reinterpret_cast<LPARAM>(plugin.window));
    const DWORD start = GetTickCount();
    const Lines lines = TrayMenu();
    EXPECT_LT(GetTickCount() - start, 5000u);
    // Items offered, without the checks the plug-in could not tell.
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Enable logging #30013"), lines.end());
}

TEST_F(LoaderTest, ExitAndDisableAreRefusedWhileLockedOrADialogIsOpen) {
    StartLoader();
    const int before = refreshes.count;
    // A polite close from outside (taskkill) is an Exit with the same refusals.
    const auto exitBothWays = [&] {
        Command(ID_EXIT);
        SendMessageA(loader->Window(), WM_CLOSE, 0, 0);
    };
    SendMessageA(loader->Window(), LDR_SET_LOCKED, 1, 0);
    exitBothWays();
    Command(ID_TOGGLE_ENABLE);
    SendMessageA(loader->Window(), LDR_SET_LOCKED, 0, 0);
    SendMessageA(loader->Window(), LDR_SET_DIALOG_OPEN, 1, 0);
    exitBothWays();
    Command(ID_TOGGLE_ENABLE);
    // Locked wins over an open dialog.
    SendMessageA(loader->Window(), LDR_SET_LOCKED, 1, 0);
    Command(ID_EXIT);

    const Lines expected = {
        "Messenger client is locked. You must unlock it before quit Parleym",
        "Messenger client is locked. You must unlock it before quit Parleym",
        "Messenger client is locked. You must unlock it before disable Parleym",
        "You must close all Parleym windows and dialog boxes before exit",
        "You must close all Parleym windows and dialog boxes before exit",
        "You must close all Parleym windows and dialog boxes before disable Parleym",
        "Messenger client is locked. You must unlock it before quit Parleym",
    };
    Lines texts;
    for (const ShownMessage& box : Boxes()) {
        texts.push_back(box.text);
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.owner, loader->Window());
        EXPECT_TRUE(box.style & MB_ICONERROR);
    }
    EXPECT_EQ(texts, expected);
    EXPECT_TRUE(IsWindow(loader->Window()));
    EXPECT_TRUE(loader->HooksInstalled());
    EXPECT_EQ(refreshes.count, before);

    // Once both are clear, disabling and enabling again each switch and broadcast.
    SendMessageA(loader->Window(), LDR_SET_LOCKED, 0, 0);
    SendMessageA(loader->Window(), LDR_SET_DIALOG_OPEN, 0, 0);
    Command(ID_TOGGLE_ENABLE);
    EXPECT_FALSE(loader->Enabled());
    EXPECT_FALSE(loader->AnyHookInstalled());
    EXPECT_EQ(TrayMenu()[0], "Enable #32771");
    Command(ID_TOGGLE_ENABLE);
    EXPECT_TRUE(loader->HooksInstalled());
    EXPECT_EQ(refreshes.count, before + 2);
    EXPECT_EQ(Boxes().size(), expected.size());
}

TEST_F(LoaderTest, AMessengerThatEndsLockedFreesExitAndDisableAndItsNextStartLocks) {
    StartLoader();
    const auto registerPlugin = [&](const FakePluginWindow& plugin) {
        return SendMessageA(loader->Window(), LDR_SET_PLUGIN_WINDOW, 0, reinterpret_cast<LPARAM>(plugin.window));
    };
    // Both ways a messenger ends without unlocking: its window just goes (a crash,
    // "End process"), or the plug-in says goodbye as its process ends.
    for (bool saysGoodbye : {false, true}) {
        SCOPED_TRACE(saysGoodbye);
        auto crashed = std::make_unique<FakePluginWindow>();
        EXPECT_EQ(registerPlugin(*crashed), 0);
        SendMessageA(loader->Window(), LDR_SET_LOCKED, 1, 0);
        SendMessageA(loader->Window(), LDR_SET_DIALOG_OPEN, 1, 0);
        if (saysGoodbye) SendMessageA(loader->Window(), LDR_SET_PLUGIN_WINDOW, 0, 0);
        crashed.reset();

        // Disable is no longer refused; enabled again, the next plug-in is told to start locked.
        Command(ID_TOGGLE_ENABLE);
        EXPECT_FALSE(loader->AnyHookInstalled());
        Command(ID_TOGGLE_ENABLE);
        EXPECT_TRUE(loader->HooksInstalled());
        EXPECT_TRUE(Boxes().empty());
        FakePluginWindow next;
        EXPECT_EQ(registerPlugin(next), kLoaderLockOutlivedPlugin);
        EXPECT_FALSE(loader->Locked());
        EXPECT_FALSE(loader->DialogOpen());
        // It locks, and its unlock ends the matter.
        SendMessageA(loader->Window(), LDR_SET_LOCKED, 1, 0);
        SendMessageA(loader->Window(), LDR_SET_LOCKED, 0, 0);
        EXPECT_EQ(registerPlugin(next), 0);
    }

    // Exit goes through once the locked messenger has gone.
    auto last = std::make_unique<FakePluginWindow>();
    registerPlugin(*last);
    SendMessageA(loader->Window(), LDR_SET_LOCKED, 1, 0);
    last.reset();
    SendMessageA(loader->Window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(loader->Window(), nullptr);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(LoaderTest, AHookLibraryWithoutCallWndRetProcLeavesEverythingOff) {
    hookPath = WinPath(PARLEYM_BAD_HOOK_DLL);
    options.hookLibrary = hookPath.c_str();
    StartLoader();
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "Invalid hooks library. Failed to initialize plugin");
    EXPECT_EQ(Boxes()[0].caption, "Error");
    EXPECT_EQ(Boxes()[0].style & (MB_TASKMODAL | MB_ICONERROR), UINT(MB_TASKMODAL | MB_ICONERROR));
    EXPECT_FALSE(loader->Enabled());
    EXPECT_FALSE(loader->AnyHookInstalled());
    EXPECT_EQ(TrayMenu()[0], "Enable #32771");

    // Each attempt says so once.
    Command(ID_TOGGLE_ENABLE);
    EXPECT_EQ(Boxes().size(), 2u);
    EXPECT_FALSE(loader->AnyHookInstalled());
}

TEST_F(LoaderTest, ExitRemovesTheHooksOnlyWhenTheyAreOn) {
    StartLoader();
    Command(ID_TOGGLE_ENABLE);
    const int afterDisable = refreshes.count;
    Command(ID_EXIT);
    EXPECT_EQ(loader->Window(), nullptr);
    EXPECT_EQ(refreshes.count, afterDisable);
    EXPECT_EQ(FindWindowA("ParleymLdrClass", "Parleym Loader"), nullptr);

    loader.reset();
    StartLoader();
    const int afterStart = refreshes.count;
    Command(ID_EXIT);
    EXPECT_EQ(loader->Window(), nullptr);
    EXPECT_FALSE(loader->AnyHookInstalled());
    EXPECT_EQ(refreshes.count, afterStart + 1);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(LoaderTest, RestartWaitsForTheMessengerWindowAndInstallsTheHooksAgain) {
    StartLoader();
    const int before = refreshes.count;
    // The messenger's user-interface manager appears three seconds later, on
    // a thread that answers messages like any program.
    std::thread messenger([] {
        Sleep(3000);
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "MSBLUIManager";
        RegisterClassA(&windowClass);
        HWND window = CreateWindowExA(0, "MSBLUIManager", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                      windowClass.hInstance, nullptr);
        PumpUntil([] { return false; }, 4000);
        DestroyWindow(window);
        UnregisterClassA("MSBLUIManager", windowClass.hInstance);
    });
    const DWORD start = GetTickCount();
    Command(ID_RESTART_HOOKS, 0);
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 3000u);
    EXPECT_LT(elapsed, 5500u);
    EXPECT_TRUE(loader->Enabled());
    EXPECT_TRUE(loader->HooksInstalled());
    EXPECT_EQ(refreshes.count, before + 2);
    messenger.join();
}

TEST_F(LoaderTest, RestartGivesUpWhenTheMessengerWindowNeverComes) {
    options.restartPollCount = 3;
    options.restartPollIntervalMs = 100;
    StartLoader();
    // Index 1 looks for MSN Messenger's window, which the Windows Messenger one does not satisfy.
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "MSBLUIManager";
    RegisterClassA(&windowClass);
    HWND other = CreateWindowExA(0, "MSBLUIManager", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 windowClass.hInstance, nullptr);
    Command(ID_RESTART_HOOKS, 1);
    EXPECT_FALSE(loader->Enabled());
    EXPECT_FALSE(loader->AnyHookInstalled());
    DestroyWindow(other);
    UnregisterClassA("MSBLUIManager", windowClass.hInstance);
    EXPECT_TRUE(Boxes().empty());
}

} // namespace

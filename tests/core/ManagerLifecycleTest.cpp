// Start-up and shut-down of the manager: the order of Init's steps as the
// loader and the user see them, and the failures that stop the plug-in.
#include <gtest/gtest.h>

#include <algorithm>

#include "plugin/core/Parleymanager.h"
#include "plugin/core/UserMessage.h"
#include "shared/Protocol.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/hook/WineTestSupport.h"

using namespace parleym;
using namespace coretest;

namespace {

bool HiddenWindowsExist() {
    for (const char* name : {kPluginHiddenWndClass, kPluginLockWndClass, kPluginDispatchWndClass,
                             kPluginBroadcastWndClass})
        if (!FindWindowA(name, name)) return false;
    return true;
}

bool AnyHiddenWindowExists() {
    for (const char* name : {kPluginHiddenWndClass, kPluginLockWndClass, kPluginDispatchWndClass,
                             kPluginBroadcastWndClass})
        if (FindWindowA(name, nullptr)) return true;
    return false;
}

} // namespace

TEST(ManagerLifecycle, SignedInStartReadsUserContactsAndTellsTheLoader) {
    Bench bench;
    bench.SignIn("me@example.com", "Me");
    bench.State().AddContact("ann@example.com", "Ann", MISTATUS_ONLINE);
    bench.State().AddContact("bob@example.com", "Bob", MISTATUS_AWAY);
    bench.State().AddContact("cid@example.com", "Cid", MISTATUS_OFFLINE);
    bench.CreateUiManagerWindow();
    HWND main = bench.CreateMainWindow();
    HWND conversation = bench.CreateConversationWindow("bob@example.com");

    TestManager& manager = bench.Start();

    EXPECT_TRUE(bench.Messages().empty());
    ASSERT_TRUE(HiddenWindowsExist());
    const auto announced = bench.LoaderMessages(LDR_SET_PLUGIN_WINDOW);
    ASSERT_EQ(1u, announced.size());
    EXPECT_EQ(reinterpret_cast<LPARAM>(FindWindowA(kPluginDispatchWndClass, nullptr)), announced[0].lParam);
    EXPECT_NE(nullptr, manager.Messenger());
    EXPECT_EQ("me@example.com", manager.Self().signInName);
    EXPECT_EQ("Me", manager.Self().friendlyName);
    EXPECT_EQ(kContactOnline, manager.Self().status);
    ASSERT_EQ(3u, manager.Contacts().size());
    EXPECT_EQ(kContactOnline, manager.Contacts()[1].status);  // away is online
    EXPECT_EQ(kContactOffline, manager.Contacts()[2].status);
    EXPECT_EQ(main, manager.MainWindow());
    EXPECT_EQ(1, CountParleymItems(main));
    // A conversation already open at start is tracked and gets its popup.
    EXPECT_EQ(1, CountParleymItems(conversation));
    ASSERT_NE(nullptr, manager.HandlerOf(conversation));
    EXPECT_EQ(kLogHandlerKind, manager.HandlerOf(conversation)->GetKind());
    EXPECT_EQ(1, bench.Api().SinkCount());

    bench.ClearLoaderMessages();
    bench.Stop();
    const auto withdrawn = bench.LoaderMessages(LDR_SET_PLUGIN_WINDOW);
    ASSERT_EQ(1u, withdrawn.size());
    EXPECT_EQ(0, withdrawn[0].lParam);
    EXPECT_FALSE(AnyHiddenWindowExists());
    EXPECT_EQ(0, CountParleymItems(main));
    EXPECT_EQ(0, CountParleymItems(conversation));
    EXPECT_EQ(0, bench.Api().SinkCount());
    // Every handler was stopped before it was deleted.
    ASSERT_GE(g_handlerEvents.size(), 2u);
    EXPECT_EQ("detach", g_handlerEvents[g_handlerEvents.size() - 2].what);
    EXPECT_EQ("deleted", g_handlerEvents.back().what);
}

TEST(ManagerLifecycle, SignedOutStartKnowsTheAccountButNoContacts) {
    Bench bench;
    bench.State().SelectAccount("me@example.com", "Me");
    bench.State().AddContact("ann@example.com", "Ann", MISTATUS_ONLINE);
    bench.CreateUiManagerWindow();
    TestManager& manager = bench.Start();
    EXPECT_NE(nullptr, manager.Messenger());
    EXPECT_EQ(kContactOffline, manager.Self().status);
    EXPECT_TRUE(manager.Contacts().empty());
    EXPECT_EQ(nullptr, manager.MainWindow());
    EXPECT_TRUE(bench.Messages().empty());
}

TEST(ManagerLifecycle, MissingUserInterfaceManagerAsksTheLoaderToRetry) {
    for (int kind : {1, 2}) {
        Bench bench(kind);
        bench.SignIn("me@example.com", "Me");
        TestManager& manager = bench.Start();
        EXPECT_EQ(nullptr, manager.Messenger());
        const auto commands = bench.LoaderMessages(WM_COMMAND);
        ASSERT_EQ(1u, commands.size());
        EXPECT_EQ(static_cast<WPARAM>(ID_RESTART_HOOKS), commands[0].wParam);
        EXPECT_EQ(kind - 1, commands[0].lParam);
        // Without the Messenger object every command does nothing.
        manager.OnCommand(nullptr, CMD_ABOUT, 0);
        manager.OnCommand(nullptr, CMD_STATISTICS, 0);
        manager.OnCommand(nullptr, CMD_BROADCAST, 0);
        EXPECT_TRUE(manager.calls.empty());
        EXPECT_TRUE(bench.Messages().empty());
        EXPECT_EQ(nullptr, manager.OpenDialog());
    }
}

TEST(ManagerLifecycle, UnreadableUsersFileStopsStartAndClosesTheLoader) {
    Bench bench;
    bench.CreateUiManagerWindow();
    bench.RemoveUsersFile();
    bench.Start(FALSE);
    const auto messages = bench.Messages();
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ("Failed to load user settings. Error code: 2", messages[0].text);
    EXPECT_EQ(1u, bench.LoaderMessages(WM_CLOSE).size());
    EXPECT_TRUE(bench.LoaderMessages(LDR_SET_PLUGIN_WINDOW).empty());
    EXPECT_FALSE(AnyHiddenWindowExists());
    bench.Stop();  // must cope with what was never made
    EXPECT_FALSE(AnyHiddenWindowExists());
}

TEST(ManagerLifecycle, HeldObjectCacheStopsStartAndClosesTheLoader) {
    Bench bench;
    bench.CreateUiManagerWindow();
    HANDLE held = CreateFileA(bench.DataFile("objcache.dat").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    bench.Start(FALSE);
    CloseHandle(held);
    bool reported = false;
    for (const ShownMessage& message : bench.Messages())
        if (message.text == "Failed to initalize object cache" && message.caption == "Parleym") reported = true;
    EXPECT_TRUE(reported);
    EXPECT_EQ(1u, bench.LoaderMessages(WM_CLOSE).size());
    EXPECT_FALSE(AnyHiddenWindowExists());
    bench.Stop();
}

TEST(ManagerLifecycle, UnknownClientKindStartsNothing) {
    Bench bench(3);
    bench.CreateUiManagerWindow();
    TestManager& manager = bench.Start(FALSE);
    EXPECT_EQ(nullptr, manager.Profile());
    EXPECT_FALSE(AnyHiddenWindowExists());
    EXPECT_TRUE(bench.LoaderMessages(WM_CLOSE).empty());
    bench.Stop();
}

TEST(ManagerLifecycle, FailingMessengerObjectIsReportedWithItsCode) {
    Bench bench;
    bench.SignIn("me@example.com", "Me");
    bench.CreateUiManagerWindow();
    bench.State().SetFailure("get_MySigninName", static_cast<HRESULT>(0x8100031E), 1);
    TestManager& manager = bench.Start();
    const auto messages = bench.Messages();
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ("CParleymanager: Failed to create Messenger object. Error code 0x8100031E", messages[0].text);
    EXPECT_EQ("Error", messages[0].caption);
    EXPECT_TRUE(manager.Contacts().empty());
    EXPECT_EQ(0, bench.Api().SinkCount());
}

TEST(ManagerLifecycle, OtherStoreFailuresAreShownAndStartGoesOn) {
    Bench bench;
    bench.SignIn("me@example.com", "Me");
    bench.CreateUiManagerWindow();
    // A folder where a data file should be: neither store can open it.
    CreateDirectoryA(bench.DataFile("offlinemsg.dat").c_str(), nullptr);
    CreateDirectoryA(bench.DataFile("stats.dat").c_str(), nullptr);
    TestManager& manager = bench.Start(TRUE);
    std::vector<std::string> texts;
    for (const ShownMessage& message : bench.Messages())
        if (message.caption == "Parleym") texts.push_back(message.text);
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Failed to load offline messages"), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Failed to initialize statistics"), texts.end());
    EXPECT_TRUE(bench.LoaderMessages(WM_CLOSE).empty());
    EXPECT_TRUE(HiddenWindowsExist());
    EXPECT_NE(nullptr, manager.Messenger());
    bench.Stop();
    RemoveDirectoryA(bench.DataFile("offlinemsg.dat").c_str());
    RemoveDirectoryA(bench.DataFile("stats.dat").c_str());
}

TEST(ManagerLifecycle, ReloadedPluginOpensItsFilesAgain) {
    // The loader's retry unloads the plug-in and loads it again in the same process.
    Bench bench;
    bench.SignIn("me@example.com", "Me");
    bench.State().AddContact("ann@example.com", "Ann", MISTATUS_ONLINE);
    bench.Start();
    ASSERT_EQ(1u, bench.LoaderMessages(WM_COMMAND).size());
    bench.Stop();
    bench.CreateUiManagerWindow();
    bench.CreateMainWindow();
    TestManager& manager = bench.Start();
    for (const ShownMessage& message : bench.Messages()) ADD_FAILURE() << message.text;
    EXPECT_NE(nullptr, manager.Messenger());
    EXPECT_EQ(1u, manager.Contacts().size());
}

TEST(ManagerLifecycle, AHungLoaderHoldsNeitherStartNorStop) {
    Bench bench;
    bench.SignIn("me@example.com", "Me");
    bench.CreateUiManagerWindow();
    bench.CreateMainWindow();
    SetWindowTextA(bench.LoaderWindow(), "not the loader");
    parleym::test::StalledWindow hung(kLoaderClassName, kLoaderWindowTitle, 15000);
    ASSERT_EQ(hung.window, FindWindowA(kLoaderClassName, kLoaderWindowTitle));
    const DWORD start = GetTickCount();
    bench.Start();
    bench.Stop();
    EXPECT_LT(GetTickCount() - start, 10000u);
}

TEST(ManagerLifecycle, AtProcessExitTheStoresAreClosedAndWindowsAndComLeftAlone) {
    Bench bench;
    bench.SignIn("me@example.com", "Me");
    bench.State().AddContact("ann@example.com", "Ann", MISTATUS_ONLINE);
    bench.CreateUiManagerWindow();
    bench.CreateMainWindow();
    HWND conversation = bench.CreateConversationWindow("ann@example.com");
    TestManager& manager = bench.Start();
    ASSERT_NE(nullptr, manager.HandlerOf(conversation));
    bench.ClearLoaderMessages();
    g_handlerEvents.clear();

    manager.ShutdownAtProcessExit();
    // Each handler saved and went; the files are free again.
    ASSERT_EQ(2u, g_handlerEvents.size());
    EXPECT_EQ("detach", g_handlerEvents[0].what);
    EXPECT_EQ("deleted", g_handlerEvents[1].what);
    for (const char* name : {"stats.dat", "offlinemsg.dat", "objcache.dat", "logs.dat"}) {
        HANDLE file = CreateFileA(bench.DataFile(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, file) << name;
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
    // Nothing sent to the loader, no window destroyed, the Messenger object not called.
    EXPECT_TRUE(bench.LoaderMessages(LDR_SET_PLUGIN_WINDOW).empty());
    EXPECT_TRUE(HiddenWindowsExist());
    EXPECT_EQ(1, bench.Api().SinkCount());
    bench.Pump();
    const auto told = bench.LoaderMessages(LDR_SET_PLUGIN_WINDOW);
    ASSERT_EQ(1u, told.size());
    EXPECT_EQ(0, told[0].lParam);
    // No command runs any more.
    manager.OnCommand(nullptr, CMD_STATISTICS, 0);
    EXPECT_TRUE(manager.calls.empty());
}

// The lock: every window of the process disabled, panels over the main window
// and the conversations, commands refused, and only the password ends it.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <utility>

#include "framework/FrameWnd.h"
#include "plugin/lock/LockResources.h"
#include "plugin/logging/LogViewerResources.h"
#include "plugin/stats/StatsDlg.h"
#include "shared/Protocol.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/lock/LockTestSupport.h"

using namespace parleym;
using namespace coretest;
using namespace locktest;

namespace {

std::vector<std::pair<HWND, bool>> g_enables;

LRESULT CALLBACK RecordEnable(int code, WPARAM wParam, LPARAM lParam) {
    auto* message = reinterpret_cast<CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && message->message == WM_ENABLE) g_enables.push_back({message->hwnd, message->wParam != 0});
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

std::string PanelText(HWND panel) {
    char text[128] = {};
    GetWindowTextA(GetWindow(panel, GW_CHILD), text, sizeof(text));
    return text;
}

// The panel covers the window's whole client area, its text in the middle and whole.
void ExpectCoveringPanel(HWND window, HWND panel) {
    ASSERT_TRUE(panel && IsWindowVisible(panel));
    EXPECT_EQ(window, GetWindow(panel, GW_OWNER));
    EXPECT_EQ("Messenger client is locked", PanelText(panel));
    EXPECT_TRUE(IsWindowEnabled(panel));
    RECT client{}, own{};
    GetClientRect(window, &client);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
    GetWindowRect(panel, &own);
    EXPECT_TRUE(EqualRect(&client, &own));
    EXPECT_TRUE(ShowsWholeText(GetWindow(panel, GW_CHILD)));
}

void UnlockWithTheRightPassword() {
    HWND dialog = FindDialog("Unlock messenger");
    Type(dialog, IDC_LOCK_PASSWORD, "Secret");
    Click(dialog, IDOK);
}

struct LockBench {
    Bench bench;
    HWND main;
    HWND bob;
    HWND carol;
    LockBench() {
        bench.SignIn("me@example.com", "Me");
        bench.State().AddContact("bob@example.com", "Bob", MISTATUS_ONLINE);
        bench.State().AddContact("carol@example.com", "Carol", MISTATUS_ONLINE);
        bench.CreateUiManagerWindow();
        main = bench.CreateMainWindow();
        ShowWindow(main, SW_SHOWNORMAL);
        bench.Start();
        manager().realLock = true;
        EXPECT_TRUE(manager().ChangePassword("", "Secret"));
        bob = Conversation("bob@example.com", SW_SHOWNORMAL);
        carol = Conversation("carol@example.com", SW_SHOWMINIMIZED);
        bench.ClearLoaderMessages();
        bench.ClearMessages();
    }
    TestManager& manager() { return bench.Manager(); }
    HWND Conversation(const std::string& who, int show) {
        HWND window = bench.CreateConversationWindow("To: " + who);
        ShowWindow(window, show);
        command(CMD_TRACK_WINDOW, reinterpret_cast<LPARAM>(window));
        EXPECT_NE(nullptr, manager().HandlerOf(window));
        return window;
    }
    void command(UINT id, LPARAM lParam = 0) {
        manager().OnCommand(nullptr, id, lParam);
        bench.Pump();
    }
    std::vector<WPARAM> LockedReports() {
        std::vector<WPARAM> values;
        for (const Received& received : bench.LoaderMessages(LDR_SET_LOCKED)) values.push_back(received.wParam);
        return values;
    }
};

} // namespace

TEST(Lock, CoversEveryWindowAndOnlyTheRightPasswordGivesThemBack) {
    LockBench s;
    auto* viewer = new CFrameWnd();
    ASSERT_TRUE(viewer->LoadFrame(IDR_LOG_VIEWER));
    HWND viewerWindow = viewer->GetSafeHwnd();
    s.manager().SetLogViewer(viewer);
    g_enables.clear();
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, &RecordEnable, nullptr, GetCurrentThreadId());

    HWND dialog = nullptr;
    HWND dave = nullptr;
    HWND newMain = nullptr;
    std::vector<HWND> disabledByDialog;
    std::vector<HWND> panels;
    ModalScript script;
    script.Rescue(UnlockWithTheRightPassword);
    script
        .Then("Unlock messenger", [&](HWND found) {
            dialog = found;
            for (const auto& change : g_enables)
                if (!change.second && change.first != s.manager().LockWindow()) disabledByDialog.push_back(change.first);
            EXPECT_TRUE(s.manager().IsLocked());
            EXPECT_EQ((std::vector<WPARAM>{1}), s.LockedReports());
            EXPECT_EQ(nullptr, s.manager().LogViewer());
            EXPECT_FALSE(IsWindow(viewerWindow));
            for (HWND window : {s.main, s.bob, s.carol, s.manager().DispatchWindow(), s.manager().HiddenWindow()}) {
                EXPECT_FALSE(IsWindowEnabled(window));
                EXPECT_NE(disabledByDialog.end(), std::find(disabledByDialog.begin(), disabledByDialog.end(), window));
            }
            EXPECT_TRUE(IsWindowEnabled(dialog));
            EXPECT_TRUE(AllLabelsShowWholeText(dialog));
            EXPECT_EQ(IDC_LOCK_PASSWORD, FocusedId());
            ExpectCoveringPanel(s.main, s.manager().MainLockOverlay().Panel());
            ExpectCoveringPanel(s.bob, s.manager().HandlerOf(s.bob)->LockOverlay().Panel());
            // A minimised conversation stays minimised, its panel out of sight until it is restored.
            EXPECT_TRUE(IsIconic(s.carol));
            HWND carolPanel = s.manager().HandlerOf(s.carol)->LockOverlay().Panel();
            ASSERT_NE(nullptr, carolPanel);
            EXPECT_FALSE(IsWindowVisible(carolPanel));
            ShowWindow(s.carol, SW_RESTORE);
            ExpectCoveringPanel(s.carol, carolPanel);
            EXPECT_EQ(dialog, GetActiveWindow());
            // Windows the dialog disabled are its to give back, not the panels'.
            EXPECT_FALSE(s.manager().MainLockOverlay().WasEnabled());
            panels = {s.manager().MainLockOverlay().Panel(), s.manager().HandlerOf(s.bob)->LockOverlay().Panel()};

            // Escape, the close box and the system menu's Close do nothing.
            SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
            SendMessageA(dialog, WM_CLOSE, 0, 0);
            SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            s.bench.Pump();
            EXPECT_TRUE(IsWindowVisible(dialog));
            EXPECT_TRUE(s.manager().IsLocked());
        })
        .Then("Unlock messenger", [&](HWND) {
            // A conversation and a main-window menu that come while locked are covered at once.
            // Neither the window nor its panel takes the keyboard from the unlock dialog.
            dave = s.Conversation("dave@example.com", SW_SHOWNORMAL);
            EXPECT_FALSE(IsWindowEnabled(dave));
            ExpectCoveringPanel(dave, s.manager().HandlerOf(dave)->LockOverlay().Panel());
            EXPECT_EQ(dialog, GetActiveWindow());
            // A main window that comes hidden (in the notification area) has no panel
            // floating alone; shown, it is covered.
            newMain = s.bench.CreateMainWindow();
            s.manager().OnWindowShown(newMain);
            EXPECT_EQ(newMain, s.manager().MainWindow());
            EXPECT_FALSE(IsWindowEnabled(newMain));
            HWND mainPanel = s.manager().MainLockOverlay().Panel();
            ASSERT_NE(nullptr, mainPanel);
            EXPECT_FALSE(IsWindowVisible(mainPanel));
            ShowWindow(newMain, SW_SHOWNORMAL);
            ExpectCoveringPanel(newMain, mainPanel);
            EXPECT_EQ(dialog, GetActiveWindow());
            EXPECT_FALSE(IsWindowEnabled(s.main));
        })
        .Then("Unlock messenger", [&](HWND) {
            // Whatever would act as the user or change a setting is refused; the
            // unlock dialog comes forward instead.
            s.manager().calls.clear();
            const size_t forwardBefore = s.bench.LoaderMessages(LDR_SET_FOREGROUND).size();
            const UINT refused[] = {CMD_SET_PASSWORD, CMD_STATISTICS, CMD_BROADCAST, CMD_SEND_OFFLINE_MESSAGE,
                                    CMD_AUTOLOCK_5, CMD_TOGGLE_LOGGING, CMD_SET_LOGS_PATH, CMD_VIEW_LOGS,
                                    CMD_LOCK_MESSENGER, CMD_FORWARD_CONVERSATION};
            for (UINT id : refused) s.command(id);
            EXPECT_TRUE(s.manager().calls.empty());
            EXPECT_EQ(static_cast<UINT>(CMD_AUTOLOCK_DISABLED), CParleymanager::AutoLockChoice());
            const auto forward = s.bench.LoaderMessages(LDR_SET_FOREGROUND);
            ASSERT_EQ(forwardBefore + std::size(refused), forward.size());
            for (size_t i = forwardBefore; i < forward.size(); ++i)
                EXPECT_EQ(reinterpret_cast<LPARAM>(dialog), forward[i].lParam);
            // An auto-lock request while locked shows nothing.
            s.command(CMD_AUTOLOCK_TIMER);
            EXPECT_EQ((std::vector<std::string>{"lock-timer"}), s.manager().calls);
            EXPECT_TRUE(s.bench.Messages().empty());
        })
        .Then("Unlock messenger", [&](HWND) {
            Type(dialog, IDC_LOCK_PASSWORD, "secret");
            Click(dialog, IDOK);
            const auto shown = s.bench.Messages();
            ASSERT_EQ(1u, shown.size());
            EXPECT_EQ("Password mismatch", shown[0].text);
            EXPECT_EQ("Error", shown[0].caption);
            EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONERROR), shown[0].style);
            EXPECT_EQ(dialog, shown[0].owner);
            EXPECT_EQ("", TextOf(dialog, IDC_LOCK_PASSWORD));
            EXPECT_TRUE(s.manager().IsLocked());
            EXPECT_FALSE(IsWindowEnabled(s.bob));
        })
        .Then("Unlock messenger", [&](HWND) {
            g_enables.clear();
            Type(dialog, IDC_LOCK_PASSWORD, "Secret");
            Click(dialog, IDOK);
        });
    s.command(CMD_LOCK_MESSENGER);
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(0u, script.Remaining());

    EXPECT_FALSE(s.manager().IsLocked());
    EXPECT_FALSE(s.manager().IsLockDialogShowing());
    EXPECT_EQ(nullptr, s.manager().LockDialog());
    EXPECT_EQ((std::vector<WPARAM>{1, 0}), s.LockedReports());
    for (HWND window : {s.main, s.bob, s.carol, dave, newMain, s.manager().DispatchWindow(),
                        s.manager().HiddenWindow(), s.manager().LockWindow()})
        EXPECT_TRUE(IsWindowEnabled(window));
    EXPECT_FALSE(s.manager().MainLockOverlay().IsShown());
    for (HWND window : {s.bob, s.carol, dave}) EXPECT_FALSE(s.manager().HandlerOf(window)->HasLockOverlay());
    for (HWND panel : panels) EXPECT_FALSE(IsWindow(panel));
    // The dialog's windows come back in the order it found them.
    std::vector<HWND> enabledInOrder;
    for (const auto& change : g_enables)
        if (change.second &&
            std::find(disabledByDialog.begin(), disabledByDialog.end(), change.first) != disabledByDialog.end())
            enabledInOrder.push_back(change.first);
    EXPECT_EQ(disabledByDialog, enabledInOrder);

    // Unlocked, commands work again.
    s.manager().calls.clear();
    s.command(CMD_STATISTICS);
    EXPECT_EQ((std::vector<std::string>{"statistics"}), s.manager().calls);
}

TEST(Lock, ClosingACoveredConversationLeavesNothingBehind) {
    LockBench s;
    HWND dialog = nullptr;
    HWND panel = nullptr;
    ModalScript script;
    script.Rescue(UnlockWithTheRightPassword);
    script
        .Then("Unlock messenger", [&](HWND found) {
            dialog = found;
            panel = s.manager().HandlerOf(s.bob)->LockOverlay().Panel();
            ASSERT_NE(nullptr, panel);
            DestroyWindow(s.bob);
            s.manager().OnWindowDestroyed(s.bob);
            EXPECT_EQ(nullptr, s.manager().HandlerOf(s.bob));
            EXPECT_FALSE(IsWindow(panel));
        })
        .Then("Unlock messenger", [&](HWND) {
            Type(dialog, IDC_LOCK_PASSWORD, "Secret");
            Click(dialog, IDOK);
        });
    s.command(CMD_LOCK_MESSENGER);
    EXPECT_EQ(0u, script.Remaining());
    EXPECT_TRUE(IsWindowEnabled(s.carol));
    EXPECT_TRUE(IsWindowEnabled(s.main));
}

TEST(Lock, TheUnlockTakesThePasswordTheLockBeganWith) {
    LockBench s;
    HWND dialog = nullptr;
    ModalScript script;
    script.Rescue(UnlockWithTheRightPassword);
    script
        .Then("Unlock messenger", [&](HWND found) {
            dialog = found;
            // Another account without a password signs in meanwhile.
            s.bench.Api().FireSignout();
            s.bench.State().SelectAccount("other@example.com", "Other");
            s.bench.State().SetSignedIn(true);
            s.bench.Api().FireSignin(S_OK);
            s.bench.Pump();
            EXPECT_FALSE(s.manager().IsPasswordSet());
            Type(dialog, IDC_LOCK_PASSWORD, "");
            Click(dialog, IDOK);
            EXPECT_TRUE(s.manager().IsLocked());
            EXPECT_FALSE(IsWindowEnabled(s.bob));
            ASSERT_EQ(1u, s.bench.Messages().size());
            EXPECT_EQ("Password mismatch", s.bench.Messages()[0].text);
        })
        .Then("Unlock messenger", [&](HWND) {
            Type(dialog, IDC_LOCK_PASSWORD, "Secret");
            Click(dialog, IDOK);
        });
    s.command(CMD_LOCK_MESSENGER);
    EXPECT_EQ(0u, script.Remaining());
    EXPECT_FALSE(s.manager().IsLocked());
    EXPECT_TRUE(IsWindowEnabled(s.bob));
}

namespace {
bool g_menuSeen = false;
void CALLBACK EndAnyMenu(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    HWND menu = FindWindowA("#32768", nullptr);
    g_menuSeen = menu && IsWindowVisible(menu);
    EndMenu();
}
} // namespace

TEST(Lock, WhatTheMessengerShowsOrEnablesWhileLockedStaysDisabledAndCovered) {
    LockBench s;
    // One of the messenger's own windows, open when the lock begins.
    HWND options = CreateWindowExA(0, "STATIC", "Options", WS_POPUP | WS_CAPTION | WS_VISIBLE, 50, 50, 200, 150,
                                   nullptr, nullptr, nullptr, nullptr);
    HWND signIn = nullptr;
    HWND dialog = nullptr;
    ModalScript script;
    script.Rescue(UnlockWithTheRightPassword);
    script
        .Then("Unlock messenger", [&](HWND found) {
            dialog = found;
            const CLockOverlay* covered = s.manager().OtherLockOverlay(options);
            ASSERT_NE(nullptr, covered);
            ExpectCoveringPanel(options, covered->Panel());
            EXPECT_FALSE(IsWindowEnabled(options));

            // The messenger gives a window back, as at the end of a modal loop of its own.
            EnableWindow(s.bob, TRUE);
            EnableWindow(options, TRUE);
            EXPECT_FALSE(IsWindowEnabled(s.bob));
            EXPECT_FALSE(IsWindowEnabled(options));

            // A window of its own comes up (its sign-in window).
            signIn = CreateWindowExA(0, "STATIC", "Sign In", WS_POPUP | WS_CAPTION, 80, 80, 220, 160, nullptr,
                                     nullptr, nullptr, nullptr);
            ShowWindow(signIn, SW_SHOWNORMAL);
            EXPECT_FALSE(IsWindowEnabled(signIn));
            ASSERT_NE(nullptr, s.manager().OtherLockOverlay(signIn));
            ExpectCoveringPanel(signIn, s.manager().OtherLockOverlay(signIn)->Panel());
            EXPECT_EQ(dialog, GetActiveWindow());

            // Its popup menus (the notification-area menu) do not open.
            HMENU menu = CreatePopupMenu();
            AppendMenuA(menu, MF_STRING, 1, "Sign Out");
            AppendMenuA(menu, MF_STRING, 2, "Exit");
            g_menuSeen = false;
            SetTimer(nullptr, 0, 300, &EndAnyMenu);
            TrackPopupMenu(menu, TPM_RIGHTBUTTON, 10, 10, 0, s.manager().HiddenWindow(), nullptr);
            DestroyMenu(menu);
            EXPECT_FALSE(g_menuSeen);
        })
        .Then("Unlock messenger", [&](HWND) {
            Type(dialog, IDC_LOCK_PASSWORD, "Secret");
            Click(dialog, IDOK);
        });
    s.command(CMD_LOCK_MESSENGER);
    EXPECT_EQ(0u, script.Remaining());
    for (HWND window : {s.bob, options, signIn}) EXPECT_TRUE(IsWindowEnabled(window));
    EXPECT_EQ(nullptr, s.manager().OtherLockOverlay(options));
    DestroyWindow(options);
    DestroyWindow(signIn);
}

TEST(Lock, AnOpenStatisticsDialogIsCoveredAndDisabled) {
    LockBench s;
    HWND statistics = nullptr;
    ModalScript script;
    script.Rescue([] {
        UnlockWithTheRightPassword();
        PostMessageA(FindDialog("Online time statistics"), WM_COMMAND, IDCANCEL, 0);
    });
    script
        .Then("Online time statistics", [&](HWND found) {
            statistics = found;
            PostThreadMessageA(GetCurrentThreadId(), WM_COMMAND, CMD_LOCK_MESSENGER, 0);
        })
        .Then("Unlock messenger", [&](HWND dialog) {
            EXPECT_FALSE(IsWindowEnabled(statistics));
            const CLockOverlay* covered = s.manager().OtherLockOverlay(statistics);
            ASSERT_NE(nullptr, covered);
            ExpectCoveringPanel(statistics, covered->Panel());
            Type(dialog, IDC_LOCK_PASSWORD, "Secret");
            Click(dialog, IDOK);
        })
        .Then("Online time statistics", [&](HWND found) {
            EXPECT_TRUE(IsWindowEnabled(found));
            PostMessageA(found, WM_COMMAND, IDCANCEL, 0);
        });
    CStatsDlg dialog(s.manager(), s.manager().Statistics(), s.manager().Contacts());
    dialog.DoModal();
    EXPECT_EQ(0u, script.Remaining());
}

TEST(Lock, AQuitWhileLockedShowsTheUnlockDialogAgainAndQuitsAfterTheUnlock) {
    LockBench s;
    int shown = 0;
    ModalScript script;
    script.Rescue(UnlockWithTheRightPassword);
    script
        .Then("Unlock messenger", [&](HWND) {
            ++shown;
            PostQuitMessage(7);
        })
        .Then("Unlock messenger", [&](HWND dialog) {
            ++shown;
            EXPECT_TRUE(s.manager().IsLocked());
            for (HWND window : {s.main, s.bob}) EXPECT_FALSE(IsWindowEnabled(window));
            ExpectCoveringPanel(s.bob, s.manager().HandlerOf(s.bob)->LockOverlay().Panel());
            Type(dialog, IDC_LOCK_PASSWORD, "Secret");
            Click(dialog, IDOK);
        });
    s.manager().OnCommand(nullptr, CMD_LOCK_MESSENGER, 0);
    EXPECT_EQ(0u, script.Remaining());
    EXPECT_EQ(2, shown);
    EXPECT_FALSE(s.manager().IsLocked());
    for (HWND window : {s.main, s.bob}) EXPECT_TRUE(IsWindowEnabled(window));
    MSG quit{};
    ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(7u, quit.wParam);
}

TEST(Lock, ByHandNeedsSignInAndAPassword) {
    Bench bench;
    bench.SignIn("me@example.com", "Me");
    bench.CreateUiManagerWindow();
    bench.CreateMainWindow();
    TestManager& manager = bench.Start();
    manager.realLock = true;
    manager.OnCommand(nullptr, CMD_LOCK_MESSENGER, 0);
    bench.State().SetSignedIn(false);
    manager.OnCommand(nullptr, CMD_LOCK_MESSENGER, 0);
    const auto shown = bench.Messages();
    ASSERT_EQ(2u, shown.size());
    EXPECT_EQ("You must set a password first", shown[0].text);
    EXPECT_EQ("Error", shown[0].caption);
    EXPECT_EQ("Messenger client is not signed in", shown[1].text);
    EXPECT_EQ("Parleym", shown[1].caption);
    for (const ShownMessage& message : shown) {
        EXPECT_EQ(static_cast<UINT>(MB_TASKMODAL | MB_ICONERROR | MB_OK), message.style);
        EXPECT_EQ(nullptr, message.owner);
    }
    EXPECT_FALSE(manager.IsLocked());
    EXPECT_TRUE(bench.LoaderMessages(LDR_SET_LOCKED).empty());
}

// The "Parleym" menus in the messenger's windows and the command dispatch
// with its dialog gate.
#include <windows.h>
#include <commdlg.h>

#include <atomic>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "plugin/core/ParleymDlg.h"
#include "plugin/core/PluginMenus.h"
#include "plugin/core/PluginResources.h"
#include "plugin/core/UserMessage.h"
#include "plugin/logging/LogFileKind.h"
#include "plugin/logging/LogManager.h"
#include "shared/Protocol.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/hook/WineTestSupport.h"

using namespace parleym;
using namespace coretest;

namespace {

struct SignedInBench {
    Bench bench;
    HWND main;
    SignedInBench() {
        bench.SignIn("me@example.com", "Me");
        bench.State().AddContact("ann@example.com", "Ann", MISTATUS_ONLINE);
        bench.State().AddContact("cid@example.com", "Cid", MISTATUS_OFFLINE);
        bench.CreateUiManagerWindow();
        main = bench.CreateMainWindow();
        bench.Start();
    }
    TestManager& manager() { return bench.Manager(); }
    void command(UINT id, HWND window = nullptr, LPARAM lParam = 0) {
        manager().OnCommand(window, id, lParam);
        bench.Pump();
    }
};

bool Shown(const Bench& bench, const std::string& text) {
    for (const ShownMessage& message : bench.Messages())
        if (message.text == text) return true;
    return false;
}

} // namespace

TEST(PluginMenus, MainPopupHoldsTheItemsWithTheirChecks) {
    SignedInBench s;
    HMENU popup = ParleymPopup(s.main);
    ASSERT_NE(nullptr, popup);
    const std::vector<std::string> expected = {
        "Broadcast message...", "Send offline message...", "Statistics...", "-", "Set password...",
        "Auto lock messenger", "Lock messenger", "-", "Enable logging", "View logs...", "Set logs path...", "-",
        "About Parleym..."};
    EXPECT_EQ(expected, MenuTexts(popup));
    HMENU autoLock = s.manager().AutoLockMenu();
    ASSERT_EQ(GetSubMenu(popup, 5), autoLock);
    EXPECT_EQ((std::vector<std::string>{"disabled", "at 5 minutes", "at 6 minutes", "at 10 minutes", "at 15 minutes"}),
              MenuTexts(autoLock));
    EXPECT_TRUE(IsChecked(autoLock, CMD_AUTOLOCK_DISABLED));
    EXPECT_FALSE(IsChecked(autoLock, CMD_AUTOLOCK_5));
    EXPECT_EQ(s.manager().LogStore().IsLoggingEnabled() != 0, IsChecked(popup, CMD_TOGGLE_LOGGING));
    EXPECT_FALSE(IsGrayed(popup, CMD_STATISTICS));

    // Shown again (the messenger re-shows its window): still one popup.
    s.manager().OnWindowShown(s.main);
    EXPECT_EQ(1, CountParleymItems(s.main));

    // Destroyed: the popup goes; a new main window gets a new one.
    s.manager().OnWindowDestroyed(s.main);
    EXPECT_EQ(0, CountParleymItems(s.main));
    EXPECT_EQ(nullptr, s.manager().MainWindow());
    HWND second = s.bench.CreateMainWindow();
    EXPECT_TRUE(s.manager().IsMessengerWindow(second, TRUE));
    EXPECT_EQ(second, s.manager().MainWindow());
    EXPECT_EQ(1, CountParleymItems(second));
}

TEST(PluginMenus, ItemsAreGrayedWithoutADispatchWindow) {
    HMENU menu = CreatePopupMenu();
    HMENU autoLock = AppendPluginMenuItems(menu, nullptr);
    EXPECT_TRUE(IsGrayed(menu, CMD_BROADCAST));
    EXPECT_TRUE(IsGrayed(menu, CMD_ABOUT));
    EXPECT_TRUE(IsGrayed(autoLock, CMD_AUTOLOCK_15));
    EXPECT_FALSE(GetMenuState(menu, 5, MF_BYPOSITION) & MF_GRAYED);  // the sub-menu itself
    DestroyMenu(menu);
}

TEST(PluginMenus, ConversationPopupIsInsertedOnceTrackedAndRemoved) {
    SignedInBench s;
    HWND conversation = s.bench.CreateConversationWindow("ann@example.com");
    EXPECT_TRUE(s.manager().IsMessengerWindow(conversation, TRUE));
    s.manager().OnWindowShown(conversation);
    s.bench.Pump();  // the posted 30005 starts tracking
    EXPECT_EQ(1, CountParleymItems(conversation));
    EXPECT_EQ((std::vector<std::string>{"Forward conversation...", "-", "About Parleym..."}),
              MenuTexts(ParleymPopup(conversation)));
    ASSERT_NE(nullptr, s.manager().HandlerOf(conversation));
    EXPECT_EQ(1u, s.manager().TrackedWindowCount());

    s.manager().OnWindowDestroyed(conversation);
    EXPECT_EQ(0, CountParleymItems(conversation));
    EXPECT_EQ(nullptr, s.manager().HandlerOf(conversation));
    EXPECT_EQ(0u, s.manager().TrackedWindowCount());
}

TEST(PluginMenus, ContactListMenuOffersOfflineMessageForAnOfflineContact) {
    SignedInBench s;
    HWND generic = s.bench.CreateGenericWindow(true);
    SetCursorPos(100, 100);
    s.bench.Pump();

    HMENU online = CreatePopupMenu();
    AppendMenuA(online, MF_STRING, 1, "Send an Instant Message to ann@example.com");
    s.manager().OnInitMenu(generic, online);
    std::vector<std::string> texts = MenuTexts(online);
    ASSERT_EQ(3u, texts.size());
    EXPECT_EQ("Send offline message...", texts[2]);
    EXPECT_TRUE(IsGrayed(online, CMD_SEND_OFFLINE_TO_SELECTED));

    HMENU offline = CreatePopupMenu();
    AppendMenuA(offline, MF_STRING, 1, "View profile of cid@example.com");
    s.manager().OnInitMenu(generic, offline);
    EXPECT_FALSE(IsGrayed(offline, CMD_SEND_OFFLINE_TO_SELECTED));
    EXPECT_EQ("cid@example.com", s.manager().SelectedContact().signInName);

    // Not over the contact list, or not the contact-list window: nothing added.
    HMENU other = CreatePopupMenu();
    AppendMenuA(other, MF_STRING, 1, "cid@example.com");
    s.manager().OnInitMenu(s.main, other);
    EXPECT_EQ(1, GetMenuItemCount(other));
    HWND bare = s.bench.CreateGenericWindow(false);
    s.manager().OnInitMenu(bare, other);
    EXPECT_EQ(1, GetMenuItemCount(other));
    for (HMENU menu : {online, offline, other}) DestroyMenu(menu);
}

TEST(PluginMenus, ContactListMenuNamesTheContactByItsWholeAddress) {
    SignedInBench s;
    HWND generic = s.bench.CreateGenericWindow(true);
    SetCursorPos(100, 100);
    s.bench.Pump();
    // Ann (online) comes first in the list; her address is inside Jo's (offline).
    auto jo = s.bench.State().AddContact("joann@example.com", "Jo", MISTATUS_OFFLINE);
    s.bench.Api().FireContactListAdd(S_OK, jo);
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, 1, "Send E-mail (joann@example.com)");
    s.manager().OnInitMenu(generic, menu);
    EXPECT_FALSE(IsGrayed(menu, CMD_SEND_OFFLINE_TO_SELECTED));
    EXPECT_EQ("joann@example.com", s.manager().SelectedContact().signInName);
    DestroyMenu(menu);
}

TEST(PluginMenus, AContextMenuOpenedAgainHasTheOfflineItemOnce) {
    SignedInBench s;
    HWND generic = s.bench.CreateGenericWindow(true);
    SetCursorPos(100, 100);
    s.bench.Pump();
    // The messenger keeps its context menu and opens it again and again.
    HMENU kept = CreatePopupMenu();
    AppendMenuA(kept, MF_STRING, 1, "View profile of cid@example.com");
    s.manager().OnInitMenu(generic, kept);
    s.manager().OnInitMenu(generic, kept);
    EXPECT_EQ((std::vector<std::string>{"View profile of cid@example.com", "-", "Send offline message..."}),
              MenuTexts(kept));
    EXPECT_FALSE(IsGrayed(kept, CMD_SEND_OFFLINE_TO_SELECTED));
    // Its state still follows the contact.
    ModifyMenuA(kept, 0, MF_BYPOSITION | MF_STRING, 1, "View profile of ann@example.com");
    s.manager().OnInitMenu(generic, kept);
    EXPECT_EQ(3, GetMenuItemCount(kept));
    EXPECT_TRUE(IsGrayed(kept, CMD_SEND_OFFLINE_TO_SELECTED));
    DestroyMenu(kept);
}

TEST(CommandDispatch, GatedCommandsNeedSignInAndOneDialogAtATime) {
    SignedInBench s;
    s.command(CMD_STATISTICS);
    s.command(CMD_SET_PASSWORD);
    EXPECT_EQ((std::vector<std::string>{"statistics", "set-password"}), s.manager().calls);
    EXPECT_EQ(0, s.manager().DialogBusy());

    // A plug-in dialog is open: a second gated command only brings it forward.
    CParleymDlg dialog(IDD_ABOUT, &s.manager());
    ASSERT_TRUE(dialog.Create());
    EXPECT_EQ(dialog.GetSafeHwnd(), s.manager().OpenDialog());
    auto opened = s.bench.LoaderMessages(LDR_SET_DIALOG_OPEN);
    ASSERT_FALSE(opened.empty());
    EXPECT_EQ(1u, opened.back().wParam);
    s.bench.ClearLoaderMessages();
    s.manager().calls.clear();
    s.command(CMD_STATISTICS);
    s.command(CMD_ABOUT);
    EXPECT_TRUE(s.manager().calls.empty());
    const auto forward = s.bench.LoaderMessages(LDR_SET_FOREGROUND);
    ASSERT_EQ(2u, forward.size());
    EXPECT_EQ(reinterpret_cast<LPARAM>(dialog.GetSafeHwnd()), forward[0].lParam);
    dialog.DestroyWindow();
    EXPECT_EQ(nullptr, s.manager().OpenDialog());
    EXPECT_EQ(0u, s.bench.LoaderMessages(LDR_SET_DIALOG_OPEN).back().wParam);

    // Signed out: refused with the message.
    s.bench.State().SetSignedIn(false);
    s.command(CMD_STATISTICS);
    s.command(CMD_BROADCAST);
    s.command(CMD_AUTOLOCK_5);
    EXPECT_TRUE(s.manager().calls.empty());
    ASSERT_EQ(3u, s.bench.Messages().size());
    for (const ShownMessage& message : s.bench.Messages()) {
        EXPECT_EQ("Messenger client is not signed in", message.text);
        EXPECT_EQ("Parleym", message.caption);
        EXPECT_EQ(static_cast<UINT>(MB_TASKMODAL | MB_ICONERROR | MB_OK), message.style);
    }
}

TEST(CommandDispatch, EachIdentifierReachesItsAction) {
    SignedInBench s;
    s.command(CMD_BROADCAST);
    s.command(CMD_LOCK_MESSENGER);
    s.command(CMD_AUTOLOCK_TIMER);
    s.command(CMD_SEND_OFFLINE_MESSAGE);  // selection cancelled: nothing more
    s.command(30009);                      // unused identifiers do nothing
    s.command(29999);
    EXPECT_EQ((std::vector<std::string>{"broadcast", "lock", "lock-timer", "select-offline"}), s.manager().calls);

    // Send offline message: the chosen contact's window is opened and tracked.
    s.manager().calls.clear();
    s.manager().selectionResult = true;
    s.manager().selectionChoice = CContactInfo("cid@example.com", "Cid", kContactOffline);
    s.command(CMD_SEND_OFFLINE_MESSAGE);
    EXPECT_EQ("cid@example.com", s.manager().SelectedContact().signInName);
    ASSERT_EQ(1u, s.manager().TrackedWindowCount());
    HWND opened = FindWindowA("IMWindowClass", nullptr);
    ASSERT_NE(nullptr, s.manager().HandlerOf(opened));
    EXPECT_EQ(kOfflineMessageHandlerKind, s.manager().HandlerOf(opened)->GetKind());
    EXPECT_STREQ("Offline title", s.manager().GetWindowTitle(opened));

    // Handler-bound commands reach the window's handler.
    g_handlerEvents.clear();
    HWND child = GetWindow(opened, GW_CHILD);
    s.command(CMD_HANDLER_COMMAND, opened, reinterpret_cast<LPARAM>(opened));
    s.command(CMD_HISTORY_CHANGED, nullptr, reinterpret_cast<LPARAM>(child));
    s.manager().OnButtonClicked(child);
    s.manager().OnKeyDown(VK_RETURN, child);
    s.manager().OnKeyDown('A', child);
    s.manager().OnWindowSized(opened);
    s.manager().OnEditChanged(child);
    std::vector<std::string> seen;
    for (const HandlerEvent& event : g_handlerEvents) seen.push_back(event.what);
    EXPECT_EQ((std::vector<std::string>{"command 30006", "history", "button", "key 13", "size", "edit"}), seen);

    // Forwarding an offline-message window is refused.
    s.command(CMD_FORWARD_CONVERSATION, opened);
    EXPECT_TRUE(Shown(s.bench, "You can not forward offline messages"));

    // 30008 chooses the handler again, keeping the conversation number.
    const int number = s.manager().HandlerOf(opened)->GetConversationNumber();
    s.command(CMD_RESELECT_HANDLER, opened);
    ASSERT_NE(nullptr, s.manager().HandlerOf(opened));
    EXPECT_EQ(number, s.manager().HandlerOf(opened)->GetConversationNumber());
}

TEST(CommandDispatch, WindowCommandsActOnlyOnThisMessengersOwnWindows) {
    SignedInBench s;
    parleym::test::Process other;
    ASSERT_TRUE(other.Start("\"" + parleym::test::WinPath(PARLEYM_FOREIGN_PROCESS) + "\" conversation 30"));
    HWND foreign = nullptr;
    ASSERT_TRUE(parleym::test::PumpUntil([&] { return (foreign = FindWindowA("IMWindowClass", "Foreign")) != nullptr; },
                                         15000));
    // A conversation window of another process, and a window of ours that is none.
    s.command(CMD_TRACK_WINDOW, nullptr, reinterpret_cast<LPARAM>(foreign));
    s.command(CMD_TRACK_WINDOW, nullptr, reinterpret_cast<LPARAM>(s.bench.LoaderWindow()));
    EXPECT_EQ(0u, s.manager().TrackedWindowCount());
    HWND own = s.bench.CreateConversationWindow("ann@example.com");
    s.command(CMD_TRACK_WINDOW, nullptr, reinterpret_cast<LPARAM>(own));
    EXPECT_NE(nullptr, s.manager().HandlerOf(own));
    EXPECT_EQ(1u, s.manager().TrackedWindowCount());

    ShowWindow(own, SW_SHOW);
    s.command(CMD_SET_FOREGROUND, nullptr, reinterpret_cast<LPARAM>(own));
    ASSERT_EQ(own, GetForegroundWindow());
    s.command(CMD_SET_FOREGROUND, nullptr, reinterpret_cast<LPARAM>(foreign));
    EXPECT_EQ(own, GetForegroundWindow());
}

TEST(CommandDispatch, ForwardReplacesTheLoggingHandlerOnlyWhenConfirmed) {
    SignedInBench s;
    HWND conversation = s.bench.CreateConversationWindow("ann@example.com");
    s.command(CMD_TRACK_WINDOW, nullptr, reinterpret_cast<LPARAM>(conversation));
    ASSERT_EQ(kLogHandlerKind, s.manager().HandlerOf(conversation)->GetKind());
    const int number = s.manager().HandlerOf(conversation)->GetConversationNumber();

    s.command(CMD_FORWARD_CONVERSATION, conversation);
    EXPECT_EQ(kLogHandlerKind, s.manager().HandlerOf(conversation)->GetKind());
    s.manager().selectionResult = true;
    s.command(CMD_FORWARD_CONVERSATION, conversation);
    EXPECT_EQ(kForwardHandlerKind, s.manager().HandlerOf(conversation)->GetKind());
    EXPECT_EQ(number, s.manager().HandlerOf(conversation)->GetConversationNumber());
    EXPECT_EQ((std::vector<std::string>{"select-forward", "select-forward"}), s.manager().calls);
    s.command(CMD_FORWARD_CONVERSATION, conversation);  // already forwarded: nothing
    EXPECT_EQ(2u, s.manager().calls.size());
}

TEST(CommandDispatch, ForwardIsDecidedOnlyOnceThePickerHasEnded) {
    // What may happen while the picker is up, and what forwarding then does.
    const struct {
        const char* what;
        std::function<void(SignedInBench&, HWND)> meanwhile;
        int kindAfter;  // -1: no handler
        bool refused;   // "You can not forward offline messages"
    } cases[] = {
        {"nothing", [](SignedInBench&, HWND) {}, kForwardHandlerKind, false},
        {"contact offline",
         [](SignedInBench& s, HWND) {
             auto ann = s.bench.State().FindContact("ann@example.com");
             ann->status = MISTATUS_OFFLINE;
             s.bench.Api().FireContactStatusChange(ann, MISTATUS_OFFLINE);
         },
         kOfflineMessageHandlerKind, true},
        {"window closed",
         [](SignedInBench& s, HWND window) {
             s.manager().OnWindowDestroyed(window);
             DestroyWindow(window);
         },
         -1, false},
        {"other account",
         [](SignedInBench& s, HWND) {
             s.bench.State().SelectAccount("other@example.com", "Other");
             s.bench.State().SetSignedIn(true);
             s.bench.State().AddContact("ann@example.com", "Ann", MISTATUS_ONLINE);
             s.bench.Api().FireSignin(S_OK);
         },
         kLogHandlerKind, false},
    };
    for (const auto& c : cases) {
        SignedInBench s;
        // Ann's address is inside Jo's, and Jo's name holds Ann's address.
        auto jo = s.bench.State().AddContact("joann@example.com", "Jo ann@example.com", MISTATUS_ONLINE);
        s.bench.Api().FireContactListAdd(S_OK, jo);
        HWND window = s.bench.CreateConversationWindow("To: Ann <ann@example.com>");
        s.command(CMD_TRACK_WINDOW, nullptr, reinterpret_cast<LPARAM>(window));
        s.manager().selectionResult = true;
        s.manager().duringSelection = [&] { c.meanwhile(s, window); };
        g_handlerEvents.clear();
        s.command(CMD_FORWARD_CONVERSATION, window);
        EXPECT_EQ("ann@example.com", s.manager().selectionExcluded) << c.what;
        ConversationHandler* handler = s.manager().HandlerOf(window);
        EXPECT_EQ(c.kindAfter, handler ? handler->GetKind() : -1) << c.what;
        EXPECT_EQ(c.refused, Shown(s.bench, "You can not forward offline messages")) << c.what;
        // A forward handler is made only for a forward that goes ahead.
        int forwardAttached = 0;
        for (const HandlerEvent& event : g_handlerEvents)
            if (event.what == "attach" && event.kind == kForwardHandlerKind) ++forwardAttached;
        EXPECT_EQ(c.kindAfter == kForwardHandlerKind ? 1 : 0, forwardAttached) << c.what;
    }
    // The forwarded window's own contact is left out by its whole address.
    SignedInBench s;
    auto jo = s.bench.State().AddContact("joann@example.com", "Jo ann@example.com", MISTATUS_ONLINE);
    s.bench.Api().FireContactListAdd(S_OK, jo);
    HWND withJo = s.bench.CreateConversationWindow("To: Jo ann@example.com <joann@example.com>");
    s.command(CMD_TRACK_WINDOW, nullptr, reinterpret_cast<LPARAM>(withJo));
    s.command(CMD_FORWARD_CONVERSATION, withJo);
    EXPECT_EQ("joann@example.com", s.manager().selectionExcluded);
}

TEST(CommandDispatch, LoggingSwitchAsksFirstWhileConversationsAreOpen) {
    SignedInBench s;
    CLogManager& logs = s.manager().LogStore();
    HMENU popup = ParleymPopup(s.main);
    logs.SetLoggingEnabled(0);
    CheckMenuItem(popup, CMD_TOGGLE_LOGGING, MF_BYCOMMAND | MF_UNCHECKED);
    HWND conversation = s.bench.CreateConversationWindow("ann@example.com");
    s.command(CMD_TRACK_WINDOW, nullptr, reinterpret_cast<LPARAM>(conversation));

    s.bench.AnswerMessages(IDNO);
    s.command(CMD_TOGGLE_LOGGING);
    ASSERT_EQ(1u, s.bench.Messages().size());
    EXPECT_EQ(static_cast<UINT>(MB_TASKMODAL | MB_ICONQUESTION | MB_YESNO), s.bench.Messages()[0].style);
    EXPECT_EQ(0, logs.IsLoggingEnabled());

    s.bench.AnswerMessages(IDYES);
    s.command(CMD_TOGGLE_LOGGING);
    EXPECT_EQ(1, logs.IsLoggingEnabled());
    EXPECT_TRUE(IsChecked(popup, CMD_TOGGLE_LOGGING));
    // The loader's tray menu asks the dispatch window for the state.
    EXPECT_NE(0, SendMessageA(s.manager().DispatchWindow(), PLG_GET_LOGGING, 0, 0));

    s.bench.ClearMessages();
    s.command(CMD_TOGGLE_LOGGING);  // turning it off asks nothing
    EXPECT_TRUE(s.bench.Messages().empty());
    EXPECT_EQ(0, logs.IsLoggingEnabled());
    EXPECT_FALSE(IsChecked(popup, CMD_TOGGLE_LOGGING));
    EXPECT_EQ(0, s.manager().DialogBusy());
}

TEST(CommandDispatch, ViewLogsAsksForThePasswordOnlyWhenOneIsSet) {
    SignedInBench s;
    s.bench.State().SetSignedIn(false);
    s.command(CMD_VIEW_LOGS);  // no password: opens even when signed out
    EXPECT_EQ((std::vector<std::string>{"log-viewer"}), s.manager().calls);

    s.bench.State().SetSignedIn(true);
    ASSERT_TRUE(s.manager().ChangePassword("", "secret"));
    s.manager().calls.clear();
    s.bench.State().SetSignedIn(false);
    s.command(CMD_VIEW_LOGS);
    EXPECT_TRUE(s.manager().calls.empty());
    EXPECT_TRUE(Shown(s.bench, "Messenger client is not signed in"));

    s.bench.State().SetSignedIn(true);
    s.manager().viewLogsPasswordOk = false;
    s.command(CMD_VIEW_LOGS);
    s.manager().viewLogsPasswordOk = true;
    s.command(CMD_VIEW_LOGS);
    EXPECT_EQ((std::vector<std::string>{"view-logs-password", "view-logs-password", "log-viewer"}),
              s.manager().calls);
}

TEST(CommandDispatch, AutoLockChoiceNeedsAPasswordAndMovesTheCheck) {
    SignedInBench s;
    HMENU autoLock = s.manager().AutoLockMenu();
    s.command(CMD_AUTOLOCK_10);
    EXPECT_TRUE(Shown(s.bench, "You must set a password first"));
    EXPECT_EQ(static_cast<UINT>(CMD_AUTOLOCK_DISABLED), parleym::CParleymanager::AutoLockChoice());

    ASSERT_TRUE(s.manager().ChangePassword("", "secret"));
    s.command(CMD_AUTOLOCK_10);
    EXPECT_TRUE(IsChecked(autoLock, CMD_AUTOLOCK_10));
    EXPECT_FALSE(IsChecked(autoLock, CMD_AUTOLOCK_DISABLED));
    EXPECT_EQ(CMD_AUTOLOCK_10, SendMessageA(s.manager().DispatchWindow(), PLG_GET_AUTOLOCK, 0, 0));
    s.command(CMD_AUTOLOCK_DISABLED);
    EXPECT_TRUE(IsChecked(autoLock, CMD_AUTOLOCK_DISABLED));
    EXPECT_EQ(0, s.manager().DialogBusy());
}

TEST(CommandDispatch, SetLogsPathStoresANewFileOrALogsFileAndDeletesNothing) {
    SignedInBench s;
    // A new file name is stored.
    const std::string fresh = s.bench.DataFile("fresh-logs.dat");
    s.manager().logsPathAnswer = fresh;
    s.command(CMD_SET_LOGS_PATH);
    EXPECT_EQ((std::vector<std::string>{"ask-logs-path open=1"}), s.manager().calls);
    EXPECT_EQ(nullptr, s.manager().OpenDialog());
    EXPECT_EQ(fresh, s.manager().GetLogsPath());
    EXPECT_TRUE(Shown(s.bench, "Logs will be saved in the new location after you restart Parleym"));

    // An older logs file is used as it is: its conversations stay.
    const std::string older = s.bench.DataFile("older-logs.dat");
    {
        CLogManager logs;
        ASSERT_TRUE(logs.Open(older.c_str()));
        ASSERT_TRUE(logs.OpenAccount("me@example.com"));
        logs.Close();
    }
    WIN32_FILE_ATTRIBUTE_DATA before{}, after{};
    GetFileAttributesExA(older.c_str(), GetFileExInfoStandard, &before);
    s.manager().logsPathAnswer = older;
    s.command(CMD_SET_LOGS_PATH);
    EXPECT_EQ(older, s.manager().GetLogsPath());
    ASSERT_TRUE(GetFileAttributesExA(older.c_str(), GetFileExInfoStandard, &after));
    EXPECT_EQ(before.nFileSizeLow, after.nFileSizeLow);
    EXPECT_EQ(LogFileKind::kLogs, InspectLogFile(older));
    // So is the file logs are written to right now.
    s.manager().logsPathAnswer = s.manager().LogStore().Path();
    s.command(CMD_SET_LOGS_PATH);
    EXPECT_EQ(s.manager().LogStore().Path(), s.manager().GetLogsPath());
}

TEST(CommandDispatch, SetLogsPathChosenAsTheAccountSignsOutChangesNoAccount) {
    SignedInBench s;
    s.manager().logsPathAnswer = s.bench.DataFile("fresh-logs.dat");
    s.manager().whileAskingLogsPath = [&] {
        s.bench.Api().FireSignout();
        s.bench.State().SelectAccount("other@example.com", "Other");
        s.bench.State().SetSignedIn(true);
        s.bench.Api().FireSignin(S_OK);
    };
    s.command(CMD_SET_LOGS_PATH);
    EXPECT_TRUE(Shown(s.bench, kAccountChangedText));
    EXPECT_FALSE(Shown(s.bench, "Logs will be saved in the new location after you restart Parleym"));
    for (const CUserSettings& record : s.manager().Accounts().Records()) EXPECT_EQ("", record.logsPath);
    EXPECT_EQ("", s.manager().GetLogsPath());
}

TEST(CommandDispatch, SetLogsPathRefusesParleymsOwnFilesAndOtherFiles) {
    SignedInBench s;
    s.manager().logsPathAnswer = s.bench.DataFile("fresh-logs.dat");
    s.command(CMD_SET_LOGS_PATH);
    ASSERT_EQ(s.bench.DataFile("fresh-logs.dat"), s.manager().GetLogsPath());
    WIN32_FILE_ATTRIBUTE_DATA users{};
    ASSERT_TRUE(GetFileAttributesExA(s.bench.DataFile("users.dat").c_str(), GetFileExInfoStandard, &users));

    // The data folder's own files, existing or not, in any spelling.
    for (const char* own : {"users.dat", "USERS.DAT", "stats.dat", "objcache.dat", "offlinemsg.dat",
                            "ParleymHk.dll", "ParleymPlugin.dll", "ParleymLdr.exe"}) {
        s.bench.ClearMessages();
        const std::string chosen = s.bench.Folder() + ".\\" + own;
        s.manager().logsPathAnswer = chosen;
        s.command(CMD_SET_LOGS_PATH);
        ASSERT_EQ(1u, s.bench.Messages().size()) << own;
        EXPECT_NE(std::string::npos, s.bench.Messages()[0].text.find("belongs to Parleym and cannot hold the logs"))
            << s.bench.Messages()[0].text;
        EXPECT_EQ("Parleym", s.bench.Messages()[0].caption);
        EXPECT_EQ(static_cast<UINT>(MB_TASKMODAL | MB_ICONERROR | MB_OK), s.bench.Messages()[0].style);
        EXPECT_EQ(s.bench.DataFile("fresh-logs.dat"), s.manager().GetLogsPath()) << own;
    }
    WIN32_FILE_ATTRIBUTE_DATA usersAfter{};
    ASSERT_TRUE(GetFileAttributesExA(s.bench.DataFile("users.dat").c_str(), GetFileExInfoStandard, &usersAfter));
    EXPECT_EQ(users.nFileSizeLow, usersAfter.nFileSizeLow);

    // Any other existing file: refused, not deleted.
    const std::string letter = s.bench.DataFile("letter.txt");
    HANDLE file = CreateFileA(letter.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, "Dear Ann", 8, &written, nullptr);
    CloseHandle(file);
    s.bench.ClearMessages();
    s.manager().logsPathAnswer = letter;
    s.command(CMD_SET_LOGS_PATH);
    ASSERT_EQ(1u, s.bench.Messages().size());
    EXPECT_EQ("The file " + letter + " is not a Parleym logs file. Choose a logs file or a new file name.",
              s.bench.Messages()[0].text);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(letter.c_str()));
    EXPECT_EQ(s.bench.DataFile("fresh-logs.dat"), s.manager().GetLogsPath());
}

TEST(CommandDispatch, SetLogsPathRunsTheRealSaveDialog) {
    SignedInBench s;
    s.manager().realLogsDialog = true;
    const std::string chosen = s.bench.DataFile("chosen-logs.dat");
    std::atomic<bool> answered{false};
    std::thread answerer([&] {
        for (int i = 0; i < 300 && !answered; ++i) {
            Sleep(50);
            HWND dialog = nullptr;
            while ((dialog = FindWindowExA(nullptr, dialog, "#32770", nullptr)) != nullptr) {
                DWORD process = 0;
                GetWindowThreadProcessId(dialog, &process);
                if (process != GetCurrentProcessId() || !IsWindowVisible(dialog)) continue;
                // The file name box: a combo box (cmb13) in the explorer style, an edit (edt1) in the old one.
                HWND name = GetDlgItem(dialog, 0x47C);
                if (!name) name = GetDlgItem(dialog, 0x480);
                if (!name) continue;
                SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(chosen.c_str()));
                PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
                answered = true;
                break;
            }
        }
    });
    s.command(CMD_SET_LOGS_PATH);
    answered = true;
    answerer.join();
    EXPECT_EQ(nullptr, s.manager().OpenDialog());
    EXPECT_EQ(0, s.manager().DialogBusy());
    EXPECT_EQ(0u, CommDlgExtendedError());
    EXPECT_EQ(0, lstrcmpiA(chosen.c_str(), s.manager().GetLogsPath().c_str())) << s.manager().GetLogsPath();
}

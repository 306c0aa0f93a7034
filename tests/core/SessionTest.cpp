// The messenger's events as the manager follows them: who is signed in, the
// contact list, and which kind of handler serves each conversation window.
#include <gtest/gtest.h>

#include <string>

#include "framework/FrameWnd.h"
#include "plugin/core/UserMessage.h"
#include "plugin/logging/LogManager.h"
#include "plugin/logging/LogViewerResources.h"
#include "plugin/storage/MessageContent.h"
#include "shared/Protocol.h"
#include "tests/core/CoreTestSupport.h"

using namespace parleym;
using namespace coretest;

namespace {

struct Session {
    Bench bench;
    standin::ContactPtr ann, cid;
    Session() {
        bench.SignIn("me@example.com", "Me");
        ann = bench.State().AddContact("ann@example.com", "Ann", MISTATUS_ONLINE);
        cid = bench.State().AddContact("cid@example.com", "Cid", MISTATUS_OFFLINE);
        bench.CreateUiManagerWindow();
        bench.CreateMainWindow();
        bench.Start();
    }
    TestManager& manager() { return bench.Manager(); }
    HWND Track(const std::string& address) {
        HWND window = bench.CreateConversationWindow(address);
        manager().OnCommand(nullptr, CMD_TRACK_WINDOW, reinterpret_cast<LPARAM>(window));
        return window;
    }
    int KindOf(HWND window) {
        ConversationHandler* handler = manager().HandlerOf(window);
        return handler ? handler->GetKind() : -1;
    }
    // As the hook library reports an insertion into a history: a command
    // posted to the thread, handled once the messages ahead of it are.
    static void PostHistoryChange(HWND control) {
        PostThreadMessageA(GetCurrentThreadId(), WM_COMMAND, CMD_HISTORY_CHANGED, reinterpret_cast<LPARAM>(control));
    }
    void SetStatus(const standin::ContactPtr& contact, MISTATUS status) {
        contact->status = status;
        bench.Api().FireContactStatusChange(contact, status);
    }
};

} // namespace

namespace {
// An open log viewer, as "View logs..." leaves it.
HWND OpenViewer(TestManager& manager) {
    auto* viewer = new CFrameWnd();
    EXPECT_TRUE(viewer->LoadFrame(IDR_LOG_VIEWER));
    manager.SetLogViewer(viewer);
    return viewer->GetSafeHwnd();
}
} // namespace

TEST(MessengerSession, SignOutAndSignInFollowTheAccount) {
    Session s;
    ASSERT_EQ(2u, s.manager().Contacts().size());
    // The viewer shows this account's logs: it goes with the account.
    HWND viewer = OpenViewer(s.manager());
    s.bench.State().SetSignedIn(false);
    s.bench.Api().FireSignout();
    EXPECT_EQ(kContactOffline, s.manager().Self().status);
    EXPECT_FALSE(s.manager().IsSignedIn());
    EXPECT_EQ(nullptr, s.manager().LogViewer());
    EXPECT_FALSE(IsWindow(viewer));
    // One opened while signed out (no password asked) shows nothing of the next account's.
    viewer = OpenViewer(s.manager());

    // A failed sign-in changes nothing.
    s.bench.State().SelectAccount("other@example.com", "Other");
    s.bench.State().SetSignedIn(true);
    s.bench.State().SetMyStatus(MISTATUS_ONLINE);
    s.bench.Api().FireSignin(E_FAIL);
    EXPECT_EQ("me@example.com", s.manager().Self().signInName);
    EXPECT_EQ(kContactOffline, s.manager().Self().status);

    EXPECT_TRUE(IsWindow(viewer));
    s.bench.State().AddContact("dan@example.com", "Dan", MISTATUS_BUSY);
    s.bench.Api().FireSignin(S_OK);
    EXPECT_FALSE(IsWindow(viewer));
    EXPECT_EQ("other@example.com", s.manager().Self().signInName);
    EXPECT_EQ("Other", s.manager().Self().friendlyName);
    EXPECT_EQ(kContactOnline, s.manager().Self().status);
    ASSERT_EQ(1u, s.manager().Contacts().size());
    EXPECT_EQ("dan@example.com", s.manager().Contacts()[0].signInName);
    EXPECT_TRUE(s.bench.Messages().empty());
}

TEST(MessengerSession, ContactListGrowsByAddsAndUnknownStatusChanges) {
    Session s;
    auto eve = s.bench.State().AddContact("eve@example.com", "Eve", MISTATUS_ONLINE);
    s.bench.Api().FireContactListAdd(S_OK, eve);
    s.bench.Api().FireContactListAdd(E_FAIL, eve);  // a failed add is ignored
    s.bench.Api().FireContactListAdd(S_OK, eve);    // deleted and added again: still one
    ASSERT_EQ(3u, s.manager().Contacts().size());
    EXPECT_EQ("eve@example.com", s.manager().Contacts()[2].signInName);

    // A contact the list does not know yet is added once, then found.
    auto fay = s.bench.State().AddContact("fay@example.com", "Fay", MISTATUS_ONLINE);
    s.SetStatus(fay, MISTATUS_AWAY);
    s.SetStatus(fay, MISTATUS_LOCAL_FINDING_SERVER);  // 256, a local state: offline
    ASSERT_EQ(4u, s.manager().Contacts().size());
    EXPECT_EQ(kContactOffline, s.manager().Contacts()[3].status);

    for (MISTATUS offline : {MISTATUS_UNKNOWN, MISTATUS_OFFLINE, MISTATUS_LOCAL_CONNECTING_TO_SERVER,
                             MISTATUS_LOCAL_SYNCHRONIZING_WITH_SERVER, MISTATUS_LOCAL_DISCONNECTING_FROM_SERVER}) {
        s.SetStatus(s.ann, offline);
        EXPECT_EQ(kContactOffline, s.manager().Contacts()[0].status) << offline;
    }
    for (MISTATUS online : {MISTATUS_ONLINE, MISTATUS_INVISIBLE, MISTATUS_IDLE, static_cast<MISTATUS>(0x72)}) {
        s.SetStatus(s.ann, online);
        EXPECT_EQ(kContactOnline, s.manager().Contacts()[0].status) << online;
    }
    EXPECT_EQ(4u, s.manager().Contacts().size());
}

TEST(MessengerSession, HandlerKindFollowsTheContactsStatus) {
    Session s;
    HWND withAnn = s.Track("ann@example.com");
    HWND withCid = s.Track("cid@example.com");
    HWND withStranger = s.Track("someone@else.net");
    EXPECT_EQ(kLogHandlerKind, s.KindOf(withAnn));
    EXPECT_EQ(kOfflineMessageHandlerKind, s.KindOf(withCid));
    EXPECT_EQ(kLogHandlerKind, s.KindOf(withStranger));
    const int cidNumber = s.manager().HandlerOf(withCid)->GetConversationNumber();
    const int annNumber = s.manager().HandlerOf(withAnn)->GetConversationNumber();

    // Online: the offline-message handler gives way to logging, same conversation.
    s.SetStatus(s.cid, MISTATUS_ONLINE);
    EXPECT_EQ(kLogHandlerKind, s.KindOf(withCid));
    EXPECT_EQ(cidNumber, s.manager().HandlerOf(withCid)->GetConversationNumber());

    // Offline: logging gives way to offline messages, same conversation.
    s.SetStatus(s.ann, MISTATUS_OFFLINE);
    EXPECT_EQ(kOfflineMessageHandlerKind, s.KindOf(withAnn));
    EXPECT_EQ(annNumber, s.manager().HandlerOf(withAnn)->GetConversationNumber());
    // Offline again: the offline handler stays.
    g_handlerEvents.clear();
    s.SetStatus(s.ann, MISTATUS_LOCAL_CONNECTING_TO_SERVER);
    EXPECT_EQ(kOfflineMessageHandlerKind, s.KindOf(withAnn));
    EXPECT_TRUE(g_handlerEvents.empty());

}

TEST(MessengerSession, AConversationWithSeveralPeopleIsNeverAnOfflineMessageWindow) {
    Session s;
    HWND both = s.Track("To: Cid <cid@example.com>, Ann <ann@example.com>");
    EXPECT_EQ(kLogHandlerKind, s.KindOf(both));
    s.SetStatus(s.ann, MISTATUS_OFFLINE);
    EXPECT_EQ(kLogHandlerKind, s.KindOf(both));
}

TEST(MessengerSession, AHandlerEndedByEventsInsideItsOwnDeliveryIsLeftAlone) {
    Session s;
    // Cid comes online; the clicks of the delivery run events that close the window.
    HWND closed = s.Track("cid@example.com");
    g_duringContactStatus = [&](HWND window) {
        s.manager().OnWindowDestroyed(window);
        DestroyWindow(window);
    };
    s.SetStatus(s.cid, MISTATUS_ONLINE);
    EXPECT_EQ(nullptr, s.manager().HandlerOf(closed));
    EXPECT_EQ(0u, s.manager().TrackedWindowCount());

    // Or that switch accounts and hand the window a handler of the new account's.
    s.SetStatus(s.cid, MISTATUS_OFFLINE);
    HWND kept = s.Track("cid@example.com");
    size_t afterSignIn = 0;
    g_duringContactStatus = [&](HWND) {
        s.bench.Api().FireSignin(S_OK);
        afterSignIn = g_handlerEvents.size();
    };
    s.SetStatus(s.cid, MISTATUS_ONLINE);
    s.bench.Pump();
    EXPECT_EQ(kLogHandlerKind, s.KindOf(kept));
    EXPECT_EQ(afterSignIn, g_handlerEvents.size());  // nothing detached, deleted or attached after

    // Or in which the contact goes offline again: the window goes on taking offline messages.
    s.SetStatus(s.cid, MISTATUS_OFFLINE);
    ASSERT_EQ(kOfflineMessageHandlerKind, s.KindOf(kept));
    g_duringContactStatus = [&](HWND) { s.SetStatus(s.cid, MISTATUS_OFFLINE); };
    s.SetStatus(s.cid, MISTATUS_ONLINE);
    EXPECT_EQ(kOfflineMessageHandlerKind, s.KindOf(kept));
}

TEST(MessengerSession, ForwardingOfARenamedContactEndsWhenTheContactGoesOffline) {
    Session s;
    s.manager().realForwarding = true;
    s.manager().selectionResult = true;
    s.manager().selectionChoice = CContactInfo("bob@example.com", "Bob", kContactOnline);
    HWND withAnn = s.Track("To: Ann <ann@example.com>");
    s.manager().OnCommand(withAnn, CMD_FORWARD_CONVERSATION, 0);
    s.bench.Pump();
    ASSERT_EQ(kForwardHandlerKind, s.KindOf(withAnn));
    s.ann->friendlyName = "Ann, renamed";
    s.SetStatus(s.ann, MISTATUS_AWAY);
    EXPECT_EQ(kForwardHandlerKind, s.KindOf(withAnn));
    s.SetStatus(s.ann, MISTATUS_OFFLINE);
    EXPECT_EQ(kOfflineMessageHandlerKind, s.KindOf(withAnn));
}

TEST(MessengerSession, ForwardHandlerIsDetachedWhenItsContactGoesOffline) {
    Session s;
    HWND withAnn = s.Track("ann@example.com");
    s.manager().selectionResult = true;
    s.manager().OnCommand(withAnn, CMD_FORWARD_CONVERSATION, 0);
    ASSERT_EQ(kForwardHandlerKind, s.KindOf(withAnn));
    const int number = s.manager().HandlerOf(withAnn)->GetConversationNumber();
    g_handlerEvents.clear();
    // The test's forward handler answers for "forward@x".
    auto target = s.bench.State().AddContact("forward@x", "Forward", MISTATUS_OFFLINE);
    s.bench.Api().FireContactStatusChange(target, MISTATUS_OFFLINE);
    ASSERT_GE(g_handlerEvents.size(), 3u);
    EXPECT_EQ("detach", g_handlerEvents[0].what);
    EXPECT_EQ(kForwardHandlerKind, g_handlerEvents[0].kind);
    EXPECT_EQ("deleted", g_handlerEvents[1].what);
    // The window is handed back and chosen again from its own contact (ann, online).
    EXPECT_EQ(kLogHandlerKind, s.KindOf(withAnn));
    EXPECT_EQ(number, s.manager().HandlerOf(withAnn)->GetConversationNumber());
}

TEST(MessengerSession, PendingMessagesOpenAConversationOnlyWhenNoneIsOpen) {
    Session s;
    s.manager().pendingFor = {"cid@example.com"};
    s.SetStatus(s.cid, MISTATUS_ONLINE);
    s.bench.Pump();
    HWND opened = FindWindowA("IMWindowClass", nullptr);
    ASSERT_NE(nullptr, opened);
    ASSERT_NE(nullptr, s.manager().HandlerOf(opened));
    EXPECT_EQ(1u, s.manager().TrackedWindowCount());

    // With its window open, a second status change opens nothing more.
    s.SetStatus(s.cid, MISTATUS_AWAY);
    s.bench.Pump();
    EXPECT_EQ(1u, s.manager().TrackedWindowCount());
    EXPECT_TRUE(s.bench.Messages().empty());
}

TEST(MessengerSession, FailedConversationForPendingMessagesShowsTheCode) {
    Session s;
    s.manager().pendingFor = {"cid@example.com"};
    s.bench.State().SetFailure("InstantMessage", static_cast<HRESULT>(0x81000301), 1);
    s.SetStatus(s.cid, MISTATUS_ONLINE);
    s.bench.Pump();
    ASSERT_EQ(1u, s.bench.Messages().size());
    EXPECT_EQ("Failed to send offline message. Unable to create messenger conversation window. Code: 0x81000301",
              s.bench.Messages()[0].text);
    EXPECT_EQ("Error", s.bench.Messages()[0].caption);
    EXPECT_EQ(0u, s.manager().TrackedWindowCount());
}

TEST(MessengerSession, ContactListFailureIsReportedWithItsCode) {
    Bench bench;
    bench.SignIn("me@example.com", "Me");
    bench.State().AddContact("ann@example.com", "Ann", MISTATUS_ONLINE);
    bench.CreateUiManagerWindow();
    bench.State().SetFailure("get_Count", static_cast<HRESULT>(0x8100030C), 1);
    TestManager& manager = bench.Start();
    ASSERT_EQ(1u, bench.Messages().size());
    EXPECT_EQ("Failed to retrieve contacts list. Code: 0x8100030C", bench.Messages()[0].text);
    // Not marked as read: the next sign-in reads it.
    bench.Api().FireSignin(S_OK);
    EXPECT_EQ(1u, manager.Contacts().size());
}

TEST(MessengerSession, ContactsAreTheirSignInNamesAndKeepTheirFriendlyNamesUpToDate) {
    Session s;
    // Opened while Cid was offline: the offline-message handler.
    HWND withCid = s.Track("cid@example.com");
    ASSERT_EQ(kOfflineMessageHandlerKind, s.KindOf(withCid));
    const int number = s.manager().HandlerOf(withCid)->GetConversationNumber();

    // Renamed while offline, then online: the same record, and the window is logged.
    s.cid->friendlyName = "Cid, back from holiday";
    s.SetStatus(s.cid, MISTATUS_ONLINE);
    ASSERT_EQ(2u, s.manager().Contacts().size());
    EXPECT_EQ("Cid, back from holiday", s.manager().Contacts()[1].friendlyName);
    EXPECT_EQ(kContactOnline, s.manager().Contacts()[1].status);
    EXPECT_EQ(kLogHandlerKind, s.KindOf(withCid));
    EXPECT_EQ(number, s.manager().HandlerOf(withCid)->GetConversationNumber());
    EXPECT_EQ(withCid, s.manager().ConversationOf(CContactInfo("cid@example.com", "any name", kContactOnline)));

    // Renamed while online, then offline: still one record, and the window follows.
    s.cid->friendlyName = "Cid";
    s.SetStatus(s.cid, MISTATUS_AWAY);
    s.SetStatus(s.cid, MISTATUS_OFFLINE);
    ASSERT_EQ(2u, s.manager().Contacts().size());
    EXPECT_EQ("Cid", s.manager().Contacts()[1].friendlyName);
    EXPECT_EQ(kOfflineMessageHandlerKind, s.KindOf(withCid));

    // Sign-in names are compared exactly: another case is another contact.
    auto upper = s.bench.State().AddContact("Cid@example.com", "Cid", MISTATUS_ONLINE);
    s.SetStatus(upper, MISTATUS_ONLINE);
    ASSERT_EQ(3u, s.manager().Contacts().size());
    EXPECT_EQ(kOfflineMessageHandlerKind, s.KindOf(withCid));
}

TEST(MessengerSession, EachConversationWindowGetsItsOwnHandlerDecided) {
    Session s;
    HWND first = s.Track("ann@example.com");
    HWND second = s.Track("ann@example.com");
    EXPECT_EQ(kLogHandlerKind, s.KindOf(first));
    EXPECT_EQ(kLogHandlerKind, s.KindOf(second));
    const int firstNumber = s.manager().HandlerOf(first)->GetConversationNumber();
    const int secondNumber = s.manager().HandlerOf(second)->GetConversationNumber();
    EXPECT_NE(firstNumber, secondNumber);

    // A status change reaches every window with the contact, each keeping its number.
    s.SetStatus(s.ann, MISTATUS_OFFLINE);
    EXPECT_EQ(kOfflineMessageHandlerKind, s.KindOf(first));
    EXPECT_EQ(kOfflineMessageHandlerKind, s.KindOf(second));
    s.SetStatus(s.ann, MISTATUS_ONLINE);
    EXPECT_EQ(kLogHandlerKind, s.KindOf(first));
    EXPECT_EQ(kLogHandlerKind, s.KindOf(second));
    EXPECT_EQ(firstNumber, s.manager().HandlerOf(first)->GetConversationNumber());
    EXPECT_EQ(secondNumber, s.manager().HandlerOf(second)->GetConversationNumber());
}

TEST(MessengerSession, StoreErrorsAreShownOnlyOnceTheCallThatRaisedThemHasReturned) {
    Session s;
    HWND withAnn = s.Track("ann@example.com");
    HWND history = CreateWindowExA(0, "edit", "", WS_CHILD, 0, 0, 10, 10, withAnn, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
    g_storeErrorOnHistory = true;
    // A real box dispatches messages: here Ann goes offline meanwhile, which
    // replaces the logging handler whose save failed.
    s.bench.WhileShowing([&](const std::string&) { s.SetStatus(s.ann, MISTATUS_OFFLINE); });
    g_handlerEvents.clear();
    s.manager().OnHistoryChanged(history);
    ASSERT_EQ(1u, s.bench.Messages().size());
    EXPECT_EQ("Failed to save conversation with ann@example.com. Code: 0x80030070", s.bench.Messages()[0].text);
    EXPECT_EQ("Error", s.bench.Messages()[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_TASKMODAL | MB_ICONERROR | MB_OK), s.bench.Messages()[0].style);
    ASSERT_GE(g_handlerEvents.size(), 2u);
    EXPECT_EQ("history", g_handlerEvents[0].what);  // the handler's call ended first
    EXPECT_EQ("deleted", g_handlerEvents[1].what);
    EXPECT_EQ(kLogHandlerKind, g_handlerEvents[1].kind);
    EXPECT_EQ(kOfflineMessageHandlerKind, s.KindOf(withAnn));

    // The window destroyed while the box shows.
    s.bench.ClearMessages();
    g_handlerEvents.clear();
    s.bench.WhileShowing([&](const std::string&) { s.manager().OnWindowDestroyed(withAnn); });
    s.manager().OnHistoryChanged(history);
    EXPECT_EQ(1u, s.bench.Messages().size());
    ASSERT_GE(g_handlerEvents.size(), 2u);
    EXPECT_EQ("history", g_handlerEvents[0].what);
    EXPECT_EQ("deleted", g_handlerEvents.back().what);
    EXPECT_EQ(nullptr, s.manager().HandlerOf(withAnn));
    s.bench.WhileShowing(nullptr);
    g_storeErrorOnHistory = false;

    // Outside any call of ours an error shows at once.
    s.bench.ClearMessages();
    ShowError("now", "Error");
    EXPECT_EQ(1u, s.bench.Messages().size());
}

namespace {
// Refuses to make the plug-in's overlay, as a messenger out of resources would.
LRESULT CALLBACK RefuseOverlays(int code, WPARAM wParam, LPARAM lParam) {
    char name[32] = {};
    if (code == HCBT_CREATEWND && GetClassNameA(reinterpret_cast<HWND>(wParam), name, sizeof(name)) &&
        lstrcmpiA(name, "RichEdit20A") == 0)
        return 1;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
} // namespace

TEST(MessengerSession, BoxesOfAHandlerBeingSetUpWaitUntilItIsDone) {
    Session s;
    s.manager().realOfflineHandlers = true;
    HHOOK hook = SetWindowsHookExA(WH_CBT, &RefuseOverlays, nullptr, GetCurrentThreadId());
    HWND withCid = s.Track("cid@example.com");
    UnhookWindowsHookEx(hook);
    s.bench.Pump();
    ASSERT_EQ(1u, s.bench.Messages().size());
    EXPECT_EQ(0u, s.bench.Messages()[0].text.find("Failed to initialize Parleym in this conversation window. Code: "));
    EXPECT_EQ(withCid, s.bench.Messages()[0].owner);
    EXPECT_EQ(kOfflineMessageHandlerKind, s.KindOf(withCid));

    // The forward window cannot be opened.
    s.bench.ClearMessages();
    s.manager().realForwarding = true;
    s.manager().selectionResult = true;
    s.manager().selectionChoice = CContactInfo("bob@example.com", "Bob", kContactOnline);
    HWND withAnn = s.Track("To: Ann <ann@example.com>");
    s.bench.State().SetFailure("InstantMessage", static_cast<HRESULT>(0x81000301), 1);
    s.manager().OnCommand(withAnn, CMD_FORWARD_CONVERSATION, 0);
    ASSERT_EQ(1u, s.bench.Messages().size());
    EXPECT_EQ("Failed to open forward window. Unable to create messenger conversation window. Code: 0x81000301",
              s.bench.Messages()[0].text);
    EXPECT_EQ(withAnn, s.bench.Messages()[0].owner);
    EXPECT_EQ(kLogHandlerKind, s.KindOf(withAnn));
    EXPECT_EQ(std::vector<std::string>(), s.bench.BoxesWhileDeferred());
}

TEST(MessengerSession, HistoryChangesQueuedTogetherMakeOneSavePerWindow) {
    Session s;
    HWND withAnn = s.Track("ann@example.com");
    HWND withCid = s.Track("cid@example.com");
    auto child = [](HWND window) {
        return CreateWindowExA(0, "edit", "", WS_CHILD, 0, 0, 10, 10, window, nullptr, GetModuleHandleA(nullptr),
                               nullptr);
    };
    HWND annHistory = child(withAnn);
    HWND cidHistory = child(withCid);
    auto saves = [](HWND window) {
        int count = 0;
        for (const HandlerEvent& event : g_handlerEvents)
            if (event.what == "history" && event.window == window) ++count;
        return count;
    };

    g_handlerEvents.clear();
    for (int i = 0; i < 20; ++i) Session::PostHistoryChange(annHistory);
    Session::PostHistoryChange(cidHistory);
    Session::PostHistoryChange(annHistory);
    s.bench.Pump();
    EXPECT_EQ(1, saves(withAnn));
    EXPECT_EQ(1, saves(withCid));

    // A change after that save is saved again, not folded into the one before.
    Session::PostHistoryChange(annHistory);
    s.bench.Pump();
    EXPECT_EQ(2, saves(withAnn));
    EXPECT_EQ(1, saves(withCid));

    // A window that went before its save is simply left out.
    Session::PostHistoryChange(cidHistory);
    Session::PostHistoryChange(annHistory);
    s.manager().OnWindowDestroyed(withCid);
    DestroyWindow(withCid);
    s.bench.Pump();
    EXPECT_EQ(3, saves(withAnn));
    EXPECT_EQ(1, saves(withCid));
}

TEST(MessengerSession, BurstOfMessagesBeforeTheSaveIsStoredWhole) {
    Session s;
    s.manager().realLogHandlers = true;
    HWND window = s.bench.CreateConversationWindow("ann@example.com");
    HWND history = CreateWindowExA(0, "RichEdit20W", "", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_READONLY, 0, 30,
                                   380, 200, window, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, history);
    s.manager().OnCommand(nullptr, CMD_TRACK_WINDOW, reinterpret_cast<LPARAM>(window));
    ASSERT_EQ(kLogHandlerKind, s.KindOf(window));
    const int number = s.manager().HandlerOf(window)->GetConversationNumber();

    // Twenty messages land in the history before the first change is handled.
    for (int i = 1; i <= 20; ++i) {
        const std::string line = "Ann says: message " + std::to_string(i) + " of the burst\r\n";
        SendMessageA(history, EM_SETSEL, -1, -1);
        SendMessageA(history, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(line.c_str()));
        Session::PostHistoryChange(history);
    }
    s.bench.Pump();

    CMessageContent stored;
    ASSERT_EQ(S_OK, s.manager().LogStore().LoadConversation(std::to_string(number).c_str(), stored));
    for (int i = 1; i <= 20; ++i)
        EXPECT_NE(std::string::npos, stored.text.find("message " + std::to_string(i) + " of the burst"))
            << "message " << i << " is missing";

    // One more afterwards, saved over the stored stream, still holds them all.
    const char more[] = "Ann says: one more\r\n";
    SendMessageA(history, EM_SETSEL, -1, -1);
    SendMessageA(history, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(more));
    Session::PostHistoryChange(history);
    s.bench.Pump();
    ASSERT_EQ(S_OK, s.manager().LogStore().LoadConversation(std::to_string(number).c_str(), stored));
    EXPECT_NE(std::string::npos, stored.text.find("message 1 of the burst"));
    EXPECT_NE(std::string::npos, stored.text.find("message 20 of the burst"));
    EXPECT_NE(std::string::npos, stored.text.find("one more"));
    s.manager().OnWindowDestroyed(window);
}

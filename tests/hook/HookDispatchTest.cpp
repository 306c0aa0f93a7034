// The hook procedures, driven in-process with a recording plug-in.
#include "hook/HookDispatch.h"
#include "hook/PluginHost.h"
#include "shared/Protocol.h"
#include "tests/hook/RecordingPlugin.h"
#include "tests/support/SwallowedCheck.h"

#include <gtest/gtest.h>

using parleym::test::RecordingPlugin;
using Calls = std::vector<std::string>;

namespace {

std::string H(const void* p) { return RecordingPlugin::Hex(p); }
HWND FakeWindow(uintptr_t value) { return reinterpret_cast<HWND>(value); }

class HookDispatchTest : public ::testing::Test {
protected:
    void SetUp() override { parleym::SetCurrentPlugin(&plugin); }
    void TearDown() override {
        parleym::SetCurrentPlugin(nullptr);
        MSG stray;
        while (PeekMessageA(&stray, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    Calls CallWnd(UINT message, WPARAM wParam, LPARAM lParam, HWND window, int code = HC_ACTION) {
        plugin.calls.clear();
        CWPSTRUCT record = {lParam, wParam, message, window};
        parleym::DispatchCallWndProc(code, 0, reinterpret_cast<LPARAM>(&record));
        return plugin.calls;
    }
    Calls CallWndRet(UINT message, WPARAM wParam, LPARAM lParam, HWND window) {
        plugin.calls.clear();
        CWPRETSTRUCT record = {0, lParam, wParam, message, window};
        parleym::DispatchCallWndRetProc(HC_ACTION, 0, reinterpret_cast<LPARAM>(&record));
        return plugin.calls;
    }
    Calls GetMsg(UINT message, WPARAM wParam, LPARAM lParam, HWND window, int code = HC_ACTION,
                 WPARAM removal = PM_REMOVE) {
        plugin.calls.clear();
        MSG record = {};
        record.hwnd = window;
        record.message = message;
        record.wParam = wParam;
        record.lParam = lParam;
        parleym::DispatchGetMsgProc(code, removal, reinterpret_cast<LPARAM>(&record));
        return plugin.calls;
    }

    RecordingPlugin plugin;
    HWND messenger = FakeWindow(0x1000);
    HWND foreign = FakeWindow(0x2000);
};

TEST_F(HookDispatchTest, ExactlyTheEighteenInputMessagesCountAsActivity) {
    const UINT activity[] = {WM_MOUSEACTIVATE, WM_NCHITTEST,     WM_NCMOUSEMOVE,   WM_NCLBUTTONDOWN, WM_NCLBUTTONDBLCLK,
                             WM_NCRBUTTONDOWN, WM_NCRBUTTONDBLCLK, WM_NCMBUTTONDOWN, WM_NCMBUTTONDBLCLK, WM_CHAR,
                             WM_MOUSEMOVE,     WM_LBUTTONUP,     WM_LBUTTONDBLCLK, WM_RBUTTONDOWN,   WM_RBUTTONDBLCLK,
                             WM_MBUTTONDOWN,   WM_MBUTTONDBLCLK};
    for (UINT message : activity) {
        EXPECT_EQ(CallWnd(message, 0, 0, foreign), Calls{"OnUserActivity"}) << message;
        EXPECT_EQ(GetMsg(message, 0, 0, foreign), Calls{"OnUserActivity"}) << message;
        EXPECT_EQ(CallWndRet(message, 0, 0, foreign), Calls{"OnUserActivity"}) << message;
    }
    // The eighteenth, WM_KEYDOWN, also reports the key.
    EXPECT_EQ(GetMsg(WM_KEYDOWN, VK_RETURN, 0, foreign), (Calls{"OnUserActivity", "OnKeyDown 13 " + H(foreign)}));
    for (UINT message : {WM_LBUTTONDOWN, WM_RBUTTONUP, WM_MBUTTONUP, WM_PAINT, WM_TIMER, WM_KEYUP}) {
        EXPECT_TRUE(CallWnd(message, 0, 0, foreign).empty()) << message;
        EXPECT_TRUE(GetMsg(message, 0, 0, foreign).empty()) << message;
    }
}

TEST_F(HookDispatchTest, APeekedMessageCountsAsActivityButItsCommandOrKeyOnlyWhenRemoved) {
    EXPECT_EQ(GetMsg(WM_COMMAND, 30013, 0, messenger, HC_ACTION, PM_NOREMOVE), Calls{});
    EXPECT_EQ(GetMsg(WM_KEYDOWN, VK_RETURN, 0, foreign, HC_ACTION, PM_NOREMOVE), Calls{"OnUserActivity"});
    EXPECT_EQ(GetMsg(WM_COMMAND, 30013, 0, messenger), Calls{"OnCommand " + H(messenger) + " 30013 " + H(nullptr)});
}

TEST_F(HookDispatchTest, NothingReachesThePluginOutsideHcAction) {
    EXPECT_TRUE(CallWnd(WM_MOUSEMOVE, 0, 0, messenger, -1).empty());
    EXPECT_TRUE(GetMsg(WM_COMMAND, 30001, 0, messenger, HC_NOREMOVE + 5).empty());
}

TEST_F(HookDispatchTest, WithoutPluginEveryProcedureOnlyPassesOn) {
    parleym::SetCurrentPlugin(nullptr);
    EXPECT_TRUE(CallWnd(WM_DESTROY, 0, 0, messenger).empty());
    EXPECT_TRUE(GetMsg(WM_COMMAND, 30001, 0, messenger).empty());
    EXPECT_TRUE(CallWndRet(WM_SIZE, 0, 0, messenger).empty());
}

TEST_F(HookDispatchTest, DestroyAndInitMenuOnlyForMessengerWindows) {
    plugin.messengerWindows = {messenger};
    EXPECT_EQ(CallWnd(WM_DESTROY, 0, 0, messenger),
              (Calls{"IsMessengerWindow " + H(messenger) + " 0", "OnWindowDestroyed " + H(messenger)}));
    EXPECT_EQ(CallWnd(WM_DESTROY, 0, 0, foreign), Calls{"IsMessengerWindow " + H(foreign) + " 0"});

    HMENU menu = reinterpret_cast<HMENU>(0x3000);
    EXPECT_EQ(CallWnd(WM_INITMENU, reinterpret_cast<WPARAM>(menu), 0, messenger),
              (Calls{"IsMessengerWindow " + H(messenger) + " 0", "OnInitMenu " + H(messenger) + " " + H(menu)}));
    EXPECT_EQ(CallWnd(WM_INITMENU, reinterpret_cast<WPARAM>(menu), 0, foreign),
              Calls{"IsMessengerWindow " + H(foreign) + " 0"});
}

TEST_F(HookDispatchTest, ButtonAndEditNotificationsNameTheControl) {
    HWND control = FakeWindow(0x4000);
    const LPARAM lParam = reinterpret_cast<LPARAM>(control);
    EXPECT_EQ(CallWnd(WM_COMMAND, MAKEWPARAM(1, BN_CLICKED), lParam, messenger),
              Calls{"OnButtonClicked " + H(control)});
    EXPECT_EQ(CallWnd(WM_COMMAND, MAKEWPARAM(7, EN_CHANGE), lParam, messenger), Calls{"OnEditChanged " + H(control)});
    EXPECT_TRUE(CallWnd(WM_COMMAND, MAKEWPARAM(7, EN_SETFOCUS), lParam, messenger).empty());
}

TEST_F(HookDispatchTest, ReplaceSelectionBecomesThreadCommand30027ThatReachesOnCommand) {
    HWND history = FakeWindow(0x5000);
    EXPECT_TRUE(CallWnd(EM_REPLACESEL, 0, 0, history).empty());
    MSG posted = {};
    ASSERT_TRUE(PeekMessageA(&posted, reinterpret_cast<HWND>(-1), WM_COMMAND, WM_COMMAND, PM_REMOVE));
    EXPECT_EQ(posted.hwnd, nullptr);
    EXPECT_EQ(posted.wParam, WPARAM(parleym::CMD_HISTORY_CHANGED));
    EXPECT_EQ(posted.lParam, reinterpret_cast<LPARAM>(history));

    EXPECT_EQ(GetMsg(posted.message, posted.wParam, posted.lParam, posted.hwnd),
              Calls{"OnCommand " + H(nullptr) + " 30027 " + H(history)});
}

TEST_F(HookDispatchTest, SizeAndShowAfterTheWindowProcedure) {
    EXPECT_EQ(CallWndRet(WM_SIZE, 0, 0, foreign), Calls{"OnWindowSized " + H(foreign)});

    plugin.messengerWindows = {messenger};
    EXPECT_EQ(CallWndRet(WM_SHOWWINDOW, 1, 0, messenger),
              (Calls{"IsMessengerWindow " + H(messenger) + " 0", "OnWindowShown " + H(messenger)}));
    EXPECT_TRUE(CallWndRet(WM_SHOWWINDOW, 0, 0, messenger).empty());
}

TEST_F(HookDispatchTest, ShowingAChildOfAMessengerWindowReportsTheParent) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "HookDispatchTestWindow";
    RegisterClassA(&windowClass);
    HWND parent = CreateWindowExA(0, "HookDispatchTestWindow", "", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
    HWND child = CreateWindowExA(0, "HookDispatchTestWindow", "", WS_CHILD, 0, 0, 10, 10, parent, nullptr,
                                 windowClass.hInstance, nullptr);
    ASSERT_TRUE(parent && child);

    plugin.messengerWindows = {parent};
    EXPECT_EQ(CallWndRet(WM_SHOWWINDOW, 1, 0, child),
              (Calls{"IsMessengerWindow " + H(child) + " 0", "IsMessengerWindow " + H(parent) + " 0",
                     "OnWindowShown " + H(parent)}));
    plugin.messengerWindows.clear();
    EXPECT_EQ(CallWndRet(WM_SHOWWINDOW, 1, 0, child),
              (Calls{"IsMessengerWindow " + H(child) + " 0", "IsMessengerWindow " + H(parent) + " 0"}));
    DestroyWindow(parent);
}

TEST_F(HookDispatchTest, PostedCommandsReachOnCommandWithTheirParameters) {
    EXPECT_EQ(GetMsg(WM_COMMAND, 30005, 0x1234, messenger),
              Calls{"OnCommand " + H(messenger) + " 30005 " + H(reinterpret_cast<void*>(0x1234))});
}

TEST_F(HookDispatchTest, AThrowingPluginNeverEscapesTheProcedures) {
    plugin.throwEverywhere = true;
    plugin.messengerWindows = {messenger};
    EXPECT_NO_THROW(CallWnd(WM_DESTROY, 0, 0, messenger));
    EXPECT_NO_THROW(GetMsg(WM_KEYDOWN, 13, 0, messenger));
    EXPECT_NO_THROW(CallWndRet(WM_SHOWWINDOW, 1, 0, messenger));
    // The activity report threw, so the key itself was not reported.
    EXPECT_EQ(GetMsg(WM_KEYDOWN, 13, 0, messenger), Calls{"OnUserActivity"});
    EXPECT_TRUE(parleym::test::Swallowed({"message hook", "message hook", "message hook", "message hook"}));
}

} // namespace

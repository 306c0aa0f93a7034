// An exception thrown inside each kind of procedure that Windows or the messenger
// calls in the deliverables ends at that procedure's own catch. On i686 nothing
// unwinds through a system frame: one that got out would end the messenger. Each
// case makes the procedure throw while the system is calling it, then checks what
// the caller got back (the boundary's answer), that it really threw, and that the
// process goes on with the same objects.
#include <windows.h>
#include <richedit.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>

#include "framework/Dialog.h"
#include "framework/ThreadMessageHook.h"
#include "hook/HookDispatch.h"
#include "hook/PluginHost.h"
#include "plugin/core/MessengerApi.h"
#include "plugin/core/MessengerEvents.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/RichEditBridge.h"
#include "plugin/stats/StatsManager.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/hook/RecordingPlugin.h"
#include "tests/logging/RichEditTestSupport.h"
#include "tests/support/MessagePump.h"
#include "tests/support/SwallowedCheck.h"

// While armed, every C++ allocation of this thread fails, as it would with the
// messenger's address space exhausted: the product's own code throws inside the
// procedure under test, not the test's.
namespace {
bool g_failAllocations = false;
int g_failedAllocations = 0;
} // namespace

void* operator new(std::size_t size) {
    if (g_failAllocations) {
        ++g_failedAllocations;
        throw std::bad_alloc();
    }
    if (void* block = std::malloc(size ? size : 1)) return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace {

using namespace parleym;

// Runs `call` with allocations failing; returns how many failed.
int WithAllocationsFailing(const std::function<void()>& call) {
    g_failedAllocations = 0;
    g_failAllocations = true;
    call();
    g_failAllocations = false;
    return g_failedAllocations;
}

constexpr UINT kThrowHere = WM_APP + 7;

class ThrowingWindow : public CWindow {
protected:
    bool OnMessage(UINT message, WPARAM, LPARAM, LRESULT& result) override {
        if (message == WM_GETTEXTLENGTH) throw std::runtime_error("window procedure");
        if (message == kThrowHere) return (result = 1), true;
        return false;
    }
};

TEST(CallbackBoundary, WindowProcedureAnswersWithTheDefault) {
    ThrowingWindow window;
    ASSERT_TRUE(window.CreateEx(0, "Boundary", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr));
    // DefWindowProc's answer: the title's length.
    EXPECT_EQ(8, SendMessageA(window.GetSafeHwnd(), WM_GETTEXTLENGTH, 0, 0));
    EXPECT_TRUE(test::Swallowed({"window procedure"}));
    EXPECT_EQ(1, SendMessageA(window.GetSafeHwnd(), kThrowHere, 0, 0));
    EXPECT_TRUE(window.DestroyWindow());
}

class ThrowingDialog : public CDialog {
public:
    ThrowingDialog() : CDialog(100) {}  // tests/framework/FrameworkTest.rc

protected:
    // Both answer 5 through DWLP_MSGRESULT; the first throws after setting it.
    bool OnDialogMessage(UINT message, WPARAM, LPARAM, INT_PTR& result) override {
        if (message != kThrowHere && message != kThrowHere + 1) return false;
        SetWindowLongPtrA(GetSafeHwnd(), DWLP_MSGRESULT, 5);
        if (message == kThrowHere) throw std::runtime_error("dialog procedure");
        return (result = TRUE), true;
    }
};

TEST(CallbackBoundary, DialogProcedureLeavesTheMessageToTheDialogManager) {
    SetResourceModule(GetModuleHandleA(nullptr));
    ThrowingDialog dialog;
    ASSERT_TRUE(dialog.Create());
    HWND window = dialog.GetSafeHwnd();
    // FALSE from the procedure: the dialog manager answers, not DWLP_MSGRESULT.
    EXPECT_EQ(0, SendMessageA(window, kThrowHere, 0, 0));
    EXPECT_TRUE(test::Swallowed({"dialog procedure"}));
    EXPECT_EQ(5, SendMessageA(window, kThrowHere + 1, 0, 0));
    EXPECT_TRUE(dialog.DestroyWindow());
}

// The three procedures the hook library exports only forward to these.
LRESULT CALLBACK GetMsg(int code, WPARAM wParam, LPARAM lParam) { return DispatchGetMsgProc(code, wParam, lParam); }
LRESULT CALLBACK CallWnd(int code, WPARAM wParam, LPARAM lParam) { return DispatchCallWndProc(code, wParam, lParam); }
LRESULT CALLBACK CallWndRet(int code, WPARAM wParam, LPARAM lParam) {
    return DispatchCallWndRetProc(code, wParam, lParam);
}

// Hooks installed first run last: they see what ours passed on.
struct Witness {
    static inline int getMessage = 0, callWindow = 0, callWindowReturn = 0;
    static LRESULT CALLBACK GetMsg(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HC_ACTION && reinterpret_cast<MSG*>(lParam)->message == WM_MOUSEMOVE) ++getMessage;
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static LRESULT CALLBACK CallWnd(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HC_ACTION && reinterpret_cast<CWPSTRUCT*>(lParam)->message == WM_MOUSEMOVE) ++callWindow;
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static LRESULT CALLBACK CallWndRet(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HC_ACTION && reinterpret_cast<CWPRETSTRUCT*>(lParam)->message == WM_MOUSEMOVE)
            ++callWindowReturn;
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
};

struct ThreadHooks {
    std::vector<HHOOK> hooks;
    void Add(int kind, HOOKPROC proc) { hooks.push_back(SetWindowsHookExA(kind, proc, nullptr, GetCurrentThreadId())); }
    ~ThreadHooks() {
        for (HHOOK hook : hooks) UnhookWindowsHookEx(hook);
    }
};

TEST(CallbackBoundary, HookProceduresPassTheMessageOnWhenThePluginThrows) {
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    test::RecordingPlugin plugin;
    plugin.throwEverywhere = true;
    plugin.messengerWindows = {window};
    SetCurrentPlugin(&plugin);
    {
        ThreadHooks hooks;
        hooks.Add(WH_GETMESSAGE, &Witness::GetMsg);
        hooks.Add(WH_CALLWNDPROC, &Witness::CallWnd);
        hooks.Add(WH_CALLWNDPROCRET, &Witness::CallWndRet);
        hooks.Add(WH_GETMESSAGE, &GetMsg);
        hooks.Add(WH_CALLWNDPROC, &CallWnd);
        hooks.Add(WH_CALLWNDPROCRET, &CallWndRet);
        for (HHOOK hook : hooks.hooks) ASSERT_NE(hook, nullptr);
        SendMessageA(window, WM_MOUSEMOVE, 0, 0);
        PostMessageA(window, WM_MOUSEMOVE, 0, 0);
        parleym::test::PumpMessages();
    }
    SetCurrentPlugin(nullptr);
    DestroyWindow(window);
    // The plug-in was asked (and threw) in each procedure; each passed the message on.
    EXPECT_EQ(plugin.calls.size(), 3u);
    EXPECT_TRUE(test::Swallowed({"message hook", "message hook", "message hook"}));
    EXPECT_EQ(Witness::callWindow, 1);
    EXPECT_EQ(Witness::callWindowReturn, 1);
    EXPECT_GE(Witness::getMessage, 1);
}

bool ThrowingTake(HWND, MSG& message) {
    if (message.message == kThrowHere) throw std::runtime_error("thread message hook");
    return false;
}

TEST(CallbackBoundary, ThreadMessageHookLetsTheMessageThrough) {
    ThrowingWindow window;
    ASSERT_TRUE(window.CreateEx(0, "Boundary", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr));
    CThreadMessageHook<&ThrowingTake> hook;
    ASSERT_TRUE(hook.Start(window.GetSafeHwnd()));
    PostMessageA(window.GetSafeHwnd(), kThrowHere, 0, 0);
    MSG message{};
    ASSERT_TRUE(PeekMessageA(&message, window.GetSafeHwnd(), kThrowHere, kThrowHere, PM_REMOVE));
    // Not swallowed: the message is still what was posted.
    EXPECT_EQ(message.message, kThrowHere);
    EXPECT_TRUE(test::Swallowed({"thread message hook"}));
    hook.Stop();
    window.DestroyWindow();
}

TEST(CallbackBoundary, RichEditStreamOutEndsWithTheCallbacksError) {
    parleym_test::OleEnvironment ole;
    parleym_test::RichEditHost host;
    HWND control = host.AddRichEdit();
    parleym_test::AppendText(control, "a line long enough to need a buffer of its own\r\n");
    CRichEditBridge bridge(nullptr, control, true);
    CMessageContent content;
    int captured = -1;
    EXPECT_GT(WithAllocationsFailing([&] { captured = bridge.Capture(content, false, false, false); }), 0);
    // The failed capture says so, and holds nothing a caller could take for the text.
    EXPECT_EQ(captured, 0);
    EXPECT_TRUE(test::Swallowed({"rich edit stream-out callback"}));
    EXPECT_TRUE(content.text.empty());
    EXPECT_EQ(bridge.Capture(content, false, false, false), 1);
    EXPECT_NE(content.text.find("long enough"), std::string::npos);
    bridge.Release();
}

struct SignedInManager {
    coretest::Bench bench;
    coretest::TestManager* manager = nullptr;
    SignedInManager() {
        bench.SignIn("me@example.com", "Me");
        bench.CreateUiManagerWindow();
        manager = &bench.Start();
    }
};

// Retrieved without failing allocations: only the dispatch, where Windows calls the
// timer procedure, runs with them.
MSG NextTimerMessage() {
    MSG message{};
    while (!PeekMessageA(&message, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE)) Sleep(1);
    return message;
}

TEST(CallbackBoundary, TimerProcedureGoesOnTicking) {
    SignedInManager signedIn;
    HWND dispatch = signedIn.manager->DispatchWindow();
    CStatsManager& stats = signedIn.manager->Statistics();
    ASSERT_TRUE(stats.IsAccountOpen());
    ASSERT_TRUE(SetTimer(dispatch, CParleymanager::kStatsSaveTimerId, 1, &CParleymanager::StatsSaveTimerProc));
    MSG tick = NextTimerMessage();
    EXPECT_GT(WithAllocationsFailing([&] { DispatchMessageA(&tick); }), 0);
    EXPECT_TRUE(test::Swallowed({"statistics save timer"}));
    const double before = stats.Ledger().Sessions().back().end;
    Sleep(1100);
    tick = NextTimerMessage();
    DispatchMessageA(&tick);
    EXPECT_GT(stats.Ledger().Sessions().back().end, before);
    KillTimer(dispatch, CParleymanager::kStatsSaveTimerId);
}

TEST(CallbackBoundary, EventSinkReturnsToTheMessenger) {
    SignedInManager signedIn;
    auto* sink = new CMessengerEvents();
    sink->SetManager(signedIn.manager);
    DISPPARAMS none{};
    HRESULT answer = E_FAIL;
    EXPECT_GT(WithAllocationsFailing([&] {
                  answer = sink->Invoke(DISPID_MUAE_ONSIGNOUT, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr,
                                        nullptr, nullptr);
              }),
              0);
    EXPECT_EQ(answer, S_OK);
    EXPECT_TRUE(test::Swallowed({"messenger event handler"}));
    sink->SetManager(nullptr);
    sink->Release();
}

} // namespace

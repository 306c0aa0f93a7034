// Auto-lock: the choice and its check marks, the idle count driven tick by
// tick through the timer procedure, and the requests the lock ignores.
#include <gtest/gtest.h>

#include <algorithm>

#include "plugin/core/PasswordDigest.h"
#include "plugin/core/UserMessage.h"
#include "plugin/lock/LockResources.h"
#include "shared/Protocol.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/lock/LockTestSupport.h"

using namespace parleym;
using namespace coretest;
using namespace locktest;

namespace {

void Tick(int times) {
    for (int i = 0; i < times; ++i) CParleymanager::AutoLockTimerProc(nullptr, WM_TIMER, 0, GetTickCount());
}

struct IdleBench {
    Bench bench;
    IdleBench() {
        bench.SignIn("me@example.com", "Me");
        bench.CreateUiManagerWindow();
        bench.CreateMainWindow();
        bench.WriteUsersFile({{"me@example.com", MakePasswordDigest("Secret"), ""}});
        bench.Start();
    }
    TestManager& manager() { return bench.Manager(); }
    void command(UINT id) {
        manager().OnCommand(nullptr, id, 0);
        bench.Pump();
    }
    // Ticks, then lets the posted requests reach the manager; the number of requests seen.
    size_t TickAndCount(int times) {
        Tick(times);
        bench.Pump();
        return static_cast<size_t>(std::count(manager().calls.begin(), manager().calls.end(), "lock-timer"));
    }
    void SignInAs(const char* who) {
        bench.Api().FireSignout();
        bench.State().SelectAccount(who, who);
        bench.State().SetSignedIn(true);
        bench.Api().FireSignin(S_OK);
        bench.Pump();
    }
};

size_t CountShown(const Bench& bench, const std::string& text) {
    const auto shown = bench.Messages();
    return static_cast<size_t>(
        std::count_if(shown.begin(), shown.end(), [&](const ShownMessage& m) { return m.text == text; }));
}

} // namespace

TEST(AutoLock, RequestOnTheLimitthTickAfterTheLastActivity) {
    IdleBench s;
    EXPECT_EQ(0u, s.TickAndCount(1000));  // disabled: nothing counts
    EXPECT_EQ(0, CParleymanager::IdleSeconds());

    const struct {
        UINT id;
        int limit;
    } choices[] = {{CMD_AUTOLOCK_5, 300}, {CMD_AUTOLOCK_6, 360}, {CMD_AUTOLOCK_10, 600}, {CMD_AUTOLOCK_15, 900}};
    for (const auto& choice : choices) {
        s.command(choice.id);
        ASSERT_EQ(choice.id, CParleymanager::AutoLockChoice());
        s.manager().calls.clear();
        EXPECT_EQ(0u, s.TickAndCount(choice.limit - 1)) << choice.limit;
        EXPECT_EQ(1u, s.TickAndCount(1)) << choice.limit;
        // Still idle: the request follows every second.
        EXPECT_EQ(3u, s.TickAndCount(2)) << choice.limit;
    }

    // One activity message starts the count again.
    s.command(CMD_AUTOLOCK_5);
    s.manager().calls.clear();
    EXPECT_EQ(0u, s.TickAndCount(200));
    s.manager().OnUserActivity();
    EXPECT_EQ(0, CParleymanager::IdleSeconds());
    EXPECT_EQ(0u, s.TickAndCount(299));
    EXPECT_EQ(1u, s.TickAndCount(1));

    // "disabled" needs no password, even for an account without one.
    s.SignInAs("nopassword@example.com");
    ASSERT_FALSE(s.manager().IsPasswordSet());
    s.command(CMD_AUTOLOCK_DISABLED);
    EXPECT_EQ(static_cast<UINT>(CMD_AUTOLOCK_DISABLED), CParleymanager::AutoLockChoice());
    EXPECT_TRUE(IsChecked(s.manager().AutoLockMenu(), CMD_AUTOLOCK_DISABLED));
    EXPECT_FALSE(IsChecked(s.manager().AutoLockMenu(), CMD_AUTOLOCK_15));
    EXPECT_EQ(0u, CountShown(s.bench, "You must set a password first"));
}

TEST(AutoLock, EveryStartBeginsDisabled) {
    IdleBench s;
    s.command(CMD_AUTOLOCK_10);
    ASSERT_EQ(static_cast<UINT>(CMD_AUTOLOCK_10), CParleymanager::AutoLockChoice());
    s.bench.Stop();
    s.bench.Start();
    EXPECT_EQ(static_cast<UINT>(CMD_AUTOLOCK_DISABLED), CParleymanager::AutoLockChoice());
    EXPECT_EQ(CMD_AUTOLOCK_DISABLED, SendMessageA(s.manager().DispatchWindow(), PLG_GET_AUTOLOCK, 0, 0));
    EXPECT_TRUE(IsChecked(s.manager().AutoLockMenu(), CMD_AUTOLOCK_DISABLED));
    EXPECT_FALSE(IsChecked(s.manager().AutoLockMenu(), CMD_AUTOLOCK_10));
    EXPECT_EQ(0u, s.TickAndCount(1000));
}

TEST(AutoLock, RequestsSignedOutOrWhileLockedShowNothing) {
    IdleBench s;
    s.manager().realLock = true;
    s.command(CMD_AUTOLOCK_5);
    s.bench.State().SetSignedIn(false);
    s.manager().calls.clear();
    // A lock dialog here would be a fault; the script then unlocks so the test ends.
    ModalScript unexpected;
    unexpected.Then("Unlock messenger", [](HWND dialog) {
        ADD_FAILURE() << "locked while signed out";
        Type(dialog, IDC_LOCK_PASSWORD, "Secret");
        Click(dialog, IDOK);
    });
    EXPECT_EQ(2u, s.TickAndCount(301));
    EXPECT_FALSE(s.manager().IsLocked());
    EXPECT_TRUE(s.bench.Messages().empty());
}

TEST(AutoLock, TheRequestLocksAndIsIgnoredWhileLocked) {
    IdleBench s;
    s.manager().realLock = true;
    s.command(CMD_AUTOLOCK_5);
    s.manager().calls.clear();
    int dialogs = 0;
    HWND dialog = nullptr;
    ModalScript script;
    script.Rescue([] {
        HWND found = FindDialog("Unlock messenger");
        Type(found, IDC_LOCK_PASSWORD, "Secret");
        Click(found, IDOK);
    });
    script
        .Then("Unlock messenger", [&](HWND found) {
            dialog = found;
            EXPECT_TRUE(s.manager().IsLocked());
            // The timer keeps asking while the dialog shows.
            Tick(5);
            s.bench.Pump();
            EXPECT_EQ(6, static_cast<int>(std::count(s.manager().calls.begin(), s.manager().calls.end(),
                                                     "lock-timer")));
            dialogs = FindDialog("Unlock messenger") == dialog ? 1 : 0;
            EXPECT_TRUE(s.bench.Messages().empty());
        })
        .Then("Unlock messenger", [&](HWND) {
            s.manager().OnUserActivity();
            Type(dialog, IDC_LOCK_PASSWORD, "Secret");
            Click(dialog, IDOK);
        });
    s.TickAndCount(300);
    EXPECT_EQ(0u, script.Remaining());
    EXPECT_EQ(1, dialogs);
    EXPECT_FALSE(s.manager().IsLocked());
}

namespace {
UserMessageSink g_recorder = nullptr;
IdleBench* g_idle = nullptr;
int g_boxes = 0;
bool g_userIdleDuringBox = false;

// The box is modal: while it shows, the timer ticks on and requests arrive.
int BoxWhileTicking(HWND owner, const char* text, const char* caption, UINT style) {
    ++g_boxes;
    if (g_userIdleDuringBox && g_idle) {
        g_idle->manager().OnUserActivity();  // the mouse passes over the box
        g_idle->TickAndCount(600);
    }
    return g_recorder(owner, text, caption, style);
}
} // namespace

TEST(AutoLock, AtMostOnePasswordBoxWhileIdle) {
    IdleBench s;
    s.manager().realLock = true;
    s.command(CMD_AUTOLOCK_5);
    // The choice was made under an account with a password; another signs in.
    s.SignInAs("nopassword@example.com");
    ASSERT_FALSE(s.manager().IsPasswordSet());
    ASSERT_EQ(static_cast<UINT>(CMD_AUTOLOCK_5), CParleymanager::AutoLockChoice());
    g_idle = &s;
    g_boxes = 0;
    g_userIdleDuringBox = false;
    g_recorder = SetUserMessageSink(&BoxWhileTicking);

    s.manager().calls.clear();
    EXPECT_EQ(31u, s.TickAndCount(330));
    EXPECT_EQ(1, g_boxes);

    // Active again, then idle with the box on screen for a long while: still one box.
    s.manager().OnUserActivity();
    g_userIdleDuringBox = true;
    s.TickAndCount(300);
    EXPECT_EQ(2, g_boxes);

    SetUserMessageSink(g_recorder);
    g_idle = nullptr;
    const auto shown = s.bench.Messages();
    ASSERT_EQ(2u, shown.size());
    for (const ShownMessage& message : shown) {
        EXPECT_EQ("You must set a password first", message.text);
        EXPECT_EQ("Error", message.caption);
        EXPECT_EQ(static_cast<UINT>(MB_TASKMODAL | MB_ICONERROR | MB_OK), message.style);
    }
    EXPECT_FALSE(s.manager().IsLocked());
}

// The two client profiles: which windows they recognise and which controls of
// a conversation window they find.
#include <gtest/gtest.h>

#include "plugin/core/ClientProfile.h"
#include "tests/core/CoreTestSupport.h"

using namespace parleym;
using namespace coretest;

namespace {

HWND Child(HWND parent, const char* cls, const char* text, DWORD style = 0, int id = 0) {
    return CreateWindowExA(0, cls, text, WS_CHILD | style, 0, 0, 50, 20, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
}

HWND Plain(const char* cls) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = cls;
    RegisterClassA(&wc);
    return CreateWindowExA(0, cls, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

} // namespace

TEST(ClientProfile, WindowKindsFollowEachClientsClassNames) {
    CWindowsMessengerProfile windows;
    CMsnMessengerProfile msn;
    struct Case {
        const char* cls;
        int windowsKind;
        int msnKind;
    } cases[] = {
        {"MSBLClass", kMainWindow, kOtherWindow},         {"msblclass", kMainWindow, kOtherWindow},
        {"MSNMSBLClass", kOtherWindow, kMainWindow},      {"MSBLGeneric", kGenericWindow, kOtherWindow},
        {"MSNMSBLGeneric", kOtherWindow, kGenericWindow}, {"IMWindowClass", kConversationWindow, kConversationWindow},
        {"HiddenWindowClass", kClientHiddenWindow, kOtherWindow},
        {"MSNHiddenWindowClass", kOtherWindow, kClientHiddenWindow},
        {"SomethingElse", kOtherWindow, kOtherWindow},
    };
    for (const Case& c : cases) {
        HWND window = Plain(c.cls);
        EXPECT_EQ(c.windowsKind, windows.ClassifyWindow(window)) << c.cls;
        EXPECT_EQ(c.msnKind, msn.ClassifyWindow(window)) << c.cls;
        DestroyWindow(window);
    }
    EXPECT_EQ(kOtherWindow, windows.ClassifyWindow(nullptr));
}

TEST(ClientProfile, ConversationControlsDependOnTheRichEditClass) {
    LoadLibraryA("RichEd20.dll");
    HWND conversation = Plain("IMWindowClass");
    HWND historyW = Child(conversation, "RichEdit20W", "", ES_READONLY | ES_MULTILINE);
    HWND inputW = Child(conversation, "RichEdit20W", "", ES_MULTILINE);
    HWND historyA = Child(conversation, "RichEdit20A", "", ES_READONLY | ES_MULTILINE);
    HWND send = Child(conversation, "Button", "&Send");
    Child(conversation, "Button", "Send");  // without the mnemonic: not the Send button
    HWND address = Child(conversation, "Edit", "ann@example.com", 0, 9);
    Child(conversation, "Edit", "other", 0, 10);

    const ConversationControls windows = CWindowsMessengerProfile().FindConversationControls(conversation);
    EXPECT_EQ(historyW, windows.history);
    EXPECT_EQ(inputW, windows.input);
    EXPECT_EQ(send, windows.sendButton);
    EXPECT_EQ(address, windows.addressEdit);
    // The MSN profile also takes RichEdit20A, and a later match wins.
    const ConversationControls msn = CMsnMessengerProfile().FindConversationControls(conversation);
    EXPECT_EQ(historyA, msn.history);
    EXPECT_EQ(inputW, msn.input);
    DestroyWindow(conversation);
}

TEST(ClientProfile, ConversationContactComesFromTheEditChildren) {
    Bench bench;
    bench.SignIn("me@example.com", "Me");
    bench.State().AddContact("ann@example.com", "Ann", MISTATUS_ONLINE);
    bench.State().AddContact("bob@example.com", "Bob", MISTATUS_ONLINE);
    bench.CreateUiManagerWindow();
    TestManager& manager = bench.Start();
    CWindowsMessengerProfile profile;

    // A conversation with several people is nobody's; an address inside a longer
    // one or inside a friendly name is not that contact's.
    bench.State().AddContact("joann@example.com", "Jo ann@example.com", MISTATUS_OFFLINE);
    bench.Api().FireContactListAdd(S_OK, bench.State().FindContact("joann@example.com"));
    HWND both = bench.CreateConversationWindow("To: bob@example.com, ann@example.com");
    EXPECT_TRUE(manager.IsNoContact(profile.FindConversationContact(manager, both)));
    HWND jo = bench.CreateConversationWindow("To: Jo ann@example.com <joann@example.com>");
    EXPECT_EQ("joann@example.com", profile.FindConversationContact(manager, jo).signInName);
    HWND nobody = bench.CreateConversationWindow("To: carol@example.com");
    EXPECT_TRUE(manager.IsNoContact(profile.FindConversationContact(manager, nobody)));
    // Only "edit" children count.
    HWND labelled = bench.CreateConversationWindow("To: nobody");
    Child(labelled, "Static", "bob@example.com");
    EXPECT_TRUE(manager.IsNoContact(profile.FindConversationContact(manager, labelled)));
}

// The About box and its hyperlinks: how links look and react, what a click
// opens, and that nothing of the subclassing outlives the windows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/about/AboutDlg.h"
#include "plugin/about/Hyperlink.h"
#include "plugin/core/PluginResources.h"
#include "shared/Protocol.h"
#include "tests/core/CoreTestSupport.h"

using namespace parleym;
using namespace coretest;

namespace {

std::vector<std::string> g_opened;
void RecordUrl(HWND, const char* url) { g_opened.push_back(url); }

// Windows that still carried a hyperlink property after their WM_DESTROY.
std::vector<HWND> g_leftovers;
int g_destroysSeen = 0;

bool HasAnyHyperlinkProp(HWND window) {
    for (const char* name : {kHyperlinkOriginalProcProp, kHyperlinkOriginalFontProp, kHyperlinkUnderlineFontProp,
                             kHyperlinkFromStaticProp})
        if (GetPropA(window, name)) return true;
    return false;
}

LRESULT CALLBACK AfterWindowProc(int code, WPARAM wParam, LPARAM lParam) {
    auto* ret = reinterpret_cast<CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && ret->message == WM_DESTROY) {
        ++g_destroysSeen;
        if (HasAnyHyperlinkProp(ret->hwnd)) g_leftovers.push_back(ret->hwnd);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

struct AboutProbe {
    HWND dialog = nullptr;
    HFONT underline = nullptr;
    bool twoLinksOneParentSubclass = false;
    bool hoverUnderlines = false;
    bool leaveRestores = false;
    bool handCursor = false;
    COLORREF linkColour = 0;
};
AboutProbe g_probe;
parleym::CParleymanager* g_aboutManager = nullptr;

void ProbeAndClose(HWND dialog) {
    AboutProbe& p = g_probe;
    p.dialog = dialog;
    HWND product = GetDlgItem(dialog, IDC_ABOUT_PRODUCT_LINK);
    HWND maker = GetDlgItem(dialog, IDC_ABOUT_MAKER_LINK);
    p.underline = static_cast<HFONT>(GetPropA(product, kHyperlinkUnderlineFontProp));
    // The dialog keeps its own procedure in the property, not the hyperlink one.
    p.twoLinksOneParentSubclass = GetPropA(dialog, kHyperlinkOriginalProcProp) != nullptr &&
                                  GetPropA(dialog, kHyperlinkOriginalProcProp) !=
                                      reinterpret_cast<HANDLE>(GetWindowLongPtrA(dialog, GWLP_WNDPROC)) &&
                                  GetPropA(maker, kHyperlinkFromStaticProp) != nullptr;

    HFONT original = static_cast<HFONT>(GetPropA(product, kHyperlinkOriginalFontProp));
    SendMessageA(product, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
    p.hoverUnderlines = reinterpret_cast<HFONT>(SendMessageA(product, WM_GETFONT, 0, 0)) == p.underline &&
                        GetCapture() == product;
    SendMessageA(product, WM_MOUSEMOVE, 0, MAKELPARAM(static_cast<WORD>(-40), static_cast<WORD>(-40)));
    p.leaveRestores = reinterpret_cast<HFONT>(SendMessageA(product, WM_GETFONT, 0, 0)) == original &&
                      GetCapture() != product;
    p.handCursor = SendMessageA(product, WM_SETCURSOR, reinterpret_cast<WPARAM>(product), HTCLIENT) == TRUE;

    HDC dc = CreateCompatibleDC(nullptr);
    SetTextColor(dc, RGB(1, 2, 3));
    SendMessageA(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(maker));
    p.linkColour = GetTextColor(dc);
    DeleteDC(dc);

    // Double clicks on the links, as the static controls report them: a click, then the double click.
    for (HWND link : {product, maker})
        for (WORD code : {STN_CLICKED, STN_DBLCLK})
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(link), code), reinterpret_cast<LPARAM>(link));
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
}

void CALLBACK CloseAboutTimer(HWND, UINT, UINT_PTR id, DWORD) {
    if (!g_aboutManager || !g_aboutManager->OpenDialog()) return;
    KillTimer(nullptr, id);
    ProbeAndClose(g_aboutManager->OpenDialog());
}

} // namespace

TEST(AboutBox, OpensFromTrayAndMenusAndLeavesNothingBehind) {
    Bench bench;
    bench.SignIn("me@example.com", "Me");
    bench.CreateUiManagerWindow();
    HWND main = bench.CreateMainWindow();
    HWND conversation = bench.CreateConversationWindow("nobody");
    TestManager& manager = bench.Start();
    g_aboutManager = &manager;
    CAboutDlg::UrlOpener previous = CAboutDlg::SetUrlOpener(&RecordUrl);
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROCRET, &AfterWindowProc, nullptr, GetCurrentThreadId());

    // The tray relays to the dispatch window; the popups send from their windows.
    for (HWND from : {manager.DispatchWindow(), main, conversation}) {
        g_probe = AboutProbe{};
        g_opened.clear();
        g_leftovers.clear();
        bench.ClearLoaderMessages();
        SetTimer(nullptr, 0, 50, &CloseAboutTimer);
        manager.OnCommand(from, CMD_ABOUT, 0);

        ASSERT_NE(nullptr, g_probe.dialog);
        EXPECT_TRUE(g_probe.twoLinksOneParentSubclass);
        EXPECT_TRUE(g_probe.hoverUnderlines);
        EXPECT_TRUE(g_probe.leaveRestores);
        EXPECT_TRUE(g_probe.handCursor);
        EXPECT_EQ(kHyperlinkColour, g_probe.linkColour);
        EXPECT_EQ((std::vector<std::string>{kProductWebAddress, kMakerWebAddress}), g_opened);
        // Closed: no property left, the underlined font deleted, the gate open again.
        EXPECT_TRUE(g_leftovers.empty());
        EXPECT_EQ(0u, static_cast<unsigned>(GetObjectType(g_probe.underline)));
        EXPECT_EQ(nullptr, manager.OpenDialog());
        EXPECT_EQ(0, manager.DialogBusy());
        const auto foreground = bench.LoaderMessages(LDR_SET_FOREGROUND);
        ASSERT_EQ(1u, foreground.size());
        EXPECT_EQ(reinterpret_cast<LPARAM>(g_probe.dialog), foreground[0].lParam);
    }
    UnhookWindowsHookEx(hook);
    CAboutDlg::SetUrlOpener(previous);
    g_aboutManager = nullptr;
}

TEST(AboutBox, OpensWithoutSignIn) {
    Bench bench;
    bench.State().SelectAccount("me@example.com", "Me");
    bench.CreateUiManagerWindow();
    TestManager& manager = bench.Start();
    g_aboutManager = &manager;
    CAboutDlg::UrlOpener previous = CAboutDlg::SetUrlOpener(&RecordUrl);
    g_probe = AboutProbe{};
    SetTimer(nullptr, 0, 50, &CloseAboutTimer);
    manager.OnCommand(nullptr, CMD_ABOUT, 0);
    EXPECT_NE(nullptr, g_probe.dialog);
    EXPECT_TRUE(bench.Messages().empty());
    CAboutDlg::SetUrlOpener(previous);
    g_aboutManager = nullptr;
}

TEST(Hyperlink, ParentLinksAreUndoneWithTheirWindows) {
    // A parent that outlives one of its links keeps working and is restored
    // only when it is destroyed itself.
    HWND parent = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    const LONG_PTR parentProc = GetWindowLongPtrA(parent, GWLP_WNDPROC);
    HWND first = CreateWindowExA(0, "STATIC", "one", WS_CHILD, 0, 0, 50, 20, parent, nullptr, nullptr, nullptr);
    HWND second = CreateWindowExA(0, "STATIC", "two", WS_CHILD, 0, 30, 50, 20, parent, nullptr, nullptr, nullptr);
    const LONG_PTR staticProc = GetWindowLongPtrA(first, GWLP_WNDPROC);
    EXPECT_EQ(1, MakeHyperlink(first));
    EXPECT_EQ(1, MakeHyperlink(second));
    EXPECT_EQ(reinterpret_cast<HANDLE>(parentProc), GetPropA(parent, kHyperlinkOriginalProcProp));
    EXPECT_NE(0, GetWindowLongPtrA(first, GWL_STYLE) & SS_NOTIFY);
    EXPECT_NE(staticProc, GetWindowLongPtrA(first, GWLP_WNDPROC));

    g_leftovers.clear();
    g_destroysSeen = 0;
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROCRET, &AfterWindowProc, nullptr, GetCurrentThreadId());
    HFONT underline = static_cast<HFONT>(GetPropA(first, kHyperlinkUnderlineFontProp));
    ASSERT_NE(nullptr, underline);
    DestroyWindow(first);
    EXPECT_EQ(0u, static_cast<unsigned>(GetObjectType(underline)));
    EXPECT_NE(parentProc, GetWindowLongPtrA(parent, GWLP_WNDPROC));  // still serves the second link
    DestroyWindow(parent);
    UnhookWindowsHookEx(hook);
    EXPECT_GE(g_destroysSeen, 3);  // the hook saw every window go
    EXPECT_TRUE(g_leftovers.empty());
}

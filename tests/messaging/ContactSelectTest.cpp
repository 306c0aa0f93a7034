// The contact picker in its three modes, on the manager's real contact list:
// which rows each mode offers and in what order, what OK yields, and when the
// dialog refuses to open or to close.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "framework/ListView.h"
#include "plugin/messaging/ContactSelectDlg.h"
#include "plugin/messaging/ContactStateImages.h"
#include "plugin/messaging/ListViewSort.h"
#include "plugin/messaging/MessagingResources.h"
#include "tests/core/CoreTestSupport.h"

using namespace parleym;
using namespace coretest;

namespace {

struct Seen {
    bool opened = false;
    std::string title, prompt;
    std::vector<std::string> rows;  // "Name|E-mail|image|data"
    bool singleSelection = false;
    bool stillOpenAfterFirstOk = false;
};

Seen g_seen;
CParleymanager* g_manager = nullptr;
std::function<void(HWND dialog, CListView& list)> g_act;
std::vector<UINT_PTR> g_timers;

void AnswerSoon();

std::vector<std::string> Rows(CListView& list) {
    std::vector<std::string> rows;
    for (int row = 0; row < list.GetItemCount(); ++row) {
        LVITEMA item{};
        item.mask = LVIF_IMAGE | LVIF_PARAM;
        item.iItem = row;
        SendMessageA(list.GetSafeHwnd(), LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        rows.push_back(list.GetItemText(row, 0) + "|" + list.GetItemText(row, 1) + "|" + std::to_string(item.iImage) +
                       "|" + std::to_string(item.lParam));
    }
    return rows;
}

void CALLBACK ActOnDialog(HWND, UINT, UINT_PTR id, DWORD) {
    HWND dialog = g_manager ? g_manager->OpenDialog() : nullptr;
    if (!dialog) return;
    KillTimer(nullptr, id);
    CListView list(GetDlgItem(dialog, IDC_CONTACT_LIST));
    char text[256] = {};
    GetWindowTextA(dialog, text, sizeof(text));
    g_seen.opened = true;
    g_seen.title = text;
    GetDlgItemTextA(dialog, IDC_CONTACT_PROMPT, text, sizeof(text));
    g_seen.prompt = text;
    g_seen.rows = Rows(list);
    g_seen.singleSelection = (GetWindowLongPtrA(list.GetSafeHwnd(), GWL_STYLE) & LVS_SINGLESEL) != 0;
    const auto act = g_act;  // an answer may set the next one
    act(dialog, list);
}

void AnswerSoon() { g_timers.push_back(SetTimer(nullptr, 0, 30, &ActOnDialog)); }

int RowOf(CListView& list, const std::string& name) {
    for (int row = 0; row < list.GetItemCount(); ++row)
        if (list.GetItemText(row, 0) == name) return row;
    return -1;
}

// Runs the dialog; `act` answers it once it is up.
INT_PTR RunDialog(CContactSelectDlg& dialog, std::function<void(HWND, CListView&)> act) {
    g_seen = Seen{};
    g_act = std::move(act);
    AnswerSoon();
    const INT_PTR result = dialog.DoModal();
    for (UINT_PTR timer : g_timers) KillTimer(nullptr, timer);
    g_timers.clear();
    return result;
}

class ContactSelectTest : public ::testing::Test {
protected:
    void SetUp() override {
        bench.SignIn("me@example.com", "Me");
        // Added in no particular order; names that differ only in case among them.
        bench.State().AddContact("zed@example.com", "zed", MISTATUS_ONLINE);
        bench.State().AddContact("bob@example.com", "Bob", MISTATUS_ONLINE);
        bench.State().AddContact("cid@example.com", "Cid", MISTATUS_OFFLINE);
        bench.State().AddContact("amy@example.com", "amy", MISTATUS_ONLINE);
        bench.State().AddContact("al@example.com", "Al", MISTATUS_BUSY);
        bench.State().AddContact("ann@example.com", "ANN", MISTATUS_OFFLINE);
        bench.State().AddContact("abe@example.com", "abe", MISTATUS_OFFLINE);
        bench.CreateUiManagerWindow();
        g_manager = &bench.Start();
    }
    void TearDown() override { g_manager = nullptr; }

    Bench bench;
};

void Press(HWND dialog, int id) { SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

std::vector<CContactInfo> ManagerContacts() { return g_manager->CurrentContacts(); }

} // namespace

TEST_F(ContactSelectTest, OfflineModeOffersTheOfflineContactsSortedIgnoringCase) {
    CContactSelectDlg dialog(*g_manager, ManagerContacts, kSelectOfflineContact);
    const INT_PTR result = RunDialog(dialog, [](HWND d, CListView& list) {
        list.SelectRow(RowOf(list, "ANN"));
        Press(d, IDOK);
    });
    EXPECT_EQ(IDOK, result);
    EXPECT_EQ("Send offline message", g_seen.title);
    EXPECT_EQ("Select user to send offline message to", g_seen.prompt);
    EXPECT_EQ((std::vector<std::string>{"abe|abe@example.com|1|1", "ANN|ann@example.com|1|1", "Cid|cid@example.com|1|1"}),
              g_seen.rows);
    EXPECT_TRUE(g_seen.singleSelection);
    ASSERT_EQ(1u, dialog.Chosen().size());
    EXPECT_EQ("ann@example.com", dialog.Chosen().front().signInName);
    EXPECT_EQ("ANN", dialog.Chosen().front().friendlyName);
    EXPECT_EQ(kContactOffline, dialog.Chosen().front().status);
    EXPECT_EQ(nullptr, g_manager->OpenDialog());
}

TEST_F(ContactSelectTest, ForwardModeNeverOffersTheExcludedContact) {
    CContactSelectDlg dialog(*g_manager, ManagerContacts, kSelectForwardContact);
    dialog.Exclude("bob@example.com");
    const INT_PTR result = RunDialog(dialog, [](HWND d, CListView& list) {
        // A single-selection list keeps one row whatever is asked.
        list.SelectRow(RowOf(list, "zed"));
        list.SelectRow(RowOf(list, "Al"));
        Press(d, IDOK);
    });
    EXPECT_EQ(IDOK, result);
    EXPECT_EQ("Forward conversation", g_seen.title);
    EXPECT_EQ((std::vector<std::string>{"Al|al@example.com|0|0", "amy|amy@example.com|0|0", "zed|zed@example.com|0|0"}),
              g_seen.rows);
    EXPECT_TRUE(g_seen.singleSelection);
    ASSERT_EQ(1u, dialog.Chosen().size());
    EXPECT_EQ("al@example.com", dialog.Chosen().front().signInName);
    EXPECT_EQ(kContactOnline, dialog.Chosen().front().status);
}

TEST_F(ContactSelectTest, BroadcastModeNeedsTwoAndYieldsThemInListOrder) {
    CContactSelectDlg dialog(*g_manager, ManagerContacts, kSelectBroadcastContacts);
    const INT_PTR result = RunDialog(dialog, [](HWND d, CListView& list) {
        list.SelectRow(RowOf(list, "zed"));
        Press(d, IDOK);
        // Later, from the dialog's own loop: had the first OK ended it, nobody is there to answer.
        g_act = [](HWND again, CListView& rows) {
            g_seen.stillOpenAfterFirstOk = true;
            rows.SelectRow(RowOf(rows, "Bob"));
            Press(again, IDOK);
        };
        AnswerSoon();
    });
    EXPECT_EQ(IDOK, result);
    EXPECT_EQ("Broadcast message", g_seen.title);
    EXPECT_EQ("Select users to broadcast message to", g_seen.prompt);
    EXPECT_FALSE(g_seen.singleSelection);
    EXPECT_EQ(4u, g_seen.rows.size());
    EXPECT_TRUE(g_seen.stillOpenAfterFirstOk);
    const auto shown = bench.Messages();
    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ("You must select at least 2 users", shown[0].text);
    EXPECT_EQ("Error", shown[0].caption);
    EXPECT_NE(0u, shown[0].style & MB_ICONERROR);
    ASSERT_EQ(2u, dialog.Chosen().size());
    EXPECT_EQ("bob@example.com", dialog.Chosen().front().signInName);
    EXPECT_EQ("zed@example.com", dialog.Chosen().back().signInName);
}

TEST_F(ContactSelectTest, NobodyToOfferTellsSoAndCancelsWithoutAList) {
    for (const char* name : {"cid@example.com", "ann@example.com", "abe@example.com"}) {
        standin::ContactPtr contact = bench.State().FindContact(name);
        contact->status = MISTATUS_ONLINE;
        bench.Api().FireContactStatusChange(contact, MISTATUS_ONLINE);
    }
    CContactSelectDlg offline(*g_manager, ManagerContacts, kSelectOfflineContact);
    bool listShown = false;
    EXPECT_EQ(IDCANCEL, RunDialog(offline, [&](HWND, CListView&) { listShown = true; }));
    EXPECT_FALSE(listShown);
    const auto shown = bench.Messages();
    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ("You don't have any offline users in your contacts list", shown[0].text);
    EXPECT_EQ("Error", shown[0].caption);
    EXPECT_TRUE(offline.Chosen().empty());
}

TEST_F(ContactSelectTest, RowsAndChoiceAreTheMessengersListAsItIsNow) {
    // Zed deleted (the messenger says so, and nothing more of him), Bob deleted and added again.
    bench.Api().FireContactListRemove(S_OK, bench.State().RemoveContact("zed@example.com"));
    standin::ContactPtr bob = bench.State().RemoveContact("bob@example.com");
    bench.Api().FireContactListRemove(S_OK, bob);
    bench.State().AddContact("bob@example.com", "Bob", MISTATUS_ONLINE);
    bench.Api().FireContactListAdd(S_OK, bench.State().FindContact("bob@example.com"));
    CContactSelectDlg dialog(*g_manager, ManagerContacts, kSelectBroadcastContacts);
    RunDialog(dialog, [&](HWND d, CListView& list) {
        // Amy signs out while the dialog is open, and is chosen anyway.
        standin::ContactPtr amy = bench.State().FindContact("amy@example.com");
        amy->status = MISTATUS_OFFLINE;
        bench.Api().FireContactStatusChange(amy, MISTATUS_OFFLINE);
        list.SelectRow(RowOf(list, "amy"));
        list.SelectRow(RowOf(list, "Bob"));
        Press(d, IDOK);
    });
    EXPECT_EQ((std::vector<std::string>{"Al|al@example.com|0|0", "amy|amy@example.com|0|0", "Bob|bob@example.com|0|0"}),
              g_seen.rows);
    ASSERT_EQ(2u, dialog.Chosen().size());
    EXPECT_EQ("amy@example.com", dialog.Chosen().front().signInName);
    EXPECT_EQ(kContactOffline, dialog.Chosen().front().status);
}

TEST(ContactStateImages, PicturesAreDrawnThroughTheirMask) {
    EnsureCommonControls();
    HWND list = CreateWindowExA(0, WC_LISTVIEWA, "", WS_POPUP | LVS_REPORT, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                                nullptr);
    HIMAGELIST images = AttachContactStateImages(list);
    ASSERT_NE(nullptr, images);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 16, -16, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    for (int image = 0; image < 2; ++image) {
        void* bits = nullptr;
        HDC dc = CreateCompatibleDC(nullptr);
        HBITMAP canvas = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(dc, canvas);
        RECT all{0, 0, 16, 16};
        FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        ASSERT_TRUE(ImageList_Draw(images, image, dc, 0, 0, ILD_TRANSPARENT));
        GdiFlush();
        int magenta = 0, white = 0, dark = 0;
        for (int i = 0; i < 16 * 16; ++i) {
            const DWORD pixel = static_cast<const DWORD*>(bits)[i] & 0xFFFFFF;
            magenta += pixel == 0xFF00FF;
            white += pixel == 0xFFFFFF;
            dark += (pixel & 0xFF) < 0x60 && ((pixel >> 8) & 0xFF) < 0x60 && ((pixel >> 16) & 0xFF) < 0x60;
        }
        EXPECT_EQ(0, magenta) << image;
        EXPECT_GT(white, 0) << image;  // the background shows through the mask
        EXPECT_GT(dark, 0) << image;   // the outline is drawn
        SelectObject(dc, old);
        DeleteObject(canvas);
        DeleteDC(dc);
    }
    SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, 0);
    ImageList_Destroy(images);
    DestroyWindow(list);
}

TEST(ListViewSort, SortsAnyRangeByTextIgnoringCaseAndCarriesTheRowAlong) {
    EnsureCommonControls();
    HWND list = CreateWindowExA(0, WC_LISTVIEWA, "", WS_POPUP | LVS_REPORT, 0, 0, 300, 200, nullptr, nullptr, nullptr,
                                nullptr);
    CListView view(list);
    view.InsertColumn(0, "Name", 100);
    view.InsertColumn(1, "E-mail", 100);
    const std::vector<std::string> names = {"delta", "Bravo", "alpha", "Charlie", "bravo", "ALPHA", "echo", "alpha"};
    for (size_t i = 0; i < names.size(); ++i) {
        const int row = view.InsertItem(static_cast<int>(i), names[i], static_cast<LPARAM>(i), static_cast<int>(i % 2));
        view.SetItemText(row, 1, names[i] + "@" + std::to_string(i));
    }
    SortListViewRows(list, 5, true);  // no such column: nothing moves
    EXPECT_EQ("delta", view.GetItemText(0, 0));

    SortListViewRows(list, 0, true);
    std::vector<std::string> sorted;
    for (int row = 0; row < view.GetItemCount(); ++row) {
        const std::string name = view.GetItemText(row, 0);
        sorted.push_back(name);
        // Second column, data and image stayed with their name.
        const std::string mail = view.GetItemText(row, 1);
        const size_t index = static_cast<size_t>(view.GetItemData(row));
        EXPECT_EQ(names[index], name);
        EXPECT_EQ(names[index] + "@" + std::to_string(index), mail);
    }
    for (size_t i = 1; i < sorted.size(); ++i) EXPECT_LE(lstrcmpiA(sorted[i - 1].c_str(), sorted[i].c_str()), 0) << i;
    DestroyWindow(list);
}

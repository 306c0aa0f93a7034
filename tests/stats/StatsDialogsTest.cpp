// The statistics dialogs on a stats.dat written here byte by byte: names,
// order and times of the contact list, the detail rows with their bold
// session rows, and the share of online time in the summary.
#include <gtest/gtest.h>

#include <objbase.h>
#include <oleauto.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "framework/ListView.h"
#include "plugin/core/TextConvert.h"
#include "plugin/core/UserMessage.h"
#include "plugin/stats/StatDetailDlg.h"
#include "plugin/stats/StatsDlg.h"
#include "plugin/stats/StatsManager.h"
#include "plugin/stats/StatsResources.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/stats/StoreTestSupport.h"

using namespace parleym;
using namespace coretest;

namespace {

constexpr double kDay = 45000.0; // 15 March 2023
constexpr double kHour = 1.0 / 24.0;
constexpr double kMinute = 1.0 / 1440.0;
constexpr double kSecond = 1.0 / 86400.0;

// The two stream layouts, written independently of the store's own codec.
class StreamWriter {
public:
    StreamWriter& Int(std::int32_t value) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(std::uint32_t(value) >> (8 * i)));
        return *this;
    }
    StreamWriter& Time(std::int32_t days, int hours, int minutes, int seconds) {
        Int(days);
        for (int part : {hours, minutes, seconds}) bytes.push_back(static_cast<std::uint8_t>(part));
        return *this;
    }
    StreamWriter& Text(const std::string& text) {
        Int(static_cast<std::int32_t>(text.size()));
        bytes.insert(bytes.end(), text.begin(), text.end());
        return *this;
    }
    StreamWriter& Date(double date) {
        std::uint64_t bits = 0;
        static_assert(sizeof bits == sizeof date, "OLE dates are 8 bytes");
        std::memcpy(&bits, &date, sizeof bits);
        for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
        return *this;
    }
    Bytes bytes;
};

struct Period {
    std::int32_t contact;
    double login, logout;
};
struct Session {
    double start, end;
    std::vector<Period> periods;
};

Bytes SessionsStream(const std::vector<Session>& sessions) {
    StreamWriter w;
    w.Int(static_cast<std::int32_t>(sessions.size()));
    for (const Session& session : sessions) {
        w.Date(session.start).Date(session.end).Int(static_cast<std::int32_t>(session.periods.size()));
        for (const Period& period : session.periods) w.Int(period.contact).Date(period.login).Date(period.logout);
    }
    return w.bytes;
}

std::string OleDateText(double date) {
    BstrHolder text;
    EXPECT_EQ(S_OK, VarBstrFromDate(date, LOCALE_USER_DEFAULT, 0, text.Put()));
    return AnsiFromBstr(text.Get());
}

// A signed-in messenger whose contact list names two of the recorded contacts.
struct DialogBench {
    Bench bench;
    TestManager* manager = nullptr;
    StatsIdentity self{"me@example.com", "Me", kStatsOffline};
    CStatsManager store{[this] { return self; }};

    DialogBench() {
        bench.SignIn("me@example.com", "Me");
        bench.State().AddContact("bob@example.com", "Bob", MISTATUS_OFFLINE);
        bench.State().AddContact("carol@example.com", "carol", MISTATUS_OFFLINE);
        bench.State().AddContact("dan@example.com", "Dan", MISTATUS_OFFLINE);
        bench.CreateUiManagerWindow();
        manager = &bench.Start();
    }
    // The store under test reads its own copy, apart from the manager's stats.dat.
    void Open(const std::vector<storetest::AccountStreams>& accounts, const char* account) {
        const std::string path = bench.DataFile("dialog-stats.dat");
        storetest::WriteStoreFile(path, accounts);
        ASSERT_TRUE(store.OpenStatsFile(path.c_str()));
        ASSERT_TRUE(store.OpenAccount(account));
    }
};

// Runs `probe` on the dialog once its modal loop runs, then closes it.
std::function<void(HWND)> g_probe;
const char* g_caption = nullptr;

void CALLBACK ProbeTimer(HWND, UINT, UINT_PTR id, DWORD) {
    HWND dialog = FindWindowA("#32770", g_caption);
    if (!dialog) return;
    KillTimer(nullptr, id);
    g_probe(dialog);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

void RunWithProbe(CDialog& dialog, const char* caption, std::function<void(HWND)> probe) {
    g_probe = std::move(probe);
    g_caption = caption;
    SetTimer(nullptr, 0, 30, &ProbeTimer);
    dialog.DoModal();
    g_probe = nullptr;
}

std::vector<std::string> Row(HWND list, int row) {
    CListView view(list);
    return {view.GetItemText(row, 0), view.GetItemText(row, 1), view.GetItemText(row, 2)};
}

std::string Text(HWND dialog, int id) {
    char text[512] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

int ColumnFormat(HWND list, int column) {
    LVCOLUMNA info{};
    info.mask = LVCF_FMT;
    SendMessageA(list, LVM_GETCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info));
    return info.fmt & LVCFMT_JUSTIFYMASK;
}

} // namespace

TEST(StatsDialogs, ContactsListedByNameIgnoringCaseWithTheirTimes) {
    DialogBench d;
    // Map order (by sign-in name) is Carol@, bob@, carol@; "Carol@" is not in
    // the contact list, whose "carol@" differs only in letter case.
    StreamWriter users;
    users.Time(4, 5, 6, 7).Int(3);
    users.Int(1).Text("carol@example.com").Time(3, 0, 0, 10);
    users.Int(2).Text("Carol@example.com").Time(0, 0, 5, 7);
    users.Int(3).Text("bob@example.com").Time(1, 2, 3, 4);
    d.Open({{"me@example.com", 1, {{L"users", users.bytes}, {L"sessions", SessionsStream({})}}}}, "me@example.com");

    struct Seen {
        std::vector<std::vector<std::string>> rows;
        std::string own;
        int timeFormat = -1;
        DWORD style = 0, extended = 0;
        std::vector<ShownMessage> noSelection, resetQuestion;
        std::vector<std::vector<std::string>> afterNo;
        std::vector<ShownMessage> afterSignOut;
        bool closedBySignOut = false;
    } seen;
    CStatsDlg dialog(*d.manager, d.store, d.manager->Contacts());
    RunWithProbe(dialog, "Online time statistics", [&](HWND window) {
        HWND list = GetDlgItem(window, IDC_STATS_LIST);
        for (int row = 0; row < CListView(list).GetItemCount(); ++row) seen.rows.push_back(Row(list, row));
        seen.own = Text(window, IDC_STATS_OWN_TOTAL);
        seen.timeFormat = ColumnFormat(list, 2);
        seen.style = static_cast<DWORD>(GetWindowLongPtrA(list, GWL_STYLE));
        seen.extended = static_cast<DWORD>(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
        d.bench.ClearMessages();
        SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_STATS_DETAILS, BN_CLICKED), 0);
        seen.noSelection = d.bench.Messages();
        // Reset asks first; No keeps everything.
        d.bench.ClearMessages();
        d.bench.AnswerMessages(IDNO);
        SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_STATS_RESET, BN_CLICKED), 0);
        seen.resetQuestion = d.bench.Messages();
        for (int row = 0; row < CListView(list).GetItemCount(); ++row) seen.afterNo.push_back(Row(list, row));
        // Yes, given after the account signed out under the question, resets nothing,
        // and the account's list goes with it.
        d.bench.ClearMessages();
        d.bench.AnswerMessages(IDYES);
        d.bench.WhileShowing([&](const std::string&) {
            d.bench.State().SetSignedIn(false);
            d.bench.Api().FireSignout();
        });
        SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_STATS_RESET, BN_CLICKED), 0);
        d.bench.WhileShowing(nullptr);
        seen.afterSignOut = d.bench.Messages();
        seen.closedBySignOut = !IsWindowVisible(window);
    });
    const std::vector<std::vector<std::string>> expected = {
        {"Bob", "bob@example.com", "1 day 02:03:04"},
        {"carol", "carol@example.com", "3 days 00:00:10"},
        {"Carol@example.com", "Carol@example.com", " 00:05:07"},
    };
    EXPECT_EQ(expected, seen.rows);
    EXPECT_EQ("4 days 05:06:07", seen.own);
    EXPECT_EQ(LVCFMT_RIGHT, seen.timeFormat);
    EXPECT_TRUE(seen.style & LVS_NOSORTHEADER);
    EXPECT_TRUE(seen.extended & LVS_EX_FULLROWSELECT);
    ASSERT_EQ(1u, seen.noSelection.size());
    EXPECT_EQ("You must select a user first", seen.noSelection[0].text);
    EXPECT_EQ("Error", seen.noSelection[0].caption);
    ASSERT_EQ(1u, seen.resetQuestion.size());
    EXPECT_EQ("Are you sure you want to reset statistics?", seen.resetQuestion[0].text);
    EXPECT_EQ("Parleym", seen.resetQuestion[0].caption);
    EXPECT_EQ(UINT(MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2), seen.resetQuestion[0].style);
    EXPECT_EQ(expected, seen.afterNo);
    ASSERT_EQ(2u, seen.afterSignOut.size());
    EXPECT_EQ(kAccountChangedText, seen.afterSignOut[1].text);
    EXPECT_TRUE(seen.closedBySignOut);
    EXPECT_EQ("4 days 05:06:07", CStatsManager::FormatOnlineTime(d.store.Ledger().OwnTotal()));
}

TEST(StatsDialogs, DetailsShowBoldSessionsWithTheContactsPeriods) {
    DialogBench d;
    StreamWriter users;
    users.Time(4, 5, 6, 7).Int(2);
    users.Int(1).Text("carol@example.com").Time(0, 2, 0, 0);
    users.Int(2).Text("bob@example.com").Time(1, 2, 3, 4);
    const double noon = kDay + 12 * kHour;
    const Session both{noon, noon + 6 * kHour,
                       {{2, noon + 10 * kMinute, noon + 15 * kMinute + 7 * kSecond},
                        {1, noon, noon + 2 * kHour},
                        {2, noon + kHour, noon + 2 * kHour}}};
    const Session carolOnly{kDay + 1, kDay + 1 + kHour, {{1, kDay + 1, kDay + 1 + kHour}}};
    // Own total zero, but a contact with time: the share must not divide by it.
    StreamWriter empty;
    empty.Time(0, 0, 0, 0).Int(1).Int(1).Text("bob@example.com").Time(0, 0, 0, 10);
    d.Open({{"me@example.com", 1, {{L"users", users.bytes}, {L"sessions", SessionsStream({both, carolOnly})}}},
            {"zero@example.com", 2, {{L"users", empty.bytes}, {L"sessions", SessionsStream({})}}}},
           "me@example.com");

    struct Seen {
        std::vector<std::vector<std::string>> rows;
        std::vector<LPARAM> data;
        std::string caption, summary;
        int timeFormat = -1;
        std::vector<LRESULT> drawResults;
        std::vector<LONG> drawWeights;
        bool wholeLegend = false;
    } seen;
    CStatDetailDlg details(d.store, "bob@example.com", nullptr);
    RunWithProbe(details, "Statistics details for bob@example.com", [&](HWND window) {
        HWND list = GetDlgItem(window, IDC_DETAIL_LIST);
        CListView view(list);
        for (int row = 0; row < view.GetItemCount(); ++row) {
            seen.rows.push_back(Row(list, row));
            seen.data.push_back(view.GetItemData(row));
        }
        seen.caption.resize(256);
        seen.caption.resize(static_cast<size_t>(GetWindowTextA(window, &seen.caption[0], 256)));
        seen.summary = Text(window, IDC_DETAIL_SUMMARY);
        seen.wholeLegend = AllLabelsShowWholeText(window);
        seen.timeFormat = ColumnFormat(list, 2);
        // The list's custom drawing, as the list asks for it: bold font for session rows only.
        HDC dc = CreateCompatibleDC(nullptr);
        SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        for (DWORD stage : {DWORD(CDDS_PREPAINT), DWORD(CDDS_ITEMPREPAINT), DWORD(CDDS_ITEMPREPAINT)}) {
            NMLVCUSTOMDRAW draw{};
            draw.nmcd.hdr.hwndFrom = list;
            draw.nmcd.hdr.idFrom = IDC_DETAIL_LIST;
            draw.nmcd.hdr.code = NM_CUSTOMDRAW;
            draw.nmcd.dwDrawStage = stage;
            draw.nmcd.hdc = dc;
            draw.nmcd.lItemlParam = seen.drawResults.size() == 1 ? 1 : 0;
            draw.nmcd.dwItemSpec = seen.drawResults.size() == 1 ? 0 : 1;
            SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
            SendMessageA(window, WM_NOTIFY, IDC_DETAIL_LIST, reinterpret_cast<LPARAM>(&draw));
            seen.drawResults.push_back(GetWindowLongPtrA(window, DWLP_MSGRESULT));
            LOGFONTA font{};
            GetObjectA(GetCurrentObject(dc, OBJ_FONT), sizeof font, &font);
            seen.drawWeights.push_back(font.lfWeight);
        }
        DeleteDC(dc);
    });
    const std::vector<std::vector<std::string>> expected = {
        {OleDateText(noon), OleDateText(noon + 6 * kHour), " 06:00:00"},
        {"  " + OleDateText(noon + 10 * kMinute), "  " + OleDateText(noon + 15 * kMinute + 7 * kSecond), " 00:05:07"},
        {"  " + OleDateText(noon + kHour), "  " + OleDateText(noon + 2 * kHour), " 01:00:00"},
    };
    EXPECT_EQ(expected, seen.rows);
    EXPECT_EQ((std::vector<LPARAM>{1, 0, 0}), seen.data);
    EXPECT_EQ("Statistics details for bob@example.com", seen.caption);
    EXPECT_EQ("Your total online time: 4 days 05:06:07\nbob@example.com total online time 1 day 02:03:04 is "
              "25.77% of your total online time",
              seen.summary);
    EXPECT_EQ(LVCFMT_LEFT, seen.timeFormat);
    EXPECT_TRUE(seen.wholeLegend);
    EXPECT_EQ((std::vector<LRESULT>{CDRF_NOTIFYITEMDRAW, CDRF_NEWFONT, CDRF_DODEFAULT}), seen.drawResults);
    EXPECT_EQ(FW_BOLD, seen.drawWeights[1]);
    EXPECT_NE(FW_BOLD, seen.drawWeights[2]);

    // A zero own total gives 0.00%, and an empty history an empty list.
    ASSERT_TRUE(d.store.OpenAccount("zero@example.com"));
    seen = Seen{};
    CStatDetailDlg zero(d.store, "bob@example.com", nullptr);
    RunWithProbe(zero, "Statistics details for bob@example.com", [&](HWND window) {
        seen.summary = Text(window, IDC_DETAIL_SUMMARY);
        seen.rows.resize(static_cast<size_t>(CListView(GetDlgItem(window, IDC_DETAIL_LIST)).GetItemCount()));
    });
    EXPECT_EQ("Your total online time:  00:00:00\nbob@example.com total online time  00:00:10 is "
              "0.00% of your total online time",
              seen.summary);
    EXPECT_TRUE(seen.rows.empty());
    EXPECT_TRUE(d.bench.Messages().empty());

    // A contact no longer in the store: said so, and the dialog opens empty.
    CStatDetailDlg gone(d.store, "nobody@example.com", nullptr);
    RunWithProbe(gone, "Statistics details for nobody@example.com", [&](HWND window) {
        seen.summary = Text(window, IDC_DETAIL_SUMMARY);
        seen.rows.resize(static_cast<size_t>(CListView(GetDlgItem(window, IDC_DETAIL_LIST)).GetItemCount()));
    });
    EXPECT_EQ("", seen.summary);
    EXPECT_TRUE(seen.rows.empty());
    ASSERT_EQ(1u, d.bench.Messages().size());
    EXPECT_EQ("User not found", d.bench.Messages()[0].text);
    EXPECT_EQ("Error", d.bench.Messages()[0].caption);
    d.store.Shutdown();
}

// The manager's timer on the dispatch window writes the signed-in account's
// statistics, brought up to its moment.
TEST(StatsSchedule, TimerBringsTheOpenSessionUpToNow) {
    Bench bench;
    bench.SignIn("me@example.com", "Me");
    bench.State().AddContact("bob@example.com", "Bob", MISTATUS_ONLINE);
    bench.CreateUiManagerWindow();
    TestManager& manager = bench.Start();
    CStatsManager& stats = manager.Statistics();
    ASSERT_TRUE(stats.IsAccountOpen());
    ASSERT_EQ(stats.Ledger().Sessions().size(), 1u);
    const double before = stats.Ledger().Sessions().back().end;
    Sleep(1100);
    CParleymanager::StatsSaveTimerProc(manager.DispatchWindow(), WM_TIMER, CParleymanager::kStatsSaveTimerId,
                                       GetTickCount());
    EXPECT_GT(stats.Ledger().Sessions().back().end, before);
    EXPECT_TRUE(bench.Messages().empty());
    // Started with the plug-in on its dispatch window.
    EXPECT_TRUE(KillTimer(manager.DispatchWindow(), CParleymanager::kStatsSaveTimerId));
}

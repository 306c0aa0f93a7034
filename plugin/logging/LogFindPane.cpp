#include "plugin/logging/LogFindPane.h"

#include <richedit.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "plugin/core/Parleymanager.h"
#include "plugin/core/TextConvert.h"
#include "plugin/logging/FindDialog.h"
#include "plugin/logging/LogFindResources.h"
#include "plugin/logging/LogManager.h"
#include "plugin/logging/LogTree.h"
#include "plugin/logging/LogViewer.h"

namespace parleym {

namespace {

constexpr UINT_PTR kSliceTimer = 1;
constexpr int kMargin = 4;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;

std::string Utf8FromAnsi(const std::string& text) {
    const std::wstring wide = WideFromAnsi(text);
    if (wide.empty()) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::string AnsiFromUtf8(const std::string& text) {
    if (text.empty()) return std::string();
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (size <= 0) return std::string();
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
    return AnsiFromWide(wide.c_str(), size);
}

// 12345 -> "12,345": counts the user reads at a glance.
std::string Count(std::size_t value) {
    std::string digits = std::to_string(value);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(static_cast<std::size_t>(at), ",");
    return digits;
}

HTREEITEM FindConversationItem(const CTreeView& tree, HTREEITEM parent, int number) {
    for (HTREEITEM item = tree.GetChildItem(parent); item; item = tree.GetNextSiblingItem(item)) {
        if (static_cast<int>(tree.GetItemData(item)) == number) return item;
        if (HTREEITEM inside = FindConversationItem(tree, item, number)) return inside;
    }
    return nullptr;
}

} // namespace

CLogFindPane::CLogFindPane(CLogViewer& viewer, CParleymanager* manager) : viewer_(viewer), manager_(manager) {}

CLogFindPane::~CLogFindPane() {
    if (font_) DeleteObject(font_);
}

bool CLogFindPane::Create(HWND viewer) {
    return CreateEx(0, "", WS_CHILD | WS_CLIPCHILDREN, 0, 0, 0, 0, viewer, reinterpret_cast<HMENU>(IDC_LOG_FIND_RESULTS + 100));
}

int CLogFindPane::OnCreate(CREATESTRUCTA*) {
    EnsureCommonControls();
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof(metrics);
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0))
        font_ = CreateFontIndirectA(&metrics.lfMessageFont);
    HWND self = GetSafeHwnd();
    summaryLabel_ = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_ENDELLIPSIS, 0, 0,
                                    0, 0, self, reinterpret_cast<HMENU>(IDC_LOG_FIND_SUMMARY), ResourceModule(), nullptr);
    button_ = CreateWindowExA(0, "BUTTON", "Cancel", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 0, 0,
                              self, reinterpret_cast<HMENU>(ID_LOG_FIND_CANCEL), ResourceModule(), nullptr);
    // Owner data: the hits stay in the search, the list only asks for the rows it shows.
    list_ = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                                LVS_OWNERDATA,
                            0, 0, 0, 0, self, reinterpret_cast<HMENU>(IDC_LOG_FIND_RESULTS), ResourceModule(),
                            nullptr);
    if (!summaryLabel_ || !button_ || !list_) return -1;
    for (HWND child : {summaryLabel_, button_, list_})
        if (font_) SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    SendMessageA(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    const struct {
        const char* heading;
        int width;
    } columns[] = {{"Date", 140}, {"Contact", 160}, {"Text", 480}};
    for (int column = 0; column < 3; ++column) {
        LVCOLUMNA info{};
        info.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        info.pszText = const_cast<char*>(columns[column].heading);
        info.cx = columns[column].width;
        info.iSubItem = column;
        SendMessageA(list_, LVM_INSERTCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info));
    }
    return 0;
}

void CLogFindPane::OnSize(UINT, int width, int height) {
    const int top = kMargin + kButtonHeight + kMargin;
    MoveWindow(summaryLabel_, kMargin, kMargin + 4, std::max(0, width - 3 * kMargin - kButtonWidth), kButtonHeight - 4,
               TRUE);
    MoveWindow(button_, std::max(0, width - kMargin - kButtonWidth), kMargin, kButtonWidth, kButtonHeight, TRUE);
    MoveWindow(list_, 0, top, width, std::max(0, height - top), TRUE);
}

bool CLogFindPane::Visible() const { return GetSafeHwnd() && IsWindowVisible(GetSafeHwnd()); }

int CLogFindPane::Height(int clientHeight) const {
    // A third of the frame, within reason.
    return std::min(std::max(clientHeight / 3, 120), 260);
}

void CLogFindPane::SetVisible(bool visible) {
    if (!GetSafeHwnd() || Visible() == visible) return;
    ShowWindow(GetSafeHwnd(), visible ? SW_SHOW : SW_HIDE);
    viewer_.LayOut();
}

void CLogFindPane::Find() {
    if (!manager_ || !GetSafeHwnd()) return;
    CParleymanager* manager = manager_;
    const CLogViewer* viewer = &viewer_;
    CFindDialog dialog(manager, viewer_.GetSafeHwnd(), query_);
    const INT_PTR answer = dialog.DoModal();
    // Locking the messenger destroys the viewer, and this pane with it, under the dialog.
    if (manager->LogViewer() != viewer || answer != IDOK) return;
    StartSearch(dialog.Text());
}

void CLogFindPane::StartSearch(const std::string& ansiText) {
    if (!manager_ || !GetSafeHwnd() || ansiText.empty()) return;
    KillTimer(GetSafeHwnd(), kSliceTimer);
    query_ = ansiText;
    current_ = -1;
    // The list reads the old search's hits until it is told the new count.
    SendMessageA(list_, LVM_SETITEMCOUNT, 0, 0);
    run_.reset(new CLogSearchRun(manager_->LogStore(), Utf8FromAnsi(ansiText)));
    running_ = true;
    startedMs_ = MonotonicMs();
    longestSliceMs_ = 0;
    SetWindowTextA(button_, "Cancel");
    SetVisible(true);
    ShowProgress();
    // Timer messages come only when the queue holds nothing else: input and
    // painting go first, and the search takes what is left.
    if (!SetTimer(GetSafeHwnd(), kSliceTimer, USER_TIMER_MINIMUM, nullptr)) {
        // Without a timer the search runs at once rather than not at all.
        while (!run_->Step(kSliceMs)) {
        }
        Finish(false);
    }
}

bool CLogFindPane::OnMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
    if (message == WM_TIMER && wParam == kSliceTimer) {
        Slice();
        result = 0;
        return true;
    }
    return false;
}

void CLogFindPane::Slice() {
    if (!running_ || !run_) {
        KillTimer(GetSafeHwnd(), kSliceTimer);
        return;
    }
    const double started = MonotonicMs();
    const bool done = run_->Step(kSliceMs);
    longestSliceMs_ = std::max(longestSliceMs_, MonotonicMs() - started);
    SendMessageA(list_, LVM_SETITEMCOUNT, run_->Search().Hits().size(), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    if (done) Finish(false);
    else ShowProgress();
}

void CLogFindPane::ShowProgress() {
    const LogSearch& search = run_->Search();
    SetSummary("Searching for \"" + query_ + "\": " + Count(search.Searched()) + " of " + Count(search.Total()) +
               " conversations, " + Count(search.MatchCount()) + (search.MatchCount() == 1 ? " match" : " matches") +
               " (Esc to cancel)");
}

void CLogFindPane::Finish(bool cancelled) {
    KillTimer(GetSafeHwnd(), kSliceTimer);
    running_ = false;
    SetWindowTextA(button_, "Close");
    if (!run_) return;
    const LogSearch& search = run_->Search();
    SendMessageA(list_, LVM_SETITEMCOUNT, search.Hits().size(), LVSICF_NOSCROLL);
    char seconds[32];
    std::snprintf(seconds, sizeof(seconds), "%.1f s", (MonotonicMs() - startedMs_) / 1000.0);
    std::string text = cancelled ? "Search cancelled: " : "Found ";
    text += Count(search.MatchCount()) + (search.MatchCount() == 1 ? " match" : " matches") + " of \"" + query_ +
            "\" in " + Count(search.Searched()) + (cancelled ? " of " + Count(search.Total()) : std::string()) +
            " conversations (" + seconds + ")";
    if (search.Truncated()) text += ", the first " + Count(search.Hits().size()) + " listed";
    if (search.Unreadable() > 0) text += ", " + Count(search.Unreadable()) + " could not be read";
    SetSummary(text);
}

void CLogFindPane::SetSummary(const std::string& text) {
    summary_ = text;
    SetWindowTextA(summaryLabel_, text.c_str());
    if (CStatusBar* statusBar = viewer_.GetStatusBar()) statusBar->SetPaneText(0, text);
}

void CLogFindPane::CancelOrClose() {
    if (running_) {
        Finish(true);
        return;
    }
    SetVisible(false);
    if (CStatusBar* statusBar = viewer_.GetStatusBar()) statusBar->SetPaneText(0, "");
}

bool CLogFindPane::OnCommand(WORD id, WORD code, HWND) {
    if (id == ID_LOG_FIND_CANCEL && code == BN_CLICKED) {
        CancelOrClose();
        return true;
    }
    return false;
}

int CLogFindPane::SelectedHit() const {
    return static_cast<int>(SendMessageA(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void CLogFindPane::SelectRow(int row) {
    LVITEMA state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
    SendMessageA(list_, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
}

void CLogFindPane::Step(int direction) {
    if (!run_) {
        Find();
        return;
    }
    const int count = static_cast<int>(run_->Search().Hits().size());
    if (count == 0) {
        MessageBeep(MB_OK);
        return;
    }
    SetVisible(true);
    int row = current_ < 0 ? (direction > 0 ? 0 : count - 1) : current_ + direction;
    if (row < 0 || row >= count) {
        // At the last (or first) match: say so, and stay.
        MessageBeep(MB_OK);
        row = current_;
    }
    ChooseHit(row);
}

void CLogFindPane::ChooseHit(int row) {
    if (!run_ || row < 0 || row >= static_cast<int>(run_->Search().Hits().size()) || choosing_) return;
    const SearchHit hit = run_->Search().Hits()[static_cast<std::size_t>(row)];
    choosing_ = true;
    current_ = row;
    // The list's own selection change comes back here and is ignored.
    if (SelectedHit() != row) SelectRow(row);
    // Through the tree when the conversation is listed, so the tree shows which one it is.
    HTREEITEM item = FindConversationItem(viewer_.Tree(), viewer_.Tree().GetRootItem(), hit.entry.number);
    if (item && viewer_.ShownConversation() != hit.entry.number) viewer_.Tree().SelectItem(item);
    if (viewer_.ShownConversation() != hit.entry.number) viewer_.ShowConversation(hit.entry.number);
    choosing_ = false;
    if (viewer_.ShownConversation() != hit.entry.number) return;  // could not be loaded (said so)
    HWND pane = viewer_.Pane().RichEdit();
    // Shown while the focus stays in the list, so F3 can go on.
    SendMessageA(pane, EM_SETOPTIONS, ECOOP_OR, ECO_NOHIDESEL);
    CHARRANGE range{hit.match.position, hit.match.position + hit.match.length};
    SendMessageA(pane, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    SendMessageA(pane, EM_SCROLLCARET, 0, 0);
}

void CLogFindPane::FillDisplayInfo(NMLVDISPINFOA& info) const {
    if (!(info.item.mask & LVIF_TEXT) || !info.item.pszText || info.item.cchTextMax <= 0 || !run_) return;
    info.item.pszText[0] = '\0';
    const auto& hits = run_->Search().Hits();
    if (info.item.iItem < 0 || info.item.iItem >= static_cast<int>(hits.size())) return;
    const SearchHit& hit = hits[static_cast<std::size_t>(info.item.iItem)];
    std::string text;
    switch (info.item.iSubItem) {
    case 0: text = FormatDateTime(hit.entry.start); break;
    case 1: text = hit.entry.contact; break;
    default: text = AnsiFromUtf8(hit.snippet); break;
    }
    const std::size_t room = static_cast<std::size_t>(info.item.cchTextMax) - 1;
    const std::size_t length = std::min(text.size(), room);
    std::memcpy(info.item.pszText, text.data(), length);
    info.item.pszText[length] = '\0';
}

bool CLogFindPane::OnNotify(NMHDR* header, LRESULT& result) {
    if (!header || header->hwndFrom != list_) return false;
    if (header->code == LVN_GETDISPINFOA) {
        FillDisplayInfo(*reinterpret_cast<NMLVDISPINFOA*>(header));
        result = 0;
        return true;
    }
    if (header->code == LVN_ITEMCHANGED) {
        const auto* change = reinterpret_cast<const NMLISTVIEW*>(header);
        if ((change->uChanged & LVIF_STATE) && (change->uNewState & LVIS_SELECTED) &&
            !(change->uOldState & LVIS_SELECTED) && change->iItem >= 0)
            ChooseHit(change->iItem);
        result = 0;
        return true;
    }
    if (header->code == NM_RETURN || header->code == NM_DBLCLK) {
        ChooseHit(SelectedHit());
        result = 0;
        return true;
    }
    return false;
}

void CLogFindPane::OnDestroy() {
    KillTimer(GetSafeHwnd(), kSliceTimer);
    running_ = false;
    CWindow::OnDestroy();
}

} // namespace parleym

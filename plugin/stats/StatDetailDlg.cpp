#include "plugin/stats/StatDetailDlg.h"

#include <utility>

#include "framework/LabelFit.h"
#include "framework/WaitCursor.h"
#include "plugin/stats/StatsManager.h"
#include "plugin/stats/StatsResources.h"

namespace parleym {

CStatDetailDlg::CStatDetailDlg(const CStatsManager& store, std::string signInName, HWND parent)
    : CParleymDlg(IDD_STAT_DETAIL, nullptr, parent, 0), store_(store), signInName_(std::move(signInName)) {}

BOOL CStatDetailDlg::OnInitDialog() {
    const BOOL result = CParleymDlg::OnInitDialog();
    // Many sessions take a while to list.
    CWaitCursor wait;
    HWND self = GetSafeHwnd();

    FitLabelsToText(self);
    list_.Attach(GetItem(IDC_DETAIL_LIST));
    list_.InsertColumn(0, "Login at", 150);
    list_.InsertColumn(1, "Logout at", 150);
    list_.InsertColumn(2, "Online time", 100);
    list_.SetExtendedStyle(LVS_EX_FULLROWSELECT);
    SetWindowTextA(self, ("Statistics details for " + signInName_).c_str());

    HFONT font = reinterpret_cast<HFONT>(SendMessageA(list_.GetSafeHwnd(), WM_GETFONT, 0, 0));
    LOGFONTA description{};
    if (!font || !GetObjectA(font, sizeof description, &description))
        GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof description, &description);
    description.lfWeight = FW_BOLD;
    boldFont_.reset(CreateFontIndirectA(&description));

    std::string summary;
    // Without redrawing off, every inserted row repaints: filling would slow
    // down with each row already in the list.
    HWND list = list_.GetSafeHwnd();
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    if (store_.FillDetailList(signInName_, list_, summary)) SetItemText(IDC_DETAIL_SUMMARY, summary);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    return result;
}

bool CStatDetailDlg::OnNotify(NMHDR* header, LRESULT& result) {
    if (!header || header->hwndFrom != list_.GetSafeHwnd() || header->code != NM_CUSTOMDRAW)
        return CParleymDlg::OnNotify(header, result);
    auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(header);
    result = CDRF_DODEFAULT;
    if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) {
        result = CDRF_NOTIFYITEMDRAW;
    } else if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT && draw->nmcd.lItemlParam == 1 && boldFont_) {
        SelectObject(draw->nmcd.hdc, boldFont_.get());
        result = CDRF_NEWFONT;
    }
    return true;
}

} // namespace parleym

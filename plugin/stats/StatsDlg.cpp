#include "plugin/stats/StatsDlg.h"

#include "framework/LabelFit.h"
#include "plugin/core/UserMessage.h"
#include "plugin/stats/StatDetailDlg.h"
#include "plugin/stats/StatsListSort.h"
#include "plugin/stats/StatsManager.h"
#include "plugin/stats/StatsResources.h"

namespace parleym {

CStatsDlg::CStatsDlg(IDialogHost& host, CStatsManager& store, const std::vector<CContactInfo>& contacts)
    : CParleymDlg(IDD_STATS, &host), store_(store), contacts_(contacts) {}

BOOL CStatsDlg::OnInitDialog() {
    const BOOL result = CParleymDlg::OnInitDialog();
    BindToAccount();
    FitLabelsToText(GetSafeHwnd());
    list_.Attach(GetItem(IDC_STATS_LIST));
    list_.InsertColumn(0, "Name", 140);
    list_.InsertColumn(1, "Sign in", 150);
    list_.InsertColumn(2, "Online time", 100, LVCFMT_RIGHT);
    list_.SetExtendedStyle(LVS_EX_FULLROWSELECT);
    Fill(true);
    return result;
}

void CStatsDlg::Fill(bool refresh) {
    ContactNames names;
    for (const CContactInfo& contact : contacts_) names.emplace(contact.signInName, contact.friendlyName);
    HWND list = list_.GetSafeHwnd();
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    std::string own;
    if (store_.FillStatsList(list_, own, refresh, names)) SetItemText(IDC_STATS_OWN_TOTAL, own);
    SortListByText(list, 0, true, 0, -1);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

void CStatsDlg::OnReset() {
    const int answer = ShowUserMessage(GetSafeHwnd(), "Are you sure you want to reset statistics?", "Parleym",
                                       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    if (answer != IDYES || !StillForItsAccount()) return;
    store_.ResetStatistics();
    Fill(false);
}

void CStatsDlg::OnDetails() {
    const int row = list_.GetSelectedRow();
    if (row < 0) {
        ShowUserMessage(GetSafeHwnd(), "You must select a user first", "Error", MB_OK | MB_ICONERROR);
        return;
    }
    CStatDetailDlg details(store_, list_.GetItemText(row, 1), GetSafeHwnd());
    details_ = &details;
    details.DoModal();
    details_ = nullptr;
}

void CStatsDlg::OnAccountEnded() {
    if (details_) details_->EndDialog(IDCANCEL);
    CParleymDlg::OnAccountEnded();
}

bool CStatsDlg::OnCommand(WORD id, WORD code, HWND control) {
    if (code == BN_CLICKED) {
        switch (id) {
        case IDC_STATS_REFRESH:
            Fill(true);
            return true;
        case IDC_STATS_RESET:
            OnReset();
            return true;
        case IDC_STATS_DETAILS:
            OnDetails();
            return true;
        default:
            break;
        }
    }
    return CParleymDlg::OnCommand(id, code, control);
}

} // namespace parleym

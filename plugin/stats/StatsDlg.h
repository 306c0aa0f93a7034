#pragma once
// "Online time statistics": the account's own total and every recorded
// contact's online time, with refresh, reset and the per-contact details.
#include <vector>

#include "framework/ListView.h"
#include "plugin/core/ContactInfo.h"
#include "plugin/core/ParleymDlg.h"

namespace parleym {

class CStatsManager;

class CStatsDlg : public CParleymDlg {
public:
    // `contacts`, the contact list, names the recorded contacts each time the list fills.
    CStatsDlg(IDialogHost& host, CStatsManager& store, const std::vector<CContactInfo>& contacts);

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD id, WORD code, HWND control) override;
    // The details shown go with the list.
    void OnAccountEnded() override;

private:
    // Fills the list from the store and sorts it by name.
    void Fill(bool refresh);
    void OnReset();
    void OnDetails();

    CStatsManager& store_;
    const std::vector<CContactInfo>& contacts_;
    CListView list_;
    CDialog* details_ = nullptr;
};

} // namespace parleym

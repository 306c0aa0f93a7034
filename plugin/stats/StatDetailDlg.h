#pragma once
// "Statistics details" for one contact: the account's sessions in which the
// contact was online, drawn bold, each followed by the contact's periods.
#include <memory>
#include <string>
#include <type_traits>

#include "framework/ListView.h"
#include "plugin/core/ParleymDlg.h"

namespace parleym {

class CStatsManager;

class CStatDetailDlg : public CParleymDlg {
public:
    CStatDetailDlg(const CStatsManager& store, std::string signInName, HWND parent);

protected:
    BOOL OnInitDialog() override;
    bool OnNotify(NMHDR* header, LRESULT& result) override;

private:
    struct FontDeleter {
        void operator()(HFONT font) const { DeleteObject(font); }
    };

    const CStatsManager& store_;
    std::string signInName_;
    CListView list_;
    std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter> boldFont_;
};

} // namespace parleym

#pragma once
// The password asked for before the log viewer opens.
#include <string>

#include "plugin/core/ParleymDlg.h"

namespace parleym {

class CUserAccounts;

class CViewLogsPassDlg : public CParleymDlg {
public:
    CViewLogsPassDlg(IDialogHost& host, const CUserAccounts& accounts);

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    const CUserAccounts& accounts_;
    std::string password_;
};

} // namespace parleym

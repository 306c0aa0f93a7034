#pragma once
// "Set password": the current password (when there is one), the new one and
// the new one again.
#include <string>

#include "plugin/core/ParleymDlg.h"

namespace parleym {

class CUserAccounts;

class CSetPasswordDlg : public CParleymDlg {
public:
    // `signInName` is read when the user confirms: the account signed in then.
    CSetPasswordDlg(IDialogHost& host, CUserAccounts& accounts, const std::string& signInName);

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    CUserAccounts& accounts_;
    const std::string& signInName_;
    std::string current_;
    std::string new_;
    std::string retyped_;
};

} // namespace parleym

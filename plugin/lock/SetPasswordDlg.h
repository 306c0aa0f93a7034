#pragma once
// "Set password": the current password (when there is one), the new one and
// the new one again.
#include <string>

#include "plugin/core/ParleymDlg.h"

namespace parleym {

class CSetPasswordDlg : public CParleymDlg {
public:
    explicit CSetPasswordDlg(CParleymanager* manager);

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    std::string current_;
    std::string new_;
    std::string retyped_;
};

} // namespace parleym

#pragma once
// The password asked for before the log viewer opens.
#include <string>

#include "framework/Dialog.h"

namespace parleym {

class CParleymanager;

class CViewLogsPassDlg : public CDialog {
public:
    explicit CViewLogsPassDlg(CParleymanager* manager);

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnDestroy() override;

private:
    CParleymanager* manager_;
    std::string password_;
};

} // namespace parleym

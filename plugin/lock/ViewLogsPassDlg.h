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
    // The password is one account's: the prompt goes when that account signs out.
    bool OnDialogMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    CParleymanager* manager_;
    std::string password_;
    unsigned accountSession_ = 0;
};

} // namespace parleym

#pragma once
// Base of the plug-in's dialogs: while one exists it is the plug-in's open
// dialog (the loader is told), and it carries the plug-in's icons.
#include "framework/Dialog.h"

namespace parleym {

class CParleymanager;

class CParleymDlg : public CDialog {
public:
    CParleymDlg(UINT templateId, CParleymanager* manager);

protected:
    BOOL OnInitDialog() override;
    void OnDestroy() override;
    CParleymanager* Manager() const { return manager_; }

private:
    CParleymanager* manager_;
};

} // namespace parleym

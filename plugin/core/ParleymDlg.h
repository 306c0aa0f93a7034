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
    bool OnDialogMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    CParleymanager* Manager() const { return manager_; }

    // For a dialog that shows or changes the data of the account signed in when
    // it opened: it closes when that account signs out or another signs in.
    void BindToAccount();
    // False, after telling the user, when the dialog's account is no longer the
    // one signed in (the change came while a question of the dialog's showed).
    bool StillForItsAccount();
    // The dialog's account signed out: by default the dialog closes as cancelled.
    virtual void OnAccountEnded();

private:
    CParleymanager* manager_;
    bool boundToAccount_ = false;
    unsigned accountSession_ = 0;
};

} // namespace parleym

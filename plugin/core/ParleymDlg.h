#pragma once
// Base of the plug-in's dialogs: the plug-in's icons, and for a dialog of one
// of the plug-in's commands its record as the open dialog (the loader is told).
#include "framework/Dialog.h"

namespace parleym {

class IDialogHost;

class CParleymDlg : public CDialog {
public:
    // A dialog of one of the plug-in's commands: owned by the host's hidden
    // window, the open dialog while it exists, brought forward by the loader.
    CParleymDlg(UINT templateId, IDialogHost* host);

protected:
    enum Traits : unsigned {
        kOpenDialog = 1,    // recorded as the host's open dialog while it exists
        kBringForward = 2,  // the loader brings it to the foreground when it opens
        kBigIcon = 4,       // the task switcher's icon besides the title bar's
    };
    CParleymDlg(UINT templateId, IDialogHost* host, HWND parent, unsigned traits);

    BOOL OnInitDialog() override;
    void OnDestroy() override;
    bool OnDialogMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    IDialogHost* Host() const { return host_; }

    // For a dialog that shows or changes the data of the account signed in when
    // it opened: it closes when that account signs out or another signs in.
    void BindToAccount();
    // Whether the dialog's account is no longer the one signed in.
    bool AccountChanged() const;
    // False, after telling the user, when the dialog's account is no longer the
    // one signed in (the change came while a question of the dialog's showed).
    bool StillForItsAccount();
    // The dialog's account signed out: by default the dialog closes as cancelled.
    virtual void OnAccountEnded();

private:
    IDialogHost* host_;
    unsigned traits_;
    bool boundToAccount_ = false;
    unsigned accountSession_ = 0;
};

} // namespace parleym

#pragma once
// What a plug-in dialog needs of whoever opens it: an owner window, the
// one-open-dialog record the loader reads, and the account it was opened for.
#include <windows.h>

namespace parleym {

class IDialogHost {
public:
    // Sent to the open plug-in dialog when the account it may belong to signs out.
    static constexpr UINT kAccountEndedMessage = WM_APP + 29;

    // The owner of dialogs that have no window of their own to sit on.
    virtual HWND HiddenWindow() const = 0;
    // While a dialog is recorded the loader keeps the plug-in loaded and
    // brings that dialog forward instead of opening another.
    virtual void SetOpenDialog(HWND dialog) = 0;
    virtual HWND OpenDialog() const = 0;
    // Counts sign-ins and sign-outs: a dialog compares it to tell whether the
    // account it was opened for is still the one signed in.
    virtual unsigned AccountSession() const = 0;
    // Sends to the loader window; 0 when there is none.
    virtual LRESULT SendToLoader(UINT message, WPARAM wParam, LPARAM lParam) = 0;

protected:
    ~IDialogHost() = default;
};

} // namespace parleym

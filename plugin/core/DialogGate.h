#pragma once
// One plug-in dialog at a time: which one is open, whether a command is
// running one now, and bringing the open one forward when another is asked for.
#include <windows.h>

#include <functional>
#include <utility>

namespace parleym {

class CDialogGate {
public:
    // Tells the loader (which shows its own dialogs and brings windows forward).
    using LoaderLink = std::function<void(UINT message, WPARAM wParam, LPARAM lParam)>;

    explicit CDialogGate(LoaderLink toLoader) : toLoader_(std::move(toLoader)) {}

    // Ends the busy mark however the command that runs the dialog ends.
    class Pass {
    public:
        explicit Pass(CDialogGate& gate) : gate_(gate) {}
        ~Pass() { gate_.busy_ = 0; }
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;

    private:
        CDialogGate& gate_;
    };

    // True while a dialog is open: it comes forward instead of a second one.
    bool ForwardOpenDialog();
    // Busy from here until the Pass goes.
    void MarkBusy() { busy_ = 1; }
    Pass ClearWhenDone() { return Pass(*this); }
    int Busy() const { return busy_; }

    HWND OpenDialog() const { return openDialog_; }
    void SetOpenDialog(HWND dialog);
    // A new start: nothing is open, and the loader is told nothing.
    void ForgetOpenDialog() { openDialog_ = nullptr; }

    // Foreground, through the loader too (Windows lets it take the foreground),
    // and a few flashes of the caption so the user sees which window it is.
    void BringForward(HWND window) const;

private:
    LoaderLink toLoader_;
    HWND openDialog_ = nullptr;
    int busy_ = 0;
};

} // namespace parleym

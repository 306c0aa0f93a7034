#pragma once
// Every message box the plug-in shows goes through here, so that tests can
// see text, caption and style without a person clicking.
#include <windows.h>

namespace parleym {

using UserMessageSink = int (*)(HWND owner, const char* text, const char* caption, UINT style);

int ShowUserMessage(HWND owner, const char* text, const char* caption, UINT style);

// Task-modal, no owner: the plug-in's usual form for errors and refusals.
// Inside a DeferredMessages scope it waits (see there) and returns IDOK.
int ShowError(const char* text, const char* caption);
// An error box owned by a window (error icon, OK). It waits like ShowError;
// shown later, a window that has gone meanwhile owns nothing and the box is task-modal.
int ShowOwnedError(HWND owner, const char* text, const char* caption);

// As ShowError with the warning icon: a notice of something the user should know.
int ShowWarning(const char* text, const char* caption);

// Why a dialog's action was refused: the account it was opened for signed out.
constexpr char kAccountChangedText[] =
    "The account this was opened for has signed out. Nothing was changed.";

// A box keeps dispatching messages, so a messenger event arriving while one
// shows could delete the handler whose save raised it, or rebuild the viewer
// inside its own notification. While a scope is open, errors wait; they are
// shown, in order and unchanged, when the outermost scope closes, i.e. once
// the call that raised them has returned.
class DeferredMessages {
public:
    enum Closing { kShowWhenOutermost, kKeepWaiting };
    // kKeepWaiting is for a notification sent from inside a control's own work:
    // the caller arranges ShowWaitingMessages once the control has finished.
    explicit DeferredMessages(Closing closing = kShowWhenOutermost);
    ~DeferredMessages();
    DeferredMessages(const DeferredMessages&) = delete;
    DeferredMessages& operator=(const DeferredMessages&) = delete;

private:
    Closing closing_;
};

// While the messenger is locked errors wait as well, since a task-modal box
// would take the unlock dialog away; but the lock's own dialogs run their
// loops as usual, so this is no DeferredMessages scope: boxes they own show.
class MessagesHeldWhileLocked {
public:
    MessagesHeldWhileLocked();
    ~MessagesHeldWhileLocked();
    MessagesHeldWhileLocked(const MessagesHeldWhileLocked&) = delete;
    MessagesHeldWhileLocked& operator=(const MessagesHeldWhileLocked&) = delete;
};

bool HasWaitingMessages();
// True while a scope is open: errors wait, and a box shown directly now would
// run a modal loop in the middle of the plug-in's own work.
bool MessagesDeferred();
// Shows what waits, unless a scope or hold is still open (its end shows them then).
void ShowWaitingMessages();

// Replaces MessageBoxA; pass nullptr to restore it. Returns the previous sink.
UserMessageSink SetUserMessageSink(UserMessageSink sink);

} // namespace parleym

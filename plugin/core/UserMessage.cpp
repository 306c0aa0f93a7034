#include "plugin/core/UserMessage.h"

#include <deque>
#include <string>

namespace parleym {
namespace {

struct WaitingMessage {
    std::string text;
    std::string caption;
    HWND owner;
    UINT icon;
};

UserMessageSink g_sink = nullptr;
int g_scopes = 0;
int g_holds = 0;
bool g_showing = false;
std::deque<WaitingMessage>& Waiting() {
    static std::deque<WaitingMessage> waiting;
    return waiting;
}

// A box with an owner is modal to it; one without is task-modal.
UINT StyleFor(HWND owner, UINT icon) { return (owner ? 0u : static_cast<UINT>(MB_TASKMODAL)) | icon | MB_OK; }

int ShowOrWait(HWND owner, const char* text, const char* caption, UINT icon) {
    if (g_scopes > 0 || g_holds > 0) {
        Waiting().push_back({text ? text : "", caption ? caption : "", owner, icon});
        return IDOK;
    }
    return ShowUserMessage(owner, text, caption, StyleFor(owner, icon));
}

} // namespace

int ShowUserMessage(HWND owner, const char* text, const char* caption, UINT style) {
    if (g_sink) return g_sink(owner, text, caption, style);
    return MessageBoxA(owner, text, caption, style);
}

int ShowError(const char* text, const char* caption) { return ShowOrWait(nullptr, text, caption, MB_ICONERROR); }

int ShowWarning(const char* text, const char* caption) { return ShowOrWait(nullptr, text, caption, MB_ICONWARNING); }

int ShowOwnedError(HWND owner, const char* text, const char* caption) {
    return ShowOrWait(owner, text, caption, MB_ICONERROR);
}

DeferredMessages::DeferredMessages(Closing closing) : closing_(closing) { ++g_scopes; }

DeferredMessages::~DeferredMessages() {
    if (--g_scopes == 0 && closing_ == kShowWhenOutermost) ShowWaitingMessages();
}

MessagesHeldWhileLocked::MessagesHeldWhileLocked() { ++g_holds; }

MessagesHeldWhileLocked::~MessagesHeldWhileLocked() {
    if (--g_holds == 0) ShowWaitingMessages();
}

bool HasWaitingMessages() { return !Waiting().empty(); }
bool MessagesDeferred() { return g_scopes > 0; }

void ShowWaitingMessages() {
    if (g_scopes > 0 || g_holds > 0 || g_showing) return;
    // Calls made while these boxes show add to the queue; this loop shows them too.
    g_showing = true;
    try {
        while (!Waiting().empty()) {
            const WaitingMessage message = Waiting().front();
            Waiting().pop_front();
            const HWND owner = message.owner && IsWindow(message.owner) ? message.owner : nullptr;
            ShowUserMessage(owner, message.text.c_str(), message.caption.c_str(), StyleFor(owner, message.icon));
        }
    } catch (...) {
    }
    g_showing = false;
}

UserMessageSink SetUserMessageSink(UserMessageSink sink) {
    UserMessageSink previous = g_sink;
    g_sink = sink;
    return previous;
}

} // namespace parleym

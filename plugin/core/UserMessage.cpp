#include "plugin/core/UserMessage.h"

#include <deque>
#include <string>

namespace parleym {
namespace {

struct WaitingMessage {
    std::string text;
    std::string caption;
    UINT style;
};

UserMessageSink g_sink = nullptr;
int g_scopes = 0;
bool g_showing = false;
std::deque<WaitingMessage>& Waiting() {
    static std::deque<WaitingMessage> waiting;
    return waiting;
}

constexpr UINT kErrorStyle = MB_TASKMODAL | MB_ICONERROR | MB_OK;
constexpr UINT kWarningStyle = MB_TASKMODAL | MB_ICONWARNING | MB_OK;

int ShowTaskModal(const char* text, const char* caption, UINT style) {
    if (g_scopes > 0) {
        Waiting().push_back({text ? text : "", caption ? caption : "", style});
        return IDOK;
    }
    return ShowUserMessage(nullptr, text, caption, style);
}

} // namespace

int ShowUserMessage(HWND owner, const char* text, const char* caption, UINT style) {
    if (g_sink) return g_sink(owner, text, caption, style);
    return MessageBoxA(owner, text, caption, style);
}

int ShowError(const char* text, const char* caption) { return ShowTaskModal(text, caption, kErrorStyle); }

int ShowWarning(const char* text, const char* caption) { return ShowTaskModal(text, caption, kWarningStyle); }

DeferredMessages::DeferredMessages(Closing closing) : closing_(closing) { ++g_scopes; }

DeferredMessages::~DeferredMessages() {
    if (--g_scopes == 0 && closing_ == kShowWhenOutermost) ShowWaitingMessages();
}

bool HasWaitingMessages() { return !Waiting().empty(); }

void ShowWaitingMessages() {
    if (g_scopes > 0 || g_showing) return;
    // Calls made while these boxes show add to the queue; this loop shows them too.
    g_showing = true;
    try {
        while (!Waiting().empty()) {
            const WaitingMessage message = Waiting().front();
            Waiting().pop_front();
            ShowUserMessage(nullptr, message.text.c_str(), message.caption.c_str(), message.style);
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

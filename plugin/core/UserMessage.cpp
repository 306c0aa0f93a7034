#include "plugin/core/UserMessage.h"

namespace parleym {
namespace {
UserMessageSink g_sink = nullptr;
}

int ShowUserMessage(HWND owner, const char* text, const char* caption, UINT style) {
    if (g_sink) return g_sink(owner, text, caption, style);
    return MessageBoxA(owner, text, caption, style);
}

UserMessageSink SetUserMessageSink(UserMessageSink sink) {
    UserMessageSink previous = g_sink;
    g_sink = sink;
    return previous;
}

} // namespace parleym

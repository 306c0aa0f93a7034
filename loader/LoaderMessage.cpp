#include "loader/LoaderMessage.h"

namespace parleym {
namespace {
LoaderMessageSink g_sink = nullptr;
}

int ShowLoaderMessage(HWND owner, const char* text, const char* caption, UINT style) {
    if (g_sink) return g_sink(owner, text, caption, style);
    return MessageBoxA(owner, text, caption, style);
}

LoaderMessageSink SetLoaderMessageSink(LoaderMessageSink sink) {
    LoaderMessageSink previous = g_sink;
    g_sink = sink;
    return previous;
}

} // namespace parleym

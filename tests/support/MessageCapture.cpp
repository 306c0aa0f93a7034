#include "tests/support/MessageCapture.h"

namespace parleym::test {
namespace {
MessageCapture* g_current = nullptr;
}

MessageCapture::MessageCapture(SinkSetter install)
    : install_(install), outer_(g_current), previous_(install(&MessageCapture::Record)) {
    g_current = this;
}

MessageCapture::~MessageCapture() {
    g_current = outer_;
    install_(previous_);
}

int MessageCapture::Record(HWND owner, const char* text, const char* caption, UINT style) {
    MessageCapture* capture = g_current;
    capture->messages_.push_back({text ? text : "", caption ? caption : "", style, owner});
    // A copy: the action may replace itself.
    if (capture->onShow_) {
        const std::function<void(const ShownMessage&)> action = capture->onShow_;
        const ShownMessage shown = capture->messages_.back();
        action(shown);
    }
    return capture->answer_;
}

} // namespace parleym::test

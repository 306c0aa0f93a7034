#pragma once
// Message boxes the plug-in (plugin/core/UserMessage.h) or the loader
// (loader/LoaderMessage.h) shows, recorded instead of shown. Richer captures
// (answers, actions while a box shows, checks on what was shown) are built on this one.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "plugin/core/UserMessage.h"

namespace parleym::test {

struct ShownMessage {
    std::string text;
    std::string caption;
    UINT style = 0;
    HWND owner = nullptr;
};

// Captures every box while alive; the innermost of nested captures gets them.
class MessageCapture {
public:
    // The plug-in's and the loader's sinks have this one form.
    using SinkSetter = UserMessageSink (*)(UserMessageSink sink);

    explicit MessageCapture(SinkSetter install = &SetUserMessageSink);
    ~MessageCapture();  // the sink it replaced comes back
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    std::vector<ShownMessage>& Messages() { return messages_; }
    const std::vector<ShownMessage>& Messages() const { return messages_; }
    void Clear() { messages_.clear(); }
    // What the boxes return; IDOK until set.
    void Answer(int answer) { answer_ = answer; }
    // Runs for each box once it is recorded, also for one shown from inside the action.
    void OnShow(std::function<void(const ShownMessage&)> action) { onShow_ = std::move(action); }

private:
    static int Record(HWND owner, const char* text, const char* caption, UINT style);

    std::vector<ShownMessage> messages_;
    int answer_ = IDOK;
    std::function<void(const ShownMessage&)> onShow_;
    SinkSetter install_;
    MessageCapture* outer_;
    UserMessageSink previous_;
};

} // namespace parleym::test

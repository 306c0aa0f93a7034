#pragma once
// What the user has typed into a conversation window's input and not sent:
// taken out while the plug-in uses the input for text of its own (kept
// messages being sent or shown) and put back afterwards, pictures and all.
#include <windows.h>

#include "plugin/storage/MessageContent.h"

namespace parleym {

class CObjectCache;

class CInputDraft {
public:
    // Takes what the input holds; the input is empty afterwards.
    CInputDraft(CObjectCache* cache, HWND input);
    // Puts it back unless Restore did.
    ~CInputDraft();
    CInputDraft(const CInputDraft&) = delete;
    CInputDraft& operator=(const CInputDraft&) = delete;

    // Alone in an empty input, else after what the input holds now. Nothing
    // when the input has gone.
    void Restore();
    bool IsEmpty() const { return !held_; }

private:
    CObjectCache* cache_;
    HWND input_;
    CMessageContent content_;
    bool held_ = false;
};

// The input holds something to send: text other than blanks and line ends, or a picture.
bool HoldsMessage(HWND input);

} // namespace parleym

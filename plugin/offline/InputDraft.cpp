#include "plugin/offline/InputDraft.h"

#include <richedit.h>
#include <richole.h>

#include <string>

#include "plugin/storage/Scoped.h"
#include "plugin/storage/RichEditBridge.h"

namespace parleym {
namespace {

bool HoldsText(HWND input, bool blanksCount) {
    const int length = GetWindowTextLengthW(input);
    if (length <= 0) return false;
    if (blanksCount) return true;
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(input, &text[0], length + 1)));
    // A picture reads as U+FFFC on Windows and as a blank on Wine: HoldsPicture tells.
    return text.find_first_not_of(L" \t\r\n\v\xFFFC") != std::wstring::npos;
}

bool HoldsPicture(HWND input) {
    ComPtr<IRichEditOle> ole;
    SendMessageW(input, EM_GETOLEINTERFACE, 0, reinterpret_cast<LPARAM>(ole.Put()));
    return ole && ole->GetObjectCount() > 0;
}

} // namespace

CInputDraft::CInputDraft(CObjectCache* cache, HWND input) : cache_(cache), input_(input) {
    if (!input_ || !IsWindow(input_) || (!HoldsText(input_, true) && !HoldsPicture(input_))) return;
    CRichEditBridge bridge(cache_, input_, true);
    bridge.Capture(content_, true, true, false);
    bridge.Release();
    held_ = true;
    SetWindowTextW(input_, L"");
}

CInputDraft::~CInputDraft() {
    try {
        Restore();
    } catch (...) {
    }
}

void CInputDraft::Restore() {
    if (!held_) return;
    held_ = false;
    if (!input_ || !IsWindow(input_)) return;
    const bool append = HoldsText(input_, true) || HoldsPicture(input_);
    CRichEditBridge bridge(cache_, input_, true);
    bridge.Replay(content_, append);
    bridge.Release();
}

bool HoldsMessage(HWND input) { return input && (HoldsText(input, false) || HoldsPicture(input)); }

} // namespace parleym

#pragma once
// Moves message content between a rich-edit control and a CMessageContent:
// capture (control -> content) and replay (content -> control), with embedded
// objects going through the object cache by key.
#include <windows.h>
#include <richole.h>

#include <string>

#include "plugin/storage/Scoped.h"

namespace parleym {

class CMessageContent;
class CObjectCache;

class CapturedObjectKeys;

// Characters in a rich-edit control, as character positions count them.
LONG HistoryTextLength(HWND control);

class CRichEditBridge {
public:
    // A borrowed bridge leaves the control's objects alone in Release: the
    // control belongs to someone else (the messenger, the log viewer's pane).
    CRichEditBridge(CObjectCache* objectCache, HWND control, bool borrowed);
    CRichEditBridge(const CRichEditBridge&) = delete;
    CRichEditBridge& operator=(const CRichEditBridge&) = delete;
    virtual ~CRichEditBridge();

    // Empties `content`, then takes the control's text (RTF without objects or
    // plain text) and, when asked, the embedded objects with their positions.
    // With selectionOnly the text and positions are relative to the selection.
    // `known`, when given, remembers the keys of the objects captured so far
    // from this control, which then skip the object cache. 0 (and no text) when
    // the control's stream-out failed, else 1.
    int Capture(CMessageContent& content, bool withObjects, bool asRtf, bool selectionOnly,
                CapturedObjectKeys* known = nullptr);
    // As Capture, but only from character position `start` to the end. The
    // control's own selection and scroll position are put back afterwards.
    int CaptureFrom(LONG start, CMessageContent& content, bool withObjects, bool asRtf,
                    CapturedObjectKeys* known = nullptr);

    // Puts the text in (replacing everything, or after the existing text when
    // appending) and the objects back over their placeholders.
    int Replay(const CMessageContent& content, bool append);

    // Closes the control's objects unless borrowed, and lets go of the
    // control's OLE interface.
    void Release();

    HWND Control() const { return control_; }
    bool HasOleInterface() const { return static_cast<bool>(ole_); }

private:
    void CaptureObjects(CMessageContent& content, bool selectionOnly, CapturedObjectKeys* known);
    void InsertObjectAt(const std::string& key, LONG characterPosition);
    LONG MoveToEnd();

    CObjectCache* objectCache_;
    HWND control_;
    ComPtr<IRichEditOle> ole_;
    bool borrowed_;
};

} // namespace parleym

#include "plugin/storage/RichEditBridge.h"

#include <richedit.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "plugin/logging/ObjectCache.h"
#include "plugin/storage/CapturedObjectKeys.h"
#include "plugin/storage/MessageContent.h"
#include "shared/SwallowedFailure.h"

namespace parleym {

namespace {

// Ends the stream-in once everything has been delivered.
constexpr DWORD kStreamInFinished = 38;

struct StreamInSource {
    const std::string* text;
    size_t delivered;
};

DWORD CALLBACK AppendStreamedOut(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* written) {
    try {
        auto* text = reinterpret_cast<std::string*>(cookie);
        if (size > 0) text->append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(size));
        *written = size;
        return 0;
    } catch (...) {
        ReportSwallowed("rich edit stream-out callback");
        *written = 0;
        return 1;
    }
}

DWORD CALLBACK DeliverStreamIn(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* read) {
    auto* source = reinterpret_cast<StreamInSource*>(cookie);
    const size_t remaining = source->text->size() - source->delivered;
    if (remaining == 0 || size <= 0) {
        *read = 0;
        return kStreamInFinished;
    }
    const size_t chunk = std::min(remaining, static_cast<size_t>(size));
    std::memcpy(buffer, source->text->data() + source->delivered, chunk);
    source->delivered += chunk;
    *read = static_cast<LONG>(chunk);
    return 0;
}

void StreamIn(HWND control, const std::string& text, WPARAM format) {
    StreamInSource source{&text, 0};
    EDITSTREAM stream{};
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(&source);
    stream.pfnCallback = DeliverStreamIn;
    SendMessageA(control, EM_STREAMIN, format, reinterpret_cast<LPARAM>(&stream));
}

} // namespace

LONG HistoryTextLength(HWND control) {
    if (!control || !IsWindow(control)) return 0;
    GETTEXTLENGTHEX how{GTL_NUMCHARS, 1200};
    const LRESULT length = SendMessageA(control, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&how), 0);
    return length > 0 ? static_cast<LONG>(length) : 0;
}

CRichEditBridge::CRichEditBridge(CObjectCache* objectCache, HWND control, bool borrowed)
    : objectCache_(objectCache), control_(control), borrowed_(borrowed) {
    IRichEditOle* ole = nullptr;
    if (control_ && SendMessageA(control_, EM_GETOLEINTERFACE, 0, reinterpret_cast<LPARAM>(&ole)) && ole)
        ole_ = ComPtr<IRichEditOle>(ole);
}

CRichEditBridge::~CRichEditBridge() {
    ole_.Reset();
}

int CRichEditBridge::Capture(CMessageContent& content, bool withObjects, bool asRtf, bool selectionOnly,
                             CapturedObjectKeys* known) {
    content.text.clear();
    content.objects.clear();

    WPARAM format = asRtf ? SF_RTFNOOBJS : SF_TEXTIZED;
    if (!asRtf) content.isRtf = 0;
    if (selectionOnly) format |= SFF_SELECTION;

    EDITSTREAM stream{};
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(&content.text);
    stream.pfnCallback = AppendStreamedOut;
    SendMessageA(control_, EM_STREAMOUT, format, reinterpret_cast<LPARAM>(&stream));
    if (stream.dwError != 0) {
        // A stream that stopped part way is no copy of the text: nobody may save it as one.
        content.text.clear();
        return 0;
    }

    if (ole_ && withObjects) CaptureObjects(content, selectionOnly, known);
    return 1;
}

int CRichEditBridge::CaptureFrom(LONG start, CMessageContent& content, bool withObjects, bool asRtf,
                                 CapturedObjectKeys* known) {
    if (start <= 0) return Capture(content, withObjects, asRtf, false, known);
    CHARRANGE kept{};
    SendMessageA(control_, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&kept));
    POINT scrolled{};
    SendMessageA(control_, EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scrolled));
    CHARRANGE part{start, -1};
    SendMessageA(control_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&part));
    const int result = Capture(content, withObjects, asRtf, true, known);
    SendMessageA(control_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&kept));
    SendMessageA(control_, EM_SETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scrolled));
    return result;
}

void CRichEditBridge::CaptureObjects(CMessageContent& content, bool selectionOnly, CapturedObjectKeys* known) {
    if (known) known->UseWith(objectCache_, objectCache_ ? objectCache_->Opening() : 0);
    const LONG count = ole_->GetObjectCount();
    CHARRANGE selection{};
    SendMessageA(control_, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));

    // An object the cache cannot take (not a picture of the kind it stores) keeps
    // its placeholder; the pictures after it are still captured.
    for (LONG index = 0; index < count; ++index) {
        REOBJECT description{};
        description.cbStruct = sizeof(description);
        if (FAILED(ole_->GetObject(index, &description, REO_GETOBJ_POLEOBJ)) || !description.poleobj) continue;
        ComPtr<IOleObject> object(description.poleobj);

        LONG position = description.cp;
        if (selectionOnly) {
            // The character at the selection's end is not part of the captured text.
            if (position < selection.cpMin || position >= selection.cpMax) continue;
            position -= selection.cpMin;
        }

        ComPtr<IUnknown> identity;
        if (known) QueryInterface(object, identity);
        if (const std::string* key = identity ? known->Find(identity.Get()) : nullptr) {
            content.AddObject(position, *key);
            continue;
        }
        ComPtr<IPersistStorage> persist;
        if (FAILED(QueryInterface(object, persist)) || !persist)
            continue;
        std::string key;
        if (!objectCache_ || !objectCache_->Add(persist.Get(), key)) continue;
        if (identity) known->Remember(identity.Get(), key);
        content.AddObject(position, key);
    }
}

LONG CRichEditBridge::MoveToEnd() {
    SendMessageA(control_, EM_SETSEL, 0, -1);
    SendMessageA(control_, EM_SETSEL, static_cast<WPARAM>(-1), -1);
    CHARRANGE selection{};
    SendMessageA(control_, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    return selection.cpMin;
}

int CRichEditBridge::Replay(const CMessageContent& content, bool append) {
    LONG base = 0;
    if (content.isRtf) {
        if (append) {
            base = MoveToEnd();
            StreamIn(control_, content.text, SFF_SELECTION | SF_RTF);
        } else if (content.text.empty()) {
            // An empty stream is refused as invalid RTF; the result must still be an empty control.
            SetWindowTextA(control_, "");
        } else {
            StreamIn(control_, content.text, SF_RTF);
        }
    } else if (append) {
        base = MoveToEnd();
        SendMessageA(control_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(content.text.c_str()));
    } else {
        SetWindowTextA(control_, content.text.c_str());
    }

    if (ole_) {
        for (const MessageObjectRef& reference : content.objects)
            InsertObjectAt(reference.key, base + reference.position);
    }
    return 1;
}

void CRichEditBridge::InsertObjectAt(const std::string& key, LONG characterPosition) {
    if (!objectCache_) return;
    CLSID classId{};
    IStorage* storage = objectCache_->Lookup(key, classId);
    if (!storage) return;

    ComPtr<IPersistStorage> persist;
    if (FAILED(CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER, IID_IPersistStorage,
                                reinterpret_cast<void**>(persist.Put()))) ||
        !persist)
        return;
    if (FAILED(persist->Load(storage))) return;
    ComPtr<IOleObject> object;
    if (FAILED(QueryInterface(persist, object)) || !object) return;

    ComPtr<IOleClientSite> site;
    if (FAILED(ole_->GetClientSite(site.Put())) || !site) return;

    SendMessageA(control_, EM_SETSEL, characterPosition, characterPosition + 1);
    REOBJECT description{};
    description.cbStruct = sizeof(description);
    description.cp = REO_CP_SELECTION;
    description.clsid = classId;
    description.poleobj = object.Get();
    description.polesite = site.Get();
    description.dvaspect = DVASPECT_CONTENT;
    ole_->InsertObject(&description);
}

void CRichEditBridge::Release() {
    if (!ole_) return;
    if (!borrowed_) {
        const LONG count = ole_->GetObjectCount();
        for (LONG index = 0; index < count; ++index) {
            REOBJECT description{};
            description.cbStruct = sizeof(description);
            if (FAILED(ole_->GetObject(index, &description, REO_GETOBJ_POLEOBJ)) || !description.poleobj) continue;
            ComPtr<IOleObject> object(description.poleobj);
            if (description.dwFlags != 0) {
                ComPtr<IOleInPlaceObject> inPlace;
                if (SUCCEEDED(QueryInterface(object, inPlace)) &&
                    inPlace)
                    inPlace->InPlaceDeactivate();
                object->Close(OLECLOSE_NOSAVE);
            }
        }
    }
    // Even a borrowed bridge holds its own reference to the control's interface.
    ole_.Reset();
}

} // namespace parleym

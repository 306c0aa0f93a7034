#include "testbench/standin/RichEditText.h"

#include "testbench/standin/ComSupport.h"
#include "testbench/standin/EmoticonObject.h"
#include "testbench/standin/EmoticonTable.h"
#include "testbench/standin/TextUtil.h"

#include <richedit.h>
#include <richole.h>

namespace standin {

namespace {

ComRef<IRichEditOle> OleOf(HWND richEdit) {
    ComRef<IRichEditOle> ole;
    SendMessageW(richEdit, EM_GETOLEINTERFACE, 0, reinterpret_cast<LPARAM>(ole.Out()));
    return ole;
}

void ReplaceSelection(HWND richEdit, const std::string& text) {
    std::wstring wide = Widen(text);
    SendMessageW(richEdit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide.c_str()));
}

bool InsertEmoticon(IRichEditOle* ole, int picture) {
    ComRef<IOleObject> object;
    if (FAILED(CreateEmoticonObject(picture, object.Out()))) return false;
    ComRef<ILockBytes> bytes;
    if (FAILED(CreateILockBytesOnHGlobal(nullptr, TRUE, bytes.Out()))) return false;
    ComRef<IStorage> storage;
    if (FAILED(StgCreateDocfileOnILockBytes(bytes.Get(), STGM_SHARE_EXCLUSIVE | STGM_CREATE | STGM_READWRITE, 0,
                                            storage.Out())))
        return false;
    ComRef<IOleClientSite> site;
    if (FAILED(ole->GetClientSite(site.Out()))) return false;
    object->SetClientSite(site.Get());
    REOBJECT reo = {};
    reo.cbStruct = sizeof reo;
    reo.cp = REO_CP_SELECTION;
    reo.clsid = CLSID_StandinEmoticon;
    reo.poleobj = object.Get();
    reo.pstg = storage.Get();
    reo.polesite = site.Get();
    reo.dvaspect = DVASPECT_CONTENT;
    reo.dwFlags = REO_BELOWBASELINE;
    return SUCCEEDED(ole->InsertObject(&reo));
}

}  // namespace

void AppendWithEmoticons(HWND richEdit, const std::string& text) {
    ComRef<IRichEditOle> ole = OleOf(richEdit);
    for (const TextPiece& piece : SplitEmoticons(text)) {
        SendMessageW(richEdit, EM_SETSEL, -1, -1);
        if (piece.picture >= 0 && ole && InsertEmoticon(ole.Get(), piece.picture)) continue;
        ReplaceSelection(richEdit, piece.text);
    }
    SendMessageW(richEdit, EM_SETSEL, -1, -1);
    SendMessageW(richEdit, EM_SCROLLCARET, 0, 0);
}

namespace {

// The format of what is inserted next at the (empty) selection: the colour, and
// the system's character set, as the messengers set the one each message
// carries (so the control writes it in that code page; Wine's control would
// otherwise write what the font's set lacks by best fit, losing letters).
void SetInsertionColour(HWND richEdit, COLORREF colour) {
    CHARSETINFO charset = {};
    const bool known = TranslateCharsetInfo(reinterpret_cast<DWORD*>(static_cast<ULONG_PTR>(GetACP())), &charset,
                                            TCI_SRCCODEPAGE) != FALSE;
    CHARFORMAT2W format = {};
    format.cbSize = sizeof format;
    format.dwMask = CFM_COLOR | (known ? CFM_CHARSET : 0);
    format.crTextColor = colour;
    format.bCharSet = static_cast<BYTE>(charset.ciCharset);
    SendMessageW(richEdit, EM_SETSEL, -1, -1);
    SendMessageW(richEdit, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
}

}  // namespace

void AppendMessage(HWND richEdit, const std::string& leadLine, const std::string& text) {
    SetInsertionColour(richEdit, RGB(0x80, 0x80, 0x80));
    AppendWithEmoticons(richEdit, leadLine);
    SetInsertionColour(richEdit, RGB(0, 0, 0));
    AppendWithEmoticons(richEdit, "\r\n" + text + "\r\n");
}

RichEditContent ReadRichEdit(HWND richEdit) {
    RichEditContent content;
    // An ANSI rich edit answers text messages in ANSI whatever the caller; go by the class,
    // since a Unicode subclass makes IsWindowUnicode say otherwise.
    const bool unicode = !SameText(ClassNameOf(richEdit), "RichEdit20A");
    GETTEXTLENGTHEX lengthQuery = {GTL_NUMCHARS | GTL_PRECISE, unicode ? 1200u : CP_ACP};
    LRESULT length = SendMessageW(richEdit, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&lengthQuery), 0);
    if (length > 0) {
        // Ranges count a paragraph end as one character, as object positions do.
        std::wstring wide;
        if (unicode) {
            wide.assign(static_cast<size_t>(length) + 1, L'\0');
            TEXTRANGEW range = {{0, static_cast<LONG>(length)}, &wide[0]};
            LRESULT got = SendMessageW(richEdit, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
            wide.resize(got > 0 ? static_cast<size_t>(got) : 0);
        } else {
            std::string narrow(static_cast<size_t>(length) * 2 + 1, '\0');
            TEXTRANGEA range = {{0, static_cast<LONG>(length)}, &narrow[0]};
            LRESULT got = SendMessageA(richEdit, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
            narrow.resize(got > 0 ? static_cast<size_t>(got) : 0);
            wide = Widen(narrow);
        }
        for (wchar_t& c : wide) {
            if (c == L'\r') c = L'\n';
            // One character per object keeps positions valid: Windows' placeholder U+FFFC
            // must not turn into several bytes.
            if (c == 0xFFFC) c = L' ';
        }
        content.text = Narrow(wide);
    }
    ComRef<IRichEditOle> ole = OleOf(richEdit);
    if (!ole) return content;
    LONG count = ole->GetObjectCount();
    for (LONG i = 0; i < count; ++i) {
        REOBJECT reo = {};
        reo.cbStruct = sizeof reo;
        if (FAILED(ole->GetObject(i, &reo, REO_GETOBJ_POLEOBJ))) continue;
        EmbeddedObject object;
        object.position = reo.cp;
        object.picture = EmoticonPictureOfObject(reo.poleobj);
        if (reo.poleobj) reo.poleobj->Release();
        content.objects.push_back(object);
    }
    return content;
}

namespace {

std::string Substitute(const RichEditContent& content, bool markers) {
    std::string out;
    size_t next = 0;
    // Positions count characters: a double-byte one is one, as in the control.
    long position = 0;
    for (size_t i = 0; i < content.text.size(); ++i, ++position) {
        const EmbeddedObject* object = nullptr;
        for (size_t k = next; k < content.objects.size(); ++k)
            if (content.objects[k].position == position) object = &content.objects[k];
        if (!object) {
            out += content.text[i];
            if (IsDBCSLeadByte(static_cast<BYTE>(content.text[i])) && i + 1 < content.text.size())
                out += content.text[++i];
            continue;
        }
        std::string code = object->picture >= 0 ? EmoticonCode(object->picture) : std::string("?");
        out += markers ? "{" + code + "}" : code;
    }
    return out;
}

}  // namespace

std::string TextWithCodes(const RichEditContent& content) { return Substitute(content, false); }
std::string TextWithMarkers(const RichEditContent& content) { return Substitute(content, true); }

std::string ObjectList(const RichEditContent& content) {
    std::string out = "[";
    for (size_t i = 0; i < content.objects.size(); ++i) {
        if (i) out += ", ";
        const EmbeddedObject& object = content.objects[i];
        out += std::to_string(object.position) + ":" +
               (object.picture >= 0 ? EmoticonCode(object.picture) : std::string("?"));
    }
    return out + "]";
}

}  // namespace standin

#include "testbench/standin/EmoticonObject.h"

#include "testbench/standin/ComSupport.h"
#include "testbench/standin/EmoticonTable.h"

#include <vector>

namespace standin {

namespace {

// The picture in HIMETRIC units at 96 dots per inch.
constexpr LONG kExtentHimetric = kEmoticonSize * 2540 / 96;

void DrawPicture(HDC dc, const RECT& bounds, int picture) {
    if (picture < 0) return;
    std::vector<uint8_t> pixels = EmoticonPixels(picture);
    // DIB rows are padded to four bytes.
    const int stride = (kEmoticonSize * 3 + 3) & ~3;
    std::vector<uint8_t> dib(static_cast<size_t>(stride * kEmoticonSize));
    for (int y = 0; y < kEmoticonSize; ++y)
        for (int x = 0; x < kEmoticonSize * 3; ++x)
            dib[static_cast<size_t>(y * stride + x)] = pixels[static_cast<size_t>(y * kEmoticonSize * 3 + x)];
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kEmoticonSize;
    info.bmiHeader.biHeight = -kEmoticonSize;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    StretchDIBits(dc, bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, 0, 0,
                  kEmoticonSize, kEmoticonSize, dib.data(), &info, DIB_RGB_COLORS, SRCCOPY);
}

HENHMETAFILE MakeMetafile(int picture) {
    RECT frame = {0, 0, kExtentHimetric, kExtentHimetric};
    HDC dc = CreateEnhMetaFileW(nullptr, nullptr, &frame, nullptr);
    if (!dc) return nullptr;
    RECT bounds = {0, 0, kEmoticonSize, kEmoticonSize};
    DrawPicture(dc, bounds, picture);
    return CloseEnhMetaFile(dc);
}

class EmoticonObject final : public IOleObject,
                             public IViewObject2,
                             public IPersistStorage,
                             public IDataObject,
                             public IStandinEmoticon {
public:
    explicit EmoticonObject(int picture) : picture_(picture) {}

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IOleObject) *out = static_cast<IOleObject*>(this);
        else if (iid == IID_IViewObject || iid == IID_IViewObject2) *out = static_cast<IViewObject2*>(this);
        else if (iid == IID_IPersistStorage || iid == IID_IPersist) *out = static_cast<IPersistStorage*>(this);
        else if (iid == IID_IDataObject) *out = static_cast<IDataObject*>(this);
        else if (iid == IID_IStandinEmoticon) *out = static_cast<IStandinEmoticon*>(this);
        else return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.Add(); }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = refs_.Drop();
        if (left == 0) delete this;
        return left;
    }

    // IStandinEmoticon
    HRESULT STDMETHODCALLTYPE GetPicture(int* picture) override {
        if (!picture) return E_POINTER;
        *picture = picture_;
        return S_OK;
    }

    // IOleObject
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override {
        site_ = ComRef<IOleClientSite>::Share(site);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override {
        if (!site) return E_POINTER;
        *site = ComRef<IOleClientSite>(site_).Detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Close(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DoVerb(LONG, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) override {
        return OLEOBJ_S_CANNOT_DOVERB_NOW;
    }
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB**) override { return OLE_S_USEREG; }
    HRESULT STDMETHODCALLTYPE Update() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE IsUpToDate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* clsid) override {
        if (!clsid) return E_POINTER;
        *clsid = CLSID_StandinEmoticon;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD, LPOLESTR*) override { return OLE_S_USEREG; }
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD, SIZEL*) override { return E_FAIL; }
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD, SIZEL* size) override {
        if (!size) return E_POINTER;
        size->cx = size->cy = kExtentHimetric;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink*, DWORD* connection) override {
        if (connection) *connection = 0;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD, DWORD* status) override {
        if (!status) return E_POINTER;
        *status = OLEMISC_STATIC;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IViewObject2
    HRESULT STDMETHODCALLTYPE Draw(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds, LPCRECTL,
                                   BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) override {
        STANDIN_COM_TRY
        if (!dc || !bounds) return E_INVALIDARG;
        RECT rect = {bounds->left, bounds->top, bounds->right, bounds->bottom};
        DrawPicture(dc, rect, picture_);
        return S_OK;
        STANDIN_COM_CATCH
    }
    HRESULT STDMETHODCALLTYPE GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE**) override {
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Freeze(DWORD, LONG, void*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Unfreeze(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetAdvise(DWORD, DWORD, IAdviseSink*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetAdvise(DWORD*, DWORD*, IAdviseSink** sink) override {
        if (sink) *sink = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD, LONG, DVTARGETDEVICE*, LPSIZEL size) override {
        return static_cast<IOleObject*>(this)->GetExtent(DVASPECT_CONTENT, size);
    }

    // IPersistStorage
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override { return GetUserClassID(clsid); }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE InitNew(IStorage*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Load(IStorage* storage) override {
        STANDIN_COM_TRY
        if (!storage) return E_POINTER;
        ComRef<IStream> stream;
        HRESULT hr = storage->OpenStream(L"CONTENTS", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.Out());
        if (FAILED(hr)) return hr;
        std::vector<uint8_t> data;
        uint8_t chunk[2048];
        for (;;) {
            ULONG got = 0;
            hr = stream->Read(chunk, sizeof chunk, &got);
            if (FAILED(hr)) return hr;
            if (got == 0) break;
            data.insert(data.end(), chunk, chunk + got);
        }
        int picture = ParseEmoticonContents(data);
        if (picture < 0) return STG_E_READFAULT;
        picture_ = picture;
        return S_OK;
        STANDIN_COM_CATCH
    }
    HRESULT STDMETHODCALLTYPE Save(IStorage* storage, BOOL) override {
        STANDIN_COM_TRY
        if (!storage) return E_POINTER;
        if (picture_ < 0) return E_UNEXPECTED;
        WriteClassStg(storage, CLSID_StandinEmoticon);
        ComRef<IStream> stream;
        HRESULT hr =
            storage->CreateStream(L"CONTENTS", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, stream.Out());
        if (FAILED(hr)) return hr;
        std::vector<uint8_t> data = EmoticonContents(picture_);
        ULONG written = 0;
        hr = stream->Write(data.data(), static_cast<ULONG>(data.size()), &written);
        if (FAILED(hr)) return hr;
        return written == data.size() ? S_OK : STG_E_WRITEFAULT;
        STANDIN_COM_CATCH
    }
    HRESULT STDMETHODCALLTYPE SaveCompleted(IStorage*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE HandsOffStorage() override { return S_OK; }

    // IDataObject: only the enhanced metafile of the picture.
    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
        STANDIN_COM_TRY
        if (!format || !medium) return E_POINTER;
        HRESULT hr = QueryGetData(format);
        if (hr != S_OK) return hr;
        HENHMETAFILE metafile = MakeMetafile(picture_);
        if (!metafile) return E_OUTOFMEMORY;
        medium->tymed = TYMED_ENHMF;
        medium->hEnhMetaFile = metafile;
        medium->pUnkForRelease = nullptr;
        return S_OK;
        STANDIN_COM_CATCH
    }
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override {
        if (!format) return E_POINTER;
        if (format->cfFormat != CF_ENHMETAFILE) return DV_E_FORMATETC;
        if (!(format->tymed & TYMED_ENHMF)) return DV_E_TYMED;
        return picture_ < 0 ? OLE_E_BLANK : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
        if (out) out->ptd = nullptr;
        return DATA_S_SAMEFORMATETC;
    }
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    ~EmoticonObject() = default;

    RefCount refs_;
    int picture_;
    ComRef<IOleClientSite> site_;
};

class EmoticonFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    // Lives as long as the process: it is a static object.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        STANDIN_COM_TRY
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        ComRef<EmoticonObject> object(new EmoticonObject(-1));
        return static_cast<IOleObject*>(object.Get())->QueryInterface(iid, out);
        STANDIN_COM_CATCH
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

EmoticonFactory g_factory;
DWORD g_registration = 0;

}  // namespace

HRESULT CreateEmoticonObject(int picture, IOleObject** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    try {
        *object = new EmoticonObject(picture);
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

int EmoticonPictureOfObject(IUnknown* object) {
    if (!object) return -1;
    ComRef<IStandinEmoticon> emoticon;
    if (FAILED(object->QueryInterface(IID_IStandinEmoticon, reinterpret_cast<void**>(emoticon.Out())))) return -1;
    int picture = -1;
    emoticon->GetPicture(&picture);
    return picture;
}

HRESULT RegisterEmoticonClass() {
    if (g_registration) return S_OK;
    return CoRegisterClassObject(CLSID_StandinEmoticon, &g_factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                 &g_registration);
}

void RevokeEmoticonClass() {
    if (g_registration) CoRevokeClassObject(std::exchange(g_registration, 0));
}

}  // namespace standin

#include "tests/logging/TestPictureObject.h"

#include <richedit.h>
#include <richole.h>

#include <atomic>

namespace parleym_test {

// {6B1A2C1E-53D4-4F8B-9E07-2A4D61C0B7A1}
const CLSID kTestPictureClassId = {0x6b1a2c1e, 0x53d4, 0x4f8b, {0x9e, 0x07, 0x2a, 0x4d, 0x61, 0xc0, 0xb7, 0xa1}};
// Private interface id used only to recognise our own objects.
static const IID kTestPictureIid = {0x6b1a2c1f, 0x53d4, 0x4f8b, {0x9e, 0x07, 0x2a, 0x4d, 0x61, 0xc0, 0xb7, 0xa1}};

namespace {

class TestPicture : public IOleObject, public IPersistStorage, public IDataObject {
public:
    explicit TestPicture(std::string name) : name_(std::move(name)) {}

    const std::string& Name() const { return name_; }
    int CloseCount() const { return closeCount_; }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IOleObject) *out = static_cast<IOleObject*>(this);
        else if (iid == IID_IPersistStorage || iid == IID_IPersist) *out = static_cast<IPersistStorage*>(this);
        else if (iid == IID_IDataObject) *out = static_cast<IDataObject*>(this);
        else if (iid == kTestPictureIid) *out = this;
        else return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override {
        if (site) site->AddRef();
        if (site_) site_->Release();
        site_ = site;
        return S_OK;
    }
    STDMETHODIMP GetClientSite(IOleClientSite** site) override {
        if (!site) return E_POINTER;
        *site = site_;
        if (site_) site_->AddRef();
        return S_OK;
    }
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP Close(DWORD) override {
        ++closeCount_;
        return S_OK;
    }
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
    STDMETHODIMP DoVerb(LONG, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) override { return E_NOTIMPL; }
    STDMETHODIMP EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
    STDMETHODIMP Update() override { return S_OK; }
    STDMETHODIMP IsUpToDate() override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID* id) override {
        *id = kTestPictureClassId;
        return S_OK;
    }
    STDMETHODIMP GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SetExtent(DWORD, SIZEL*) override { return S_OK; }
    STDMETHODIMP GetExtent(DWORD, SIZEL* size) override {
        size->cx = 500;  // HIMETRIC, about 19 pixels
        size->cy = 500;
        return S_OK;
    }
    STDMETHODIMP Advise(IAdviseSink*, DWORD* connection) override {
        *connection = 1;
        return S_OK;
    }
    STDMETHODIMP Unadvise(DWORD) override { return S_OK; }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMiscStatus(DWORD, DWORD* status) override {
        *status = 0;
        return S_OK;
    }
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IPersistStorage
    STDMETHODIMP GetClassID(CLSID* id) override {
        *id = kTestPictureClassId;
        return S_OK;
    }
    STDMETHODIMP IsDirty() override { return S_FALSE; }
    STDMETHODIMP InitNew(IStorage*) override { return S_OK; }
    STDMETHODIMP Load(IStorage* storage) override {
        IStream* stream = nullptr;
        HRESULT hr = storage->OpenStream(L"CONTENTS", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream);
        if (FAILED(hr)) return hr;
        char buffer[256];
        ULONG read = 0;
        hr = stream->Read(buffer, sizeof(buffer), &read);
        stream->Release();
        if (FAILED(hr)) return hr;
        name_.assign(buffer, read);
        return S_OK;
    }
    STDMETHODIMP Save(IStorage* storage, BOOL) override {
        // A name starting with '!' stands for an object that keeps no picture data.
        const wchar_t* streamName = !name_.empty() && name_[0] == '!' ? L"OTHER" : L"CONTENTS";
        IStream* stream = nullptr;
        HRESULT hr = storage->CreateStream(streamName, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                           &stream);
        if (FAILED(hr)) return hr;
        ULONG written = 0;
        hr = stream->Write(name_.data(), static_cast<ULONG>(name_.size()), &written);
        stream->Release();
        return hr;
    }
    STDMETHODIMP SaveCompleted(IStorage*) override { return S_OK; }
    STDMETHODIMP HandsOffStorage() override { return S_OK; }

    // IDataObject: an enhanced metafile of a filled square.
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override {
        if (!format || !medium) return E_POINTER;
        if (format->cfFormat != CF_ENHMETAFILE || !(format->tymed & TYMED_ENHMF)) return DV_E_FORMATETC;
        RECT bounds{0, 0, 500, 500};
        HDC dc = CreateEnhMetaFileA(nullptr, nullptr, &bounds, nullptr);
        if (!dc) return E_OUTOFMEMORY;
        RECT square{0, 0, 16, 16};
        HBRUSH brush = CreateSolidBrush(RGB(240, 200, static_cast<BYTE>(name_.size() * 40)));
        FillRect(dc, &square, brush);
        DeleteObject(brush);
        medium->tymed = TYMED_ENHMF;
        medium->hEnhMetaFile = CloseEnhMetaFile(dc);
        medium->pUnkForRelease = nullptr;
        return medium->hEnhMetaFile ? S_OK : E_FAIL;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC* format) override {
        return format && format->cfFormat == CF_ENHMETAFILE ? S_OK : DV_E_FORMATETC;
    }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
        if (out) out->ptd = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    virtual ~TestPicture() {
        if (site_) site_->Release();
    }

    std::atomic<ULONG> references_{1};
    std::string name_;
    IOleClientSite* site_ = nullptr;
    int closeCount_ = 0;
};

class TestPictureFactory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* picture = new TestPicture("");
        HRESULT hr = picture->QueryInterface(iid, out);
        picture->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

TestPictureFactory g_factory;

} // namespace

TestPictureClassRegistration::TestPictureClassRegistration() {
    CoRegisterClassObject(kTestPictureClassId, &g_factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
}

TestPictureClassRegistration::~TestPictureClassRegistration() {
    if (cookie_) CoRevokeClassObject(cookie_);
}

IOleObject* CreateTestPicture(const std::string& pictureName) {
    return new TestPicture(pictureName);
}

std::string PictureNameOf(IUnknown* object) {
    void* own = nullptr;
    if (!object || FAILED(object->QueryInterface(kTestPictureIid, &own)) || !own) return "";
    auto* picture = static_cast<TestPicture*>(static_cast<IOleObject*>(own));
    std::string name = picture->Name();
    picture->Release();
    return name;
}

int CloseCountOf(IUnknown* object) {
    void* own = nullptr;
    if (!object || FAILED(object->QueryInterface(kTestPictureIid, &own)) || !own) return -1;
    auto* picture = static_cast<TestPicture*>(static_cast<IOleObject*>(own));
    int count = picture->CloseCount();
    picture->Release();
    return count;
}

bool InsertTestPicture(HWND richEdit, LONG position, const std::string& pictureName, DWORD flags) {
    IRichEditOle* ole = nullptr;
    if (!SendMessageA(richEdit, EM_GETOLEINTERFACE, 0, reinterpret_cast<LPARAM>(&ole)) || !ole) return false;
    IOleClientSite* site = nullptr;
    bool inserted = false;
    if (SUCCEEDED(ole->GetClientSite(&site)) && site) {
        IOleObject* picture = CreateTestPicture(pictureName);
        SendMessageA(richEdit, EM_SETSEL, position, position);
        REOBJECT description{};
        description.cbStruct = sizeof(description);
        description.cp = REO_CP_SELECTION;
        description.clsid = kTestPictureClassId;
        description.poleobj = picture;
        description.polesite = site;
        description.dvaspect = DVASPECT_CONTENT;
        description.dwFlags = flags;
        inserted = SUCCEEDED(ole->InsertObject(&description));
        picture->Release();
        site->Release();
    }
    ole->Release();
    return inserted;
}

} // namespace parleym_test

#include "tests/objcache/TestStoredObject.h"

#include "plugin/storage/Scoped.h"
#include "plugin/storage/StorageDb.h"

using parleym::kStorageReplace;

namespace objcache_test {

// {6B1F3C2A-8D4E-4F5A-9B7C-1E2D3F4A5B6C}
const CLSID kStoredObjectClassId = {0x6b1f3c2a, 0x8d4e, 0x4f5a, {0x9b, 0x7c, 0x1e, 0x2d, 0x3f, 0x4a, 0x5b, 0x6c}};

namespace {

class StoredObject final : public IPersistStorage {
public:
    StoredObject(std::string bytes, SaveBehaviour behaviour) : bytes_(std::move(bytes)), behaviour_(behaviour) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IPersist || iid == IID_IPersistStorage) {
            *out = static_cast<IPersistStorage*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* classId) override {
        *classId = kStoredObjectClassId;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE InitNew(IStorage*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Load(IStorage*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Save(IStorage* storage, BOOL) override {
        if (behaviour_ == SaveBehaviour::Fails) return STG_E_MEDIUMFULL;
        parleym::ComPtr<IStream> stream;
        const wchar_t* name = behaviour_ == SaveBehaviour::Contents ? L"CONTENTS" : L"OTHER";
        HRESULT hr = storage->CreateStream(name, kStorageReplace, 0, 0, stream.Put());
        if (FAILED(hr)) return hr;
        ULONG written = 0;
        return stream->Write(bytes_.data(), static_cast<ULONG>(bytes_.size()), &written);
    }
    HRESULT STDMETHODCALLTYPE SaveCompleted(IStorage*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE HandsOffStorage() override { return S_OK; }

private:
    ULONG refs_ = 1;
    std::string bytes_;
    SaveBehaviour behaviour_;
};

} // namespace

IPersistStorage* CreateStoredObject(const std::string& pictureBytes, SaveBehaviour behaviour) {
    return new StoredObject(pictureBytes, behaviour);
}

} // namespace objcache_test

#pragma once
// The sink for the messenger's DMessengerEvents: an automation object whose
// Invoke hands the four events the plug-in uses to the manager.
#include <windows.h>
#include <oaidl.h>

namespace parleym {

class CParleymanager;

class CMessengerEvents final : public IDispatch {
public:
    CMessengerEvents() = default;
    CMessengerEvents(const CMessengerEvents&) = delete;
    CMessengerEvents& operator=(const CMessengerEvents&) = delete;

    // Null stops delivery (the manager is going away).
    void SetManager(CParleymanager* manager) { manager_ = manager; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

private:
    ~CMessengerEvents() = default;
    void Deliver(DISPID id, const DISPPARAMS& params);

    LONG references_ = 1;
    CParleymanager* manager_ = nullptr;
};

} // namespace parleym

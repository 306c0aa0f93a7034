#include "plugin/core/MessengerEvents.h"

#include "plugin/core/MessengerApi.h"
#include "plugin/core/Parleymanager.h"
#include "plugin/core/UserMessage.h"
#include "shared/SwallowedFailure.h"

namespace parleym {
namespace {

// Arguments arrive last-first; `position` counts from the first declared one.
const VARIANT* Argument(const DISPPARAMS& params, UINT position, UINT declared) {
    if (params.cArgs != declared || !params.rgvarg) return nullptr;
    return &params.rgvarg[declared - 1 - position];
}

bool ReadLong(const VARIANT* value, long& out) {
    if (!value) return false;
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(value), 0, VT_I4))) return false;
    out = converted.lVal;
    return true;
}

IDispatch* ReadDispatch(const VARIANT* value) {
    if (!value) return nullptr;
    if (value->vt == VT_DISPATCH) return value->pdispVal;
    if (value->vt == (VT_DISPATCH | VT_BYREF) && value->ppdispVal) return *value->ppdispVal;
    return nullptr;
}

} // namespace

HRESULT STDMETHODCALLTYPE CMessengerEvents::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, DIID_DMessengerEvents)) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CMessengerEvents::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

ULONG STDMETHODCALLTYPE CMessengerEvents::Release() {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE CMessengerEvents::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMessengerEvents::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CMessengerEvents::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!names || !ids) return E_POINTER;
    static const struct {
        const wchar_t* name;
        DISPID id;
    } known[] = {{L"OnSignin", DISPID_MUAE_ONSIGNIN},
                 {L"OnSignout", DISPID_MUAE_ONSIGNOUT},
                 {L"OnContactListAdd", DISPID_MUAE_ONCONTACTLISTADD},
                 {L"OnContactStatusChange", DISPID_MUAE_ONCONTACTSTATUSCHANGE}};
    HRESULT result = S_OK;
    for (UINT i = 0; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        if (i > 0) {
            result = DISP_E_UNKNOWNNAME;  // events take no named arguments
            continue;
        }
        for (const auto& entry : known)
            if (names[i] && lstrcmpiW(names[i], entry.name) == 0) ids[i] = entry.id;
        if (ids[i] == DISPID_UNKNOWN) result = DISP_E_UNKNOWNNAME;
    }
    return result;
}

HRESULT STDMETHODCALLTYPE CMessengerEvents::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                                   EXCEPINFO*, UINT*) {
    try {
        if (result) VariantInit(result);
        if (!params) return E_INVALIDARG;
        // Keep ourselves alive should the manager let go of us inside a handler.
        AddRef();
        try {
            Deliver(id, *params);
        } catch (...) {
            ReportSwallowed("messenger event handler");
        }
        Release();
        return S_OK;
    } catch (...) {
        ReportSwallowed("messenger event Invoke");
        return E_UNEXPECTED;
    }
}

void CMessengerEvents::Deliver(DISPID id, const DISPPARAMS& params) {
    if (!manager_) return;
    DeferredMessages errorsAfterward;
    long number = 0;
    switch (id) {
    case DISPID_MUAE_ONSIGNIN:
        if (ReadLong(Argument(params, 0, 1), number)) manager_->OnSignIn(number);
        break;
    case DISPID_MUAE_ONSIGNOUT:
        manager_->OnSignOut();
        break;
    case DISPID_MUAE_ONCONTACTLISTADD:
        if (ReadLong(Argument(params, 0, 2), number))
            manager_->OnContactListAdd(number, ReadDispatch(Argument(params, 1, 2)));
        break;
    case DISPID_MUAE_ONCONTACTSTATUSCHANGE:
        ReadLong(Argument(params, 1, 2), number);
        manager_->OnContactStatusChange(ReadDispatch(Argument(params, 0, 2)), number);
        break;
    default:
        break;
    }
}

} // namespace parleym

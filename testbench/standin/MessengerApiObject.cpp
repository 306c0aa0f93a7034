#include "testbench/standin/MessengerApiObject.h"

#include "testbench/standin/ComSupport.h"
#include "testbench/standin/TextUtil.h"
#include "testbench/standin/Transcript.h"

#include <olectl.h>

#include <vector>

namespace standin {

namespace {

BSTR AllocString(const std::string& text) { return SysAllocString(Widen(text).c_str()); }

HRESULT PutString(BSTR* out, const std::string& text) {
    if (!out) return E_POINTER;
    *out = AllocString(text);
    return *out ? S_OK : E_OUTOFMEMORY;
}

// The failure a scenario set up for `method`, logged; S_OK when there is none.
HRESULT InjectedFailure(MessengerState& state, const char* method) {
    HRESULT hr = state.TakeFailure(method);
    if (hr != S_OK) Log(std::string("api-fail ") + method + " hr=" + Hex32(static_cast<unsigned long>(hr)));
    return hr;
}

// The seven IUnknown and IDispatch slots shared by every object here. Late binding is
// not offered: every caller we serve uses the vtable.
#define STANDIN_DISPATCH_STUBS                                                                                        \
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {                                                \
        if (!count) return E_POINTER;                                                                                 \
        *count = 0;                                                                                                   \
        return S_OK;                                                                                                  \
    }                                                                                                                 \
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {                                    \
        if (info) *info = nullptr;                                                                                    \
        return E_NOTIMPL;                                                                                             \
    }                                                                                                                 \
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }    \
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { \
        return E_NOTIMPL;                                                                                             \
    }

class ContactObject final : public IMessengerContact {
public:
    ContactObject(MessengerState& state, ContactPtr record) : state_(state), record_(std::move(record)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != IID_IMessengerContact) return E_NOINTERFACE;
        *out = static_cast<IMessengerContact*>(this);
        AddRef();
        return S_OK;
    }
    STANDIN_IMPLEMENT_REFCOUNT(refs_)
    STANDIN_DISPATCH_STUBS

    HRESULT STDMETHODCALLTYPE get_FriendlyName(BSTR* name) override {
        STANDIN_COM_TRY
        if (HRESULT hr = InjectedFailure(state_, "get_FriendlyName")) return hr;
        return PutString(name, record_->friendlyName);
        STANDIN_COM_CATCH
    }
    HRESULT STDMETHODCALLTYPE get_Status(MISTATUS* status) override {
        STANDIN_COM_TRY
        if (!status) return E_POINTER;
        if (HRESULT hr = InjectedFailure(state_, "get_Status")) return hr;
        *status = record_->isSelf ? state_.MyStatus() : record_->status;
        return S_OK;
        STANDIN_COM_CATCH
    }
    HRESULT STDMETHODCALLTYPE get_SigninName(BSTR* name) override {
        STANDIN_COM_TRY
        if (HRESULT hr = InjectedFailure(state_, "get_SigninName")) return hr;
        return PutString(name, record_->signinName);
        STANDIN_COM_CATCH
    }
    HRESULT STDMETHODCALLTYPE get_ServiceName(BSTR* name) override {
        STANDIN_COM_TRY
        return PutString(name, "Microsoft Passport");
        STANDIN_COM_CATCH
    }
    HRESULT STDMETHODCALLTYPE get_Blocked(VARIANT_BOOL* blocked) override {
        if (!blocked) return E_POINTER;
        *blocked = VARIANT_FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Blocked(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_CanPage(VARIANT_BOOL* canPage) override {
        if (!canPage) return E_POINTER;
        *canPage = VARIANT_FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_PhoneNumber(MPHONE_TYPE, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IsSelf(VARIANT_BOOL* isSelf) override {
        STANDIN_COM_TRY
        if (!isSelf) return E_POINTER;
        if (HRESULT hr = InjectedFailure(state_, "get_IsSelf")) return hr;
        *isSelf = record_->isSelf ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
        STANDIN_COM_CATCH
    }
    HRESULT STDMETHODCALLTYPE get_Property(MCONTACTPROPERTY, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Property(MCONTACTPROPERTY, VARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ServiceId(BSTR* id) override {
        STANDIN_COM_TRY
        return PutString(id, "{83D4679E-B6D7-11D2-BF36-00C04FB90A03}");
        STANDIN_COM_CATCH
    }

private:
    ~ContactObject() = default;
    RefCount refs_;
    MessengerState& state_;
    ContactPtr record_;
};

class ContactsObject final : public IMessengerContacts {
public:
    ContactsObject(MessengerState& state, std::vector<ContactPtr> contacts)
        : state_(state), contacts_(std::move(contacts)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != IID_IMessengerContacts) return E_NOINTERFACE;
        *out = static_cast<IMessengerContacts*>(this);
        AddRef();
        return S_OK;
    }
    STANDIN_IMPLEMENT_REFCOUNT(refs_)
    STANDIN_DISPATCH_STUBS

    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
        STANDIN_COM_TRY
        if (!count) return E_POINTER;
        if (HRESULT hr = InjectedFailure(state_, "get_Count")) return hr;
        *count = static_cast<LONG>(contacts_.size());
        return S_OK;
        STANDIN_COM_CATCH
    }
    HRESULT STDMETHODCALLTYPE Item(LONG index, IDispatch** contact) override {
        STANDIN_COM_TRY
        if (!contact) return E_POINTER;
        *contact = nullptr;
        if (HRESULT hr = InjectedFailure(state_, "Item")) return hr;
        if (index < 0 || static_cast<size_t>(index) >= contacts_.size()) return E_INVALIDARG;
        *contact = new ContactObject(state_, contacts_[static_cast<size_t>(index)]);
        return S_OK;
        STANDIN_COM_CATCH
    }
    HRESULT STDMETHODCALLTYPE Remove(IDispatch*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown**) override { return E_NOTIMPL; }

private:
    ~ContactsObject() = default;
    RefCount refs_;
    MessengerState& state_;
    std::vector<ContactPtr> contacts_;
};

class WindowObject final : public IMessengerConversationWnd {
public:
    WindowObject(MessengerState& state, HWND window, bool conversation)
        : state_(state), window_(window), conversation_(conversation) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != IID_IMessengerWindow &&
            !(conversation_ && iid == IID_IMessengerConversationWnd))
            return E_NOINTERFACE;
        *out = static_cast<IMessengerConversationWnd*>(this);
        AddRef();
        return S_OK;
    }
    STANDIN_IMPLEMENT_REFCOUNT(refs_)
    STANDIN_DISPATCH_STUBS

    HRESULT STDMETHODCALLTYPE Close() override {
        if (IsWindow(window_)) PostMessageW(window_, WM_CLOSE, 0, 0);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_HWND(LONG* hwnd) override {
        STANDIN_COM_TRY
        if (!hwnd) return E_POINTER;
        HRESULT hr = state_.TakeFailure("get_HWND");
        if (hr != S_OK) {
            Log("api-fail get_HWND hr=" + Hex32(static_cast<unsigned long>(hr)));
            return hr;
        }
        *hwnd = MessengerLongFromHwnd(window_);
        return S_OK;
        STANDIN_COM_CATCH
    }
    HRESULT STDMETHODCALLTYPE get_Left(LONG* value) override { return Edge(value, 0); }
    HRESULT STDMETHODCALLTYPE put_Left(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Top(LONG* value) override { return Edge(value, 1); }
    HRESULT STDMETHODCALLTYPE put_Top(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Width(LONG* value) override { return Edge(value, 2); }
    HRESULT STDMETHODCALLTYPE put_Width(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Height(LONG* value) override { return Edge(value, 3); }
    HRESULT STDMETHODCALLTYPE put_Height(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IsClosed(VARIANT_BOOL* closed) override {
        if (!closed) return E_POINTER;
        *closed = IsWindow(window_) ? VARIANT_FALSE : VARIANT_TRUE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Show() override {
        if (!IsWindow(window_)) return E_FAIL;
        ShowWindow(window_, SW_SHOW);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Property(MWINDOWPROPERTY, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Property(MWINDOWPROPERTY, VARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Contacts(IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_History(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddContact(VARIANT) override { return E_NOTIMPL; }

private:
    ~WindowObject() = default;
    HRESULT Edge(LONG* value, int which) {
        if (!value) return E_POINTER;
        RECT rect;
        if (!GetWindowRect(window_, &rect)) return E_FAIL;
        const LONG values[4] = {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
        *value = values[which];
        return S_OK;
    }

    RefCount refs_;
    MessengerState& state_;
    HWND window_;
    bool conversation_;
};

// A sink whose library was unloaded without Unadvise must be neither called nor
// released: its code is gone. This tells whether an object's code is still mapped.
bool CodeIsLoaded(IUnknown* object) {
    if (!object || IsBadReadPtr(object, sizeof(void*))) return false;
    void** table = *reinterpret_cast<void***>(object);
    if (!table || IsBadReadPtr(table, 3 * sizeof(void*))) return false;
    HMODULE module = nullptr;
    return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCWSTR>(table[2]), &module) != FALSE;
}

struct Sink {
    DWORD cookie;
    ComRef<IDispatch> dispatch;
};

class ConnectionPoint final : public IConnectionPoint {
public:
    explicit ConnectionPoint(IConnectionPointContainer* container) : container_(container) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IConnectionPoint) return E_NOINTERFACE;
        *out = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    // Owned by the Messenger object, which outlives every client in this process.
    ULONG STDMETHODCALLTYPE AddRef() override { return container_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return container_->Release(); }

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
        if (!iid) return E_POINTER;
        *iid = DIID_DMessengerEvents;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override {
        if (!container) return E_POINTER;
        container_->AddRef();
        *container = container_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
        STANDIN_COM_TRY
        for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
            if (it->cookie == cookie) {
                sinks_.erase(it);
                Log("api Unadvise cookie=" + std::to_string(cookie) + " sinks=" + std::to_string(sinks_.size()));
                return S_OK;
            }
        }
        Log("api Unadvise cookie=" + std::to_string(cookie) + " unknown");
        return CONNECT_E_NOCONNECTION;
        STANDIN_COM_CATCH
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

    // Drops the sinks at shut-down, leaking (and reporting) those left by unloaded code.
    void DropSinks() {
        for (Sink& sink : sinks_) {
            if (!CodeIsLoaded(sink.dispatch.Get())) {
                Log("api sink-orphaned cookie=" + std::to_string(sink.cookie) +
                    " (its module was unloaded without Unadvise)");
                sink.dispatch.Detach();
            }
        }
        sinks_.clear();
    }

    std::vector<Sink> sinks_;
    MessengerState* state_ = nullptr;

private:
    IConnectionPointContainer* container_;
    DWORD nextCookie_ = 1;
};

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    STANDIN_COM_TRY
    if (!sink || !cookie) return E_POINTER;
    *cookie = 0;
    HRESULT hr = state_->TakeFailure("Advise");
    if (hr != S_OK) {
        Log("api-fail Advise hr=" + Hex32(static_cast<unsigned long>(hr)));
        return hr;
    }
    ComRef<IDispatch> dispatch;
    hr = sink->QueryInterface(DIID_DMessengerEvents, reinterpret_cast<void**>(dispatch.Out()));
    if (FAILED(hr)) hr = sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.Out()));
    if (FAILED(hr)) {
        Log("api Advise refused: sink offers no IDispatch");
        return CONNECT_E_CANNOTCONNECT;
    }
    *cookie = nextCookie_++;
    sinks_.push_back(Sink{*cookie, dispatch});
    Log("api Advise cookie=" + std::to_string(*cookie) + " sinks=" + std::to_string(sinks_.size()));
    return S_OK;
    STANDIN_COM_CATCH
}

std::string ArgumentOf(const VARIANT& contact, MessengerState& state, bool& ok) {
    ok = true;
    const VARIANT* value = &contact;
    if (value->vt == (VT_BYREF | VT_VARIANT) && value->pvarVal) value = value->pvarVal;
    if (value->vt == VT_BSTR) return Narrow(value->bstrVal);
    if (value->vt == VT_DISPATCH && value->pdispVal) {
        ComRef<IMessengerContact> asContact;
        if (SUCCEEDED(
                value->pdispVal->QueryInterface(IID_IMessengerContact, reinterpret_cast<void**>(asContact.Out())))) {
            BSTR name = nullptr;
            if (SUCCEEDED(asContact->get_SigninName(&name))) {
                std::string result = Narrow(name);
                SysFreeString(name);
                return result;
            }
        }
    }
    (void)state;
    ok = false;
    return std::string();
}

}  // namespace

// The class object registered under CLSID_Messenger: every creation hands out the
// one Messenger object, as the messenger's own server does.
class MessengerFactory final : public IClassFactory {
public:
    explicit MessengerFactory(MessengerApi::Impl& impl) : impl_(impl) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    // Owned by the Messenger object's holder for the life of the process.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    MessengerApi::Impl& impl_;
};

class MessengerApi::Impl final : public IMessenger, public IConnectionPointContainer {
public:
    Impl(MessengerState& state, MessengerHost& host) : state_(state), host_(host), point_(this), factory_(*this) {
        point_.state_ = &state;
    }

    // One object plays the Messenger and its connection point container; the stand-in
    // owns it for the life of the process.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IMessenger) *out = static_cast<IMessenger*>(this);
        else if (iid == IID_IConnectionPointContainer) *out = static_cast<IConnectionPointContainer*>(this);
        else return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.Add(); }
    ULONG STDMETHODCALLTYPE Release() override { return refs_.Drop(); }
    STANDIN_DISPATCH_STUBS

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
        if (!point) return E_POINTER;
        *point = nullptr;
        if (iid != DIID_DMessengerEvents) return CONNECT_E_NOCONNECTION;
        *point = &point_;
        point_.AddRef();
        return S_OK;
    }

    // IMessenger
    HRESULT STDMETHODCALLTYPE get_Window(IDispatch** window) override {
        STANDIN_COM_TRY
        if (!window) return E_POINTER;
        *window = nullptr;
        if (HRESULT hr = InjectedFailure(state_, "get_Window")) return hr;
        HWND main = host_.MainWindow();
        if (!main) return E_FAIL;
        *window = new WindowObject(state_, main, false);
        return S_OK;
        STANDIN_COM_CATCH
    }
    HRESULT STDMETHODCALLTYPE ViewProfile(VARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ReceiveFileDirectory(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE StartVoice(VARIANT, IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InviteApp(VARIANT, BSTR, IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SendMail(VARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OpenInbox() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SendFile(VARIANT, BSTR, IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Signout() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Signin(LONG, BSTR, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetContact(BSTR signinName, BSTR, IDispatch** contact) override {
        STANDIN_COM_TRY
        if (!contact) return E_POINTER;
        *contact = nullptr;
        if (HRESULT hr = InjectedFailure(state_, "GetContact")) return hr;
        if (!state_.SignedIn()) return MSGR_E_NOT_LOGGED_ON;
        std::string name = Narrow(signinName);
        ContactPtr record = name == state_.Self()->signinName ? state_.Self() : state_.FindContact(name);
        if (!record) return MSGR_E_USER_NOT_FOUND;
        *contact = new ContactObject(state_, record);
        return S_OK;
        STANDIN_COM_CATCH
    }
    HRESULT STDMETHODCALLTYPE OptionsPages(LONG, MOPTIONPAGE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddContact(LONG, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindContact(LONG, BSTR, BSTR, VARIANT, VARIANT, VARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InstantMessage(VARIANT contact, IDispatch** window) override {
        STANDIN_COM_TRY
        if (!window) return E_POINTER;
        *window = nullptr;
        bool ok = false;
        std::string name = ArgumentOf(contact, state_, ok);
        std::string call =
            "api InstantMessage(" + (ok ? Quote(name) : std::string("vt=") + std::to_string(contact.vt)) + ")";
        HRESULT hr = InjectedFailure(state_, "InstantMessage");
        if (hr == S_OK && !ok) hr = E_INVALIDARG;
        if (hr == S_OK && !state_.SignedIn()) hr = MSGR_E_NOT_LOGGED_ON;
        HWND conversation = nullptr;
        if (hr == S_OK) {
            conversation = host_.OpenConversation(name);
            if (!conversation) hr = E_FAIL;
        }
        Log(call + " -> " + Hex32(static_cast<unsigned long>(hr)));
        if (FAILED(hr)) return hr;
        *window = new WindowObject(state_, conversation, true);
        return S_OK;
        STANDIN_COM_CATCH
    }
    HRESULT STDMETHODCALLTYPE Phone(VARIANT, MPHONE_TYPE, BSTR, IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE MediaWizard(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Page(VARIANT, IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AutoSignin() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_MyContacts(IDispatch** contacts) override {
        STANDIN_COM_TRY
        if (!contacts) return E_POINTER;
        *contacts = nullptr;
        if (HRESULT hr = InjectedFailure(state_, "get_MyContacts")) return hr;
        if (!state_.SignedIn()) return MSGR_E_NOT_LOGGED_ON;
        Log("api get_MyContacts count=" + std::to_string(state_.Contacts().size()));
        *contacts = new ContactsObject(state_, state_.Contacts());
        return S_OK;
        STANDIN_COM_CATCH
    }
    HRESULT STDMETHODCALLTYPE get_MySigninName(BSTR* name) override {
        STANDIN_COM_TRY
        if (HRESULT hr = InjectedFailure(state_, "get_MySigninName")) return hr;
        return PutString(name, state_.SignedIn() ? state_.Self()->signinName : std::string());
        STANDIN_COM_CATCH
    }
    HRESULT STDMETHODCALLTYPE get_MyFriendlyName(BSTR* name) override {
        STANDIN_COM_TRY
        if (HRESULT hr = InjectedFailure(state_, "get_MyFriendlyName")) return hr;
        return PutString(name, state_.SignedIn() ? state_.Self()->friendlyName : std::string());
        STANDIN_COM_CATCH
    }
    HRESULT STDMETHODCALLTYPE put_MyStatus(MISTATUS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_MyStatus(MISTATUS* status) override {
        STANDIN_COM_TRY
        if (!status) return E_POINTER;
        if (HRESULT hr = InjectedFailure(state_, "get_MyStatus")) return hr;
        *status = state_.MyStatus();
        return S_OK;
        STANDIN_COM_CATCH
    }
    HRESULT STDMETHODCALLTYPE get_UnreadEmailCount(MUAFOLDER, LONG* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_MyServiceName(BSTR* name) override {
        STANDIN_COM_TRY
        return PutString(name, "Microsoft Passport");
        STANDIN_COM_CATCH
    }
    HRESULT STDMETHODCALLTYPE get_MyPhoneNumber(MPHONE_TYPE, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_MyProperty(MCONTACTPROPERTY, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_MyProperty(MCONTACTPROPERTY, VARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_MyServiceId(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Services(IDispatch**) override { return E_NOTIMPL; }

    // Arguments in declared order; DISPPARAMS wants them reversed.
    void Fire(DISPID id, const char* name, std::vector<VARIANT> arguments, const std::string& detail) {
        std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
        DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()),
                             0};
        std::vector<Sink> sinks = point_.sinks_;  // a sink may unadvise while we call it
        Log(std::string("event ") + name + detail + " sinks=" + std::to_string(sinks.size()));
        for (Sink& sink : sinks) {
            if (!CodeIsLoaded(sink.dispatch.Get())) {
                Log(std::string("event ") + name + " sink " + std::to_string(sink.cookie) +
                    " skipped: its module was unloaded without Unadvise");
                sink.dispatch.Detach();
                continue;
            }
            HRESULT hr = sink.dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                                               nullptr, nullptr);
            if (FAILED(hr))
                Log(std::string("event ") + name + " sink " + std::to_string(sink.cookie) + " returned " +
                    Hex32(static_cast<unsigned long>(hr)));
        }
    }

    static VARIANT Long(long value) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = value;
        return v;
    }

    // The caller keeps the reference: Invoke does not take over arguments.
    VARIANT Contact(const ContactPtr& record, ComRef<IDispatch>& holder) {
        holder = ComRef<IDispatch>(new ContactObject(state_, record));
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_DISPATCH;
        v.pdispVal = holder.Get();
        return v;
    }

    RefCount refs_;
    MessengerState& state_;
    MessengerHost& host_;
    ConnectionPoint point_;
    MessengerFactory factory_;
    DWORD registration_ = 0;
};

HRESULT MessengerFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
    STANDIN_COM_TRY
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (HRESULT hr = InjectedFailure(impl_.state_, "CreateInstance")) return hr;
    Log("api CreateInstance");
    return impl_.QueryInterface(iid, out);
    STANDIN_COM_CATCH
}

MessengerApi::MessengerApi(MessengerState& state, MessengerHost& host) : impl_(new Impl(state, host)) {}

MessengerApi::~MessengerApi() {
    Revoke();
    impl_->point_.DropSinks();
    delete impl_;
}

HRESULT MessengerApi::Register() {
    if (impl_->registration_) return S_OK;
    HRESULT hr = CoRegisterClassObject(CLSID_Messenger, &impl_->factory_, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                       &impl_->registration_);
    Log("api registered hr=" + Hex32(static_cast<unsigned long>(hr)));
    return hr;
}

void MessengerApi::Revoke() {
    if (impl_->registration_) CoRevokeClassObject(std::exchange(impl_->registration_, 0));
}

void MessengerApi::FireSignin(HRESULT hr) {
    impl_->Fire(DISPID_MUAE_ONSIGNIN, "OnSignin", {Impl::Long(hr)}, " hr=" + Hex32(static_cast<unsigned long>(hr)));
}

void MessengerApi::FireSignout() { impl_->Fire(DISPID_MUAE_ONSIGNOUT, "OnSignout", {}, ""); }

void MessengerApi::FireContactListAdd(HRESULT hr, const ContactPtr& contact) {
    ComRef<IDispatch> holder;
    impl_->Fire(DISPID_MUAE_ONCONTACTLISTADD, "OnContactListAdd", {Impl::Long(hr), impl_->Contact(contact, holder)},
                " hr=" + Hex32(static_cast<unsigned long>(hr)) + " contact=" + Quote(contact->signinName));
}

void MessengerApi::FireContactListRemove(HRESULT hr, const ContactPtr& contact) {
    ComRef<IDispatch> holder;
    impl_->Fire(DISPID_MUAE_ONCONTACTLISTREMOVE, "OnContactListRemove",
                {Impl::Long(hr), impl_->Contact(contact, holder)},
                " hr=" + Hex32(static_cast<unsigned long>(hr)) + " contact=" + Quote(contact->signinName));
}

void MessengerApi::FireContactStatusChange(const ContactPtr& contact, MISTATUS status) {
    ComRef<IDispatch> holder;
    impl_->Fire(DISPID_MUAE_ONCONTACTSTATUSCHANGE, "OnContactStatusChange",
                {impl_->Contact(contact, holder), Impl::Long(status)},
                " contact=" + Quote(contact->signinName) + " status=" + StatusName(status));
}

int MessengerApi::SinkCount() const { return static_cast<int>(impl_->point_.sinks_.size()); }

}  // namespace standin

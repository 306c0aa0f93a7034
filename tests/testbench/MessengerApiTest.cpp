// The stand-in's Messenger object reached the way the plug-in reaches the real one:
// created by class id, called through raw vtable slots as numbered in the messenger's
// published layout, events received through DMessengerEvents. A reordered slot in the
// shared declarations or a wrong argument order in an event fails here.
#include "plugin/core/MessengerApi.h"
#include "testbench/standin/MessengerApiObject.h"
#include "testbench/standin/MessengerState.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace standin {
namespace {

template <typename Fn>
Fn Slot(void* object, int index) {
    return reinterpret_cast<Fn>((*reinterpret_cast<void***>(object))[index]);
}

std::string Take(BSTR text) {
    std::wstring wide = text ? text : L"";
    SysFreeString(text);
    return std::string(wide.begin(), wide.end());
}

class FakeHost : public MessengerHost {
public:
    HWND OpenConversation(const std::string& signinName) override {
        opened.push_back(signinName);
        return window;
    }
    HWND MainWindow() override { return window; }
    std::vector<std::string> opened;
    HWND window = reinterpret_cast<HWND>(static_cast<LONG_PTR>(0x12345678));
};

struct Event {
    DISPID id;
    std::vector<VARTYPE> types;  // in declared order
    std::vector<long> longs;
    std::vector<std::string> contacts;
};

class RecordingSink : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != DIID_DMessengerEvents) return E_NOINTERFACE;
        *out = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        Event event{id, {}, {}, {}};
        for (UINT i = params->cArgs; i-- > 0;) {
            const VARIANT& arg = params->rgvarg[i];
            event.types.push_back(arg.vt);
            if (arg.vt == VT_I4) event.longs.push_back(arg.lVal);
            if (arg.vt == VT_DISPATCH) {
                IMessengerContact* contact = nullptr;
                BSTR name = nullptr;
                if (SUCCEEDED(
                        arg.pdispVal->QueryInterface(IID_IMessengerContact, reinterpret_cast<void**>(&contact)))) {
                    contact->get_SigninName(&name);
                    contact->Release();
                }
                event.contacts.push_back(Take(name));
            }
        }
        events.push_back(event);
        return S_OK;
    }
    std::vector<Event> events;
};

class MessengerApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        state.SelectAccount("alice@example.com", "Alice");
        state.SetSignedIn(true);
        state.AddContact("bob@example.com", "Bob", MISTATUS_AWAY);
        state.AddContact("carol@example.com", "Carol", MISTATUS_OFFLINE);
        ASSERT_EQ(api.Register(), S_OK);
        IUnknown* unknown = nullptr;
        ASSERT_EQ(
            CoCreateInstance(CLSID_Messenger, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&unknown)),
            S_OK);
        ASSERT_EQ(OleRun(unknown), S_OK);
        ASSERT_EQ(unknown->QueryInterface(IID_IMessenger, reinterpret_cast<void**>(&messenger)), S_OK);
        unknown->Release();
    }
    void TearDown() override {
        if (messenger) messenger->Release();
        api.Revoke();
        CoUninitialize();
    }

    MessengerState state;
    FakeHost host;
    MessengerApi api{state, host};
    IMessenger* messenger = nullptr;
};

TEST_F(MessengerApiTest, UserAndContactsThroughPublishedSlots) {
    using GetLong = HRESULT(STDMETHODCALLTYPE*)(void*, LONG*);
    using GetString = HRESULT(STDMETHODCALLTYPE*)(void*, BSTR*);
    using GetDispatch = HRESULT(STDMETHODCALLTYPE*)(void*, IDispatch**);
    using ItemFn = HRESULT(STDMETHODCALLTYPE*)(void*, LONG, IDispatch**);
    using GetBool = HRESULT(STDMETHODCALLTYPE*)(void*, VARIANT_BOOL*);

    LONG status = 0;
    ASSERT_EQ(Slot<GetLong>(messenger, 30)(messenger, &status), S_OK);
    EXPECT_EQ(status, MISTATUS_ONLINE);
    BSTR text = nullptr;
    ASSERT_EQ(Slot<GetString>(messenger, 27)(messenger, &text), S_OK);
    EXPECT_EQ(Take(text), "alice@example.com");
    ASSERT_EQ(Slot<GetString>(messenger, 28)(messenger, &text), S_OK);
    EXPECT_EQ(Take(text), "Alice");

    IDispatch* contactsDispatch = nullptr;
    ASSERT_EQ(Slot<GetDispatch>(messenger, 26)(messenger, &contactsDispatch), S_OK);
    IMessengerContacts* contacts = nullptr;
    ASSERT_EQ(contactsDispatch->QueryInterface(IID_IMessengerContacts, reinterpret_cast<void**>(&contacts)), S_OK);
    contactsDispatch->Release();
    LONG count = 0;
    ASSERT_EQ(Slot<GetLong>(contacts, 7)(contacts, &count), S_OK);
    ASSERT_EQ(count, 2);
    IDispatch* item = nullptr;
    ASSERT_EQ(Slot<ItemFn>(contacts, 8)(contacts, 1, &item), S_OK);
    IDispatch* beyond = nullptr;
    EXPECT_EQ(Slot<ItemFn>(contacts, 8)(contacts, 2, &beyond), E_INVALIDARG);
    EXPECT_EQ(beyond, nullptr);
    IMessengerContact* contact = nullptr;
    ASSERT_EQ(item->QueryInterface(IID_IMessengerContact, reinterpret_cast<void**>(&contact)), S_OK);
    item->Release();
    ASSERT_EQ(Slot<GetString>(contact, 7)(contact, &text), S_OK);
    EXPECT_EQ(Take(text), "Carol");
    ASSERT_EQ(Slot<GetLong>(contact, 8)(contact, &status), S_OK);
    EXPECT_EQ(status, MISTATUS_OFFLINE);
    ASSERT_EQ(Slot<GetString>(contact, 9)(contact, &text), S_OK);
    EXPECT_EQ(Take(text), "carol@example.com");
    VARIANT_BOOL self = VARIANT_TRUE;
    ASSERT_EQ(Slot<GetBool>(contact, 15)(contact, &self), S_OK);
    EXPECT_EQ(self, VARIANT_FALSE);
    contact->Release();
    contacts->Release();
}

TEST_F(MessengerApiTest, InstantMessageOpensAWindowWhoseHandleComesBackAsLong) {
    using InstantMessageFn = HRESULT(STDMETHODCALLTYPE*)(void*, VARIANT, IDispatch**);
    using GetLong = HRESULT(STDMETHODCALLTYPE*)(void*, LONG*);
    VARIANT name;
    VariantInit(&name);
    name.vt = VT_BSTR;
    name.bstrVal = SysAllocString(L"bob@example.com");
    IDispatch* windowDispatch = nullptr;
    ASSERT_EQ(Slot<InstantMessageFn>(messenger, 21)(messenger, name, &windowDispatch), S_OK);
    VariantClear(&name);
    EXPECT_EQ(host.opened, std::vector<std::string>{"bob@example.com"});
    IMessengerWindow* window = nullptr;
    ASSERT_EQ(windowDispatch->QueryInterface(IID_IMessengerWindow, reinterpret_cast<void**>(&window)), S_OK);
    windowDispatch->Release();
    LONG handle = 0;
    ASSERT_EQ(Slot<GetLong>(window, 8)(window, &handle), S_OK);
    EXPECT_EQ(HwndFromMessengerLong(handle), host.window);
    window->Release();

    // A forced failure comes back once; signed out, the call is refused.
    state.SetFailure("InstantMessage", static_cast<HRESULT>(0x8100030Au), 1);
    VARIANT again;
    VariantInit(&again);
    again.vt = VT_BSTR;
    again.bstrVal = SysAllocString(L"bob@example.com");
    EXPECT_EQ(messenger->InstantMessage(again, &windowDispatch), static_cast<HRESULT>(0x8100030Au));
    EXPECT_EQ(windowDispatch, nullptr);
    ASSERT_EQ(messenger->InstantMessage(again, &windowDispatch), S_OK);
    windowDispatch->Release();
    state.SetSignedIn(false);
    EXPECT_EQ(messenger->InstantMessage(again, &windowDispatch), MSGR_E_NOT_LOGGED_ON);
    VariantClear(&again);
    EXPECT_EQ(host.opened.size(), 2u);
}

TEST_F(MessengerApiTest, EventsArriveWithArgumentsInDeclaredOrderUntilUnadvised) {
    IConnectionPointContainer* container = nullptr;
    ASSERT_EQ(messenger->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
    IConnectionPoint* point = nullptr;
    ASSERT_EQ(container->FindConnectionPoint(DIID_DMessengerEvents, &point), S_OK);
    container->Release();
    RecordingSink sink;
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);

    api.FireSignin(S_OK);
    api.FireContactListAdd(MSGR_E_ALREADY_IN_LIST, state.FindContact("bob@example.com"));
    api.FireContactStatusChange(state.FindContact("carol@example.com"), MISTATUS_BE_RIGHT_BACK);
    api.FireSignout();
    ASSERT_EQ(sink.events.size(), 4u);
    EXPECT_EQ(sink.events[0].id, 0x400);
    EXPECT_EQ(sink.events[0].longs, std::vector<long>{0});
    EXPECT_EQ(sink.events[1].id, 0x402);
    EXPECT_EQ(sink.events[1].types, (std::vector<VARTYPE>{VT_I4, VT_DISPATCH}));
    EXPECT_EQ(sink.events[1].longs, std::vector<long>{static_cast<long>(MSGR_E_ALREADY_IN_LIST)});
    EXPECT_EQ(sink.events[1].contacts, std::vector<std::string>{"bob@example.com"});
    EXPECT_EQ(sink.events[2].id, 0x406);
    EXPECT_EQ(sink.events[2].types, (std::vector<VARTYPE>{VT_DISPATCH, VT_I4}));
    EXPECT_EQ(sink.events[2].longs, std::vector<long>{MISTATUS_BE_RIGHT_BACK});
    EXPECT_EQ(sink.events[2].contacts, std::vector<std::string>{"carol@example.com"});
    EXPECT_EQ(sink.events[3].id, 0x401);
    EXPECT_TRUE(sink.events[3].types.empty());

    ASSERT_EQ(point->Unadvise(cookie), S_OK);
    EXPECT_NE(point->Unadvise(cookie), S_OK);
    api.FireSignout();
    EXPECT_EQ(sink.events.size(), 4u);
    point->Release();
}

}  // namespace
}  // namespace standin

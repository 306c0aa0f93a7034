// A Messenger API client that reaches the messenger's process the way the plug-in
// does: as a global hook library. On the first hooked message inside msmsgs.exe or
// msnmsgr.exe it creates the Messenger object, reads the user and the contacts, opens a
// conversation with InstantMessage, connects to DMessengerEvents and writes everything
// it sees to apiclient.log next to itself. In any other process it stays inert.
#include "plugin/core/MessengerApi.h"

#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <string>

namespace {

HMODULE g_module = nullptr;
bool g_started = false;
FILE* g_log = nullptr;

std::string Narrow(BSTR text) {
    if (!text) return std::string();
    int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(length > 0 ? length : 1), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &result[0], length, nullptr, nullptr);
    result.resize(result.size() - 1);
    return result;
}

void Log(const std::string& line) {
    if (!g_log) return;
    std::fprintf(g_log, "%s\n", line.c_str());
    std::fflush(g_log);
}

std::string Hex(unsigned long value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08lX", value & 0xFFFFFFFFul);
    return buffer;
}

std::string ExeName() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text = path;
    size_t slash = text.find_last_of('\\');
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

template <typename T>
struct Ref {
    T* p = nullptr;
    Ref() = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() {
        if (p) p->Release();
    }
    void** Out() { return reinterpret_cast<void**>(&p); }
};

// Reads a contact the way the plug-in does: through IMessengerContact after a QI.
std::string DescribeContact(IDispatch* dispatch) {
    Ref<IMessengerContact> contact;
    if (!dispatch) return "null";
    HRESULT hr = dispatch->QueryInterface(IID_IMessengerContact, contact.Out());
    if (FAILED(hr)) return "no-IMessengerContact " + Hex(static_cast<unsigned long>(hr));
    BSTR signin = nullptr, friendly = nullptr;
    MISTATUS status = MISTATUS_UNKNOWN;
    VARIANT_BOOL self = VARIANT_FALSE;
    contact.p->get_SigninName(&signin);
    contact.p->get_FriendlyName(&friendly);
    contact.p->get_Status(&status);
    contact.p->get_IsSelf(&self);
    std::string result = "signin=" + Narrow(signin) + " friendly=" + Narrow(friendly) +
                         " status=" + std::to_string(static_cast<long>(status)) + " self=" + (self ? "1" : "0");
    SysFreeString(signin);
    SysFreeString(friendly);
    return result;
}

class EventSink final : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != DIID_DMessengerEvents) return E_NOINTERFACE;
        *out = static_cast<IDispatch*>(this);
        return S_OK;
    }
    // Static lifetime: lives as long as the process.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        try {
            std::string line =
                "event " + Hex(static_cast<unsigned long>(id)) + " args=" + std::to_string(params ? params->cArgs : 0);
            // Arguments arrive last first; print them in declared order.
            for (UINT i = params ? params->cArgs : 0; i-- > 0;) {
                const VARIANT& arg = params->rgvarg[i];
                if (arg.vt == VT_I4) line += " [I4 " + std::to_string(arg.lVal) + "]";
                else if (arg.vt == VT_DISPATCH) line += " [DISPATCH " + DescribeContact(arg.pdispVal) + "]";
                else line += " [vt " + std::to_string(arg.vt) + "]";
            }
            Log(line);
            return S_OK;
        } catch (...) {
            return E_UNEXPECTED;
        }
    }
};

EventSink g_sink;
IMessenger* g_messenger = nullptr;  // kept for the life of the process, like the plug-in's

void RunClient() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(g_module, path, MAX_PATH);
    std::string folder = path;
    folder = folder.substr(0, folder.find_last_of('\\') + 1);
    g_log = std::fopen((folder + "apiclient.log").c_str(), "w");
    Log("attached exe=" + ExeName());

    CoInitialize(nullptr);
    Ref<IUnknown> unknown;
    HRESULT hr = CoCreateInstance(CLSID_Messenger, nullptr, CLSCTX_ALL, IID_IUnknown, unknown.Out());
    Log("CoCreateInstance " + Hex(static_cast<unsigned long>(hr)));
    if (FAILED(hr)) return;
    hr = OleRun(unknown.p);
    Log("OleRun " + Hex(static_cast<unsigned long>(hr)));
    hr = unknown.p->QueryInterface(IID_IMessenger, reinterpret_cast<void**>(&g_messenger));
    Log("QueryInterface IMessenger " + Hex(static_cast<unsigned long>(hr)));
    if (FAILED(hr)) return;

    MISTATUS status = MISTATUS_UNKNOWN;
    hr = g_messenger->get_MyStatus(&status);
    Log("get_MyStatus " + Hex(static_cast<unsigned long>(hr)) + " status=" + std::to_string(static_cast<long>(status)));
    BSTR name = nullptr;
    hr = g_messenger->get_MySigninName(&name);
    Log("get_MySigninName " + Hex(static_cast<unsigned long>(hr)) + " name=" + Narrow(name));
    SysFreeString(name);
    name = nullptr;
    hr = g_messenger->get_MyFriendlyName(&name);
    Log("get_MyFriendlyName " + Hex(static_cast<unsigned long>(hr)) + " name=" + Narrow(name));
    SysFreeString(name);

    std::string firstContact;
    Ref<IDispatch> contactsDispatch;
    hr = g_messenger->get_MyContacts(&contactsDispatch.p);
    Log("get_MyContacts " + Hex(static_cast<unsigned long>(hr)));
    Ref<IMessengerContacts> contacts;
    if (SUCCEEDED(hr) && SUCCEEDED(contactsDispatch.p->QueryInterface(IID_IMessengerContacts, contacts.Out()))) {
        LONG count = 0;
        contacts.p->get_Count(&count);
        Log("count " + std::to_string(count));
        for (LONG i = 0; i < count; ++i) {
            Ref<IDispatch> item;
            hr = contacts.p->Item(i, &item.p);
            Log("contact " + std::to_string(i) + " " + DescribeContact(item.p));
            Ref<IMessengerContact> contact;
            if (i == 0 && item.p && SUCCEEDED(item.p->QueryInterface(IID_IMessengerContact, contact.Out()))) {
                BSTR signin = nullptr;
                contact.p->get_SigninName(&signin);
                firstContact = Narrow(signin);
                SysFreeString(signin);
            }
        }
    }

    Ref<IConnectionPointContainer> container;
    Ref<IConnectionPoint> point;
    DWORD cookie = 0;
    hr = g_messenger->QueryInterface(IID_IConnectionPointContainer, container.Out());
    if (SUCCEEDED(hr)) hr = container.p->FindConnectionPoint(DIID_DMessengerEvents, &point.p);
    if (SUCCEEDED(hr)) hr = point.p->Advise(&g_sink, &cookie);
    Log("Advise " + Hex(static_cast<unsigned long>(hr)) + " cookie=" + std::to_string(cookie));

    if (!firstContact.empty()) {
        VARIANT contact;
        VariantInit(&contact);
        contact.vt = VT_BSTR;
        contact.bstrVal = SysAllocString(std::wstring(firstContact.begin(), firstContact.end()).c_str());
        Ref<IDispatch> windowDispatch;
        hr = g_messenger->InstantMessage(contact, &windowDispatch.p);
        VariantClear(&contact);
        Log("InstantMessage " + firstContact + " " + Hex(static_cast<unsigned long>(hr)));
        Ref<IMessengerWindow> window;
        if (SUCCEEDED(hr) && SUCCEEDED(windowDispatch.p->QueryInterface(IID_IMessengerWindow, window.Out()))) {
            LONG handle = 0;
            hr = window.p->get_HWND(&handle);
            HWND hwnd = HwndFromMessengerLong(handle);
            char className[128] = {}, title[256] = {};
            GetClassNameA(hwnd, className, sizeof className);
            GetWindowTextA(hwnd, title, sizeof title);
            Log("get_HWND " + Hex(static_cast<unsigned long>(hr)) + " class=" + className + " title=" + title);
        }
    }
    Log("ready");
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK GetMsgProc(int code, WPARAM wParam, LPARAM lParam) {
    try {
        if (!g_started) {
            std::string exe = ExeName();
            if (lstrcmpiA(exe.c_str(), "msmsgs.exe") == 0 || lstrcmpiA(exe.c_str(), "msnmsgr.exe") == 0) {
                g_started = true;
                RunClient();
            }
        }
    } catch (...) {
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_module = instance;
    return TRUE;
}

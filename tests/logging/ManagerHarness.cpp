#include "tests/logging/ManagerHarness.h"

#include <stdexcept>

#include "plugin/core/UserSettingsFile.h"

namespace parleym_test {

namespace {

ManagerHarness* g_harness = nullptr;

void RegisterConversationClass() {
    static bool registered = false;
    if (registered) return;
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "IMWindowClass";
    RegisterClassA(&wc);
    registered = true;
}

} // namespace

std::vector<ShownMessage>& ManagerHarness::Messages() { return g_harness->messages_.Messages(); }

ManagerHarness::ManagerHarness() {
    g_harness = this;
    manager_.SetDataFolder(folder_.Path(""));
    // A first start without users.dat is refused; an empty settings file is what setup leaves.
    CloseHandle(CreateFileA(folder_.Path("users.dat").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (parleym::WriteUserSettingsFile(folder_.Path("users.dat"), {}).kind != parleym::SettingsFileResult::Ok)
        throw std::runtime_error("users.dat not written");
    if (!manager_.Init(1)) {
        std::string why = "manager did not start";
        for (const ShownMessage& message : Messages()) why += ": " + message.text;
        throw std::runtime_error(why);
    }
    ReopenLogs();
}

ManagerHarness::~ManagerHarness() {
    for (HWND window : windows_)
        if (IsWindow(window)) DestroyWindow(window);
    manager_.Uninit();
    g_harness = nullptr;
}

void ManagerHarness::ReopenLogs() {
    LogStore().Close();
    if (!LogStore().Open(folder_.Path("logs.dat").c_str()) || !LogStore().OpenAccount(kAccount))
        throw std::runtime_error("log store did not open");
}

HWND ManagerHarness::NewConversationWindow(HWND* history) {
    RegisterConversationClass();
    HWND window = CreateWindowExA(0, "IMWindowClass", "Conversation", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!window) throw std::runtime_error("no conversation window");
    *history = CreateWindowExA(0, "RichEdit20W", "", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_READONLY, 0, 0, 380,
                               200, window, nullptr, GetModuleHandleA(nullptr), nullptr);
    CreateWindowExA(0, "RichEdit20W", "", WS_CHILD | WS_VISIBLE | ES_MULTILINE, 0, 210, 300, 50, window, nullptr,
                    GetModuleHandleA(nullptr), nullptr);
    windows_.push_back(window);
    return window;
}

} // namespace parleym_test

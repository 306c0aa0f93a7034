#include "tests/logging/ManagerHarness.h"

#include <stdexcept>

#include "plugin/core/UserSettingsFile.h"

namespace parleym_test {

int ManagerHarness::answer = IDOK;

std::vector<ShownMessage>& ManagerHarness::Messages() {
    static std::vector<ShownMessage> messages;
    return messages;
}

namespace {

int RecordMessage(HWND, const char* text, const char* caption, UINT style) {
    ManagerHarness::Messages().push_back({text ? text : "", caption ? caption : "", style});
    return ManagerHarness::answer;
}

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

ManagerHarness::ManagerHarness() {
    Messages().clear();
    answer = IDOK;
    previousSink_ = parleym::SetUserMessageSink(&RecordMessage);
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
    parleym::SetUserMessageSink(previousSink_);
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

void PumpMessages() {
    MSG message;
    for (int round = 0; round < 3; ++round) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(10);
    }
}

} // namespace parleym_test

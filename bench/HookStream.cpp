#include "bench/HookStream.h"

namespace bench {

namespace {

constexpr char kTargetClass[] = "ParleymBenchStreamTarget";
constexpr UINT kIgnoredSent = WM_USER + 0x321;
constexpr UINT kIgnoredPosted = WM_USER + 0x322;

LRESULT CALLBACK TargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_USER || message == WM_COMMAND || message == WM_SIZE || message == WM_INITMENU ||
        message == WM_KEYDOWN || message == WM_MOUSEMOVE)
        return 0;
    return DefWindowProcA(window, message, wParam, lParam);
}

double Milliseconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

class Hooks {
public:
    bool Install(const std::string& library, std::string& error) {
        if (library.empty()) return true;
        HMODULE module = LoadLibraryA(library.c_str());
        if (!module) {
            error = "cannot load " + library + " (" + std::to_string(GetLastError()) + ")";
            return false;
        }
        const struct {
            int type;
            const char* name;
        } procedures[] = {{WH_CALLWNDPROC, "CallWndProc"}, {WH_CALLWNDPROCRET, "CallWndRetProc"},
                          {WH_GETMESSAGE, "GetMsgProc"}};
        for (const auto& procedure : procedures) {
            auto address = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(module, procedure.name)));
            HHOOK hook = address ? SetWindowsHookExA(procedure.type, address, module, GetCurrentThreadId()) : nullptr;
            if (!hook) {
                error = std::string("cannot hook ") + procedure.name;
                return false;
            }
            hooks_.push_back(hook);
        }
        return true;
    }
    ~Hooks() {
        for (HHOOK hook : hooks_) UnhookWindowsHookEx(hook);
    }

private:
    std::vector<HHOOK> hooks_;
};

class Target {
public:
    Target() {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = TargetProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = kTargetClass;
        RegisterClassA(&windowClass);
        window_ = CreateWindowExA(0, kTargetClass, "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    }
    ~Target() {
        if (window_) DestroyWindow(window_);
    }
    HWND Get() const { return window_; }

private:
    HWND window_ = nullptr;
};

// Takes the target's messages off the queue as the messengers do: a peek that
// leaves the message, then the call that removes it.
void Drain(HWND target) {
    MSG message;
    while (PeekMessageA(&message, target, 0, 0, PM_NOREMOVE)) {
        if (GetMessageA(&message, target, 0, 0) <= 0) return;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

template <typename Work>
double Time(Work work) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    work();
    QueryPerformanceCounter(&end);
    return Milliseconds(start, end);
}

} // namespace

bool RunHookStream(const std::string& library, int count, std::vector<StreamKindTime>& times, std::string& error) {
    Target target;
    if (!target.Get()) {
        error = "no target window";
        return false;
    }
    Hooks hooks;
    if (!hooks.Install(library, error)) return false;
    HWND window = target.Get();
    Drain(window);
    times.clear();
    times.push_back({"sent_ignored", Time([&] {
                         for (int i = 0; i < count; ++i) SendMessageA(window, kIgnoredSent, i, 0);
                     })});
    // What the plug-in looks at when sent: button clicks and edit changes, sizes, menus.
    times.push_back({"sent_interesting", Time([&] {
                         for (int i = 0; i < count; ++i) {
                             switch (i % 4) {
                             case 0:
                                 SendMessageA(window, WM_COMMAND, MAKEWPARAM(1, BN_CLICKED), reinterpret_cast<LPARAM>(window));
                                 break;
                             case 1:
                                 SendMessageA(window, WM_COMMAND, MAKEWPARAM(2, EN_CHANGE), reinterpret_cast<LPARAM>(window));
                                 break;
                             case 2:
                                 SendMessageA(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(10, 10));
                                 break;
                             default:
                                 SendMessageA(window, WM_INITMENU, 0, 0);
                                 break;
                             }
                         }
                     })});
    constexpr int kBatch = 100;
    times.push_back({"posted_ignored", Time([&] {
                         for (int i = 0; i < count; i += kBatch) {
                             for (int j = i; j < i + kBatch && j < count; ++j) PostMessageA(window, kIgnoredPosted, j, 0);
                             Drain(window);
                         }
                     })});
    // What the plug-in looks at when posted: keys, the mouse (activity), commands.
    times.push_back({"posted_interesting", Time([&] {
                         for (int i = 0; i < count; i += kBatch) {
                             for (int j = i; j < i + kBatch && j < count; ++j) {
                                 if (j % 3 == 0) PostMessageA(window, WM_KEYDOWN, 'A', 1);
                                 else if (j % 3 == 1) PostMessageA(window, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
                                 else PostMessageA(window, WM_COMMAND, 1, 0);
                             }
                             Drain(window);
                         }
                     })});
    return true;
}

} // namespace bench

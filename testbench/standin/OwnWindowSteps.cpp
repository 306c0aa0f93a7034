// Steps for what a messenger does of its own accord while Parleym has it locked:
// it shows windows of its own, enables a window again, opens its notification-area
// menu; and `probe`, which says how any named window stands.
#include "testbench/standin/ScenarioRunner.h"

#include "testbench/standin/MenuText.h"
#include "testbench/standin/TextUtil.h"
#include "testbench/standin/Transcript.h"

#include <cstdlib>
#include <vector>

namespace standin {

namespace {

constexpr char kOwnWindowClass[] = "StandinOwnWindow";
constexpr UINT_PTR kTrayMenuTimer = 0x5B03;

struct TitleSearch {
    std::string title;
    HWND found;
};

BOOL CALLBACK FindTitled(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<TitleSearch*>(context);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && WindowText(window) == search->title) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

struct OwnedSearch {
    HWND owner;
    std::string list;
};

BOOL CALLBACK JoinTexts(HWND child, LPARAM context) {
    auto* text = reinterpret_cast<std::string*>(context);
    const std::string own = WindowText(child);
    if (!own.empty()) *text += (text->empty() ? "" : "|") + own;
    return TRUE;
}

// Each visible window the owner owns, with its texts, its place in the owner's
// client coordinates and its size.
BOOL CALLBACK DescribeOwned(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<OwnedSearch*>(context);
    if (GetWindow(window, GW_OWNER) != search->owner || !IsWindowVisible(window)) return TRUE;
    std::string texts;
    EnumChildWindows(window, JoinTexts, reinterpret_cast<LPARAM>(&texts));
    RECT rect{};
    GetWindowRect(window, &rect);
    POINT at{rect.left, rect.top};
    ScreenToClient(search->owner, &at);
    search->list += (search->list.empty() ? "" : ", ") + Quote(texts) + " at=" + std::to_string(at.x) + "," +
                    std::to_string(at.y) + " size=" + std::to_string(rect.right - rect.left) + "x" +
                    std::to_string(rect.bottom - rect.top);
    return TRUE;
}

HMENU BuildTrayMenu() {
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, 1601, "&Open");
    AppendMenuA(menu, MF_STRING, 1602, "Sign &Out");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, 1603, "E&xit");
    return menu;
}

// Picks the wanted item with keys once the menu is up, or leaves with Escape.
struct TrayDriver {
    HMENU menu = nullptr;
    std::string wanted;
    bool shown = false;
    int ticks = 0;
};
TrayDriver g_tray;

// probe-later: the names waiting, oldest first, and who looks.
ScenarioRunner* g_laterRunner = nullptr;
std::vector<std::string> g_laterProbes;

void CALLBACK DriveTrayMenu(HWND window, UINT, UINT_PTR timer, DWORD) {
    try {
        ++g_tray.ticks;
        HWND popup = FindWindowA("#32768", nullptr);
        if (!g_tray.shown && popup && IsWindowVisible(popup)) {
            g_tray.shown = true;
            int downs = 0;
            bool found = false;
            for (int i = 0; i < GetMenuItemCount(g_tray.menu) && !found; ++i) {
                if (GetMenuState(g_tray.menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_SEPARATOR) continue;
                ++downs;
                found = !g_tray.wanted.empty() && MenuItemMatches(MenuItemText(g_tray.menu, i), g_tray.wanted);
            }
            if (!found) {
                PostMessageA(popup, WM_KEYDOWN, VK_ESCAPE, 0);
                return;
            }
            for (int i = 0; i < downs; ++i) PostMessageA(popup, WM_KEYDOWN, VK_DOWN, 0);
            PostMessageA(popup, WM_KEYDOWN, VK_RETURN, 0);
            return;
        }
        if (g_tray.ticks > 50) {
            KillTimer(window, timer);
            EndMenu();
        }
    } catch (...) {
    }
}

void RegisterOwnWindowClass() {
    WNDCLASSA wc = {};
    if (GetClassInfoA(GetModuleHandleA(nullptr), kOwnWindowClass, &wc)) return;
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kOwnWindowClass;
    RegisterClassA(&wc);
}

}  // namespace

void ScenarioRunner::LogProbe(const std::string& name, HWND window) {
    OwnedSearch owned{window, {}};
    EnumWindows(DescribeOwned, reinterpret_cast<LPARAM>(&owned));
    RECT client{};
    GetClientRect(window, &client);
    Log("probe " + name + " active=" + (GetActiveWindow() == window ? "yes" : "no") +
        " enabled=" + (IsWindowEnabled(window) ? "yes" : "no") +
        " visible=" + (IsWindowVisible(window) ? "yes" : "no") + " minimized=" + (IsIconic(window) ? "yes" : "no") +
        " owned=[" + owned.list + "] client=" + std::to_string(client.right) + "x" + std::to_string(client.bottom));
}

void CALLBACK ScenarioRunner::ProbeLater(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    try {
        if (!g_laterRunner || g_laterProbes.empty()) return;
        const std::string name = g_laterProbes.front();
        g_laterProbes.erase(g_laterProbes.begin());
        HWND window = g_laterRunner->WindowByName(name);
        if (window) g_laterRunner->LogProbe(name, window);
        else Log("probe " + name + " no-window");
    } catch (...) {
    }
}

HWND OwnWindowTitled(const std::string& title) {
    TitleSearch search{title, nullptr};
    EnumWindows(FindTitled, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool ScenarioRunner::OwnWindowStep(const Step& step, bool& known) {
    const std::string& c = step.command;
    known = c == "messenger-window" || c == "enable" || c == "tray-menu" || c == "probe" || c == "probe-later";
    if (!known) return false;

    if (c == "messenger-window") {
        // A window of the messenger's own (its sign-in window, say): top-level, shown,
        // enabled, with a line of text; later steps name it title:<title>.
        if (step.Arg(0).empty()) return false;
        RegisterOwnWindowClass();
        HWND window = CreateWindowExA(0, kOwnWindowClass, step.Arg(0).c_str(), WS_OVERLAPPEDWINDOW, 420, 60, 300, 200,
                                      nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        if (!window) return false;
        CreateWindowExA(0, "STATIC", step.Arg(1, "Sign in with your account").c_str(), WS_CHILD | WS_VISIBLE, 10, 10,
                        260, 20, window, nullptr, GetModuleHandleA(nullptr), nullptr);
        ShowWindow(window, SW_SHOWNORMAL);
        Log("window-created " + Quote(step.Arg(0)) + " class=" + kOwnWindowClass);
        return true;
    }

    if (c == "probe-later") {
        // Looks once `ms` have passed, from whatever loop runs then (a modal box of the
        // messenger's, say, inside which no step runs).
        const std::string delay = step.Arg(1);
        char* end = nullptr;
        const unsigned long ms = std::strtoul(delay.c_str(), &end, 10);
        if (step.Arg(0).empty() || delay.empty() || *end) return false;
        g_laterRunner = this;
        g_laterProbes.push_back(step.Arg(0));
        SetTimer(nullptr, 0, static_cast<UINT>(ms), &ScenarioRunner::ProbeLater);
        return true;
    }
    HWND window = c == "tray-menu" ? messenger_.HiddenWindow() : WindowByName(step.Arg(0));
    if (!window) {
        Log("error no window " + Quote(step.Arg(0)));
        return false;
    }
    if (c == "enable") {
        // As the messenger does when a modal loop of its own ends.
        EnableWindow(window, TRUE);
        return true;
    }
    if (c == "probe") {
        LogProbe(step.Arg(0), window);
        return true;
    }
    // tray-menu [item]: the notification-area icon's menu, owned by the hidden window.
    g_tray = TrayDriver{};
    g_tray.menu = BuildTrayMenu();
    g_tray.wanted = step.Arg(0);
    SetForegroundWindow(window);
    SetTimer(window, kTrayMenuTimer, 100, DriveTrayMenu);
    POINT at{600, 500};
    const UINT result =
        static_cast<UINT>(TrackPopupMenu(g_tray.menu, TPM_RIGHTBUTTON | TPM_RETURNCMD, at.x, at.y, 0, window, nullptr));
    KillTimer(window, kTrayMenuTimer);
    Log(std::string("tray-menu shown=") + (g_tray.shown ? "yes" : "no") + " result=" + std::to_string(result));
    DestroyMenu(g_tray.menu);
    return true;
}

}  // namespace standin

#include "testbench/standin/ScenarioRunner.h"

#include "bench/HookStream.h"
#include "testbench/standin/MenuText.h"
#include "testbench/standin/RichEditText.h"
#include "testbench/standin/Screenshot.h"
#include "testbench/standin/TextUtil.h"
#include "testbench/standin/Transcript.h"

#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace standin {

namespace {

constexpr DWORD kDefaultWaitMs = 10000;
constexpr DWORD kSettleQuietMs = 100;
constexpr DWORD kSettleMaxMs = 2000;

bool ParseNumber(const std::string& text, unsigned long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtoul(text.c_str(), &end, 0);
    return *end == '\0';
}

HRESULT ParseHresult(const std::string& text, HRESULT fallback) {
    unsigned long value = 0;
    return ParseNumber(text, value) ? static_cast<HRESULT>(value) : fallback;
}

bool FileContains(const std::string& path, const std::string& needle) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    if (needle.empty()) return true;
    std::ostringstream content;
    content << in.rdbuf();
    return content.str().find(needle) != std::string::npos;
}

ScenarioRunner* g_nestedRunner = nullptr;

bool HasScenarioOption(const std::vector<Step>& steps, const std::string& name) {
    for (const Step& step : steps)
        if (step.command == "option")
            for (const std::string& arg : step.args)
                if (arg == name) return true;
    return false;
}

struct OwnedWindows {
    HWND owner;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectOwned(HWND window, LPARAM context) {
    auto* owned = reinterpret_cast<OwnedWindows*>(context);
    if (GetWindow(window, GW_OWNER) == owned->owner && IsWindowVisible(window)) owned->found.push_back(window);
    return TRUE;
}

BOOL CALLBACK JoinChildTexts(HWND child, LPARAM context) {
    auto* text = reinterpret_cast<std::string*>(context);
    const std::string own = WindowText(child);
    if (!own.empty()) *text += (text->empty() ? "" : "|") + own;
    return TRUE;
}

// The messengers look at the next message before they take it (PM_NOREMOVE, then
// PM_REMOVE), so the message hook sees most messages once peeked and once removed.
bool NextMessage(MSG& msg) {
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) return false;
    return PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) != FALSE;
}

std::string HandleText(HWND window) { return Hex32(static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(window))); }

}  // namespace

ScenarioRunner::ScenarioRunner(StandinMessenger& messenger, MessengerState& state, DialogWatcher& watcher,
                               RunnerPaths paths)
    : messenger_(messenger), state_(state), watcher_(watcher), paths_(std::move(paths)) {}

ScenarioRunner::~ScenarioRunner() {
    for (PROCESS_INFORMATION& process : spawned_) {
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
            Log("spawned-terminated pid=" + std::to_string(process.dwProcessId));
            TerminateProcess(process.hProcess, 1);
        }
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
}

bool ScenarioRunner::Pump(DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (NextMessage(msg)) {
            if (msg.message == WM_QUIT) {
                quit_ = true;
                return false;
            }
            if (IsNestTimer(msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) return true;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
    }
}

// Lets posted commands, hooks and timers run until the queue has been quiet a moment.
void ScenarioRunner::Settle() {
    while (!pendingSignOuts_.empty()) {
        const std::string who = pendingSignOuts_.front();
        pendingSignOuts_.erase(pendingSignOuts_.begin());
        messenger_.SetContactStatus(who, MISTATUS_OFFLINE);
    }
    const DWORD start = GetTickCount();
    DWORD quietSince = start;
    while (!quit_ && GetTickCount() - start < kSettleMaxMs) {
        MSG msg;
        bool any = false;
        while (NextMessage(msg)) {
            if (msg.message == WM_QUIT) {
                quit_ = true;
                return;
            }
            if (IsNestTimer(msg)) continue;
            any = true;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (any) quietSince = GetTickCount();
        if (GetTickCount() - quietSince >= kSettleQuietMs) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

namespace {

// Visible, exactly over the history and above it in the z-order.
bool CoversHistory(HWND overlay, HWND history) {
    RECT over = {}, under = {};
    if (!IsWindowVisible(overlay) || !GetWindowRect(overlay, &over) || !GetWindowRect(history, &under)) return false;
    if (!EqualRect(&over, &under)) return false;
    for (HWND below = GetWindow(overlay, GW_HWNDNEXT); below; below = GetWindow(below, GW_HWNDNEXT))
        if (below == history) return true;
    return false;
}

}  // namespace

std::map<std::string, std::string> ScenarioRunner::Snapshot() {
    std::map<std::string, std::string> now;
    if (HWND main = messenger_.MainWindow()) {
        now["title main"] = Quote(WindowText(main));
        ObserveWindowState(now, "main", main);
        if (HMENU bar = GetMenu(main)) now["menubar main"] = Quote(DescribeMenu(bar));
    }
    if (HWND list = messenger_.ListView()) {
        // What the user sees in the contact list, one "Friendly (STATUS)" per row.
        std::string rows;
        int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            char buffer[260] = {};
            LVITEMA item = {};
            item.pszText = buffer;
            item.cchTextMax = sizeof buffer;
            SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
            rows += (i ? "|" : "") + std::string(buffer);
        }
        now["contacts"] = Quote(rows);
    }
    for (ConversationWindow* conversation : messenger_.Conversations()) {
        const std::string name = "conv:" + conversation->Name();
        now["title " + name] = Quote(WindowText(conversation->Window()));
        ObserveWindowState(now, name, conversation->Window());
        if (HMENU bar = GetMenu(conversation->Window())) now["menubar " + name] = Quote(DescribeMenu(bar));
        RichEditContent history = ReadRichEdit(conversation->History());
        now["history " + name] = Quote(TextWithMarkers(history)) + " objects=" + ObjectList(history);
        RichEditContent input = ReadRichEdit(conversation->Input());
        now["input " + name] = Quote(TextWithMarkers(input)) + " objects=" + ObjectList(input);
        // A rich edit the messenger did not make (the plug-in's, over the history).
        for (HWND child = GetWindow(conversation->Window(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if (child == conversation->History() || child == conversation->Input()) continue;
            if (ClassNameOf(child).compare(0, 8, "RichEdit") != 0) continue;
            RichEditContent overlay = ReadRichEdit(child);
            now["overlay " + name] =
                Quote(TextWithMarkers(overlay)) + " objects=" + ObjectList(overlay) +
                " covers-history=" + (CoversHistory(child, conversation->History()) ? "yes" : "no");
        }
    }
    return now;
}

void ScenarioRunner::Observe(bool everything) {
    std::map<std::string, std::string> now = Snapshot();
    for (const auto& entry : now) {
        auto before = observed_.find(entry.first);
        if (everything) Log("dump " + entry.first + " " + entry.second);
        else if (before == observed_.end() || before->second != entry.second) Log(entry.first + " " + entry.second);
    }
    observed_ = std::move(now);
}

std::string ScenarioRunner::Resolve(const std::string& path) const {
    bool absolute = path.size() > 1 && (path[1] == ':' || path[0] == '\\' || path[0] == '/');
    if (absolute || paths_.dataFolder.empty()) return path;
    return paths_.dataFolder + "\\" + path;
}

int ScenarioRunner::Run(const std::vector<Step>& steps) {
    windowStates_ = HasScenarioOption(steps, "window-states");
    steps_ = &steps;
    next_ = 0;
    done_ = false;
    if (HasScenarioOption(steps, "steps-in-modal-loops")) StepsInModalLoops(true);
    Settle();
    Observe(false);
    while (!quit_ && !done_ && next_ < steps.size()) {
        if (!RunStep(steps[next_++])) done_ = true;
    }
    if (nestTimer_) KillTimer(nullptr, nestTimer_);
    nestTimer_ = 0;
    g_nestedRunner = nullptr;
    return failures_;
}

bool ScenarioRunner::RunStep(const Step& step) {
    if (step.command == "option") return true;  // read before start-up
    Log("step " + std::to_string(step.line) + " " + step.source);
    bool ok = false;
    try {
        ok = Execute(step);
    } catch (...) {
        Log("error exception in step");
    }
    if (!ok) {
        ++failures_;
        Log("step-failed line " + std::to_string(step.line));
    }
    if (step.command == "exit") return false;
    Settle();
    Observe(false);
    return true;
}

void ScenarioRunner::StepsInModalLoops(bool on) {
    nesting_ = on;
    if (!on || nestTimer_) return;
    g_nestedRunner = this;
    nestTimer_ = SetTimer(nullptr, 0, 100, &ScenarioRunner::NestedTick);
}

bool ScenarioRunner::IsNestTimer(const MSG& msg) const {
    return nestTimer_ && msg.message == WM_TIMER && msg.hwnd == nullptr && msg.wParam == nestTimer_;
}

// Reached only through a loop that is not ours: the step that started it is still
// running, so the scenario goes on from here, one step per tick, and returns in
// between so that the loop can end when its window is done.
void CALLBACK ScenarioRunner::NestedTick(HWND, UINT, UINT_PTR, DWORD) {
    ScenarioRunner* runner = g_nestedRunner;
    if (!runner || !runner->nesting_ || runner->inNestedStep_ || runner->done_ || runner->quit_ || !runner->steps_ ||
        runner->next_ >= runner->steps_->size())
        return;
    runner->inNestedStep_ = true;
    try {
        if (!runner->RunStep((*runner->steps_)[runner->next_++])) runner->done_ = true;
    } catch (...) {
    }
    runner->inNestedStep_ = false;
}

void ScenarioRunner::ObserveWindowState(std::map<std::string, std::string>& now, const std::string& name, HWND window) {
    if (!windowStates_ || !window || !IsWindow(window)) return;
    now["state " + name] = std::string("enabled=") + (IsWindowEnabled(window) ? "yes" : "no") +
                           " minimized=" + (IsIconic(window) ? "yes" : "no");
    // What covers the window: each visible owned window with its texts, its place in the
    // window's client coordinates and its size, and the window's own outer size.
    OwnedWindows owned{window, {}};
    EnumWindows(CollectOwned, reinterpret_cast<LPARAM>(&owned));
    RECT outer{};
    GetWindowRect(window, &outer);
    std::string list;
    for (HWND panel : owned.found) {
        std::string texts;
        EnumChildWindows(panel, JoinChildTexts, reinterpret_cast<LPARAM>(&texts));
        RECT rect{};
        GetWindowRect(panel, &rect);
        POINT at{rect.left, rect.top};
        ScreenToClient(window, &at);
        list += (list.empty() ? "" : ", ") + Quote(texts) + " at=" + std::to_string(at.x) + "," + std::to_string(at.y) +
                " size=" + std::to_string(rect.right - rect.left) + "x" + std::to_string(rect.bottom - rect.top);
    }
    RECT client{};
    GetClientRect(window, &client);
    now["owned " + name] = "[" + list + "] outer=" + std::to_string(outer.right - outer.left) + "x" +
                           std::to_string(outer.bottom - outer.top) + " client=" + std::to_string(client.right) + "x" +
                           std::to_string(client.bottom);
}

ConversationWindow* ScenarioRunner::Conversation(const Step& step, size_t index) {
    ConversationWindow* conversation = messenger_.FindConversation(step.Arg(index));
    if (!conversation) Log("error no conversation window with " + Quote(step.Arg(index)));
    return conversation;
}

HWND ScenarioRunner::WindowByName(const std::string& name) {
    if (name == "main") return messenger_.MainWindow();
    if (name == "generic") return messenger_.GenericWindow();
    if (name == "hidden") return messenger_.HiddenWindow();
    if (name == "uimanager") return messenger_.UiManagerWindow();
    if (name.compare(0, 5, "conv:") == 0) {
        ConversationWindow* conversation = messenger_.FindConversation(name.substr(5));
        return conversation ? conversation->Window() : nullptr;
    }
    if (name.compare(0, 6, "class:") == 0) return FindWindowA(name.substr(6).c_str(), nullptr);
    if (name.compare(0, 6, "title:") == 0) return OwnWindowTitled(name.substr(6));
    return nullptr;
}

bool ScenarioRunner::Execute(const Step& step) {
    const std::string& c = step.command;
    if (c == "account") {
        state_.SelectAccount(step.Arg(0), step.Arg(1));
        return !step.Arg(0).empty();
    }
    if (c == "signin") {
        if (step.Arg(0).empty()) return false;
        messenger_.SignIn(step.Arg(0), step.Arg(1), ParseHresult(step.Option("hr"), S_OK));
        return true;
    }
    if (c == "signout") {
        if (!step.Arg(0).empty() && step.Arg(0) != "contacts-offline") return false;
        messenger_.SignOut(step.Arg(0) == "contacts-offline");
        return true;
    }
    if (c == "remove-contact") {
        if (messenger_.RemoveContact(step.Arg(0))) return true;
        Log("error no contact " + Quote(step.Arg(0)));
        return false;
    }
    if (c == "invite") return messenger_.Invite(step.Arg(0), step.Arg(1));
    if (c == "add-contact") {
        MISTATUS status = MISTATUS_ONLINE;
        if (step.Has("status") && !ParseStatus(step.Option("status"), status)) return false;
        if (step.Arg(0).empty()) return false;
        messenger_.AddContact(step.Arg(0), step.Arg(1), status, ParseHresult(step.Option("hr"), S_OK));
        return true;
    }
    if (c == "status") {
        MISTATUS status;
        if (!ParseStatus(step.Arg(1), status)) return false;
        if (!messenger_.SetContactStatus(step.Arg(0), status)) {
            Log("error no contact " + Quote(step.Arg(0)));
            return false;
        }
        return true;
    }
    if (c == "open") return messenger_.OpenConversationWindow(step.Arg(0)) != nullptr;
    if (c == "close") {
        ConversationWindow* conversation = Conversation(step, 0);
        if (!conversation) return false;
        PostMessageW(conversation->Window(), WM_CLOSE, 0, 0);
        return true;
    }
    if (c == "receive") {
        ConversationWindow* conversation = messenger_.FindConversation(step.Arg(0));
        // An incoming message opens the window, as in the messenger.
        if (!conversation) conversation = messenger_.OpenConversationWindow(step.Arg(0));
        if (!conversation) return false;
        Settle();
        conversation->Receive(step.Arg(1));
        return true;
    }
    if (c == "note") {
        ConversationWindow* conversation = Conversation(step, 0);
        if (!conversation) return false;
        conversation->Note(step.Arg(1));
        return true;
    }
    if (c == "type") {
        ConversationWindow* conversation = Conversation(step, 0);
        if (!conversation) return false;
        SetFocus(conversation->Input());
        SendMessageW(conversation->Input(), EM_SETSEL, static_cast<WPARAM>(-1), -1);
        // EM_REPLACESEL is not translated between character sets: an ANSI control needs ANSI text.
        if (IsWindowUnicode(conversation->Input())) {
            std::wstring text = Widen(step.Arg(1));
            SendMessageW(conversation->Input(), EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
        } else {
            const std::string text = step.Arg(1);
            SendMessageA(conversation->Input(), EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
        }
        return true;
    }
    if (c == "enter") {
        ConversationWindow* conversation = Conversation(step, 0);
        const std::string with = step.Arg(1);
        if (!conversation || (!with.empty() && with != "shift" && with != "ctrl")) return false;
        // Posted like real input, so the message hook sees the key before the input does.
        SetFocus(conversation->Input());
        BYTE held[256] = {};
        GetKeyboardState(held);
        if (!with.empty()) {
            // The modifier is down while these keys are handled, as the keyboard's own state
            // says; posted keys do not change that state by themselves.
            BYTE keys[256];
            std::copy(held, held + 256, keys);
            keys[with == "shift" ? VK_SHIFT : VK_CONTROL] |= 0x80;
            SetKeyboardState(keys);
        }
        PostMessageW(conversation->Input(), WM_KEYDOWN, VK_RETURN, 0x001C0001);
        PostMessageW(conversation->Input(), WM_CHAR, with == "ctrl" ? '\n' : '\r', 0x001C0001);
        PostMessageW(conversation->Input(), WM_KEYUP, VK_RETURN, static_cast<LPARAM>(0xC01C0001u));
        if (!with.empty()) {
            Pump(0);
            SetKeyboardState(held);
        }
        return true;
    }
    if (c == "click-send") {
        ConversationWindow* conversation = Conversation(step, 0);
        if (!conversation) return false;
        SendMessageW(conversation->SendButton(), BM_CLICK, 0, 0);
        return true;
    }
    if (c == "refuse-send") {
        ConversationWindow* conversation = Conversation(step, 0);
        unsigned long count = 1, after = 0;
        if (!conversation || (step.Has("count") && !ParseNumber(step.Option("count"), count)) ||
            (step.Has("after") && !ParseNumber(step.Option("after"), after)))
            return false;
        conversation->RefuseSends(static_cast<int>(count), static_cast<int>(after));
        return true;
    }
    if (c == "modal-steps") {
        if (step.Arg(0) != "on" && step.Arg(0) != "off") return false;
        StepsInModalLoops(step.Arg(0) == "on");
        return true;
    }
    if (c == "in-send") {
        // The rest of the line is a step the messenger runs inside a later Send click of
        // this window, once it has taken the message: an event, a box, the window closing.
        ConversationWindow* conversation = Conversation(step, 0);
        unsigned long after = 1;
        if (!conversation || step.args.size() < 2 || (step.Has("after") && !ParseNumber(step.Option("after"), after)))
            return false;
        Step inner = step;
        inner.command = step.Arg(1);
        inner.args.assign(step.args.begin() + 2, step.args.end());
        inner.options.erase("after");
        conversation->SetAfterSend(static_cast<int>(after), [this, inner]() {
            Log("in-send " + inner.command);
            bool ok = false;
            try {
                ok = Execute(inner);
            } catch (...) {
            }
            if (ok) return;
            ++failures_;
            Log("step-failed line " + std::to_string(inner.line));
        });
        return true;
    }
    if (c == "drop-after-send") {
        ConversationWindow* conversation = Conversation(step, 0);
        unsigned long after = 1;
        if (!conversation || (step.Has("after") && !ParseNumber(step.Option("after"), after))) return false;
        const std::string who = step.Arg(0);
        // The messenger learns at once that the contact went; its event comes from the loop later.
        conversation->SetAfterSend(static_cast<int>(after), [this, who]() {
            if (ContactPtr contact = state_.FindContact(who)) contact->status = MISTATUS_OFFLINE;
            pendingSignOuts_.push_back(who);
            Log("contact-dropped " + who);
        });
        return true;
    }
    if (c == "keys") {
        ConversationWindow* conversation = Conversation(step, 0);
        if (!conversation) return false;
        // Typed one key at a time through the queue, as input the hooks count as activity.
        SetFocus(conversation->Input());
        for (wchar_t ch : Widen(step.Arg(1))) PostMessageW(conversation->Input(), WM_CHAR, ch, 1);
        return true;
    }
    if (c == "mousemove") {
        HWND window = WindowByName(step.Arg(0));
        if (!window) return false;
        PostMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));
        return true;
    }
    if (c == "show" || c == "hide" || c == "destroy") {
        HWND window = WindowByName(step.Arg(0));
        if (!window) {
            Log("error no window " + Quote(step.Arg(0)));
            return false;
        }
        if (c == "destroy") DestroyWindow(window);
        else if (c == "show" && step.Arg(1) == "minimized") ShowWindow(window, SW_MINIMIZE);
        else ShowWindow(window, c == "show" ? SW_SHOW : SW_HIDE);
        return true;
    }
    if (c == "resize") {
        HWND window = WindowByName(step.Arg(0));
        unsigned long width = 0, height = 0;
        if (!window || !ParseNumber(step.Arg(1), width) || !ParseNumber(step.Arg(2), height)) return false;
        SetWindowPos(window, nullptr, 0, 0, static_cast<int>(width), static_cast<int>(height),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        return true;
    }
    if (c == "my-status") {
        MISTATUS status;
        if (!ParseStatus(step.Arg(0), status) || !state_.SignedIn()) return false;
        state_.SetMyStatus(status);
        return true;
    }
    if (c == "menu") return MenuStep(step);
    if (c == "context-menu") {
        bool found = false;
        messenger_.ChooseContextMenuItem(step.Arg(0), step.Arg(1), step.Has("returncmd") || step.Arg(2) == "returncmd",
                                         found);
        return found;
    }
    if (c == "answer") return AnswerStep(step);
    if (c == "wait") return Wait(step);
    if (c == "sleep") {
        unsigned long ms = 0;
        if (!ParseNumber(step.Arg(0), ms)) return false;
        Pump(ms);
        return true;
    }
    if (c == "screenshot") {
        std::string name = step.Arg(0, "screen");
        std::string path =
            (paths_.outputFolder.empty() ? std::string(".") : paths_.outputFolder) + "\\" + name + ".bmp";
        bool ok = SaveScreenshot(path);
        Log(std::string("screenshot ") + (ok ? "saved " : "failed ") + Quote(path));
        return ok;
    }
    if (c == "dump") {
        Settle();
        Observe(true);
        return true;
    }
    if (c == "free-library") return FreeLibraryStep(step);
    if (c == "hook-stream") return HookStreamStep(step);
    if (c == "fail") {
        unsigned long count = static_cast<unsigned long>(-1);
        if (step.Has("count") && !ParseNumber(step.Option("count"), count)) return false;
        if (step.Arg(0).empty() || step.Arg(1).empty()) return false;
        state_.SetFailure(step.Arg(0), ParseHresult(step.Arg(1), E_FAIL), static_cast<int>(count));
        return true;
    }
    if (c == "ui-manager") {
        messenger_.CreateUiManager();
        return true;
    }
    if (c == "spawn") return SpawnStep(step);
    if (c == "post") return PostStep(step, false);
    if (c == "press") return PressStep(step);
    if (c == "send") return PostStep(step, true);
    if (c == "show-box") {
        // The messenger's own message boxes, for exercising the answering.
        UINT type = step.Option("buttons") == "yesno"         ? MB_YESNO
                    : step.Option("buttons") == "okcancel"    ? MB_OKCANCEL
                    : step.Option("buttons") == "yesnocancel" ? MB_YESNOCANCEL
                                                              : MB_OK;
        int result =
            MessageBoxA(messenger_.MainWindow(), step.Arg(1).c_str(), step.Arg(0).c_str(), type | MB_ICONINFORMATION);
        Log("show-box result=" + std::to_string(result));
        return true;
    }
    if (c == "crash") {
        // For checking that a crash inside the messenger is noticed.
        RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
        return false;
    }
    if (c == "terminate") {
        // The process ends at once, as when it is killed or the machine loses power:
        // no clean-up of any module runs (each transcript line is already written).
        Log("terminated");
        TerminateProcess(GetCurrentProcess(), 3);
        return false;
    }
    if (c == "exit-process") {
        // The messenger ends on the spot, its windows open and any hooks still in, as
        // when the user quits it with Parleym running: only the libraries' detach runs.
        Log("exit-process");
        Log("end failures=" + std::to_string(failures_));
        SetTranscript(nullptr);
        ExitProcess(failures_ ? 1 : 0);
    }
    if (c == "exit") return true;
    bool known = false;
    const bool done = OwnWindowStep(step, known);
    if (known) return done;
    Log("error unknown command " + Quote(c));
    return false;
}

bool ScenarioRunner::MenuStep(const Step& step) {
    HWND window = WindowByName(step.Arg(0));
    if (!window) {
        Log("error no window " + Quote(step.Arg(0)));
        return false;
    }
    HMENU bar = GetMenu(window);
    std::vector<std::string> path(step.args.begin() + 1, step.args.end());
    MenuItemFound item = FindMenuItem(bar, path);
    if (!item.found) {
        Log("menu item not found: " + Quote(DescribeMenu(bar)));
        return false;
    }
    // What the window manager sends while the user opens the menus, then the command.
    SendMessageW(window, WM_INITMENU, reinterpret_cast<WPARAM>(bar), 0);
    for (size_t i = 1; i < item.opened.size(); ++i)
        SendMessageW(window, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(item.opened[i]), static_cast<LPARAM>(i - 1));
    if (item.grayed) {
        Log("menu item grayed id=" + std::to_string(item.id));
        return true;
    }
    Log("menu chose id=" + std::to_string(item.id) + " window=" + HandleText(window));
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(item.id, 0), 0);
    return true;
}

bool ScenarioRunner::AnswerStep(const Step& step) {
    DialogAnswer answer;
    answer.caption = step.Option("caption");
    answer.text = step.Option("text");
    answer.screenshot = step.Option("screenshot");
    answer.button = step.Option("button", step.Arg(0));
    answer.again = step.Has("again");
    if (step.Has("delay") && !ParseNumber(step.Option("delay"), answer.delayMs)) return false;
    auto range = step.options.equal_range("edit");
    for (auto it = range.first; it != range.second; ++it) {
        size_t colon = it->second.find(':');
        unsigned long id = 0;
        if (colon == std::string::npos || !ParseNumber(it->second.substr(0, colon), id)) return false;
        answer.edits.emplace_back(static_cast<int>(id), it->second.substr(colon + 1));
    }
    if (step.Has("type")) answer.edits.emplace_back(0, step.Option("type"));
    auto selections = step.options.equal_range("select");
    for (auto it = selections.first; it != selections.second; ++it) answer.selections.push_back(it->second);
    watcher_.Expect(answer);
    return true;
}

bool ScenarioRunner::Wait(const Step& step) {
    unsigned long timeout = kDefaultWaitMs;
    if (step.Has("timeout") && !ParseNumber(step.Option("timeout"), timeout)) return false;
    const std::string what = step.Arg(0);
    std::function<bool()> condition;
    if (what == "conv") {
        condition = [&] { return messenger_.FindConversation(step.Arg(1)) != nullptr; };
    } else if (what == "no-conv") {
        condition = [&] { return messenger_.FindConversation(step.Arg(1)) == nullptr; };
    } else if (what == "title") {
        condition = [&] {
            HWND window = WindowByName(step.Arg(1));
            return window && WindowText(window).find(step.Arg(2)) != std::string::npos;
        };
    } else if (what == "history" || what == "input") {
        condition = [&] {
            ConversationWindow* conversation = messenger_.FindConversation(step.Arg(1));
            if (!conversation) return false;
            HWND control = what == "history" ? conversation->History() : conversation->Input();
            return TextWithMarkers(ReadRichEdit(control)).find(step.Arg(2)) != std::string::npos;
        };
    } else if (what == "menu") {
        condition = [&] {
            HWND window = WindowByName(step.Arg(1));
            HMENU bar = window ? GetMenu(window) : nullptr;
            return bar && DescribeMenu(bar).find(step.Arg(2)) != std::string::npos;
        };
    } else if (what == "window" || what == "no-window") {
        condition = [&] {
            HWND window = FindWindowA(step.Arg(1).c_str(), step.args.size() > 2 ? step.Arg(2).c_str() : nullptr);
            return (window != nullptr) == (what == "window");
        };
    } else if (what == "answered") {
        condition = [&] { return watcher_.PendingExpectations() == 0; };
    } else if (what == "file") {
        condition = [&] { return FileContains(Resolve(step.Arg(1)), step.Arg(2)); };
    } else if (what == "module" || what == "no-module") {
        condition = [&] { return (GetModuleHandleA(step.Arg(1).c_str()) != nullptr) == (what == "module"); };
    } else if (what == "sinks") {
        unsigned long count = 1;
        ParseNumber(step.Arg(1, "1"), count);
        condition = [this, count] { return messenger_.Api().SinkCount() >= static_cast<int>(count); };
    } else {
        Log("error unknown wait " + Quote(what));
        return false;
    }
    const DWORD start = GetTickCount();
    for (;;) {
        if (condition()) {
            Log("wait-ok " + what + " after " + std::to_string(GetTickCount() - start) + " ms");
            return true;
        }
        if (GetTickCount() - start >= timeout || !Pump(50)) break;
    }
    Log("wait-failed " + what + " after " + std::to_string(GetTickCount() - start) + " ms");
    return false;
}

bool ScenarioRunner::SpawnStep(const Step& step) {
    if (step.args.empty()) return false;
    std::string commandLine = "\"" + Resolve(step.Arg(0)) + "\"";
    for (size_t i = 1; i < step.args.size(); ++i) {
        const std::string& arg = step.args[i];
        commandLine += arg.find_first_of(" \t") == std::string::npos ? " " + arg : " \"" + arg + "\"";
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string mutableLine = commandLine;
    BOOL ok = CreateProcessA(nullptr, &mutableLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                             paths_.dataFolder.empty() ? nullptr : paths_.dataFolder.c_str(), &startup, &process);
    if (!ok) {
        Log("spawn failed " + Quote(commandLine) + " error=" + std::to_string(GetLastError()));
        return false;
    }
    spawned_.push_back(process);
    Log("spawned pid=" + std::to_string(process.dwProcessId) + " " + Quote(commandLine));
    WaitForInputIdle(process.hProcess, 5000);
    return true;
}

bool ScenarioRunner::PostStep(const Step& step, bool send) {
    HWND window = WindowByName(step.Arg(0));
    unsigned long message = 0, wParam = 0, lParam = 0;
    if (!window || !ParseNumber(step.Arg(1), message)) {
        Log("error no window " + Quote(step.Arg(0)) + " or bad message");
        return false;
    }
    ParseNumber(step.Arg(2, "0"), wParam);
    // lParam may name a window too (a handle of this or another process).
    if (!ParseNumber(step.Arg(3, "0"), lParam)) {
        HWND named = WindowByName(step.Arg(3));
        if (!named) {
            Log("error no window " + Quote(step.Arg(3)));
            return false;
        }
        lParam = static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(named));
    }
    if (send) {
        DWORD_PTR result = 0;
        SendMessageTimeoutA(window, message, wParam, static_cast<LPARAM>(lParam), SMTO_ABORTIFHUNG, 5000, &result);
        Log("sent-message result=" + std::to_string(static_cast<unsigned long long>(result)));
        return true;
    }
    return PostMessageA(window, message, wParam, static_cast<LPARAM>(lParam)) != FALSE;
}

// A key pressed and released on the keyboard: both messages go through the queue to
// the window with the focus, as the keyboard's would; then where the focus is now.
bool ScenarioRunner::PressStep(const Step& step) {
    static const struct {
        const char* name;
        UINT key;
    } kKeys[] = {{"Tab", VK_TAB}, {"Return", VK_RETURN}, {"Escape", VK_ESCAPE}, {"Space", VK_SPACE}};
    unsigned long key = 0;
    for (const auto& known : kKeys)
        if (step.Arg(0) == known.name) key = known.key;
    if (!key && !ParseNumber(step.Arg(0), key)) {
        Log("error unknown key " + Quote(step.Arg(0)));
        return false;
    }
    // in=<window>: the user first brings that window up, as with a click on its title.
    const std::string target = step.Option("in");
    if (!target.empty()) {
        HWND window = WindowByName(target);
        if (!window) {
            Log("error no window " + Quote(target));
            return false;
        }
        SetForegroundWindow(window);
        SetActiveWindow(window);
        HWND now = GetFocus();
        if (now != window && !IsChild(window, now)) SetFocus(window);
        Pump(50);
    }
    HWND focus = GetFocus();
    if (!focus) {
        Log("error no window has the focus");
        return false;
    }
    const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(static_cast<UINT>(key), 0)) << 16;
    PostMessageA(focus, WM_KEYDOWN, key, scan | 1);
    PostMessageA(focus, WM_KEYUP, key, scan | 1 | static_cast<LPARAM>(static_cast<ULONG_PTR>(0xC0000000u)));
    Pump(100);
    HWND now = GetFocus();
    HWND top = now ? GetAncestor(now, GA_ROOT) : nullptr;
    Log("focus " + (now ? ClassNameOf(now) + ":" + std::to_string(GetDlgCtrlID(now)) : std::string("none")) + " in " +
        Quote(top ? WindowText(top) : std::string()));
    return true;
}

// Windows unmaps a hook library when its hooks go; Wine keeps it loaded, so a test
// that needs the library's detach has the messenger free it at that moment instead.
bool ScenarioRunner::HookStreamStep(const Step& step) {
    unsigned long count = 2000;
    if (step.Has("count") && !ParseNumber(step.Option("count"), count)) return false;
    const std::string library = step.Arg(0) == "none" ? std::string() : Resolve(step.Arg(0));
    std::vector<bench::StreamKindTime> times;
    std::string error;
    if (!bench::RunHookStream(library, static_cast<int>(count), times, error)) {
        Log("error hook-stream " + Quote(error));
        return false;
    }
    char ms[32];
    for (const bench::StreamKindTime& time : times) {
        std::snprintf(ms, sizeof ms, "%.3f", time.ms);
        Log("hook-stream library=" + step.Arg(0) + " kind=" + time.kind + " count=" + std::to_string(count) +
            " ms=" + ms);
    }
    return true;
}

bool ScenarioRunner::FreeLibraryStep(const Step& step) {
    const std::string name = step.Arg(0);
    int freed = 0;
    while (HMODULE module = GetModuleHandleA(name.c_str())) {
        if (freed >= 16 || !FreeLibrary(module)) break;
        ++freed;
    }
    bool gone = GetModuleHandleA(name.c_str()) == nullptr;
    Log("free-library " + Quote(name) + " freed=" + std::to_string(freed) + (gone ? " unloaded" : " still-loaded"));
    return freed > 0 && gone;
}

}  // namespace standin

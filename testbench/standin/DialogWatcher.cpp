#include "testbench/standin/DialogWatcher.h"

#include "testbench/standin/Screenshot.h"
#include "testbench/standin/TextUtil.h"
#include "testbench/standin/Transcript.h"

#include <commctrl.h>

#include <cstdlib>

namespace standin {

namespace {

constexpr DWORD kPollMs = 50;
constexpr DWORD kModalGraceMs = 2000;

struct Control {
    HWND window;
    int id;
    std::string className;
    std::string text;
};

BOOL CALLBACK CollectChild(HWND child, LPARAM context) {
    auto* controls = reinterpret_cast<std::vector<Control>*>(context);
    controls->push_back({child, GetDlgCtrlID(child), ClassNameOf(child), WindowText(child)});
    return TRUE;
}

std::vector<Control> ControlsOf(HWND dialog) {
    std::vector<Control> controls;
    EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&controls));
    return controls;
}

BOOL CALLBACK CollectDialog(HWND window, LPARAM context) {
    if (IsWindowVisible(window) && ClassNameOf(window) == "#32770")
        reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
    return TRUE;
}

std::string WithoutAmpersands(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != '&') out += c;
    return out;
}

int StandardButtonId(const std::string& name) {
    static const struct {
        const char* name;
        int id;
    } kButtons[] = {{"OK", IDOK},         {"Cancel", IDCANCEL}, {"Abort", IDABORT}, {"Retry", IDRETRY},
                    {"Ignore", IDIGNORE}, {"Yes", IDYES},       {"No", IDNO}};
    for (const auto& button : kButtons)
        if (SameText(name, button.name)) return button.id;
    return 0;
}

const Control* FindButton(const std::vector<Control>& controls, const std::string& wanted) {
    for (const Control& control : controls)
        if (SameText(control.className, "Button") && SameText(WithoutAmpersands(control.text), wanted)) return &control;
    int id = StandardButtonId(wanted);
    if (!id) {
        char* end = nullptr;
        long value = std::strtol(wanted.c_str(), &end, 0);
        if (!wanted.empty() && *end == '\0') id = static_cast<int>(value);
    }
    for (const Control& control : controls)
        if (id && control.id == id && SameText(control.className, "Button")) return &control;
    return nullptr;
}

// Rows of a list view of this process as "col0|col1" texts. Other processes' list views
// cannot be read with pointers into our memory, so they are left out.
std::vector<std::string> ListRows(HWND list) {
    std::vector<std::string> rows;
    DWORD pid = 0;
    GetWindowThreadProcessId(list, &pid);
    if (pid != GetCurrentProcessId()) return rows;
    DWORD_PTR count = 0;
    if (!SendMessageTimeoutA(list, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &count)) return rows;
    HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    int columns = header ? static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0)) : 1;
    if (columns < 1) columns = 1;
    for (int row = 0; row < static_cast<int>(count); ++row) {
        std::string text;
        for (int column = 0; column < columns; ++column) {
            char buffer[260] = {};
            LVITEMA item = {};
            item.iSubItem = column;
            item.pszText = buffer;
            item.cchTextMax = sizeof buffer;
            DWORD_PTR ignored = 0;
            SendMessageTimeoutA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item),
                                SMTO_ABORTIFHUNG, 2000, &ignored);
            if (column) text += "|";
            text += buffer;
        }
        rows.push_back(text);
    }
    return rows;
}

std::string JoinRows(const std::vector<std::string>& rows) {
    std::string out = "[";
    for (size_t i = 0; i < rows.size(); ++i) out += (i ? ", " : "") + Quote(rows[i]);
    return out + "]";
}

bool Contains(const std::string& haystack, const std::string& needle) {
    return needle.empty() || haystack.find(needle) != std::string::npos;
}

}  // namespace

DialogWatcher::DialogWatcher() = default;

DialogWatcher::~DialogWatcher() { Stop(); }

void DialogWatcher::Start() {
    if (thread_.joinable()) return;
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
}

void DialogWatcher::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

void DialogWatcher::Expect(const DialogAnswer& answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    expected_.push_back(answer);
    if (!answer.caption.empty()) recheck_ = true;
}

size_t DialogWatcher::PendingExpectations() {
    std::lock_guard<std::mutex> lock(mutex_);
    return expected_.size();
}

void DialogWatcher::Run() {
    while (!stop_) {
        try {
            std::vector<HWND> dialogs;
            EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&dialogs));
            for (auto it = handled_.begin(); it != handled_.end();)
                it = IsWindow(*it) ? std::next(it) : handled_.erase(it);
            if (recheck_.exchange(false))
                for (HWND dialog : dialogs)
                    if (!GetDlgItem(dialog, 0xFFFF)) handled_.erase(dialog);
            for (auto it = again_.begin(); it != again_.end();) it = IsWindow(*it) ? std::next(it) : again_.erase(it);
            // A dialog that stays open after a button is looked at again once it takes
            // input again (a box or dialog it opened has gone).
            for (HWND dialog : dialogs)
                if (again_.count(dialog) && IsWindowEnabled(dialog)) {
                    again_.erase(dialog);
                    handled_.erase(dialog);
                }
            for (HWND dialog : dialogs)
                if (!handled_.count(dialog)) Examine(dialog);
            // A modal dialog nobody expected would hang the scenario: cancel it after a grace.
            for (auto it = lingering_.begin(); it != lingering_.end();) {
                HWND owner = GetWindow(it->window, GW_OWNER);
                bool modal = owner && !IsWindowEnabled(owner);
                if (!IsWindow(it->window)) {
                    it = lingering_.erase(it);
                } else if (modal && GetTickCount() - it->since > kModalGraceMs) {
                    Log("dialog-cancelled caption=" + Quote(WindowText(it->window)) + " unexpected modal dialog");
                    PostMessageA(it->window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
                    it = lingering_.erase(it);
                } else {
                    ++it;
                }
            }
        } catch (...) {
        }
        Sleep(kPollMs);
    }
}

void DialogWatcher::Examine(HWND dialog) {
    handled_.insert(dialog);
    ++seen_;
    const std::string caption = WindowText(dialog);
    HWND textControl = GetDlgItem(dialog, 0xFFFF);
    const bool isMessageBox = textControl != nullptr;
    std::vector<Control> controls = ControlsOf(dialog);
    // A box's text is its message; a dialog's is its labels, so that dialogs sharing a
    // caption can be told apart by what they ask.
    std::string text = isMessageBox ? WindowText(textControl) : std::string();
    if (!isMessageBox)
        for (const Control& control : controls)
            if (SameText(control.className, "Static") && !control.text.empty()) text += control.text + "\n";
    std::string listing;
    for (const Control& control : controls) {
        if (isMessageBox && !SameText(control.className, "Button")) continue;
        if (!listing.empty()) listing += ", ";
        listing += control.className + ":" + std::to_string(control.id) + ":" + Quote(control.text);
        if (SameText(control.className, "SysListView32")) listing += JoinRows(ListRows(control.window));
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(dialog, &pid);
    const std::string own = pid == GetCurrentProcessId() ? "yes" : "no";
    if (isMessageBox)
        Log("box caption=" + Quote(caption) + " text=" + Quote(text) + " controls=[" + listing + "] own=" + own);
    else Log("dialog caption=" + Quote(caption) + " controls=[" + listing + "] own=" + own);

    DialogAnswer answer;
    bool expected = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = expected_.begin(); it != expected_.end(); ++it) {
            if (Contains(caption, it->caption) && Contains(text, it->text)) {
                answer = *it;
                expected_.erase(it);
                expected = true;
                break;
            }
        }
    }
    if (expected) {
        Answer(dialog, answer, isMessageBox);
        return;
    }
    if (!isMessageBox) {
        lingering_.push_back({dialog, GetTickCount()});
        return;
    }
    ++unexpected_;
    // Dismiss it the least harmful way: Cancel, else No, else OK, else the first button.
    for (const char* choice : {"Cancel", "No", "OK"}) {
        if (FindButton(controls, choice)) {
            answer.button = choice;
            break;
        }
    }
    if (answer.button.empty()) {
        for (const Control& control : controls)
            if (SameText(control.className, "Button")) {
                answer.button = std::to_string(control.id);
                break;
            }
    }
    Log("box-unexpected caption=" + Quote(caption) + " text=" + Quote(text));
    Answer(dialog, answer, isMessageBox);
}

void DialogWatcher::Answer(HWND dialog, const DialogAnswer& answer, bool isMessageBox) {
    if (answer.delayMs) Sleep(answer.delayMs);
    std::vector<Control> controls = ControlsOf(dialog);
    for (const auto& edit : answer.edits) {
        HWND target = nullptr;
        for (const Control& control : controls) {
            if (!SameText(control.className, "Edit")) continue;
            if (edit.first == 0 || control.id == edit.first) {
                target = control.window;
                break;
            }
        }
        if (!target) {
            Log("answer edit " + std::to_string(edit.first) + " not found");
            continue;
        }
        std::wstring wide = Widen(edit.second);
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(target, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()), SMTO_ABORTIFHUNG, 2000,
                            &ignored);
        Log("answer typed " + Quote(edit.second) + " into edit " + std::to_string(GetDlgCtrlID(target)));
    }
    for (const std::string& wanted : answer.selections) {
        bool selected = false;
        for (const Control& control : controls) {
            if (!SameText(control.className, "SysListView32")) continue;
            std::vector<std::string> rows = ListRows(control.window);
            for (size_t row = 0; row < rows.size(); ++row) {
                bool match = false;
                size_t start = 0;
                // A row matches when one of its columns is exactly the wanted text.
                while (start <= rows[row].size()) {
                    size_t bar = rows[row].find('|', start);
                    if (bar == std::string::npos) bar = rows[row].size();
                    if (rows[row].compare(start, bar - start, wanted) == 0) match = true;
                    start = bar + 1;
                }
                if (!match) continue;
                LVITEMA state = {};
                state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
                DWORD_PTR ignored = 0;
                SendMessageTimeoutA(control.window, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state),
                                    SMTO_ABORTIFHUNG, 2000, &ignored);
                selected = true;
            }
        }
        Log("answer selected " + Quote(wanted) + (selected ? "" : " not found"));
    }
    if (!answer.screenshot.empty()) {
        Sleep(300);  // let it paint, with what was typed and selected
        std::string path =
            (outputFolder_.empty() ? std::string(".") : outputFolder_) + "\\" + answer.screenshot + ".bmp";
        Log(std::string("screenshot ") + (SaveScreenshot(path) ? "saved " : "failed ") + Quote(path));
    }
    if (answer.button.empty()) {
        Log("answer left " + std::string(isMessageBox ? "box" : "dialog") + " open");
        return;
    }
    const Control* button = FindButton(controls, answer.button);
    if (!button) {
        Log("answer button " + Quote(answer.button) + " not found; cancelling");
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return;
    }
    Log("answer button=" + Quote(WithoutAmpersands(button->text)) + " id=" + std::to_string(button->id));
    const LONG_PTR type = GetWindowLongPtrA(button->window, GWL_STYLE) & BS_TYPEMASK;
    const bool checks = type == BS_AUTORADIOBUTTON || type == BS_RADIOBUTTON || type == BS_AUTOCHECKBOX ||
                        type == BS_CHECKBOX || type == BS_AUTO3STATE || type == BS_3STATE;
    // A radio button or check box is clicked as a user does, so its mark changes too.
    if (checks) PostMessageA(button->window, BM_CLICK, 0, 0);
    else PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button->id, BN_CLICKED), reinterpret_cast<LPARAM>(button->window));
    if (!answer.again) return;
    // Sent messages are served at the thread's next message retrieval: the second
    // reply comes only after the posted click was handled, so a box or dialog
    // the click opens already holds the dialog disabled when it is looked at again.
    for (int round = 0; round < 2; ++round) {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
    }
    again_.insert(dialog);
}

}  // namespace standin

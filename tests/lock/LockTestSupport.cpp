#include "tests/lock/LockTestSupport.h"

#include <gtest/gtest.h>

namespace locktest {
namespace {
ModalScript* g_script = nullptr;
}

ModalScript::ModalScript() {
    g_script = this;
    waitingSince_ = GetTickCount();
    timer_ = SetTimer(nullptr, 0, 20, &ModalScript::Tick);
}

ModalScript::~ModalScript() {
    KillTimer(nullptr, timer_);
    g_script = nullptr;
}

ModalScript& ModalScript::Then(const char* caption, Step step) {
    steps_.push_back({caption, std::move(step)});
    return *this;
}

ModalScript& ModalScript::Rescue(std::function<void()> rescue) {
    rescue_ = std::move(rescue);
    return *this;
}

void ModalScript::Abandon() {
    abandoned_ = true;
    next_ = steps_.size();
    if (rescue_) rescue_();
}

void CALLBACK ModalScript::Tick(HWND, UINT, UINT_PTR, DWORD) {
    ModalScript* script = g_script;
    // A step may run a nested loop of its own; it must not start the next one.
    if (!script || script->running_ || script->next_ >= script->steps_.size()) return;
    const Entry& entry = script->steps_[script->next_];
    HWND dialog = FindDialog(entry.caption.c_str());
    if (!dialog) {
        if (GetTickCount() - script->waitingSince_ > 5000) {
            ADD_FAILURE() << "no dialog \"" << entry.caption << "\"";
            script->Abandon();
        }
        return;
    }
    script->running_ = true;
    Step step = entry.step;
    ++script->next_;
    step(dialog);
    script->running_ = false;
    script->waitingSince_ = GetTickCount();
    if (::testing::Test::HasFatalFailure()) script->Abandon();
}

namespace {
struct Finder {
    const char* caption;
    HWND found;
};
BOOL CALLBACK FindOwnDialog(HWND window, LPARAM lParam) {
    auto* finder = reinterpret_cast<Finder*>(lParam);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[32] = {}, title[256] = {};
    GetClassNameA(window, className, sizeof(className));
    GetWindowTextA(window, title, sizeof(title));
    if (process == GetCurrentProcessId() && IsWindowVisible(window) && lstrcmpA(className, "#32770") == 0 &&
        lstrcmpA(title, finder->caption) == 0) {
        finder->found = window;
        return FALSE;
    }
    return TRUE;
}
} // namespace

HWND FindDialog(const char* caption) {
    Finder finder{caption, nullptr};
    EnumWindows(&FindOwnDialog, reinterpret_cast<LPARAM>(&finder));
    return finder.found;
}

void Type(HWND dialog, int id, const std::string& text) { SetDlgItemTextA(dialog, id, text.c_str()); }

std::string TextOf(HWND dialog, int id) {
    char text[256] = {};
    GetDlgItemTextA(dialog, id, text, sizeof(text));
    return text;
}

void Click(HWND dialog, int id) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

int FocusedId() {
    HWND focus = GetFocus();
    return focus ? GetDlgCtrlID(focus) : 0;
}

bool WholeTextSelected(HWND dialog, int id) {
    DWORD start = 0, end = 0;
    SendDlgItemMessageA(dialog, id, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return start == 0 && end == static_cast<DWORD>(GetWindowTextLengthA(GetDlgItem(dialog, id)));
}

} // namespace locktest

#pragma once
// Steps run from a timer while a modal dialog's own loop runs, so that a test
// can look at a dialog and answer it the way a user would.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace locktest {

class ModalScript {
public:
    // Gets the dialog the step waited for.
    using Step = std::function<void(HWND dialog)>;

    ModalScript();
    ~ModalScript();

    // The step runs once a visible dialog of this process has this caption.
    ModalScript& Then(const char* caption, Step step);
    // Run when a step fails or its dialog does not come, so a test never hangs
    // in a dialog it cannot close; the rest of the script is dropped.
    ModalScript& Rescue(std::function<void()> rescue);
    // Steps not run: a test that did not get through its script fails.
    size_t Remaining() const { return abandoned_ ? 1 : steps_.size() - next_; }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD);
    void Abandon();

    struct Entry {
        std::string caption;
        Step step;
    };
    std::vector<Entry> steps_;
    std::function<void()> rescue_;
    size_t next_ = 0;
    DWORD waitingSince_ = 0;
    bool running_ = false;
    bool abandoned_ = false;
    UINT_PTR timer_ = 0;
};

// A visible dialog of this process with this caption, or null.
HWND FindDialog(const char* caption);
void Type(HWND dialog, int id, const std::string& text);
std::string TextOf(HWND dialog, int id);
// A click on a button, as the button reports it.
void Click(HWND dialog, int id);
// The focused control's id, and whether its whole text is selected.
int FocusedId();
bool WholeTextSelected(HWND dialog, int id);

} // namespace locktest

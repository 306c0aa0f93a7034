#pragma once
// Watches for message boxes and dialogs (class "#32770") from a thread of its own, so
// that a modal box raised on the messenger's thread is seen and answered while that
// thread waits inside it. Each box is reported once; the oldest matching expectation
// answers it; a box nobody expects is reported and answered anyway.
#include <windows.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace standin {

struct DialogAnswer {
    std::string caption;                             // substring the caption must contain; empty: any
    std::string text;                                // substring the message text must contain; empty: any
    std::vector<std::pair<int, std::string>> edits;  // control id (0: first edit) -> text
    std::vector<std::string> selections;             // list-view rows to select, by any column's text
    std::string screenshot;                          // name of a screenshot to take before answering (modal boxes
                                                     // cannot be photographed by a step: the steps wait behind them)
    std::string button;                              // "OK", "Yes", ... a button's text, or a control id
    unsigned long delayMs = 0;                       // wait this long before answering (a dialog showing live values)
    bool again = false;  // the button keeps the dialog open: answer it again once it is enabled
};

class DialogWatcher {
public:
    DialogWatcher();
    ~DialogWatcher();
    DialogWatcher(const DialogWatcher&) = delete;
    DialogWatcher& operator=(const DialogWatcher&) = delete;

    // Where `screenshot` answers save their pictures.
    void SetOutputFolder(const std::string& folder) { outputFolder_ = folder; }
    void Start();
    void Stop();
    void Expect(const DialogAnswer& answer);
    size_t PendingExpectations();
    int SeenCount() const { return seen_; }
    // The number of boxes no step expected.
    int UnexpectedCount() const { return unexpected_; }

private:
    void Run();
    void Examine(HWND dialog);
    void Answer(HWND dialog, const DialogAnswer& answer, bool isMessageBox);

    std::string outputFolder_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::deque<DialogAnswer> expected_;
    std::set<HWND> handled_;
    // An answer naming a caption came: dialogs already on screen are looked at again,
    // so that a dialog can be answered more than once (a wrong password, then the right one).
    std::atomic<bool> recheck_{false};
    std::set<HWND> again_;  // answered, still open, to be examined anew once enabled
    std::atomic<int> seen_{0};
    std::atomic<int> unexpected_{0};
    struct Unexpected {
        HWND window;
        DWORD since;
    };
    std::vector<Unexpected> lingering_;
};

}  // namespace standin

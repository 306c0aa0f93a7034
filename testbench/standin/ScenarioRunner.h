#pragma once
// Plays a scenario against the stand-in messenger on its user-interface thread,
// pumping messages between steps so hooks, posted commands and timers all run, and
// writes every step and every change it observes into the transcript.
#include "testbench/standin/DialogWatcher.h"
#include "testbench/standin/Scenario.h"
#include "testbench/standin/StandinMessenger.h"

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace standin {

struct RunnerPaths {
    std::string dataFolder;    // where spawned programs and waited-for files are found
    std::string outputFolder;  // screenshots
};

// A visible or hidden top-level window of this process with exactly this title.
HWND OwnWindowTitled(const std::string& title);

class ScenarioRunner {
public:
    ScenarioRunner(StandinMessenger& messenger, MessengerState& state, DialogWatcher& watcher, RunnerPaths paths);
    ~ScenarioRunner();

    // Runs every step; returns the number of failed steps (waits that timed out,
    // unknown commands, steps that could not be done).
    int Run(const std::vector<Step>& steps);
    // Pumps messages for `ms` milliseconds; false once WM_QUIT arrived.
    bool Pump(DWORD ms);

private:
    bool Execute(const Step& step);
    bool Wait(const Step& step);
    bool MenuStep(const Step& step);
    bool AnswerStep(const Step& step);
    bool SpawnStep(const Step& step);
    bool PostStep(const Step& step, bool send);
    bool FreeLibraryStep(const Step& step);
    bool HookStreamStep(const Step& step);
    bool PressStep(const Step& step);
    // What the messenger does of its own while Parleym may have locked it: windows of
    // its own (messenger-window), enabling a window again (enable), its notification-
    // area menu (tray-menu), and a look at any named window (probe). OwnWindowSteps.cpp.
    bool OwnWindowStep(const Step& step, bool& known);
    void LogProbe(const std::string& name, HWND window);
    static void CALLBACK ProbeLater(HWND, UINT, UINT_PTR timer, DWORD);
    ConversationWindow* Conversation(const Step& step, size_t index);
    HWND WindowByName(const std::string& name);
    void Settle();
    void Observe(bool everything);
    std::map<std::string, std::string> Snapshot();
    std::string Resolve(const std::string& path) const;
    // One step with its transcript lines and the settling after it; false after `exit`.
    bool RunStep(const Step& step);
    // A message our own loops drop: the timer that goes on with the scenario only
    // inside someone else's modal loop.
    bool IsNestTimer(const MSG& msg) const;
    static void CALLBACK NestedTick(HWND, UINT, UINT_PTR, DWORD);
    // From now on (or no longer) the following steps run inside modal loops.
    void StepsInModalLoops(bool on);
    void ObserveWindowState(std::map<std::string, std::string>& now, const std::string& name, HWND window);

    StandinMessenger& messenger_;
    MessengerState& state_;
    DialogWatcher& watcher_;
    RunnerPaths paths_;
    std::map<std::string, std::string> observed_;
    std::vector<PROCESS_INFORMATION> spawned_;
    // Contacts whose sign-out the messenger knows of but has not told its sinks yet.
    std::vector<std::string> pendingSignOuts_;
    bool quit_ = false;
    int failures_ = 0;
    // option steps-in-modal-loops: while a modal loop (a dialog, a message box) runs on
    // this thread, the next steps run from inside it, as a user goes on using the program.
    const std::vector<Step>* steps_ = nullptr;
    size_t next_ = 0;
    bool nesting_ = false;
    bool inNestedStep_ = false;
    bool done_ = false;
    UINT_PTR nestTimer_ = 0;
    // option window-states: enabled and minimised state of the messenger's windows and
    // the visible windows they own.
    bool windowStates_ = false;
};

}  // namespace standin

#pragma once
// In-process test bench for the manager: a temporary data folder, a loader
// window that records what it is sent, messenger windows of either client,
// the stand-in Messenger API object, and a message hook that hands commands
// to the manager the way the hook library does.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "plugin/core/Parleymanager.h"
#include "plugin/core/UserSettingsFormat.h"
#include "testbench/standin/MessengerApiObject.h"
#include "testbench/standin/MessengerState.h"
#include "tests/support/MessageCapture.h"
#include "tests/support/TempFolder.h"

namespace coretest {

struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

using parleym::test::ShownMessage;

// Every handler call, in order, for the swap tests.
struct HandlerEvent {
    std::string what;
    int kind;
    HWND window;
    int number;
};
extern std::vector<HandlerEvent> g_handlerEvents;
// Test handlers raise a store error (as a failed save does) in OnHistoryChanged.
extern bool g_storeErrorOnHistory;
// Runs inside a test handler's OnContactStatus, as events inside a delivery's clicks do.
extern std::function<void(HWND window)> g_duringContactStatus;

// The manager with the other features' dialogs replaced by recorders.
class TestManager : public parleym::CParleymanager {
public:
    std::vector<std::string> calls;
    bool selectionResult = false;
    parleym::CContactInfo selectionChoice;
    bool viewLogsPasswordOk = true;
    std::string logsPathAnswer;
    bool realLogsDialog = false;  // the real save-file dialog instead of logsPathAnswer
    std::function<void()> whileAskingLogsPath;  // runs while the save-file dialog "shows"
    std::vector<std::string> pendingFor;  // contacts with offline messages waiting
    // The real password dialogs and lock instead of the recorders.
    bool realLock = false;
    // Logging windows get the real handler, saving into the log store.
    bool realLogHandlers = false;
    // Offline contacts' windows get the real handler; forwarding uses the real
    // handler and opens its window.
    bool realOfflineHandlers = false;
    bool realForwarding = false;
    // Runs while the contact picker is up (its modal loop lets events run).
    std::function<void()> duringSelection;
    std::string selectionExcluded;  // the sign-in name the last picker left out

protected:
    std::unique_ptr<parleym::ConversationHandler> CreateLogHandler(const parleym::CContactInfo& contact) override;
    std::unique_ptr<parleym::ConversationHandler> CreateOfflineMessageHandler(
        const parleym::CContactInfo& contact) override;
    std::unique_ptr<parleym::ConversationHandler> CreateForwardHandler() override;
    // The recording forward handler has no window to open.
    bool StartForwarding(parleym::ConversationHandler& forward, const parleym::CContactInfo& target) override {
        return realForwarding ? CParleymanager::StartForwarding(forward, target) : true;
    }
    void ShowForwarding(parleym::ConversationHandler& forward) override {
        if (realForwarding) CParleymanager::ShowForwarding(forward);
    }
    bool RunContactSelection(parleym::ContactSelectionMode mode, parleym::CContactInfo& chosen,
                             const std::string& excluded) override;
    void RunStatisticsDialog() override { calls.push_back("statistics"); }
    void RunSetPasswordDialog() override {
        calls.push_back("set-password");
        if (realLock) CParleymanager::RunSetPasswordDialog();
    }
    bool RunViewLogsPasswordDialog() override {
        calls.push_back("view-logs-password");
        return realLock ? CParleymanager::RunViewLogsPasswordDialog() : viewLogsPasswordOk;
    }
    void OpenLogViewer() override { calls.push_back("log-viewer"); }
    void OpenBroadcastDialog() override { calls.push_back("broadcast"); }
    void LockMessenger(bool fromTimer) override {
        calls.push_back(fromTimer ? "lock-timer" : "lock");
        if (realLock) CParleymanager::LockMessenger(fromTimer);
    }
    bool AskLogsPath(std::string& path) override;
    bool HasPendingMessages(const std::string& signInName) override;
};

class Bench {
public:
    // clientKind 1 or 2; the messenger's windows are made by the test as needed.
    explicit Bench(int clientKind = 1);
    ~Bench();

    // users.dat with these records (written encrypted), or none at all.
    void WriteUsersFile(const std::vector<parleym::CUserSettings>& records);
    void RemoveUsersFile();
    std::string DataFile(const char* name) const { return folder_.Path(name); }
    std::string Folder() const { return folder_.Path(); }

    void CreateUiManagerWindow();
    HWND CreateMainWindow();
    HWND CreateGenericWindow(bool withList);
    // A conversation window whose "edit" child shows `addressText`.
    HWND CreateConversationWindow(const std::string& addressText);
    HWND LoaderWindow() const { return loader_; }

    standin::MessengerState& State() { return state_; }
    standin::MessengerApi& Api() { return *api_; }
    void SignIn(const std::string& signIn, const std::string& friendly);

    // Creates the manager (as GetInstance would) and runs Init.
    TestManager& Start(BOOL expected = TRUE);
    TestManager& Manager() { return *manager_; }
    // Uninit and delete through IPlugin, as the hook library does.
    void Stop();

    void Pump();
    std::vector<Received> LoaderMessages(UINT message) const;
    void ClearLoaderMessages();
    std::vector<ShownMessage> Messages() const { return messages_.Messages(); }
    void ClearMessages() { messages_.Clear(); }
    // What the next message box returns.
    void AnswerMessages(int answer) { messages_.Answer(answer); }
    // Runs while a box "shows" (a real one dispatches messages meanwhile).
    void WhileShowing(std::function<void(const std::string& text)> action);
    // Boxes shown directly while the plug-in's errors were being held back: each
    // ran a modal loop in the middle of the plug-in's own work.
    std::vector<std::string> BoxesWhileDeferred() const { return boxesWhileDeferred_; }

    int clientKind;

private:
    parleym::test::TempFolder folder_{"parleym-core"};
    parleym::test::MessageCapture messages_;
    std::function<void(const std::string& text)> whileShowing_;
    bool showing_ = false;
    std::vector<std::string> boxesWhileDeferred_;
    HWND loader_ = nullptr;
    HWND uiManager_ = nullptr;
    std::vector<HWND> windows_;
    standin::MessengerState state_;
    std::unique_ptr<standin::MessengerHost> host_;
    std::unique_ptr<standin::MessengerApi> api_;
    TestManager* manager_ = nullptr;
    HHOOK hook_ = nullptr;
};

// Item texts of a menu, by position ("-" for separators).
std::vector<std::string> MenuTexts(HMENU menu);
HMENU ParleymPopup(HWND window);
int CountParleymItems(HWND window);
bool IsChecked(HMENU menu, UINT id);
bool IsGrayed(HMENU menu, UINT id);
// The label is wide enough for its whole text on one line, in the font it is drawn with.
bool ShowsWholeText(HWND label);
// ShowsWholeText for every one-line text label of the dialog.
bool AllLabelsShowWholeText(HWND dialog);

} // namespace coretest

#pragma once
// The real plug-in manager started in this process on a temporary data
// folder, with the log store open for one account, plus a stand-in
// conversation window (class "IMWindowClass" with a read-only history).
#include <windows.h>

#include <string>
#include <vector>

#include "plugin/core/Parleymanager.h"
#include "plugin/core/UserMessage.h"
#include "plugin/logging/LogManager.h"
#include "plugin/logging/ObjectCache.h"
#include "tests/logging/RichEditTestSupport.h"
#include "tests/support/MessageCapture.h"
#include "tests/support/MessagePump.h"

namespace parleym_test {

using parleym::test::ShownMessage;

class ManagerHarness {
public:
    static constexpr const char* kAccount = "me@parleym.example";

    ManagerHarness();
    ~ManagerHarness();

    parleym::CParleymanager& Manager() { return manager_; }
    parleym::CLogManager& LogStore() { return manager_.LogStore(); }
    parleym::CObjectCache& ObjectCache() { return manager_.ObjectCache(); }
    std::string DataFile(const std::string& name) const { return folder_.Path(name); }

    // Closes and reopens the log file and account, as a sign-out and sign-in do.
    void ReopenLogs();

    // A conversation window; returns it and its history control.
    HWND NewConversationWindow(HWND* history);

    // Message boxes shown since the harness started (the one alive).
    static std::vector<ShownMessage>& Messages();

private:
    OleEnvironment ole_;
    TempFolder folder_;
    parleym::test::MessageCapture messages_;
    parleym::CParleymanager manager_;
    std::vector<HWND> windows_;
};

// Lets posted messages (the viewer's first update, tree notifications) run.
inline void PumpMessages() { parleym::test::PumpMessages(3, 10); }

} // namespace parleym_test

#pragma once
// The messenger as the plug-in meets it, in this process: the stand-in's
// Messenger API object with a signed-in account, its user-interface manager
// and main window, a data folder with an empty users.dat, and a message hook
// that hands the plug-in's commands to the manager as the hook library does.
// For the benchmarks that run the real manager.
#include <windows.h>

#include <memory>
#include <string>

#include "plugin/core/Parleymanager.h"
#include "testbench/standin/MessengerApiObject.h"
#include "testbench/standin/MessengerState.h"

namespace bench {

class InProcessMessenger {
public:
    static constexpr const char* kAccount = "me@example.com";
    static constexpr const char* kContact = "ann@example.com";

    InProcessMessenger();
    ~InProcessMessenger();

    const std::string& Folder() const { return folder_; }
    std::string DataFile(const char* name) const { return folder_ + name; }

    // A new manager on the data folder, started as the hook library starts it;
    // null when Init refused.
    parleym::CParleymanager* Start();
    void Stop();
    parleym::CParleymanager* Manager() const { return manager_; }

    // A conversation window with the contact, holding a read-only rich-edit
    // history; the manager is told of it. Returns the history control.
    HWND OpenConversation(HWND* window);

    // Handles every message waiting for this thread.
    static void Pump();

private:
    class Host;
    std::string folder_;
    standin::MessengerState state_;
    std::unique_ptr<Host> host_;
    std::unique_ptr<standin::MessengerApi> api_;
    HWND uiManager_ = nullptr;
    HWND main_ = nullptr;
    HHOOK hook_ = nullptr;
    parleym::CParleymanager* manager_ = nullptr;
};

// A path in the temporary folder, with no file there.
std::string TempPath(const std::string& name);

} // namespace bench

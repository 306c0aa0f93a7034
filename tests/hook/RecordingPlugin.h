#pragma once
// An in-process IPlugin that records each call as one line of text.
#include "shared/IPlugin.h"

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace parleym::test {

class RecordingPlugin : public IPlugin {
public:
    std::vector<std::string> calls;
    std::set<HWND> messengerWindows;
    const char* title = nullptr;
    bool throwEverywhere = false;

    static std::string Hex(const void* value) {
        char text[32];
        snprintf(text, sizeof(text), "%p", value);
        return text;
    }

    BOOL Init(int kind) override { return Record("Init " + std::to_string(kind)), TRUE; }
    void Uninit() override { Record("Uninit"); }
    BOOL IsMessengerWindow(HWND window, BOOL notifyShown) override {
        Record("IsMessengerWindow " + Hex(window) + " " + std::to_string(notifyShown));
        return messengerWindows.count(window) ? TRUE : FALSE;
    }
    void OnWindowShown(HWND window) override { Record("OnWindowShown " + Hex(window)); }
    void OnWindowDestroyed(HWND window) override { Record("OnWindowDestroyed " + Hex(window)); }
    void OnInitMenu(HWND window, HMENU menu) override {
        Record("OnInitMenu " + Hex(window) + " " + Hex(menu));
    }
    void OnCommand(HWND window, WPARAM wParam, LPARAM lParam) override {
        Record("OnCommand " + Hex(window) + " " + std::to_string(wParam) + " " +
               Hex(reinterpret_cast<void*>(lParam)));
    }
    const char* GetWindowTitle(HWND window) override {
        Record("GetWindowTitle " + Hex(window));
        return title;
    }
    void OnButtonClicked(HWND control) override { Record("OnButtonClicked " + Hex(control)); }
    void OnKeyDown(UINT key, HWND control) override {
        Record("OnKeyDown " + std::to_string(key) + " " + Hex(control));
    }
    void OnWindowSized(HWND window) override { Record("OnWindowSized " + Hex(window)); }
    void OnHistoryChanged(HWND control) override { Record("OnHistoryChanged " + Hex(control)); }
    void OnEditChanged(HWND control) override { Record("OnEditChanged " + Hex(control)); }
    void OnUserActivity() override { Record("OnUserActivity"); }

private:
    void Record(const std::string& call) {
        calls.push_back(call);
        if (throwEverywhere) throw std::runtime_error("plug-in failure");
    }
};

} // namespace parleym::test

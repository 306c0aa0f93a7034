#pragma once
// Keeps a locked messenger locked while it goes on running: on the messenger's
// user-interface thread, every top-level window that is shown or enabled again
// is disabled at once, nothing but the lock's own windows can be activated, and
// no popup menu of the messenger opens. The unlock enables what it disabled.
#include <windows.h>

#include <functional>
#include <vector>

namespace parleym {

class CLockGuard {
public:
    // Windows the lock leaves usable (the unlock dialog and what it owns, the
    // panels, the About box); they and the windows they own are left alone.
    using UsablePredicate = std::function<bool(HWND window)>;
    // A top-level window moved, changed size, or was shown or hidden.
    using WindowChanged = std::function<void(HWND window)>;

    CLockGuard(UsablePredicate usable, WindowChanged changed);
    ~CLockGuard();
    CLockGuard(const CLockGuard&) = delete;
    CLockGuard& operator=(const CLockGuard&) = delete;

    // On the calling thread; one guard at a time. Starting again does nothing.
    bool Start();
    // Ends the watching; the windows it disabled stay disabled (see Release).
    void Stop();
    bool Started() const;

    // Disables the window now, and remembers it for Release, when it was enabled.
    void Hold(HWND window);
    // Enables every window the guard disabled, in the order it disabled them.
    void Release();

    // Whether the window itself, or a window owning it, is left usable.
    bool IsUsable(HWND window) const;

private:
    static LRESULT CALLBACK AfterWindowProc(int code, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ComputerBasedTraining(int code, WPARAM wParam, LPARAM lParam);
    static void CALLBACK Recheck(HWND, UINT, UINT_PTR timer, DWORD);
    void OnMessageHandled(const CWPRETSTRUCT& message);
    bool RefusesCreation(HWND window, const CREATESTRUCTA& create) const;

    UsablePredicate usable_;
    WindowChanged changed_;
    HHOOK afterHook_ = nullptr;
    HHOOK trainingHook_ = nullptr;
    std::vector<HWND> held_;
    // Lock windows disabled by someone, to be looked at once that has settled.
    std::vector<HWND> recheck_;
    UINT_PTR recheckTimer_ = 0;
    bool handling_ = false;
};

// A top-level window: neither a child nor a message-only window.
bool IsTopLevelWindow(HWND window);

} // namespace parleym

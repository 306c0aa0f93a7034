#pragma once
#include <windows.h>

namespace parleym {

// The three system-wide hooks of the hook library, installed for all threads.
class HookInstaller {
public:
    HookInstaller() = default;
    ~HookInstaller() { Remove(); }
    HookInstaller(const HookInstaller&) = delete;
    HookInstaller& operator=(const HookInstaller&) = delete;

    void SetModule(HMODULE module) { module_ = module; }

    // Installs what is missing. False when the library lacks one of the
    // procedures; nothing stays installed then.
    bool Install();
    // Removes the installed hooks (call-window, call-window-return, get-message).
    void Remove();

    bool AnyInstalled() const { return getMessage_ || callWindow_ || callWindowReturn_; }
    bool AllInstalled() const { return getMessage_ && callWindow_ && callWindowReturn_; }

private:
    HMODULE module_ = nullptr;
    HHOOK getMessage_ = nullptr;
    HHOOK callWindow_ = nullptr;
    HHOOK callWindowReturn_ = nullptr;
};

} // namespace parleym

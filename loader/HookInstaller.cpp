#include "loader/HookInstaller.h"

namespace parleym {
namespace {

HOOKPROC FindProcedure(HMODULE module, const char* name) {
    return module ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

void Unhook(HHOOK& hook) {
    if (hook) UnhookWindowsHookEx(hook);
    hook = nullptr;
}

} // namespace

bool HookInstaller::Install() {
    HOOKPROC getMessage = FindProcedure(module_, "GetMsgProc");
    if (!getMessage_ && getMessage) getMessage_ = SetWindowsHookExA(WH_GETMESSAGE, getMessage, module_, 0);

    HOOKPROC callWindow = FindProcedure(module_, "CallWndProc");
    if ((getMessage || getMessage_) && !callWindow_ && callWindow)
        callWindow_ = SetWindowsHookExA(WH_CALLWNDPROC, callWindow, module_, 0);

    HOOKPROC callWindowReturn = FindProcedure(module_, "CallWndRetProc");
    if (callWindowReturn && !callWindowReturn_)
        callWindowReturn_ = SetWindowsHookExA(WH_CALLWNDPROCRET, callWindowReturn, module_, 0);

    if (getMessage && callWindow && callWindowReturn) return true;
    // A partial set would run the plug-in with events missing while the tray
    // says it is off.
    Remove();
    return false;
}

void HookInstaller::Remove() {
    Unhook(callWindow_);
    Unhook(callWindowReturn_);
    Unhook(getMessage_);
}

} // namespace parleym

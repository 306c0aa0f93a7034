#include <new>

#include "plugin/core/Parleymanager.h"
#include "shared/SwallowedFailure.h"

// The plug-in's only export. The hook library owns the object and deletes it
// through IPlugin's destructor after Uninit.
extern "C" __declspec(dllexport) parleym::IPlugin* GetInstance() {
    try {
        auto* manager = new (std::nothrow) parleym::CParleymanager();
        parleym::CParleymanager::SetProcessInstance(manager);
        return manager;
    } catch (...) {
        parleym::ReportSwallowed("plug-in GetInstance");
        return nullptr;
    }
}

// When the messenger ends with the plug-in running, this library is detached before
// the hook library that loaded it (libraries leave in the reverse order of their
// start), so the hook library cannot call Uninit on it any more: the stores are
// saved here. An ordinary unload (lpReserved null) has had Uninit already.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    try {
        if (reason == DLL_PROCESS_DETACH && reserved) {
            if (parleym::CParleymanager* manager = parleym::CParleymanager::ProcessInstance())
                manager->ShutdownAtProcessExit();
        }
    } catch (...) {
        parleym::ReportSwallowed("plug-in DllMain");
    }
    return TRUE;
}

#include <new>

#include "plugin/core/Parleymanager.h"

// The plug-in's only export. The hook library owns the object and deletes it
// through IPlugin's destructor after Uninit.
extern "C" __declspec(dllexport) parleym::IPlugin* GetInstance() {
    try {
        return new (std::nothrow) parleym::CParleymanager();
    } catch (...) {
        return nullptr;
    }
}

#pragma once
#include <windows.h>

namespace parleym {

// Replaces, in every import descriptor of `module`, the first address-table
// entry bound to moduleName!functionName with `replacement`, saving the old
// value in *saved. Only `module`'s own table changes. TRUE if any entry changed.
BOOL PatchImport(HMODULE module, const char* moduleName, const char* functionName,
                 void* replacement, void** saved);

// Puts `saved` back into the first entry equal to `replacement` of every
// descriptor. TRUE if any entry changed.
BOOL RestoreImport(HMODULE module, void* replacement, void* saved);

} // namespace parleym

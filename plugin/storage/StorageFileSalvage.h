#pragma once
// A data file that fails the look before opening is salvaged, never patched:
// what its store can still read whole is copied into a fresh file (made with
// the ordinary compound-file code beside it), the damaged bytes are kept as
// they are in "<file>.damaged-YYYYMMDD-HHMMSS" beside it, and the fresh file
// then takes the data file's name in one move, so an end at any point leaves
// either the damaged file or the complete fresh one under that name. The
// user is told in one box what was kept and what could not be read.
#include <objbase.h>

#include <string>

#include "plugin/storage/CompoundFileSalvage.h"
#include "plugin/storage/SalvagePlan.h"

namespace parleym {

// S_OK: the fresh file lies at `path` and the user has been told.
// STG_E_DOCFILECORRUPT: nothing of the store's could be read; the file is
// left as it is. Any other failure (the disk full, the folder read-only):
// nothing was changed either, and the code says why.
HRESULT SalvageStorageFile(const std::wstring& path, SalvagePlanner planner);

} // namespace parleym

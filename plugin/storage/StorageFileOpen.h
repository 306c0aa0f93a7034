#pragma once
// Opening an existing data file as a compound file. The file is looked at
// first (CompoundFileCheck), only read: Wine's compound-file code spins
// forever on some truncated files, for instance one whose directory
// continues past the end, where Windows reports them as damaged. A file that
// fails the look is never handed to the platform and never written to: its
// store's salvage, where it has one, puts a fresh file in its place
// (StorageFileSalvage.h); otherwise it is reported the way the platform
// reports a damaged one.
#include <objbase.h>

#include <string>

#include "plugin/storage/SalvagePlan.h"

namespace parleym {

// S_OK when the file may be handed to the platform; STG_E_FILEALREADYEXISTS
// for a file that is not a compound file at all (zero length included),
// STG_E_DOCFILECORRUPT for a damaged one. A file that cannot be read here is
// left to the platform's own open to report.
// `mayHoldPendingRewrites`, when given, is false only when the look went
// through the whole file and no stream anywhere bears the name of a rewrite's
// sibling (see StreamReplace.h), so that no storage needs listing for them.
HRESULT CheckStorageFile(const std::wstring& path, bool* mayHoldPendingRewrites = nullptr);

// CheckStorageFile, then StgOpenStorage with `mode`. A damaged file is
// salvaged first with `salvage`, when given.
HRESULT OpenStorageFile(const std::wstring& path, DWORD mode, IStorage** root, bool* mayHoldPendingRewrites = nullptr,
                        SalvagePlanner salvage = nullptr);

// A new, empty compound file at `path`, opened with `mode`. It is made
// beside as "<path>.new" and moved into place complete: an end during the
// making would otherwise leave a file of zero length under the data file's
// name, which every later start has to refuse as foreign. Never replaces a
// file already at `path`.
HRESULT CreateStorageFile(const std::wstring& path, DWORD mode, IStorage** root);

} // namespace parleym

#pragma once
// Opening the compound data files. Every file goes through our own byte store
// (JournaledFile, through the DataFileSystem) beneath the platform's
// compound-file code, so that a store operation reaches the disk whole or not
// at all, and the look at the file (CompoundFileCheck) happens on the bytes
// as the last commit point left them. The look keeps Wine's compound-file
// code from spinning forever on some truncated files, which Windows reports
// as damaged, and it only reads: a file that fails it is never handed to the
// platform and never written to. Its store's salvage, where it has one, puts
// a fresh file in its place (StorageFileSalvage.h); otherwise it is reported
// the way the platform reports a damaged one.
#include <objbase.h>

#include <memory>
#include <string>

#include "plugin/storage/Scoped.h"
#include "plugin/storage/SalvagePlan.h"

namespace parleym {

class JournaledFile;
class JournaledLockBytes;

// A data file open for a store, held without sharing until Close.
class StorageFile {
public:
    StorageFile();
    ~StorageFile();
    StorageFile(const StorageFile&) = delete;
    StorageFile& operator=(const StorageFile&) = delete;

    // Opens `path`, or makes a new compound file there when there is none, or
    // only an empty one (what an end during the making of one leaves).
    // `created` tells which. The failure codes are CheckStorageFile's and the
    // platform's. `mayHoldPendingRewrites` as for CheckStorageFile. A damaged
    // file is salvaged first with `salvage`, when given.
    HRESULT Open(const std::wstring& path, bool* created = nullptr, bool* mayHoldPendingRewrites = nullptr,
                 SalvagePlanner salvage = nullptr);
    bool IsOpen() const { return static_cast<bool>(root_); }
    IStorage* Root() const { return root_.Get(); }

    // The end of one store operation: everything the compound-file code holds
    // goes to the byte store, and from there to the disk, whole. On failure
    // the disk stays as at the last commit point and the changes stay in
    // memory for the next commit.
    HRESULT Commit();
    // Back to the last commit point, for an operation that failed part-way:
    // what was written since is dropped and the root is opened anew. Every
    // element opened from the old root fails from now on.
    HRESULT Revert();
    // Lets go of the root (what it still writes is committed with the rest)
    // and the file.
    void Close();

private:
    HRESULT OpenFile(const std::wstring& path, bool* mayHoldPendingRewrites);
    HRESULT OpenRoot(bool* created);

    std::shared_ptr<JournaledFile> file_;
    ComPtr<JournaledLockBytes> bytes_;
    ComPtr<IStorage> root_;
};

// The look at the file at `path` as it would be opened, read-only. S_OK when
// the file may be handed to the platform; STG_E_FILEALREADYEXISTS for a file
// that is not a compound file at all (zero length included),
// STG_E_DOCFILECORRUPT for a damaged one. A file that cannot be read here is
// left to the platform's own open to report. `mayHoldPendingRewrites`, when
// given, is false only when the look went through the whole file and no
// stream anywhere bears the name of a rewrite's sibling, which versions before
// the journal left while they rewrote a stream (see LeftoverRewrites.h).
HRESULT CheckStorageFile(const std::wstring& path, bool* mayHoldPendingRewrites = nullptr);

// A look inside a file without changing it: `mode` must not ask for writing.
// A save cut short is rolled back in what is read only. The root owns
// everything it needs.
HRESULT OpenStorageFile(const std::wstring& path, DWORD mode, IStorage** root);

} // namespace parleym

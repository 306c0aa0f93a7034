#pragma once
// The compound-file code's view of a JournaledFile: an ILockBytes whose
// writes wait in memory for the store's commit point. Flush does nothing on
// purpose: the compound-file code calls it after every stream write (Wine)
// or whenever it likes, and a commit point is the end of a whole store
// operation, which only the store knows (StorageFile::Commit).
#include <objbase.h>

#include <memory>

#include "plugin/storage/Disk.h"

namespace parleym {

class JournaledFile;

// How a disk failure is reported by the storage interfaces.
HRESULT StorageErrorOf(DiskError error, bool writing);

class JournaledLockBytes final : public ILockBytes {
public:
    explicit JournaledLockBytes(std::shared_ptr<JournaledFile> file);

    // From now on every call fails: the compound-file objects still holding
    // this one belong to a root that was let go.
    void Detach() { file_.reset(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE ReadAt(ULARGE_INTEGER offset, void* buffer, ULONG size, ULONG* read) override;
    HRESULT STDMETHODCALLTYPE WriteAt(ULARGE_INTEGER offset, const void* buffer, ULONG size, ULONG* written) override;
    HRESULT STDMETHODCALLTYPE Flush() override;
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override;
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD type) override;
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD type) override;
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override;

private:
    ~JournaledLockBytes();
    LONG refs_ = 1;
    std::shared_ptr<JournaledFile> file_;
};

} // namespace parleym

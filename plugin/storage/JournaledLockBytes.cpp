#include "plugin/storage/JournaledLockBytes.h"

#include <cwchar>

#include "plugin/storage/JournaledFile.h"
#include "shared/SwallowedFailure.h"

namespace parleym {

HRESULT StorageErrorOf(DiskError error, bool writing) {
    switch (error) {
    case disk_error::kNone:
        return S_OK;
    case disk_error::kFileNotFound:
        return STG_E_FILENOTFOUND;
    case disk_error::kPathNotFound:
        return STG_E_PATHNOTFOUND;
    case disk_error::kAccessDenied:
    case ERROR_WRITE_PROTECT:
        return STG_E_ACCESSDENIED;
    case disk_error::kSharingViolation:
        return STG_E_SHAREVIOLATION;
    case ERROR_LOCK_VIOLATION:
        return STG_E_LOCKVIOLATION;
    case ERROR_TOO_MANY_OPEN_FILES:
        return STG_E_TOOMANYOPENFILES;
    case disk_error::kDiskFull:
    case disk_error::kHandleDiskFull:
        return STG_E_MEDIUMFULL;
    default:
        return writing ? STG_E_WRITEFAULT : STG_E_READFAULT;
    }
}

JournaledLockBytes::JournaledLockBytes(std::shared_ptr<JournaledFile> file) : file_(std::move(file)) {}

JournaledLockBytes::~JournaledLockBytes() = default;

HRESULT STDMETHODCALLTYPE JournaledLockBytes::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ILockBytes) {
        *out = static_cast<ILockBytes*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE JournaledLockBytes::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG STDMETHODCALLTYPE JournaledLockBytes::Release() {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) {
        try {
            delete this;
        } catch (...) {
            ReportSwallowed("journaled store Release");
        }
    }
    return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE JournaledLockBytes::ReadAt(ULARGE_INTEGER offset, void* buffer, ULONG size, ULONG* read) {
    try {
        if (read) *read = 0;
        if (!file_) return STG_E_REVERTED;
        if (!buffer && size) return STG_E_INVALIDPOINTER;
        std::size_t got = 0;
        const DiskError error = file_->Read(offset.QuadPart, buffer, size, got);
        if (read) *read = static_cast<ULONG>(got);
        return StorageErrorOf(error, false);
    } catch (...) {
        ReportSwallowed("journaled store ReadAt");
        return STG_E_INSUFFICIENTMEMORY;
    }
}

HRESULT STDMETHODCALLTYPE JournaledLockBytes::WriteAt(ULARGE_INTEGER offset, const void* buffer, ULONG size,
                                                      ULONG* written) {
    try {
        if (written) *written = 0;
        if (!file_) return STG_E_REVERTED;
        if (!buffer && size) return STG_E_INVALIDPOINTER;
        const DiskError error = file_->Write(offset.QuadPart, buffer, size);
        if (error == disk_error::kNone && written) *written = size;
        return StorageErrorOf(error, true);
    } catch (...) {
        ReportSwallowed("journaled store WriteAt");
        return STG_E_INSUFFICIENTMEMORY;
    }
}

HRESULT STDMETHODCALLTYPE JournaledLockBytes::Flush() { return file_ ? S_OK : STG_E_REVERTED; }

HRESULT STDMETHODCALLTYPE JournaledLockBytes::SetSize(ULARGE_INTEGER size) {
    try {
        if (!file_) return STG_E_REVERTED;
        return StorageErrorOf(file_->SetSize(size.QuadPart), true);
    } catch (...) {
        ReportSwallowed("journaled store SetSize");
        return STG_E_INSUFFICIENTMEMORY;
    }
}

// The file is held without sharing already; ranges need no locks of their own
// (and Stat says none are supported, so the compound-file code asks for none).
HRESULT STDMETHODCALLTYPE JournaledLockBytes::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return STG_E_INVALIDFUNCTION;
}

HRESULT STDMETHODCALLTYPE JournaledLockBytes::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return STG_E_INVALIDFUNCTION;
}

HRESULT STDMETHODCALLTYPE JournaledLockBytes::Stat(STATSTG* stat, DWORD flags) {
    try {
        if (!stat) return STG_E_INVALIDPOINTER;
        *stat = STATSTG{};
        if (!file_) return STG_E_REVERTED;
        stat->type = STGTY_LOCKBYTES;
        stat->cbSize.QuadPart = file_->Size();
        stat->grfMode = file_->OpenedFor() == JournaledFile::Mode::readWrite
                            ? STGM_READWRITE | STGM_SHARE_EXCLUSIVE
                            : STGM_READ | STGM_SHARE_DENY_WRITE;
        stat->grfLocksSupported = 0;
        if (!(flags & STATFLAG_NONAME)) {
            const std::wstring& path = file_->Path();
            stat->pwcsName = static_cast<LPOLESTR>(CoTaskMemAlloc((path.size() + 1) * sizeof(wchar_t)));
            if (!stat->pwcsName) return STG_E_INSUFFICIENTMEMORY;
            std::wmemcpy(stat->pwcsName, path.c_str(), path.size() + 1);
        }
        return S_OK;
    } catch (...) {
        ReportSwallowed("journaled store Stat");
        return STG_E_INSUFFICIENTMEMORY;
    }
}

} // namespace parleym

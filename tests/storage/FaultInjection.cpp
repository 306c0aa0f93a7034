#include "tests/storage/FaultInjection.h"

#include <windows.h>

#include <cwchar>
#include <string>

#include "hook/ImportPatch.h"

namespace storage_faults {

namespace {

FaultPlan g_plan;

enum class Verdict { Pass, Fail, Partial, FailIfGrowing };

Verdict Count() {
    FaultPlan& plan = g_plan;
    if (!plan.armed) return Verdict::Pass;
    ++plan.calls;
    if (plan.failAt == 0) return Verdict::Pass;
    // The caller counts what it made fail.
    if (plan.failure == Failure::DiskFull) return plan.calls >= plan.failAt ? Verdict::FailIfGrowing : Verdict::Pass;
    if (plan.calls == plan.failAt) {
        ++plan.injected;
        return plan.failure == Failure::Partial ? Verdict::Partial : Verdict::Fail;
    }
    if (plan.sticky && plan.calls > plan.failAt) {
        ++plan.injected;
        return Verdict::Fail;
    }
    return Verdict::Pass;
}

constexpr HRESULT kInjected = STG_E_MEDIUMFULL;

HRESULT FromLastError() {
    const DWORD error = GetLastError();
    switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return STG_E_SHAREVIOLATION;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return STG_E_FILENOTFOUND;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return STG_E_FILEALREADYEXISTS;
    case ERROR_ACCESS_DENIED:
        return STG_E_ACCESSDENIED;
    default:
        return HRESULT_FROM_WIN32(error);
    }
}

// The file under the compound-file code, read and written at offsets.
class FileLockBytes final : public ILockBytes {
public:
    FileLockBytes(HANDLE file, std::wstring path, DWORD mode) : file_(file), path_(std::move(path)), mode_(mode) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_ILockBytes) {
            *out = static_cast<ILockBytes*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE ReadAt(ULARGE_INTEGER offset, void* buffer, ULONG size, ULONG* read) override {
        if (read) *read = 0;
        OVERLAPPED at = {};
        at.Offset = offset.LowPart;
        at.OffsetHigh = offset.HighPart;
        DWORD got = 0;
        if (!ReadFile(file_, buffer, size, &got, &at) && GetLastError() != ERROR_HANDLE_EOF) return STG_E_READFAULT;
        if (read) *read = got;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE WriteAt(ULARGE_INTEGER offset, const void* buffer, ULONG size, ULONG* written) override {
        if (written) *written = 0;
        Verdict verdict = Count();
        if (verdict == Verdict::Fail) return kInjected;
        ULONG length = verdict == Verdict::Partial ? size / 2 : size;
        if (verdict == Verdict::FailIfGrowing) {
            const ULONGLONG end = FileSize();
            if (offset.QuadPart + size <= end) {
                verdict = Verdict::Pass;
            } else {
                ++g_plan.injected;
                verdict = Verdict::Partial;
                length = offset.QuadPart >= end ? 0 : static_cast<ULONG>(end - offset.QuadPart);
            }
        }
        OVERLAPPED at = {};
        at.Offset = offset.LowPart;
        at.OffsetHigh = offset.HighPart;
        DWORD done = 0;
        if (length > 0 && !WriteFile(file_, buffer, length, &done, &at)) return STG_E_WRITEFAULT;
        if (written) *written = done;
        return verdict == Verdict::Partial ? kInjected : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Flush() override {
        const Verdict verdict = Count();
        return verdict == Verdict::Pass || verdict == Verdict::FailIfGrowing ? S_OK : kInjected;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override {
        const Verdict verdict = Count();
        if (verdict == Verdict::FailIfGrowing) {
            if (size.QuadPart > FileSize()) {
                ++g_plan.injected;
                return kInjected;
            }
        } else if (verdict != Verdict::Pass) {
            return kInjected;
        }
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(size.QuadPart);
        if (!SetFilePointerEx(file_, to, nullptr, FILE_BEGIN) || !SetEndOfFile(file_)) return STG_E_MEDIUMFULL;
        return S_OK;
    }
    // The file is held without sharing already; ranges need no locks of their own.
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override {
        if (!stat) return STG_E_INVALIDPOINTER;
        *stat = STATSTG{};
        stat->type = STGTY_LOCKBYTES;
        LARGE_INTEGER size = {};
        if (!GetFileSizeEx(file_, &size)) return STG_E_ACCESSDENIED;
        stat->cbSize.QuadPart = static_cast<ULONGLONG>(size.QuadPart);
        stat->grfMode = mode_;
        GetFileTime(file_, &stat->ctime, &stat->atime, &stat->mtime);
        if (!(flags & STATFLAG_NONAME)) {
            const std::size_t bytes = (path_.size() + 1) * sizeof(wchar_t);
            stat->pwcsName = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
            if (!stat->pwcsName) return STG_E_INSUFFICIENTMEMORY;
            std::wmemcpy(stat->pwcsName, path_.c_str(), path_.size() + 1);
        }
        return S_OK;
    }

private:
    ~FileLockBytes() { CloseHandle(file_); }

    ULONGLONG FileSize() const {
        LARGE_INTEGER size = {};
        return GetFileSizeEx(file_, &size) ? static_cast<ULONGLONG>(size.QuadPart) : 0;
    }

    LONG refs_ = 1;
    HANDLE file_;
    std::wstring path_;
    DWORD mode_;
};

IStream* WrapStream(IStream* real);
IStorage* WrapStorage(IStorage* real);

template <class Interface>
class Wrapper : public Interface {
public:
    explicit Wrapper(Interface* real) : real_(real) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == __uuidof(Interface)) {
            *out = static_cast<Interface*>(this);
            this->AddRef();
            return S_OK;
        }
        // Nothing else is handed out unwrapped.
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

protected:
    virtual ~Wrapper() { real_->Release(); }
    Interface* real_;

private:
    LONG refs_ = 1;
};

class WrappedStream final : public Wrapper<IStream> {
public:
    using Wrapper::Wrapper;

    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG size, ULONG* read) override {
        if (Count() != Verdict::Pass) {
            if (read) *read = 0;
            return kInjected;
        }
        return real_->Read(buffer, size, read);
    }
    HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG size, ULONG* written) override {
        const Verdict verdict = Count();
        if (written) *written = 0;
        if (verdict == Verdict::Fail) return kInjected;
        if (verdict == Verdict::Partial) {
            real_->Write(buffer, size / 2, written);
            return kInjected;
        }
        return real_->Write(buffer, size, written);
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        return real_->Seek(move, origin, position);
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override {
        return Count() == Verdict::Pass ? real_->SetSize(size) : kInjected;
    }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read,
                                     ULARGE_INTEGER* written) override {
        return Count() == Verdict::Pass ? real_->CopyTo(target, size, read, written) : kInjected;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override {
        return Count() == Verdict::Pass ? real_->Commit(flags) : kInjected;
    }
    HRESULT STDMETHODCALLTYPE Revert() override { return real_->Revert(); }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD type) override {
        return real_->LockRegion(offset, size, type);
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD type) override {
        return real_->UnlockRegion(offset, size, type);
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override { return real_->Stat(stat, flags); }
    HRESULT STDMETHODCALLTYPE Clone(IStream** out) override {
        if (!out) return STG_E_INVALIDPOINTER;
        IStream* clone = nullptr;
        const HRESULT hr = real_->Clone(&clone);
        *out = SUCCEEDED(hr) ? WrapStream(clone) : nullptr;
        return hr;
    }
};

class WrappedStorage final : public Wrapper<IStorage> {
public:
    using Wrapper::Wrapper;

    HRESULT STDMETHODCALLTYPE CreateStream(const OLECHAR* name, DWORD mode, DWORD reserved1, DWORD reserved2,
                                           IStream** out) override {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        if (Count() != Verdict::Pass) return kInjected;
        IStream* stream = nullptr;
        const HRESULT hr = real_->CreateStream(name, mode, reserved1, reserved2, &stream);
        if (SUCCEEDED(hr)) *out = WrapStream(stream);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE OpenStream(const OLECHAR* name, void* reserved1, DWORD mode, DWORD reserved2,
                                         IStream** out) override {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        if (Count() != Verdict::Pass) return kInjected;
        IStream* stream = nullptr;
        const HRESULT hr = real_->OpenStream(name, reserved1, mode, reserved2, &stream);
        if (SUCCEEDED(hr)) *out = WrapStream(stream);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE CreateStorage(const OLECHAR* name, DWORD mode, DWORD reserved1, DWORD reserved2,
                                            IStorage** out) override {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        if (Count() != Verdict::Pass) return kInjected;
        IStorage* storage = nullptr;
        const HRESULT hr = real_->CreateStorage(name, mode, reserved1, reserved2, &storage);
        if (SUCCEEDED(hr)) *out = WrapStorage(storage);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE OpenStorage(const OLECHAR* name, IStorage* priority, DWORD mode, SNB exclude,
                                          DWORD reserved, IStorage** out) override {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        if (Count() != Verdict::Pass) return kInjected;
        IStorage* storage = nullptr;
        const HRESULT hr = real_->OpenStorage(name, priority, mode, exclude, reserved, &storage);
        if (SUCCEEDED(hr)) *out = WrapStorage(storage);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE CopyTo(DWORD count, const IID* excluded, SNB names, IStorage* target) override {
        return Count() == Verdict::Pass ? real_->CopyTo(count, excluded, names, target) : kInjected;
    }
    HRESULT STDMETHODCALLTYPE MoveElementTo(const OLECHAR* name, IStorage* target, const OLECHAR* newName,
                                            DWORD flags) override {
        return Count() == Verdict::Pass ? real_->MoveElementTo(name, target, newName, flags) : kInjected;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override {
        return Count() == Verdict::Pass ? real_->Commit(flags) : kInjected;
    }
    HRESULT STDMETHODCALLTYPE Revert() override { return real_->Revert(); }
    HRESULT STDMETHODCALLTYPE EnumElements(DWORD reserved1, void* reserved2, DWORD reserved3,
                                           IEnumSTATSTG** out) override {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        return Count() == Verdict::Pass ? real_->EnumElements(reserved1, reserved2, reserved3, out) : kInjected;
    }
    HRESULT STDMETHODCALLTYPE DestroyElement(const OLECHAR* name) override {
        return Count() == Verdict::Pass ? real_->DestroyElement(name) : kInjected;
    }
    HRESULT STDMETHODCALLTYPE RenameElement(const OLECHAR* oldName, const OLECHAR* newName) override {
        return Count() == Verdict::Pass ? real_->RenameElement(oldName, newName) : kInjected;
    }
    HRESULT STDMETHODCALLTYPE SetElementTimes(const OLECHAR* name, const FILETIME* created, const FILETIME* accessed,
                                              const FILETIME* modified) override {
        return Count() == Verdict::Pass ? real_->SetElementTimes(name, created, accessed, modified) : kInjected;
    }
    HRESULT STDMETHODCALLTYPE SetClass(REFCLSID classId) override {
        return Count() == Verdict::Pass ? real_->SetClass(classId) : kInjected;
    }
    HRESULT STDMETHODCALLTYPE SetStateBits(DWORD bits, DWORD mask) override {
        return Count() == Verdict::Pass ? real_->SetStateBits(bits, mask) : kInjected;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override { return real_->Stat(stat, flags); }
};

IStream* WrapStream(IStream* real) { return new WrappedStream(real); }
IStorage* WrapStorage(IStorage* real) { return new WrappedStorage(real); }

using OpenStorageFunction = HRESULT(WINAPI*)(const OLECHAR*, IStorage*, DWORD, SNB, DWORD, IStorage**);
using CreateDocfileFunction = HRESULT(WINAPI*)(const OLECHAR*, DWORD, DWORD, IStorage**);

Layer g_layer = Layer::LockBytes;
void* g_realOpen = nullptr;
void* g_realCreate = nullptr;

HRESULT OpenFileLockBytes(const OLECHAR* path, DWORD mode, DWORD disposition, ILockBytes** out) {
    *out = nullptr;
    const HANDLE file =
        CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FromLastError();
    *out = new FileLockBytes(file, path, mode);
    return S_OK;
}

HRESULT WINAPI FaultyOpenStorage(const OLECHAR* path, IStorage* priority, DWORD mode, SNB exclude, DWORD reserved,
                                 IStorage** out) {
    if (!out) return STG_E_INVALIDPOINTER;
    *out = nullptr;
    if (g_layer == Layer::Interfaces) {
        IStorage* real = nullptr;
        const HRESULT hr =
            reinterpret_cast<OpenStorageFunction>(g_realOpen)(path, priority, mode, exclude, reserved, &real);
        if (SUCCEEDED(hr)) *out = WrapStorage(real);
        return hr;
    }
    ILockBytes* bytes = nullptr;
    HRESULT hr = OpenFileLockBytes(path, mode, OPEN_EXISTING, &bytes);
    if (FAILED(hr)) return hr;
    hr = StgOpenStorageOnILockBytes(bytes, priority, mode, exclude, reserved, out);
    bytes->Release();
    return hr;
}

HRESULT WINAPI FaultyCreateDocfile(const OLECHAR* path, DWORD mode, DWORD reserved, IStorage** out) {
    if (!out) return STG_E_INVALIDPOINTER;
    *out = nullptr;
    if (g_layer == Layer::Interfaces) {
        IStorage* real = nullptr;
        const HRESULT hr = reinterpret_cast<CreateDocfileFunction>(g_realCreate)(path, mode, reserved, &real);
        if (SUCCEEDED(hr)) *out = WrapStorage(real);
        return hr;
    }
    ILockBytes* bytes = nullptr;
    HRESULT hr = OpenFileLockBytes(path, mode, (mode & STGM_CREATE) ? CREATE_ALWAYS : CREATE_NEW, &bytes);
    if (FAILED(hr)) return hr;
    hr = StgCreateDocfileOnILockBytes(bytes, mode | STGM_CREATE, reserved, out);
    bytes->Release();
    return hr;
}

} // namespace

FaultPlan& Plan() { return g_plan; }

void Arm(long failAt, bool sticky, Failure failure) {
    g_plan = FaultPlan{};
    g_plan.armed = true;
    g_plan.failAt = failAt;
    g_plan.sticky = sticky;
    g_plan.failure = failure;
}

FaultPlan Disarm() {
    FaultPlan counted = g_plan;
    g_plan.armed = false;
    return counted;
}

FaultyStorageFiles::FaultyStorageFiles(Layer layer) {
    g_layer = layer;
    g_plan = FaultPlan{};
    const HMODULE self = GetModuleHandleW(nullptr);
    const bool open = parleym::PatchImport(self, "ole32.dll", "StgOpenStorage",
                                           reinterpret_cast<void*>(&FaultyOpenStorage), &g_realOpen) != FALSE;
    const bool create = parleym::PatchImport(self, "ole32.dll", "StgCreateDocfile",
                                             reinterpret_cast<void*>(&FaultyCreateDocfile), &g_realCreate) != FALSE;
    installed_ = open && create;
}

FaultyStorageFiles::~FaultyStorageFiles() {
    const HMODULE self = GetModuleHandleW(nullptr);
    if (g_realOpen) parleym::RestoreImport(self, reinterpret_cast<void*>(&FaultyOpenStorage), g_realOpen);
    if (g_realCreate) parleym::RestoreImport(self, reinterpret_cast<void*>(&FaultyCreateDocfile), g_realCreate);
    g_realOpen = nullptr;
    g_realCreate = nullptr;
    g_plan = FaultPlan{};
}

} // namespace storage_faults

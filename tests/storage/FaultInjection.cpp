#include "tests/storage/FaultInjection.h"

#include <windows.h>

#include <cwchar>
#include <string>

#include "hook/ImportPatch.h"
#include "plugin/storage/Win32FileSystem.h"

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

constexpr parleym::DiskError kInjected = parleym::disk_error::kDiskFull;
constexpr HRESULT kInjectedResult = STG_E_MEDIUMFULL;

// The data files' disks, each call that changes something counted.
class FaultyDisk final : public parleym::Disk {
public:
    explicit FaultyDisk(std::unique_ptr<parleym::Disk> real) : real_(std::move(real)) {}

    parleym::DiskError Read(std::uint64_t offset, void* buffer, std::size_t size, std::size_t& got) override {
        return real_->Read(offset, buffer, size, got);
    }
    parleym::DiskError Write(std::uint64_t offset, const void* data, std::size_t size) override {
        std::size_t length = size;
        switch (Count()) {
        case Verdict::Fail:
            return kInjected;
        case Verdict::Partial:
            real_->Write(offset, data, size / 2);
            return kInjected;
        case Verdict::FailIfGrowing: {
            std::uint64_t end = 0;
            real_->Size(end);
            if (offset + size <= end) break;
            ++g_plan.injected;
            length = offset >= end ? 0 : static_cast<std::size_t>(end - offset);
            if (length > 0) real_->Write(offset, data, length);
            return kInjected;
        }
        case Verdict::Pass:
            break;
        }
        return real_->Write(offset, data, length);
    }
    parleym::DiskError Flush() override {
        const Verdict verdict = Count();
        return verdict == Verdict::Pass || verdict == Verdict::FailIfGrowing ? real_->Flush() : kInjected;
    }
    parleym::DiskError Size(std::uint64_t& size) override { return real_->Size(size); }
    parleym::DiskError SetSize(std::uint64_t size) override {
        const Verdict verdict = Count();
        if (verdict == Verdict::FailIfGrowing) {
            std::uint64_t end = 0;
            real_->Size(end);
            if (size > end) {
                ++g_plan.injected;
                return kInjected;
            }
        } else if (verdict != Verdict::Pass) {
            return kInjected;
        }
        return real_->SetSize(size);
    }

private:
    std::unique_ptr<parleym::Disk> real_;
};

class FaultyFileSystem final : public parleym::FileSystem {
public:
    parleym::DiskError Open(const std::wstring& path, parleym::FileAccess access, parleym::FileSharing sharing,
                            parleym::FileOpening opening, std::unique_ptr<parleym::Disk>& disk,
                            bool* created) override {
        disk.reset();
        bool made = false;
        std::unique_ptr<parleym::Disk> real;
        const parleym::DiskError error = platform_.Open(path, access, sharing, opening, real, &made);
        if (created) *created = made;
        if (error != parleym::disk_error::kNone) return error;
        // Making a file is a change on the disk as well.
        if (made) {
            const Verdict verdict = Count();
            if (verdict == Verdict::Fail || verdict == Verdict::Partial) {
                real.reset();
                platform_.Remove(path);
                if (created) *created = false;
                return kInjected;
            }
        }
        disk = std::make_unique<FaultyDisk>(std::move(real));
        return parleym::disk_error::kNone;
    }
    parleym::DiskError Remove(const std::wstring& path) override {
        const Verdict verdict = Count();
        return verdict == Verdict::Pass || verdict == Verdict::FailIfGrowing ? platform_.Remove(path) : kInjected;
    }
    parleym::DiskError Replace(const std::wstring& from, const std::wstring& to) override {
        const Verdict verdict = Count();
        return verdict == Verdict::Pass || verdict == Verdict::FailIfGrowing ? platform_.Replace(from, to)
                                                                            : kInjected;
    }

private:
    parleym::Win32FileSystem platform_;
};

FaultyFileSystem g_faultyFiles;

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
            return kInjectedResult;
        }
        return real_->Read(buffer, size, read);
    }
    HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG size, ULONG* written) override {
        const Verdict verdict = Count();
        if (written) *written = 0;
        if (verdict == Verdict::Fail) return kInjectedResult;
        if (verdict == Verdict::Partial) {
            real_->Write(buffer, size / 2, written);
            return kInjectedResult;
        }
        return real_->Write(buffer, size, written);
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        return real_->Seek(move, origin, position);
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override {
        return Count() == Verdict::Pass ? real_->SetSize(size) : kInjectedResult;
    }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read,
                                     ULARGE_INTEGER* written) override {
        return Count() == Verdict::Pass ? real_->CopyTo(target, size, read, written) : kInjectedResult;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override {
        return Count() == Verdict::Pass ? real_->Commit(flags) : kInjectedResult;
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
        if (Count() != Verdict::Pass) return kInjectedResult;
        IStream* stream = nullptr;
        const HRESULT hr = real_->CreateStream(name, mode, reserved1, reserved2, &stream);
        if (SUCCEEDED(hr)) *out = WrapStream(stream);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE OpenStream(const OLECHAR* name, void* reserved1, DWORD mode, DWORD reserved2,
                                         IStream** out) override {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        if (Count() != Verdict::Pass) return kInjectedResult;
        IStream* stream = nullptr;
        const HRESULT hr = real_->OpenStream(name, reserved1, mode, reserved2, &stream);
        if (SUCCEEDED(hr)) *out = WrapStream(stream);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE CreateStorage(const OLECHAR* name, DWORD mode, DWORD reserved1, DWORD reserved2,
                                            IStorage** out) override {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        if (Count() != Verdict::Pass) return kInjectedResult;
        IStorage* storage = nullptr;
        const HRESULT hr = real_->CreateStorage(name, mode, reserved1, reserved2, &storage);
        if (SUCCEEDED(hr)) *out = WrapStorage(storage);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE OpenStorage(const OLECHAR* name, IStorage* priority, DWORD mode, SNB exclude,
                                          DWORD reserved, IStorage** out) override {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        if (Count() != Verdict::Pass) return kInjectedResult;
        IStorage* storage = nullptr;
        const HRESULT hr = real_->OpenStorage(name, priority, mode, exclude, reserved, &storage);
        if (SUCCEEDED(hr)) *out = WrapStorage(storage);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE CopyTo(DWORD count, const IID* excluded, SNB names, IStorage* target) override {
        return Count() == Verdict::Pass ? real_->CopyTo(count, excluded, names, target) : kInjectedResult;
    }
    HRESULT STDMETHODCALLTYPE MoveElementTo(const OLECHAR* name, IStorage* target, const OLECHAR* newName,
                                            DWORD flags) override {
        return Count() == Verdict::Pass ? real_->MoveElementTo(name, target, newName, flags) : kInjectedResult;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override {
        return Count() == Verdict::Pass ? real_->Commit(flags) : kInjectedResult;
    }
    HRESULT STDMETHODCALLTYPE Revert() override { return real_->Revert(); }
    HRESULT STDMETHODCALLTYPE EnumElements(DWORD reserved1, void* reserved2, DWORD reserved3,
                                           IEnumSTATSTG** out) override {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        return Count() == Verdict::Pass ? real_->EnumElements(reserved1, reserved2, reserved3, out) : kInjectedResult;
    }
    HRESULT STDMETHODCALLTYPE DestroyElement(const OLECHAR* name) override {
        return Count() == Verdict::Pass ? real_->DestroyElement(name) : kInjectedResult;
    }
    HRESULT STDMETHODCALLTYPE RenameElement(const OLECHAR* oldName, const OLECHAR* newName) override {
        return Count() == Verdict::Pass ? real_->RenameElement(oldName, newName) : kInjectedResult;
    }
    HRESULT STDMETHODCALLTYPE SetElementTimes(const OLECHAR* name, const FILETIME* created, const FILETIME* accessed,
                                              const FILETIME* modified) override {
        return Count() == Verdict::Pass ? real_->SetElementTimes(name, created, accessed, modified) : kInjectedResult;
    }
    HRESULT STDMETHODCALLTYPE SetClass(REFCLSID classId) override {
        return Count() == Verdict::Pass ? real_->SetClass(classId) : kInjectedResult;
    }
    HRESULT STDMETHODCALLTYPE SetStateBits(DWORD bits, DWORD mask) override {
        return Count() == Verdict::Pass ? real_->SetStateBits(bits, mask) : kInjectedResult;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override { return real_->Stat(stat, flags); }
};

IStream* WrapStream(IStream* real) { return new WrappedStream(real); }
IStorage* WrapStorage(IStorage* real) { return new WrappedStorage(real); }

using OpenOnBytesFunction = HRESULT(WINAPI*)(ILockBytes*, IStorage*, DWORD, SNB, DWORD, IStorage**);
using CreateOnBytesFunction = HRESULT(WINAPI*)(ILockBytes*, DWORD, DWORD, IStorage**);

void* g_realOpen = nullptr;
void* g_realCreate = nullptr;

HRESULT WINAPI WrappedOpenOnBytes(ILockBytes* bytes, IStorage* priority, DWORD mode, SNB exclude, DWORD reserved,
                                  IStorage** out) {
    if (!out) return STG_E_INVALIDPOINTER;
    *out = nullptr;
    IStorage* real = nullptr;
    const HRESULT hr =
        reinterpret_cast<OpenOnBytesFunction>(g_realOpen)(bytes, priority, mode, exclude, reserved, &real);
    if (SUCCEEDED(hr)) *out = WrapStorage(real);
    return hr;
}

HRESULT WINAPI WrappedCreateOnBytes(ILockBytes* bytes, DWORD mode, DWORD reserved, IStorage** out) {
    if (!out) return STG_E_INVALIDPOINTER;
    *out = nullptr;
    IStorage* real = nullptr;
    const HRESULT hr = reinterpret_cast<CreateOnBytesFunction>(g_realCreate)(bytes, mode, reserved, &real);
    if (SUCCEEDED(hr)) *out = WrapStorage(real);
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

FaultyStorageFiles::FaultyStorageFiles(Layer layer) : layer_(layer) {
    g_plan = FaultPlan{};
    if (layer == Layer::Disk) {
        parleym::UseDataFileSystem(&g_faultyFiles);
        installed_ = true;
        return;
    }
    const HMODULE self = GetModuleHandleW(nullptr);
    const bool open = parleym::PatchImport(self, "ole32.dll", "StgOpenStorageOnILockBytes",
                                           reinterpret_cast<void*>(&WrappedOpenOnBytes), &g_realOpen) != FALSE;
    const bool create = parleym::PatchImport(self, "ole32.dll", "StgCreateDocfileOnILockBytes",
                                             reinterpret_cast<void*>(&WrappedCreateOnBytes), &g_realCreate) != FALSE;
    installed_ = open && create;
}

FaultyStorageFiles::~FaultyStorageFiles() {
    if (layer_ == Layer::Disk) parleym::UseDataFileSystem(nullptr);
    const HMODULE self = GetModuleHandleW(nullptr);
    if (g_realOpen) parleym::RestoreImport(self, reinterpret_cast<void*>(&WrappedOpenOnBytes), g_realOpen);
    if (g_realCreate) parleym::RestoreImport(self, reinterpret_cast<void*>(&WrappedCreateOnBytes), g_realCreate);
    g_realOpen = nullptr;
    g_realCreate = nullptr;
    g_plan = FaultPlan{};
}

} // namespace storage_faults

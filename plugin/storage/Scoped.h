#pragma once
// Owners for Win32 and COM resources: kernel handles, interface pointers,
// BSTRs, VARIANTs, and a guard that runs a clean-up on every way out of a scope.
#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

#include <utility>

namespace parleym {

// Owns a handle whose "none" value is `Invalid` (INVALID_HANDLE_VALUE for files).
template <HANDLE (*Invalid)()>
class OwnedHandle {
public:
    OwnedHandle() : handle_(Invalid()) {}
    explicit OwnedHandle(HANDLE handle) : handle_(handle ? handle : Invalid()) {}
    ~OwnedHandle() { reset(); }
    OwnedHandle(OwnedHandle&& other) noexcept : handle_(std::exchange(other.handle_, Invalid())) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, Invalid());
        }
        return *this;
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != Invalid(); }
    void reset() {
        if (handle_ != Invalid()) CloseHandle(handle_);
        handle_ = Invalid();
    }

private:
    HANDLE handle_;
};

inline HANDLE InvalidFileHandle() { return INVALID_HANDLE_VALUE; }
inline HANDLE NullHandle() { return nullptr; }

using FileHandle = OwnedHandle<InvalidFileHandle>;
using KernelHandle = OwnedHandle<NullHandle>;

// One reference to a COM interface, released on destruction.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    // Takes over a reference the caller already owns.
    explicit ComPtr(T* owned) : ptr_(owned) {}
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr& other) : ptr_(other.ptr_) {
        if (ptr_) ptr_->AddRef();
    }
    ComPtr& operator=(const ComPtr& other) {
        if (this != &other) {
            if (other.ptr_) other.ptr_->AddRef();
            Reset();
            ptr_ = other.ptr_;
        }
        return *this;
    }
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            ptr_ = std::exchange(other.ptr_, nullptr);
        }
        return *this;
    }

    T* Get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }

    // For out-parameters: drops the current reference first.
    T** Put() {
        Reset();
        return &ptr_;
    }
    void Reset() {
        if (ptr_) std::exchange(ptr_, nullptr)->Release();
    }
    // Hands the reference to the caller.
    T* Detach() { return std::exchange(ptr_, nullptr); }

private:
    T* ptr_ = nullptr;
};

// Asks `object` for interface U, its id taken from the type; `result` is
// empty unless the call succeeds.
template <class U>
HRESULT QueryInterface(IUnknown* object, ComPtr<U>& result) {
    result.Reset();
    if (!object) return E_POINTER;
    const HRESULT hr = object->QueryInterface(__uuidof(U), reinterpret_cast<void**>(result.Put()));
    if (FAILED(hr)) result.Reset();
    return hr;
}

template <class T, class U>
HRESULT QueryInterface(const ComPtr<T>& object, ComPtr<U>& result) {
    return QueryInterface(object.Get(), result);
}

// Owns a BSTR, typically one filled by an out-parameter.
class BstrHolder {
public:
    BstrHolder() = default;
    ~BstrHolder() { SysFreeString(value_); }
    BstrHolder(const BstrHolder&) = delete;
    BstrHolder& operator=(const BstrHolder&) = delete;
    BSTR* Put() {
        SysFreeString(value_);
        value_ = nullptr;
        return &value_;
    }
    BSTR Get() const { return value_; }

private:
    BSTR value_ = nullptr;
};

// Owns a VARIANT: cleared on destruction and before each refill.
class VariantHolder {
public:
    VariantHolder() { VariantInit(&value_); }
    ~VariantHolder() { VariantClear(&value_); }
    VariantHolder(const VariantHolder&) = delete;
    VariantHolder& operator=(const VariantHolder&) = delete;
    VARIANT* Put() {
        VariantClear(&value_);
        return &value_;
    }
    VARIANT& Get() { return value_; }
    const VARIANT& Get() const { return value_; }

private:
    VARIANT value_;
};

// Runs `cleanUp` when the scope ends, however it ends.
template <class F>
class ScopeGuard {
public:
    explicit ScopeGuard(F cleanUp) : cleanUp_(std::move(cleanUp)) {}
    ~ScopeGuard() { cleanUp_(); }
    ScopeGuard(const ScopeGuard&) = delete;
    ScopeGuard& operator=(const ScopeGuard&) = delete;

private:
    F cleanUp_;
};

} // namespace parleym

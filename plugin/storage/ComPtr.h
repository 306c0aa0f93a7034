#pragma once
// Owning pointer for COM interfaces: one reference, released on destruction.
#include <unknwn.h>

#include <utility>

namespace parleym {

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

} // namespace parleym

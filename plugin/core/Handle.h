#pragma once
// Owning wrappers for kernel handles.
#include <windows.h>

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

} // namespace parleym

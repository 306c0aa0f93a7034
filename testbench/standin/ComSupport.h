#pragma once
// Small COM helpers for the stand-in: an owning interface pointer, reference counting
// for plain classes, and the guard every method Windows calls runs inside.
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <utility>

namespace standin {

template <typename T>
class ComRef {
public:
    ComRef() = default;
    explicit ComRef(T* adopted) : p_(adopted) {}
    ComRef(const ComRef& other) : p_(other.p_) {
        if (p_) p_->AddRef();
    }
    ComRef(ComRef&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~ComRef() { Reset(); }
    ComRef& operator=(ComRef other) {
        std::swap(p_, other.p_);
        return *this;
    }

    static ComRef Share(T* p) {
        if (p) p->AddRef();
        return ComRef(p);
    }
    void Reset() {
        if (p_) std::exchange(p_, nullptr)->Release();
    }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For out-parameters: releases what is held first.
    T** Out() {
        Reset();
        return &p_;
    }
    // Hands a new reference to a caller's out-parameter.
    T* Detach() { return std::exchange(p_, nullptr); }

private:
    T* p_ = nullptr;
};

// Reference count for classes that implement their interfaces by hand.
class RefCount {
public:
    ULONG Add() { return ++count_; }
    ULONG Drop() { return --count_; }

private:
    std::atomic<ULONG> count_{1};
};

}  // namespace standin

// Every COM method and window procedure body goes inside these: the i686 exception model
// cannot unwind through Windows' frames.
#define STANDIN_COM_TRY try {
#define STANDIN_COM_CATCH    \
    }                        \
    catch (...) {            \
        return E_UNEXPECTED; \
    }

#define STANDIN_IMPLEMENT_REFCOUNT(refcount)                             \
    ULONG STDMETHODCALLTYPE AddRef() override { return refcount.Add(); } \
    ULONG STDMETHODCALLTYPE Release() override {                         \
        ULONG left = refcount.Drop();                                    \
        if (left == 0) delete this;                                      \
        return left;                                                     \
    }

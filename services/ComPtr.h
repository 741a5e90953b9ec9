// TComPtr: owns one reference to a COM-style interface and releases it when it goes.
// Share takes a reference of its own to an interface the caller keeps; Adopt takes over a
// reference the caller was handed (a getter's result), without adding one.
#pragma once

#include <unknwn.h>

#include <utility>

namespace tidyhive {

template <class T> class TComPtr {
public:
    TComPtr() = default;
    static TComPtr Share(T *borrowed)
    {
        if (borrowed) {
            borrowed->AddRef();
        }
        return TComPtr(borrowed);
    }
    static TComPtr Adopt(T *owned) { return TComPtr(owned); }

    TComPtr(const TComPtr &other) : TComPtr(Share(other.pointer_)) {}
    TComPtr &operator=(const TComPtr &other)
    {
        if (this != &other) {
            *this = Share(other.pointer_);
        }
        return *this;
    }
    TComPtr(TComPtr &&other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    TComPtr &operator=(TComPtr &&other) noexcept
    {
        if (this != &other) {
            Reset();
            pointer_ = std::exchange(other.pointer_, nullptr);
        }
        return *this;
    }
    ~TComPtr() { Reset(); }

    T *Get() const { return pointer_; }
    T *operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    void Reset()
    {
        if (T *old = std::exchange(pointer_, nullptr)) {
            old->Release();
        }
    }

private:
    explicit TComPtr(T *pointer) : pointer_(pointer) {}
    T *pointer_ = nullptr;
};

} // namespace tidyhive

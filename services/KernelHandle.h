// TKernelHandle: owns one kernel handle (thread, event, process, file) and closes it once.
#pragma once

#include <windows.h>

#include <utility>

namespace tidyhive {

class TKernelHandle {
public:
    TKernelHandle() = default;
    // Takes ownership; both null and INVALID_HANDLE_VALUE count as "no handle".
    explicit TKernelHandle(HANDLE owned) : value_(Normal(owned)) {}
    TKernelHandle(const TKernelHandle &) = delete;
    TKernelHandle &operator=(const TKernelHandle &) = delete;
    TKernelHandle(TKernelHandle &&other) noexcept : value_(other.Release()) {}
    TKernelHandle &operator=(TKernelHandle &&other) noexcept
    {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    ~TKernelHandle() { Reset(); }

    HANDLE Get() const { return value_; }
    explicit operator bool() const { return value_ != nullptr; }
    HANDLE Release() { return std::exchange(value_, nullptr); }
    void Reset(HANDLE owned = nullptr)
    {
        const HANDLE old = std::exchange(value_, Normal(owned));
        if (old) {
            CloseHandle(old);
        }
    }

private:
    static HANDLE Normal(HANDLE handle) { return handle == INVALID_HANDLE_VALUE ? nullptr : handle; }
    HANDLE value_ = nullptr;
};

} // namespace tidyhive

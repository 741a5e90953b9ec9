// TOwnedHandle: owns one kernel handle (file, thread, event, process) and closes it once.
// Header-only, so that the sibling libraries can use it too.
#pragma once

#include <windows.h>

#include <utility>

namespace tidyhive {

class TOwnedHandle {
public:
    TOwnedHandle() = default;
    // Takes ownership; null and INVALID_HANDLE_VALUE both mean "no handle".
    explicit TOwnedHandle(HANDLE handle) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    TOwnedHandle(const TOwnedHandle &) = delete;
    TOwnedHandle &operator=(const TOwnedHandle &) = delete;
    TOwnedHandle(TOwnedHandle &&other) noexcept : handle_(other.Detach()) {}
    TOwnedHandle &operator=(TOwnedHandle &&other) noexcept
    {
        if (this != &other) {
            Reset(other.Detach());
        }
        return *this;
    }
    ~TOwnedHandle() { Reset(); }

    explicit operator bool() const { return handle_ != nullptr; }
    HANDLE Get() const { return handle_; }
    HANDLE Detach() { return std::exchange(handle_, nullptr); }
    void Reset(HANDLE handle = nullptr)
    {
        if (handle_) {
            CloseHandle(handle_);
        }
        handle_ = handle == INVALID_HANDLE_VALUE ? nullptr : handle;
    }

private:
    HANDLE handle_ = nullptr;
};

} // namespace tidyhive

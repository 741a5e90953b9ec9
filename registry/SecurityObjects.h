// Owners for what the security functions hand out: memory to free with LocalFree (security
// descriptors, SID texts) and access tokens.
#pragma once

#include <windows.h>

#include <utility>

namespace tidyhive {

// Memory the system allocated with LocalAlloc on the caller's behalf.
template <class T = void> class TLocalMemory {
public:
    TLocalMemory() = default;
    explicit TLocalMemory(T* owned) : memory_(owned) {}
    ~TLocalMemory() { Reset(); }
    TLocalMemory(const TLocalMemory&) = delete;
    TLocalMemory& operator=(const TLocalMemory&) = delete;
    TLocalMemory(TLocalMemory&& other) noexcept : memory_(std::exchange(other.memory_, nullptr)) {}
    TLocalMemory& operator=(TLocalMemory&& other) noexcept
    {
        if (this != &other) {
            Reset(std::exchange(other.memory_, nullptr));
        }
        return *this;
    }

    T* Get() const { return memory_; }
    // For an out-parameter: frees what is held first.
    T** Out()
    {
        Reset();
        return &memory_;
    }
    explicit operator bool() const { return memory_ != nullptr; }
    void Reset(T* owned = nullptr)
    {
        if (memory_) {
            LocalFree(memory_);
        }
        memory_ = owned;
    }

private:
    T* memory_ = nullptr;
};

// An access token: closed when it goes.
class TAccessToken {
public:
    TAccessToken() = default;
    explicit TAccessToken(HANDLE owned) : token_(owned) {}
    ~TAccessToken()
    {
        if (token_) {
            CloseHandle(token_);
        }
    }
    TAccessToken(const TAccessToken&) = delete;
    TAccessToken& operator=(const TAccessToken&) = delete;
    TAccessToken(TAccessToken&& other) noexcept : token_(std::exchange(other.token_, nullptr)) {}
    TAccessToken& operator=(TAccessToken&& other) noexcept
    {
        std::swap(token_, other.token_);
        return *this;
    }

    // The token of the current process with the given rights; empty when it cannot be opened.
    static TAccessToken OfProcess(DWORD access)
    {
        HANDLE token = nullptr;
        return OpenProcessToken(GetCurrentProcess(), access, &token) ? TAccessToken(token) : TAccessToken();
    }

    HANDLE Get() const { return token_; }
    explicit operator bool() const { return token_ != nullptr; }

private:
    HANDLE token_ = nullptr;
};

}  // namespace tidyhive

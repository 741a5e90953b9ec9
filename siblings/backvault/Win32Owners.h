// One owner per Windows handle kind used by the backup library, so that no code path
// closes a handle by hand.
#pragma once

#include <windows.h>

namespace tidyhive::backvault {

// A registry key. Predefined roots are never closed.
class TRegKey {
public:
    TRegKey() = default;
    explicit TRegKey(HKEY key) : key_(key) {}
    ~TRegKey() { Reset(); }
    TRegKey(const TRegKey &) = delete;
    TRegKey &operator=(const TRegKey &) = delete;
    TRegKey(TRegKey &&other) noexcept : key_(other.Detach()) {}
    TRegKey &operator=(TRegKey &&other) noexcept
    {
        if (this != &other) {
            Reset(other.Detach());
        }
        return *this;
    }

    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }
    // For out-parameters of the registry functions: releases the held key first.
    PHKEY Receive()
    {
        Reset();
        return &key_;
    }
    HKEY Detach()
    {
        HKEY key = key_;
        key_ = nullptr;
        return key;
    }
    void Reset(HKEY key = nullptr)
    {
        if (key_ && !IsPredefined(key_)) {
            ::RegCloseKey(key_);
        }
        key_ = key;
    }
    static bool IsPredefined(HKEY key)
    {
        const ULONG_PTR value = reinterpret_cast<ULONG_PTR>(key);
        const ULONG_PTR low = value & 0xFFFFFFFFu;
        const bool signExtended =
            sizeof(ULONG_PTR) == 4 || (value >> 16 >> 16) == (~ULONG_PTR(0) >> 16 >> 16);
        return signExtended && low >= 0x80000000u && low <= 0x800000FFu;
    }

private:
    HKEY key_ = nullptr;
};

// A kernel handle closed with CloseHandle; INVALID_HANDLE_VALUE and null both mean empty.
class TFileHandle {
public:
    TFileHandle() = default;
    explicit TFileHandle(HANDLE handle) { Reset(handle); }
    ~TFileHandle() { Reset(); }
    TFileHandle(const TFileHandle &) = delete;
    TFileHandle &operator=(const TFileHandle &) = delete;
    TFileHandle(TFileHandle &&other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    TFileHandle &operator=(TFileHandle &&other) noexcept
    {
        if (this != &other) {
            Reset();
            handle_ = other.handle_;
            other.handle_ = nullptr;
        }
        return *this;
    }

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void Reset(HANDLE handle = nullptr)
    {
        if (handle_) {
            ::CloseHandle(handle_);
        }
        handle_ = handle == INVALID_HANDLE_VALUE ? nullptr : handle;
    }

private:
    HANDLE handle_ = nullptr;
};

class TFindHandle {
public:
    explicit TFindHandle(HANDLE handle) : handle_(handle) {}
    ~TFindHandle()
    {
        if (handle_ != INVALID_HANDLE_VALUE) {
            ::FindClose(handle_);
        }
    }
    TFindHandle(const TFindHandle &) = delete;
    TFindHandle &operator=(const TFindHandle &) = delete;
    explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

// A re-entrant critical section and its scope guard.
class TLock {
public:
    TLock() { InitializeCriticalSection(&section_); }
    ~TLock() { DeleteCriticalSection(&section_); }
    TLock(const TLock &) = delete;
    TLock &operator=(const TLock &) = delete;
    void Enter() { EnterCriticalSection(&section_); }
    void Leave() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

class TLockGuard {
public:
    explicit TLockGuard(TLock &lock) : lock_(lock) { lock_.Enter(); }
    ~TLockGuard() { lock_.Leave(); }
    TLockGuard(const TLockGuard &) = delete;
    TLockGuard &operator=(const TLockGuard &) = delete;

private:
    TLock &lock_;
};

// Memory from LocalAlloc (security descriptors and the like).
class TLocalMemory {
public:
    TLocalMemory() = default;
    ~TLocalMemory()
    {
        if (memory_) {
            ::LocalFree(memory_);
        }
    }
    TLocalMemory(const TLocalMemory &) = delete;
    TLocalMemory &operator=(const TLocalMemory &) = delete;
    HLOCAL *Receive() { return &memory_; }
    void *get() const { return memory_; }

private:
    HLOCAL memory_ = nullptr;
};

} // namespace tidyhive::backvault

// TLock: a re-entrant critical section that counts its locks, so an unlock without a lock
// is reported instead of corrupting the section.
#pragma once

#include <windows.h>

namespace tidyhive {

class TLock {
public:
    TLock() { InitializeCriticalSection(&section_); }
    ~TLock() { DeleteCriticalSection(&section_); }
    TLock(const TLock&) = delete;
    TLock& operator=(const TLock&) = delete;

    void Lock();
    // Writes "Call to Unlock without previous Lock" to the debug log when nothing is held.
    void Unlock();
    // Lock count of the owning thread (for checks in tests).
    LONG Count() const { return count_; }

private:
    CRITICAL_SECTION section_;
    LONG count_ = 0;  // touched only by the owning thread
};

// Holds a TLock for one scope.
class TLockGuard {
public:
    explicit TLockGuard(TLock& lock) : lock_(lock) { lock_.Lock(); }
    ~TLockGuard() { lock_.Unlock(); }
    TLockGuard(const TLockGuard&) = delete;
    TLockGuard& operator=(const TLockGuard&) = delete;

private:
    TLock& lock_;
};

}  // namespace tidyhive

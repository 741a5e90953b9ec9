// Loads Tidyhive.dll from the test's folder and creates roots through its export, exactly
// as a host does.
#pragma once

#include "tidyhive/Tidyhive.h"

#include <string>

namespace tidyhive::testing {

class TEngineLibrary {
public:
    TEngineLibrary();
    // A new root; the caller frees it (TRootOwner does).
    IRegistryCleanerManager* CreateRoot() const;

private:
    HMODULE module_ = nullptr;
    GetRegistryCleanerManagerFn create_ = nullptr;
};

// Frees a root at the end of a scope.
class TRootOwner {
public:
    explicit TRootOwner(IRegistryCleanerManager* root) : root_(root) {}
    ~TRootOwner()
    {
        if (root_) {
            root_->Free();
        }
    }
    TRootOwner(const TRootOwner&) = delete;
    TRootOwner& operator=(const TRootOwner&) = delete;
    IRegistryCleanerManager* operator->() const { return root_; }
    IRegistryCleanerManager* get() const { return root_; }

private:
    IRegistryCleanerManager* root_;
};

// Serves the host's messages on this thread (the engine hands each task's finish to it)
// until the condition holds; false when the time ran out first.
template <class Condition> bool PumpUntil(Condition condition, DWORD timeoutMs = 20000)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (GetTickCount64() > end) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
    }
    return true;
}

// Text of a BSTR returned by the engine; frees it.
std::wstring Take(BSTR text);

// Runs a program of the test folder with arguments; answers its exit code and output.
struct TChildResult {
    DWORD exitCode = 0;
    std::string output;
};
TChildResult RunChild(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs = 60000);

// Folder of the running test executable, with a trailing backslash.
std::wstring TestBinFolder();

}  // namespace tidyhive::testing

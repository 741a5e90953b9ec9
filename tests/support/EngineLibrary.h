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

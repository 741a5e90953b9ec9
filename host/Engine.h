// Loads Tidyhive.dll from the host's folder and owns the engine root it hands out.
#pragma once

#include "tidyhive/Tidyhive.h"

#include <string>

namespace tidyhive::host {

class TEngine {
public:
    TEngine() = default;
    ~TEngine();
    TEngine(const TEngine&) = delete;
    TEngine& operator=(const TEngine&) = delete;

    // Loads the library and creates a root; on failure error() says why.
    bool Open();
    IRegistryCleanerManager* operator->() const { return manager_; }
    IRegistryCleanerManager* get() const { return manager_; }
    const std::wstring& error() const { return error_; }

private:
    HMODULE library_ = nullptr;
    IRegistryCleanerManager* manager_ = nullptr;
    std::wstring error_;
};

}  // namespace tidyhive::host

// The algorithms' registry access in the engine: reads answer from the selected view with
// the plain registry functions; every change goes through the recorded registry utility, so
// that the backup library keeps what a fix removes or rewrites.
#pragma once

#include "validation/AlgorithmRegistry.h"

#include "tidyhive/Backvault.h"

#include <memory>

namespace tidyhive {

class TRegistryUtility;

class TRecordedAlgorithmRegistry : public TAlgorithmRegistry {
public:
    // Changes go to the restore manager's backup library, looked up at the first change (a
    // scan never needs it).
    TRecordedAlgorithmRegistry();
    // Changes go to the given library; null: the plain registry, nothing recorded.
    explicit TRecordedAlgorithmRegistry(IBackvault* backup);
    ~TRecordedAlgorithmRegistry() override;

    void Set64BitView(bool value) override;
    bool Is64BitView() const override { return reads_.Is64BitView(); }
    // In the selected view only (the recorded utility's own test looks at both).
    bool KeyExists(const std::wstring& path) override { return reads_.KeyExists(path); }
    bool KeyExistsInEitherView(const std::wstring& path) override
    {
        return reads_.KeyExistsInEitherView(path);
    }
    bool KeyExistsSafe(const std::wstring& path, bool& success) override;
    bool GetKeyCountsSafe(const std::wstring& path, DWORD& subKeys, DWORD& values, bool& success) override
    {
        return reads_.GetKeyCountsSafe(path, subKeys, values, success);
    }
    bool GetKeyNamesSafe(const std::wstring& path, std::vector<std::wstring>& names, bool& success) override;
    bool GetValueNamesSafe(const std::wstring& path, std::vector<std::wstring>& names,
                           bool& success) override;
    bool GetValueTypeSafe(const std::wstring& path, const std::wstring& name, DWORD& type,
                          bool& success) override;
    std::wstring ReadStringSafe(const std::wstring& path, const std::wstring& name, bool& success) override;
    bool DeleteKeySafe(const std::wstring& path, bool& success) override;
    bool DeleteValue(const std::wstring& path, const std::wstring& name) override;
    bool ValueExists(const std::wstring& path, const std::wstring& name) override;
    void WriteString(const std::wstring& path, const std::wstring& name, const std::wstring& text) override;
    // Counted here from what was there before each call: the utility answers true for a key
    // or value that was already gone.
    unsigned long ChangeCount() const override { return changes_; }

private:
    TRegistryUtility& Writer();

    TWin32AlgorithmRegistry reads_;
    bool fixedBackup_;
    IBackvault* backup_;
    std::unique_ptr<TRegistryUtility> writer_;
    unsigned long changes_ = 0;
};

}  // namespace tidyhive

// File extensions: the Explorer's per-user records under
// HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts (open-with
// lists, ProgID lists, the application and ProgID chosen per extension).
#pragma once

#include "scan/BaseCategoryScanner.h"
#include "validation/ValidationAlgorithm.h"

#include <memory>

namespace tidyhive {

// Judges one value of an extension's records: an open-with entry must name a registered
// application, a ProgID entry an existing class key.
class TFileExtentionValidationAlgorithm : public TValidationAlgorithm {
public:
    using TValidationAlgorithm::TValidationAlgorithm;

    bool IsValid(const std::wstring& AKey, const std::wstring& AValue, const std::wstring& AData) override;
    std::wstring GetDescriptionText() override;
    std::wstring GetShortDescriptionText(IDetectedProblemKey* problem) override;
    std::wstring GetCompleteDescriptionText(IDetectedProblemKey* problem) override;
    // Deletes the entry (repairing the open-with list's MRUList) unless the value is gone or
    // its current data is valid.
    bool FIX(const std::wstring& AKey, const std::wstring& AValue, const std::wstring& AData) override;

private:
    // Listed under HKEY_CLASSES_ROOT\Applications or under App Paths.
    bool ApplicationRegistered(const std::wstring& application);
    // Unknown (the registry could not answer) counts as existing: a failure is no finding.
    bool KeyExistsOrUnknown(const std::wstring& path);
};

class TFileExtsCategoryScanner : public TBaseCategoryScanner {
public:
    explicit TFileExtsCategoryScanner(const TCategoryDescriptor& descriptor);
    ~TFileExtsCategoryScanner() override;

    void SelectRoot(int Index) override;
    std::wstring GetRootKey(int Index) override;
    TValidationAlgorithm* ValidateValue(const std::wstring& AKey, const std::wstring& AValue,
                                        const std::wstring& AData) override;
    std::wstring GetValueDescription(const std::wstring& AKey, const std::wstring& AValue,
                                     const std::wstring& AData) override;
    bool SkipEmptyKeyCheck(const std::wstring& AKey) override;
    std::wstring GetKeyPattern(int Index) override;
    bool IsRoot64Bit(int Index) override;
    // Both views on a 64-bit system.
    int GetRootCount() override;
    const wchar_t* ClassName() const override { return L"TFileExtsCategoryScanner"; }

    TFileExtentionValidationAlgorithm& Algorithm() { return *algorithm_; }

private:
    std::unique_ptr<TFileExtentionValidationAlgorithm> algorithm_;
};

}  // namespace tidyhive

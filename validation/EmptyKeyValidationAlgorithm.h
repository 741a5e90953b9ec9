// The empty-key check: every category scanner owns one and uses it for keys that hold
// nothing.
#pragma once

#include "validation/ValidationAlgorithm.h"

namespace tidyhive {

class TEmptyKeyValidationAlgorithm : public TValidationAlgorithm {
public:
    using TValidationAlgorithm::TValidationAlgorithm;

    // Valid unless the key is empty; the value and data are not looked at.
    bool IsValid(const std::wstring& AKey, const std::wstring& AValue, const std::wstring& AData) override;
    std::wstring GetDescriptionText() override;
    std::wstring GetShortDescriptionText(IDetectedProblemKey* problem) override;
    std::wstring GetCompleteDescriptionText(IDetectedProblemKey* problem) override;
    // Deletes the key and its emptied ancestors if it is still empty; true when it is gone
    // (also when it was gone already). A key that gained content since the scan is left
    // alone and the fix fails. Existence errors reach the caller.
    bool FIX(const std::wstring& AKey, const std::wstring& AValue, const std::wstring& AData) override;
};

}  // namespace tidyhive

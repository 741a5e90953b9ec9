#include "validation/EmptyKeyValidationAlgorithm.h"

#include "services/DebugLog.h"
#include "services/LocalizedTexts.h"

namespace tidyhive {

bool TEmptyKeyValidationAlgorithm::IsValid(const std::wstring& AKey, const std::wstring& AValue,
                                           const std::wstring& AData)
{
    DebugLog::Log(L"TEmptyKeyValidationAlgorithm.IsValid.Start");
    TraceArguments(AKey, AValue, AData);
    const bool result = !IsKeyEmpty(AKey);
    DebugLog::Log(L"TEmptyKeyValidationAlgorithm.IsValid");
    return result;
}

std::wstring TEmptyKeyValidationAlgorithm::GetDescriptionText()
{
    return LoadText(TextKey::VA_EMPTYKEY_DESCRIPTION);
}

std::wstring TEmptyKeyValidationAlgorithm::GetShortDescriptionText(IDetectedProblemKey*)
{
    return LoadText(TextKey::VA_EMPTYKEY_DESCRIPTION_SHORT);
}

std::wstring TEmptyKeyValidationAlgorithm::GetCompleteDescriptionText(IDetectedProblemKey* problem)
{
    return FormatDescription(LoadText(TextKey::VA_EMPTYKEY_DESCRIPTION_COMPLETE), {ProblemKeyPath(problem)});
}

bool TEmptyKeyValidationAlgorithm::FIX(const std::wstring& AKey, const std::wstring& AValue,
                                       const std::wstring& AData)
{
    DebugLog::Log(L"TEmptyKeyValidationAlgorithm.FIX.Start");
    TraceArguments(AKey, AValue, AData);
    bool result = true;  // a key that is gone leaves nothing to fix
    if (FRegistry->KeyExists(AKey)) {
        result = false;
        if (IsKeyEmpty(AKey)) {
            DeleteEmptyKey(AKey);
            result = !FRegistry->KeyExists(AKey);
        }
    }
    DebugLog::Log(L"TEmptyKeyValidationAlgorithm.FIX");
    return result;
}

}  // namespace tidyhive

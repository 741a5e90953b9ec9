#include "validation/ValidationAlgorithm.h"

#include "engine/BoundaryGuard.h"
#include "services/DebugLog.h"
#include "services/Text.h"

#include <stdexcept>

namespace tidyhive {
namespace {

// The parent of a full path; false for a path without a backslash (a root has no parent).
bool ParentPath(const std::wstring& path, std::wstring& parent)
{
    const size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos) {
        return false;
    }
    parent = path.substr(0, slash);
    return true;
}

}  // namespace

TValidationAlgorithm::TValidationAlgorithm() : TValidationAlgorithm(CreateAlgorithmRegistry()) {}

TValidationAlgorithm::TValidationAlgorithm(std::unique_ptr<TAlgorithmRegistry> registry)
    : FRegistry(std::move(registry))
{
    if (!FRegistry) {
        throw std::invalid_argument("a validation algorithm needs registry access");
    }
}

TValidationAlgorithm::~TValidationAlgorithm() = default;

void TValidationAlgorithm::SetDisableFsRedirection(bool value)
{
    if (value != disableFsRedirection_) {
        disableFsRedirection_ = value && OsHasTwoRegistryViews();
    }
}

void TValidationAlgorithm::SetUse64BitView(bool value)
{
    if (value != use64BitView_) {
        use64BitView_ = value && OsHasTwoRegistryViews();
        if (use64BitView_ == value) {
            FRegistry->Set64BitView(value);
        }
    }
}

std::wstring TValidationAlgorithm::GetDescriptionText()
{
    throw std::runtime_error("Not Implemented");
}

std::wstring TValidationAlgorithm::GetShortDescriptionText(IDetectedProblemKey*)
{
    return GetDescriptionText();
}

std::wstring TValidationAlgorithm::GetCompleteDescriptionText(IDetectedProblemKey*)
{
    return GetDescriptionText();
}

bool TValidationAlgorithm::ApplyFix(const std::wstring& AKey, const std::wstring& AValue,
                                    const std::wstring& AData)
{
    DebugLog::Log(L"TValidationAlgorithm.Start");
    TraceArguments(AKey, AValue, AData);
    const unsigned long changesBefore = FRegistry->ChangeCount();
    fixChanged_ = false;
    const bool result = FIX(AKey, AValue, AData);
    // An entry that became valid since the scan is "fixed" without a change; its key must
    // then stay as it is.
    const bool changed = fixChanged_ || FRegistry->ChangeCount() != changesBefore;
    if (result && changed) {
        try {
            if (autoDeleteAnyKey_) {
                DeleteAnyKey(AKey);
            } else if (autoDeleteEmptyKey_ && IsKeyEmpty(AKey)) {
                DeleteEmptyKey(AKey);
            }
        } catch (const std::exception& error) {
            DebugLog::LogError(Utf8ToWide(error.what()));
        }
    }
    DebugLog::Log(L"TValidationAlgorithm");
    return result;
}

BSTR STDMETHODCALLTYPE TValidationAlgorithm::GetShortDescription(IDetectedProblemKey* problem)
{
    return Guarded<BSTR>(L"ValidationAlgorithm - GetShortDescription", nullptr,
                         [&] { return MakeBstr(GetShortDescriptionText(problem)); });
}

BSTR STDMETHODCALLTYPE TValidationAlgorithm::GetDescription()
{
    return Guarded<BSTR>(L"ValidationAlgorithm - GetDescription", nullptr,
                         [&] { return MakeBstr(GetDescriptionText()); });
}

BSTR STDMETHODCALLTYPE TValidationAlgorithm::GetCompleteDescription(IDetectedProblemKey* problem)
{
    return Guarded<BSTR>(L"ValidationAlgorithm - GetCompleteDescription", nullptr,
                         [&] { return MakeBstr(GetCompleteDescriptionText(problem)); });
}

bool TValidationAlgorithm::IsKeyEmpty(const std::wstring& AKey)
{
    bool success = false;
    // Counted first: a key with subkeys, the common case, is settled without listing them.
    DWORD subKeys = 0;
    DWORD values = 0;
    if (!FRegistry->GetKeyCountsSafe(AKey, subKeys, values, success) || !success || subKeys > 0) {
        return false;
    }
    if (values == 0) {
        return true;
    }
    if (!FRegistry->GetValueNamesSafe(AKey, scratch_, success) || !success) {
        return false;
    }
    if (scratch_.empty()) {
        return true;
    }
    if (scratch_.size() != 1 || !scratch_.front().empty()) {
        return false;
    }
    // Only a blank text counts as nothing; a number or binary default is content.
    DWORD type = REG_NONE;
    if (!FRegistry->GetValueTypeSafe(AKey, L"", type, success) || !success) {
        return false;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        return false;
    }
    const std::wstring text = FRegistry->ReadStringSafe(AKey, L"", success);
    return success && Trim(text).empty();
}

bool TValidationAlgorithm::IsKeyEmptyExceptDefault(const std::wstring& AKey)
{
    bool success = false;
    if (!FRegistry->GetKeyNamesSafe(AKey, scratch_, success) || !success || !scratch_.empty()) {
        return false;
    }
    if (!FRegistry->GetValueNamesSafe(AKey, scratch_, success) || !success) {
        return false;
    }
    return scratch_.empty() || (scratch_.size() == 1 && scratch_.front().empty());
}

bool TValidationAlgorithm::HasSubKeys(const std::wstring& AKey)
{
    bool success = false;
    if (!FRegistry->GetKeyNamesSafe(AKey, scratch_, success) || !success) {
        return true;
    }
    return !scratch_.empty();
}

void TValidationAlgorithm::DeleteEmptyKey(const std::wstring& AKey)
{
    DebugLog::Log(L"TValidationAlgorithm.DeleteEmptyKey.Start");
    DebugLog::Log(L"AKey: " + AKey);
    std::wstring parent;
    if (ParentPath(AKey, parent)) {  // a root is never deleted
        bool success = false;
        const bool exists = FRegistry->KeyExistsSafe(AKey, success);
        if (success && exists && IsKeyEmpty(AKey)) {
            DebugLog::Log(L"Registry.DeleteKeySafe");
            const bool deleted = FRegistry->DeleteKeySafe(AKey, success);
            if (deleted && success) {
                DebugLog::Log(L"SeparateRootAndLastKey");
                DebugLog::Log(L"DeleteEmptyKey");
                DeleteEmptyKey(parent);
            }
        }
    }
    DebugLog::Log(L"TValidationAlgorithm.DeleteEmptyKey.End");
}

void TValidationAlgorithm::DeleteAnyKey(const std::wstring& AKey)
{
    DebugLog::Log(L"TValidationAlgorithm.DeleteAnyKey.Start");
    DebugLog::Log(L"AKey: " + AKey);
    std::wstring parent;
    if (ParentPath(AKey, parent)) {
        bool success = false;
        const bool exists = FRegistry->KeyExistsSafe(AKey, success);
        if (success && exists && FRegistry->DeleteKeySafe(AKey, success) && success) {
            DeleteEmptyKey(parent);
        }
    }
    DebugLog::Log(L"TValidationAlgorithm.DeleteAnyKey");
}

void TValidationAlgorithm::SetAutoDeleteAnyKey(bool value)
{
    autoDeleteAnyKey_ = value;
    if (value) {
        autoDeleteEmptyKey_ = true;
    }
}

void TValidationAlgorithm::TraceArguments(const std::wstring& AKey, const std::wstring& AValue,
                                          const std::wstring& AData)
{
    if (!DebugLog::Enabled()) {
        return;
    }
    DebugLog::Log(L"AKey: " + AKey);
    DebugLog::Log(L"AValue: " + AValue);
    DebugLog::Log(L"AData: " + AData);
}

std::wstring TValidationAlgorithm::FormatDescription(const std::wstring& pattern,
                                                     std::initializer_list<std::wstring> args)
{
    std::wstring result;
    result.reserve(pattern.size());
    auto next = args.begin();
    for (size_t index = 0; index < pattern.size(); ++index) {
        if (pattern[index] == L'%' && index + 1 < pattern.size() && pattern[index + 1] == L's' &&
            next != args.end()) {
            result += *next++;
            ++index;
        } else {
            result += pattern[index];
        }
    }
    return result;
}

std::wstring TValidationAlgorithm::ProblemKeyPath(IDetectedProblemKey* problem)
{
    if (!problem) {
        return {};
    }
    const TBstr path(problem->GetKeyPath());
    return path.Str();
}

}  // namespace tidyhive

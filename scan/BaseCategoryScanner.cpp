#include "scan/BaseCategoryScanner.h"

#include "clean/DefaultIgnoreLists.h"
#include "clean/IgnoreList.h"
#include "engine/BoundaryGuard.h"
#include "registry/AccessRights.h"
#include "registry/Wow64.h"
#include "scan/RegistryKeyIterator.h"
#include "scan/Task.h"
#include "services/DebugLog.h"
#include "services/Text.h"
#include "validation/EmptyKeyValidationAlgorithm.h"

#include <algorithm>

namespace tidyhive {

TBaseCategoryScanner::TBaseCategoryScanner(const TCategoryDescriptor& descriptor)
    : descriptor_(descriptor), registry_(std::make_unique<TStdRegistryUtility>()),
      problems_(std::make_unique<TDetectedProblemKeysCollection>(descriptor.type)),
      emptyKeyAlgorithm_(std::make_unique<TEmptyKeyValidationAlgorithm>()),
      defaultIgnoreList_(std::make_unique<TIgnoreList>())
{
    LoadDefaultIgnoreList(descriptor_.type, *defaultIgnoreList_);
    Reset();
}

TBaseCategoryScanner::~TBaseCategoryScanner() = default;

TCategoryType STDMETHODCALLTYPE TBaseCategoryScanner::GetCategoryType()
{
    return descriptor_.type;
}

BSTR STDMETHODCALLTYPE TBaseCategoryScanner::GetName()
{
    return ReturnText(LoadText(descriptor_.name));
}

BSTR STDMETHODCALLTYPE TBaseCategoryScanner::GetDescription()
{
    return ReturnText(LoadText(descriptor_.description));
}

BSTR STDMETHODCALLTYPE TBaseCategoryScanner::GetDetailedDescription()
{
    return ReturnText(LoadText(descriptor_.detailedDescription));
}

BOOL STDMETHODCALLTYPE TBaseCategoryScanner::GetCategoryFlag()
{
    return descriptor_.flag ? TRUE : FALSE;
}

std::wstring TBaseCategoryScanner::CurrentKey()
{
    const TLockGuard guard(lock_);
    return currentKey_;
}

std::wstring TBaseCategoryScanner::CurrentValue()
{
    const TLockGuard guard(lock_);
    return currentValue_;
}

std::wstring TBaseCategoryScanner::CurrentData()
{
    const TLockGuard guard(lock_);
    return currentData_;
}

void TBaseCategoryScanner::SetCurrentKey(const std::wstring& value)
{
    const TLockGuard guard(lock_);
    currentKey_ = value;
}

void TBaseCategoryScanner::SetCurrentValue(const std::wstring& value)
{
    const TLockGuard guard(lock_);
    currentValue_ = value;
}

void TBaseCategoryScanner::SetCurrentData(const std::wstring& value)
{
    const TLockGuard guard(lock_);
    currentData_ = value;
}

std::wstring TBaseCategoryScanner::CurrentItemDescription()
{
    try {
        return GetCurrentItemDescription();
    } catch (const std::exception& error) {
        DebugLog::Failure(ClassName(), L"GetCurrentItemDescription", ExceptionMessage(error));
    } catch (...) {
        DebugLog::Failure(ClassName(), L"GetCurrentItemDescription", L"Unknown exception");
    }
    return {};
}

std::wstring TBaseCategoryScanner::GetCurrentItemDescription()
{
    std::wstring key;
    std::wstring value;
    std::wstring data;
    {
        const TLockGuard guard(lock_);
        key = currentKey_;
        value = currentValue_;
        data = currentData_;
    }
    if (key.empty()) {
        return LoadText(TextKey::CS_COMMON_NOKEYSYET);
    }
    return GetValueDescription(key, value, data);
}

void TBaseCategoryScanner::SelectRoot(int Index)
{
    currentRootIndex_ = Index;
    const bool view64 = IsRoot64Bit(Index);
    emptyKeyAlgorithm_->SetUse64BitView(view64);
    registry_->Set64BitView(view64);
}

void TBaseCategoryScanner::Reset()
{
    problems_->Clear();
    keysScanned_ = 0;
    valuesScanned_ = 0;
    valuesIgnored_ = 0;
    const TLockGuard guard(lock_);
    currentKey_.clear();
    currentValue_.clear();
    currentData_.clear();
}

std::wstring TBaseCategoryScanner::GetRootKey(int /*Index*/)
{
    return {};
}

TValidationAlgorithm* TBaseCategoryScanner::ValidateValue(const std::wstring& /*AKey*/,
                                                          const std::wstring& /*AValue*/,
                                                          const std::wstring& /*AData*/)
{
    return nullptr;
}

std::wstring TBaseCategoryScanner::GetValueDescription(const std::wstring& AKey, const std::wstring& AValue,
                                                       const std::wstring& /*AData*/)
{
    return AKey + L" (" + AValue + L")";
}

bool TBaseCategoryScanner::SkipEmptyKeyCheck(const std::wstring& /*AKey*/)
{
    return true;
}

std::wstring TBaseCategoryScanner::GetKeyPattern(int /*Index*/)
{
    return {};
}

bool TBaseCategoryScanner::IsRoot64Bit(int /*Index*/)
{
    return false;
}

int TBaseCategoryScanner::GetRootCount()
{
    return GetRootKey(0).empty() ? 0 : 1;
}

bool TBaseCategoryScanner::IsIgnored(const std::wstring& key, const std::wstring& value)
{
    return defaultIgnoreList_->Ignored(key, value) ||
           (userIgnoreList_ && userIgnoreList_->Ignored(key, value));
}

TValidationAlgorithm* TBaseCategoryScanner::TryValidateValue(const std::wstring& AKey,
                                                             const std::wstring& AValue,
                                                             const std::wstring& AData)
{
    DebugLog::Log(L"***** TBaseCategoryScanner.TryValidateValue.Start ******");
    DebugLog::Log(L"Class is: ", ClassName());
    DebugLog::LogArguments(AKey, AValue, AData);
    TValidationAlgorithm* const algorithm = ValidateValue(AKey, AValue, AData);
    DebugLog::Log(L"***** TBaseCategoryScanner.TryValidateValue *******");
    return algorithm;
}

void TBaseCategoryScanner::AddProblem(const std::wstring& key, const std::wstring& value,
                                      const std::wstring& data, TValidationAlgorithm* algorithm)
{
    // Filled under the collection's lock, so the host never sees a half-made problem.
    const TLockGuard guard(problems_->CollectionLock());
    TDetectedProblemKey* const problem = problems_->AddNew();
    problem->SetKeyPath(key);
    problem->SetValueName(value);
    problem->SetData(data);
    problem->Algorithm = algorithm;
    problem->Use64BitView = IsRoot64Bit(currentRootIndex_);
    problem->DisableFsRedirection = algorithm->GetDisableFsRedirection();
}

void TBaseCategoryScanner::ScanKey(const std::wstring& AKey, bool AValidate, int& ACount)
{
    if (IsIgnored(AKey, std::wstring())) {
        return;
    }
    CheckThreadMessages();

    bool success = false;
    if (ScanSubKeys) {
        TNameList subKeys;
        if (registry_->GetKeyNamesSafe(AKey, subKeys, success) && success) {
            if (IsWow64()) {
                std::erase_if(subKeys,
                              [](const std::wstring& name) { return SameText(name, L"Wow6432Node"); });
            }
            for (const std::wstring& name : subKeys) {
                ScanKey(AKey + L'\\' + name, AValidate, ACount);
            }
        }
    }

    SetCurrentKey(AKey);
    TNameList names;
    if (!registry_->GetValueNamesSafe(AKey, names, success) || !success) {
        return;
    }
    const auto defaultName = std::find(names.begin(), names.end(), std::wstring());
    const bool hasDefault = defaultName != names.end();
    if (CheckDefaultValue) {
        if (!hasDefault) {
            names.insert(names.begin(), std::wstring());
        }
    } else if (hasDefault) {
        names.erase(defaultName);
    }
    const bool defaultFound = hasDefault || CheckDefaultValue;

    if (!AValidate) {
        ACount += static_cast<int>(names.size());
        return;
    }

    const REGSAM view = RegistryViewFlag(IsRoot64Bit(currentRootIndex_));
    bool emptyKeyProblem = false;
    if (names.empty() || (names.size() == 1 && defaultFound)) {
        if (!SkipEmptyKeyCheck(AKey) && !emptyKeyAlgorithm_->IsValid(AKey, std::wstring(), std::wstring()) &&
            IsRegKeyUnlocked(AKey, view)) {
            AddProblem(AKey, std::wstring(), std::wstring(), emptyKeyAlgorithm_.get());
            emptyKeyProblem = true;
        }
    }

    if (!emptyKeyProblem) {
        for (const std::wstring& name : names) {
            CheckThreadMessages();
            SetCurrentValue(name);
            valuesScanned_.fetch_add(1, std::memory_order_relaxed);
            std::wstring data;
            if (ReadValueData) {
                data = registry_->ReadStringSafe(AKey, name, success);
            }
            SetCurrentData(data);
            if (!success) {
                continue;
            }
            TValidationAlgorithm* const algorithm = TryValidateValue(AKey, name, data);
            if (algorithm && IsRegKeyUnlocked(AKey, view)) {
                if (IsIgnored(AKey, name)) {
                    valuesIgnored_.fetch_add(1, std::memory_order_relaxed);
                } else {
                    AddProblem(AKey, name, data, algorithm);
                }
            }
        }
    }
    keysScanned_.fetch_add(1, std::memory_order_relaxed);
}

void TBaseCategoryScanner::CountKey(const std::wstring& Key)
{
    ScanKey(Key, false, totalValues_);
}

void TBaseCategoryScanner::ValidateKey(const std::wstring& Key)
{
    int count = 0;
    ScanKey(Key, true, count);
}

void TBaseCategoryScanner::WalkRoots(bool validate)
{
    const int rootCount = GetRootCount();
    for (int index = 0; index < rootCount; ++index) {
        SelectRoot(index);
        const std::wstring rootKey = GetRootKey(index);
        if (rootKey.empty()) {
            continue;
        }
        TKeyCallback callback;
        if (validate) {
            callback = [this](const std::wstring& key) { ValidateKey(key); };
        } else {
            callback = [this](const std::wstring& key) { CountKey(key); };
        }
        TRegistryKeyIterator iterator(rootKey, std::move(callback), IsRoot64Bit(index), GetKeyPattern(index));
        iterator.Iterate();
        int judged = 0;
        RootWalked(index, validate, validate ? judged : totalValues_);
    }
}

int TBaseCategoryScanner::GetTotalValuesCount()
{
    totalValues_ = 0;
    try {
        WalkRoots(false);
    } catch (const std::exception& error) {
        DebugLog::Failure(ClassName(), L"GetTotalValuesCount", ExceptionMessage(error));
        throw;
    }
    return totalValues_;
}

void TBaseCategoryScanner::Scan()
{
    Reset();
    WalkRoots(true);
}

}  // namespace tidyhive

#include "scan/BaseCategoryScanner.h"

#include "clean/DefaultIgnoreLists.h"
#include "clean/IgnoreList.h"
#include "engine/BoundaryGuard.h"
#include "registry/AccessRights.h"
#include "registry/LookupMemo.h"
#include "registry/Wow64.h"
#include "scan/RegistryKeyIterator.h"
#include "scan/Task.h"
#include "services/DebugLog.h"
#include "services/Text.h"
#include "validation/EmptyKeyValidationAlgorithm.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <unordered_map>

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

struct TKeyContent {
    bool subKeysListed = false;
    TNameList subKeys;
    bool valuesListed = false;
    TValueTextList values;
};

// The counting pass reads every key the validating pass will judge, moments before it. What
// it read is kept, within bounds, and judged by the validating pass instead of reading each
// key again: the scan then reads the registry once. Fixes judge the entries' current data,
// so a value changed in between is never harmed by it.
struct TBaseCategoryScanner::TCountSnapshot {
    // Kept for so long at most; an older snapshot is dropped and the registry read again.
    static constexpr ULONGLONG kMaxAgeMs = 5 * 60 * 1000;
    // Text kept at most (characters), so that a large category cannot exhaust memory; keys
    // beyond it are read again.
    static constexpr size_t kMaxChars = 4 * 1024 * 1024;
    // What a kept key costs beside its text, in characters.
    static constexpr size_t kKeyOverhead = 64;

    ULONGLONG taken = GetTickCount64();
    size_t chars = 0;
    std::unordered_map<std::wstring, TKeyContent> keys;
    std::vector<std::vector<std::wstring>> rootKeys;  // per root: the keys the walk yielded

    bool Fresh() const { return GetTickCount64() - taken < kMaxAgeMs; }

    // Roots may name the same path in two views: a key is kept under its root.
    static std::wstring Slot(int root, const std::wstring& key) { return std::to_wstring(root) + L'|' + key; }

    void Keep(int root, const std::wstring& key, const TKeyContent& content)
    {
        size_t size = key.size() + kKeyOverhead;
        for (const std::wstring& name : content.subKeys) {
            size += name.size();
        }
        for (const TValueText& value : content.values) {
            size += value.name.size() + value.text.size();
        }
        if (chars + size > kMaxChars) {
            return;
        }
        chars += size;
        keys.insert_or_assign(Slot(root, key), content);
    }
};

bool TBaseCategoryScanner::TakeFromSnapshot(const std::wstring& key, TKeyContent& content)
{
    if (!snapshot_ || recording_) {
        return false;
    }
    const auto found = snapshot_->keys.find(TCountSnapshot::Slot(currentRootIndex_, key));
    if (found == snapshot_->keys.end()) {
        return false;
    }
    content = std::move(found->second);
    snapshot_->keys.erase(found);
    return true;
}

void TBaseCategoryScanner::ScanKey(const std::wstring& AKey, bool AValidate, int& ACount)
{
    if (IsIgnored(AKey, std::wstring())) {
        return;
    }
    CheckThreadMessages();

    // What the key holds is read while it is open, once (or was, by the counting pass just
    // before); its subkeys are still scanned before its own values are judged.
    TKeyContent content;
    if (!AValidate || !TakeFromSnapshot(AKey, content)) {
        bool success = false;
        if (ScanSubKeys) {
            content.subKeysListed = content.valuesListed =
                registry_->GetContentSafe(AKey, content.subKeys, content.values, success) && success;
        } else {
            content.valuesListed = registry_->GetValueTextsSafe(AKey, content.values, success) && success;
        }
        if (content.valuesListed && !ReadValueData) {
            for (TValueText& value : content.values) {
                value.text.clear();
            }
        }
        if (recording_) {
            snapshot_->Keep(currentRootIndex_, AKey, content);
        }
    }

    if (AValidate && content.subKeysListed) {
        // The empty-key check asks about this key again: answered from what was just read.
        TLookupMemoScope::RememberKeyCounts(
            RegistryViewFlag(IsRoot64Bit(currentRootIndex_)), AKey,
            {static_cast<DWORD>(content.subKeys.size()), static_cast<DWORD>(content.values.size())});
    }
    if (content.subKeysListed) {
        if (IsWow64()) {
            std::erase_if(content.subKeys,
                          [](const std::wstring& name) { return SameText(name, L"Wow6432Node"); });
        }
        for (const std::wstring& name : content.subKeys) {
            ScanKey(AKey + L'\\' + name, AValidate, ACount);
        }
    }

    SetCurrentKey(AKey);
    if (!content.valuesListed) {
        return;
    }
    const auto defaultValue = std::find_if(content.values.begin(), content.values.end(),
                                           [](const TValueText& value) { return value.name.empty(); });
    if (!AValidate) {
        int count = static_cast<int>(content.values.size());
        const bool hasDefault = defaultValue != content.values.end();
        if (CheckDefaultValue && !hasDefault) {
            ++count;
        } else if (!CheckDefaultValue && hasDefault) {
            --count;
        }
        ACount += count;
        return;
    }

    TValueTextList& values = content.values;
    const bool hasDefault = defaultValue != values.end();
    if (CheckDefaultValue) {
        if (!hasDefault) {
            values.insert(values.begin(), TValueText{});
        }
    } else if (hasDefault) {
        values.erase(defaultValue);
    }
    const bool defaultFound = hasDefault || CheckDefaultValue;

    const REGSAM view = RegistryViewFlag(IsRoot64Bit(currentRootIndex_));
    // Judged once per key, on a handle of the key opened below its parent.
    std::optional<bool> unlocked;
    const auto keyUnlocked = [&] {
        if (!unlocked) {
            HKEY open = nullptr;
            try {
                if (registry_->OpenKey(AKey)) {
                    open = registry_->Registry().CurrentKey();
                }
            } catch (const std::exception&) {
                open = nullptr;  // judged by its path below
            }
            unlocked = open ? IsRegKeyUnlocked(open, AKey, view) : IsRegKeyUnlocked(AKey, view);
        }
        return *unlocked;
    };
    bool emptyKeyProblem = false;
    if (values.empty() || (values.size() == 1 && defaultFound)) {
        if (!SkipEmptyKeyCheck(AKey) && !emptyKeyAlgorithm_->IsValid(AKey, std::wstring(), std::wstring()) &&
            keyUnlocked()) {
            AddProblem(AKey, std::wstring(), std::wstring(), emptyKeyAlgorithm_.get());
            emptyKeyProblem = true;
        }
    }

    if (!emptyKeyProblem) {
        for (const TValueText& value : values) {
            CheckThreadMessages();
            SetCurrentValue(value.name);
            valuesScanned_.fetch_add(1, std::memory_order_relaxed);
            SetCurrentData(value.text);
            TValidationAlgorithm* const algorithm = TryValidateValue(AKey, value.name, value.text);
            if (algorithm && keyUnlocked()) {
                if (IsIgnored(AKey, value.name)) {
                    valuesIgnored_.fetch_add(1, std::memory_order_relaxed);
                } else {
                    AddProblem(AKey, value.name, value.text, algorithm);
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
    // The validating pass replays the keys the counting pass was given, when it kept them;
    // whatever becomes of the pass, the snapshot serves it only.
    const bool replay = validate && snapshot_ && snapshot_->Fresh();
    struct TSnapshotDrop {
        std::unique_ptr<TCountSnapshot>* snapshot;
        ~TSnapshotDrop()
        {
            if (snapshot) {
                snapshot->reset();
            }
        }
    } drop{validate ? &snapshot_ : nullptr};
    if (validate && !replay) {
        snapshot_.reset();
    }
    const int rootCount = GetRootCount();
    for (int index = 0; index < rootCount; ++index) {
        SelectRoot(index);
        const std::wstring rootKey = GetRootKey(index);
        if (!rootKey.empty()) {
            if (replay) {
                if (static_cast<size_t>(index) < snapshot_->rootKeys.size()) {
                    for (const std::wstring& key : snapshot_->rootKeys[index]) {
                        ValidateKey(key);
                    }
                }
            } else {
                TKeyCallback callback;
                if (validate) {
                    callback = [this](const std::wstring& key) { ValidateKey(key); };
                } else {
                    callback = [this, index](const std::wstring& key) {
                        if (recording_) {
                            snapshot_->rootKeys.resize(static_cast<size_t>(index) + 1);
                            snapshot_->rootKeys[index].push_back(key);
                        }
                        CountKey(key);
                    };
                }
                TRegistryKeyIterator iterator(rootKey, std::move(callback), IsRoot64Bit(index),
                                              GetKeyPattern(index));
                iterator.Iterate();
            }
        }
        int judged = 0;
        RootWalked(index, validate, validate ? judged : totalValues_);
    }
}

int TBaseCategoryScanner::GetTotalValuesCount()
{
    const TLookupMemoScope lookups;
    totalValues_ = 0;
    snapshot_ = std::make_unique<TCountSnapshot>();
    recording_ = true;
    struct TRecordingEnd {
        TBaseCategoryScanner& scanner;
        ~TRecordingEnd()
        {
            scanner.recording_ = false;
            if (std::uncaught_exceptions() > 0) {
                scanner.snapshot_.reset();  // a walk that did not end keeps nothing
            }
        }
    } recordingEnd{*this};
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
    const TLookupMemoScope lookups;
    Reset();
    WalkRoots(true);
}

}  // namespace tidyhive

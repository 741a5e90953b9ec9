// Common machinery of every category scanner: walks the roots a derived scanner names
// (root key, key pattern, registry view), reads each key's values, asks the derived
// scanner which algorithm rejects a value, filters through the ignore lists and records
// the problems; keeps the counters and the "current" texts the host polls.
//
// The base class stands for the categories that have no scanner of their own yet: it has
// no root and scans nothing.
#pragma once

#include "engine/CategoryType.h"
#include "engine/CommonInterfacedObject.h"
#include "registry/RegistryUtility.h"
#include "scan/DetectedProblemKeys.h"
#include "services/Lock.h"

#include <atomic>
#include <memory>
#include <string>

namespace tidyhive {

class TIgnoreList;
class TValidationAlgorithm;
class TEmptyKeyValidationAlgorithm;

// What a walk reads of one key while it is open.
struct TKeyContent;

class TBaseCategoryScanner : public TCommonInterfacedObject<ICategoryScanner> {
public:
    explicit TBaseCategoryScanner(const TCategoryDescriptor& descriptor);
    ~TBaseCategoryScanner() override;

    // ICategoryScanner
    TCategoryType STDMETHODCALLTYPE GetCategoryType() override;
    BSTR STDMETHODCALLTYPE GetName() override;
    BSTR STDMETHODCALLTYPE GetDescription() override;
    BSTR STDMETHODCALLTYPE GetDetailedDescription() override;
    BOOL STDMETHODCALLTYPE GetCategoryFlag() override;

    const TCategoryDescriptor& Descriptor() const { return descriptor_; }
    // The user's ignore list of this category (not owned); may be null.
    void SetUserIgnoreList(TIgnoreList* list) { userIgnoreList_ = list; }
    TIgnoreList* UserIgnoreList() const { return userIgnoreList_; }
    TIgnoreList& DefaultIgnoreList() const { return *defaultIgnoreList_; }

    // Worker thread. The counting pass: the number of values the validating pass will see
    // (sets the progress total). Other failures are logged and raised again; EAbortTask
    // passes untouched.
    virtual int GetTotalValuesCount();
    // Worker thread. The validating pass: Reset, then every root. Raises what the walk raises.
    virtual void Scan();

    // Live counters of the validating pass; any thread may read them.
    int KeysScanned() const { return keysScanned_.load(std::memory_order_relaxed); }
    int ValuesScanned() const { return valuesScanned_.load(std::memory_order_relaxed); }
    int ValuesIgnored() const { return valuesIgnored_.load(std::memory_order_relaxed); }
    int TotalValues() const { return totalValues_; }

    TDetectedProblemKeysCollection& Problems() { return *problems_; }
    TEmptyKeyValidationAlgorithm& EmptyKeyAlgorithm() { return *emptyKeyAlgorithm_; }

    // The entry being scanned, under the scanner's lock (any thread).
    std::wstring CurrentKey();
    std::wstring CurrentValue();
    std::wstring CurrentData();
    void SetCurrentKey(const std::wstring& value);
    void SetCurrentValue(const std::wstring& value);
    void SetCurrentData(const std::wstring& value);
    // The host's progress text; never raises.
    std::wstring CurrentItemDescription();

    // Where to look. Index runs from 0 to GetRootCount() - 1.
    virtual void SelectRoot(int Index);
    virtual void Reset();
    // Full path of the root key; empty: no root.
    virtual std::wstring GetRootKey(int Index);
    // The algorithm that judges the entry invalid; null when it is valid.
    virtual TValidationAlgorithm* ValidateValue(const std::wstring& AKey, const std::wstring& AValue,
                                                const std::wstring& AData);
    virtual std::wstring GetValueDescription(const std::wstring& AKey, const std::wstring& AValue,
                                             const std::wstring& AData);
    // True: keys without values are not reported.
    virtual bool SkipEmptyKeyCheck(const std::wstring& AKey);
    // Relative to the root key; empty: the root key itself.
    virtual std::wstring GetKeyPattern(int Index);
    virtual bool IsRoot64Bit(int Index);
    // 1 when the scanner names a root (GetRootKey (0) not empty), else 0.
    virtual int GetRootCount();
    // Covered by the built-in list, or else by the user's list.
    virtual bool IsIgnored(const std::wstring& key, const std::wstring& value);
    // One key of a walk: counts its values (AValidate false) or validates them.
    virtual void ScanKey(const std::wstring& AKey, bool AValidate, int& ACount);
    // After each root's walk, also when its key is missing: for entries a scanner judges
    // outside the registry at that root. ACount as for ScanKey.
    virtual void RootWalked(int /*Index*/, bool /*AValidate*/, int& /*ACount*/) {}
    virtual std::wstring GetCurrentItemDescription();
    // For trace and failure lines.
    virtual const wchar_t* ClassName() const { return L"TBaseCategoryScanner"; }

    // ValidateValue between the trace lines.
    TValidationAlgorithm* TryValidateValue(const std::wstring& AKey, const std::wstring& AValue,
                                           const std::wstring& AData);

    bool ScanSubKeys = false;
    bool CheckDefaultValue = false;
    bool ReadValueData = true;

protected:
    int CurrentRootIndex() const { return currentRootIndex_; }
    TStdRegistryUtility& Registry() { return *registry_; }

    // The iterator's callbacks.
    void CountKey(const std::wstring& Key);
    void ValidateKey(const std::wstring& Key);

    // For scanners that judge entries outside the registry walk (scheduled tasks).
    void AddProblem(const std::wstring& key, const std::wstring& value, const std::wstring& data,
                    TValidationAlgorithm* algorithm);
    void CountIgnoredValue() { valuesIgnored_.fetch_add(1, std::memory_order_relaxed); }

private:
    struct TCountSnapshot;

    void WalkRoots(bool validate);
    // What the counting pass read of the key, when it was kept for the validating pass.
    bool TakeFromSnapshot(const std::wstring& key, TKeyContent& content);

    const TCategoryDescriptor& descriptor_;
    TLock lock_;
    std::unique_ptr<TStdRegistryUtility> registry_;
    std::unique_ptr<TDetectedProblemKeysCollection> problems_;
    TIgnoreList* userIgnoreList_ = nullptr;
    std::atomic<int> keysScanned_{0};
    std::atomic<int> valuesScanned_{0};
    std::atomic<int> valuesIgnored_{0};
    std::wstring currentKey_;
    std::wstring currentValue_;
    std::wstring currentData_;
    int totalValues_ = 0;
    std::unique_ptr<TEmptyKeyValidationAlgorithm> emptyKeyAlgorithm_;
    int currentRootIndex_ = 0;
    std::unique_ptr<TIgnoreList> defaultIgnoreList_;
    // Filled by the counting pass, emptied by the validating pass that follows it.
    std::unique_ptr<TCountSnapshot> snapshot_;
    bool recording_ = false;
};

}  // namespace tidyhive

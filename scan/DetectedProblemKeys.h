// Detected problems: one record per invalid entry a scanner found, the per-category
// collection that owns them, and its statistics (the problems sorted by the user's choice,
// and the fix outcomes).
//
// Locks: each collection (the problems' own and the three status lists) has one. Problems
// use their owner's. The order is always the problems' collection first, then a status
// list; nothing takes them the other way round.
#pragma once

#include "engine/CommonInterfacedObject.h"
#include "services/Lock.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace tidyhive {

class TValidationAlgorithm;
class TDetectedProblemKeysCollection;
class TKeysCollection;

using TProblemKeyStatus = BYTE;
enum : BYTE { ksSkip = psSkip, ksFix = psFix, ksIgnore = psIgnore };

class TDetectedProblemKey : public TCommonInterfacedObject<IDetectedProblemKey> {
public:
    TDetectedProblemKey() = default;
    // Leaves its owner's status list.
    ~TDetectedProblemKey() override;

    // IDetectedProblemKey
    BYTE STDMETHODCALLTYPE GetStatus() override;
    void STDMETHODCALLTYPE SetStatus(BYTE value) override;
    BSTR STDMETHODCALLTYPE GetValueName() override;
    BSTR STDMETHODCALLTYPE GetKeyPath() override;
    BSTR STDMETHODCALLTYPE GetData() override;
    TCategoryType STDMETHODCALLTYPE GetCategoryType() override;
    IValidationAlgorithm *STDMETHODCALLTYPE GetAlgorithm() override;
    // For the host: never raises; a failure answers false.
    BOOL STDMETHODCALLTYPE Fix() override;

    // The fix for the cleaner: re-applies the view flags of the scan and runs the
    // algorithm's fix template. Raises what the algorithm raises; false without one.
    bool FixProblem();

    // Under the owner's lock (no lock without an owner).
    void SetKeyPath(const std::wstring &value);
    void SetValueName(const std::wstring &value);
    void SetData(const std::wstring &value);
    std::wstring KeyPath() const;
    std::wstring ValueName() const;
    std::wstring Data() const;
    TProblemKeyStatus Status() const;
    // Moves the problem between its owner's status lists, then stores the value.
    void ChangeStatus(TProblemKeyStatus value);

    TDetectedProblemKeysCollection *Owner() const { return owner_; }
    virtual const wchar_t *ClassName() const { return L"TDetectedProblemKey"; }

    // Set by the scanner right after creating the problem.
    bool Use64BitView = false;
    bool DisableFsRedirection = false;
    TValidationAlgorithm *Algorithm = nullptr; // owned by the scanner

private:
    friend class TDetectedProblemKeysCollection;

    std::wstring valueName_;
    std::wstring keyPath_;
    std::wstring data_;
    std::atomic<TProblemKeyStatus> status_{ksFix};
    TDetectedProblemKeysCollection *owner_ = nullptr;
};

// A list of problems, owning them or only referring to them (fixed at construction).
class TKeysCollection : public TCommonInterfacedObject<IKeysCollection> {
public:
    explicit TKeysCollection(bool ownsKeys);
    ~TKeysCollection() override;

    // IKeysCollection
    LONG STDMETHODCALLTYPE GetCount() override;
    IDetectedProblemKey *STDMETHODCALLTYPE GetItem(LONG index) override;

    // A new problem with status ksFix, appended.
    TDetectedProblemKey *AddNew();
    void Add(TDetectedProblemKey *key);
    // Out-of-range indexes do nothing.
    void Delete(LONG index);
    void Remove(TDetectedProblemKey *key);
    void Clear();
    LONG Count() const;
    bool Contains(const TDetectedProblemKey *key) const;
    // Without the lock: for the task that owns the collection while it runs.
    TDetectedProblemKey *Items(LONG index) const;

    TLock &CollectionLock() const { return lock_; }

protected:
    // Called under the lock.
    virtual void KeyAdded(TDetectedProblemKey *) {}
    virtual void KeyRemoved(TDetectedProblemKey *) {}
    virtual void KeysCleared() {}

    // Frees the entries without notifying (for destructors).
    void ReleaseAll();

private:
    std::vector<TDetectedProblemKey *> items_;
    const bool ownsKeys_;
    mutable TLock lock_;
};

class TDetectedProblemKeysStatistics : public TCommonInterfacedObject<IDetectedProblemKeysStatistics> {
public:
    // collectionLock, when given, is taken around the total so that it never sees a problem
    // halfway between two lists.
    explicit TDetectedProblemKeysStatistics(TLock *collectionLock = nullptr);

    // IDetectedProblemKeysStatistics
    IKeysCollection *STDMETHODCALLTYPE GetKeysToFix() override;
    IKeysCollection *STDMETHODCALLTYPE GetKeysToIgnore() override;
    IKeysCollection *STDMETHODCALLTYPE GetKeysToSkip() override;
    LONG STDMETHODCALLTYPE GetFixedCount() override;
    LONG STDMETHODCALLTYPE GetFailedCount() override;
    LONG STDMETHODCALLTYPE GetTotalCount() override;

    void IncFixed() { fixed_.fetch_add(1); }
    void IncFailed() { failed_.fetch_add(1); }

    // The list of a status; null for values other than ksSkip, ksFix and ksIgnore.
    TKeysCollection *ListOf(TProblemKeyStatus status);
    TKeysCollection &KeysToFix() { return toFix_; }
    TKeysCollection &KeysToSkip() { return toSkip_; }
    TKeysCollection &KeysToIgnore() { return toIgnore_; }
    void ClearLists();

private:
    TKeysCollection toFix_{false};
    TKeysCollection toSkip_{false};
    TKeysCollection toIgnore_{false};
    std::atomic<LONG> failed_{0};
    std::atomic<LONG> fixed_{0};
    TLock *collectionLock_;
};

// The problems of one category, owned, with their statistics.
class TDetectedProblemKeysCollection : public TKeysCollection, public IDetectedProblemKeysCollection {
public:
    explicit TDetectedProblemKeysCollection(TCategoryType categoryType);
    // Frees the statistics first, then the problems.
    ~TDetectedProblemKeysCollection() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    // IDetectedProblemKeysCollection
    LONG STDMETHODCALLTYPE GetCount() override;
    IDetectedProblemKey *STDMETHODCALLTYPE GetItem(LONG index) override;
    IDetectedProblemKeysStatistics *STDMETHODCALLTYPE GetStatistics() override;
    // Holds the collection's lock for the whole walk, so a scan or clean that extends or
    // empties the collection meanwhile waits instead of pulling problems away under it.
    void STDMETHODCALLTYPE SetAllStatuses(BYTE value) override;

    TCategoryType CategoryType() const { return categoryType_; }
    // Null only while the collection is being destroyed.
    TDetectedProblemKeysStatistics *Statistics() const { return statistics_.get(); }

protected:
    void KeyAdded(TDetectedProblemKey *key) override;
    void KeyRemoved(TDetectedProblemKey *key) override;
    void KeysCleared() override;

private:
    const TCategoryType categoryType_;
    std::unique_ptr<TDetectedProblemKeysStatistics> statistics_;
};

} // namespace tidyhive

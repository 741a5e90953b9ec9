#include "scan/DetectedProblemKeys.h"

#include "engine/BoundaryGuard.h"
#include "services/DebugLog.h"
#include "validation/ValidationAlgorithm.h"

#include <algorithm>
#include <optional>

namespace tidyhive {
namespace {

// Holds the owner's lock, or nothing for a problem without an owner.
class TOwnerLock {
public:
    explicit TOwnerLock(const TDetectedProblemKeysCollection* owner)
    {
        if (owner) {
            guard_.emplace(owner->CollectionLock());
        }
    }

private:
    std::optional<TLockGuard> guard_;
};

}  // namespace

// --- TDetectedProblemKey ---------------------------------------------------------------

TDetectedProblemKey::~TDetectedProblemKey()
{
    if (!owner_) {
        return;
    }
    if (TDetectedProblemKeysStatistics* statistics = owner_->Statistics()) {
        if (TKeysCollection* list = statistics->ListOf(status_.load())) {
            list->Remove(this);
        }
    }
}

BYTE STDMETHODCALLTYPE TDetectedProblemKey::GetStatus()
{
    return Status();
}

void STDMETHODCALLTYPE TDetectedProblemKey::SetStatus(BYTE value)
{
    GuardedVoid(L"DetectedProblemKey - SetStatus", [&] { ChangeStatus(value); });
}

BSTR STDMETHODCALLTYPE TDetectedProblemKey::GetValueName()
{
    return Guarded<BSTR>(L"DetectedProblemKey - GetValueName", nullptr,
                         [&] { return MakeBstr(ValueName()); });
}

BSTR STDMETHODCALLTYPE TDetectedProblemKey::GetKeyPath()
{
    return Guarded<BSTR>(L"DetectedProblemKey - GetKeyPath", nullptr, [&] { return MakeBstr(KeyPath()); });
}

BSTR STDMETHODCALLTYPE TDetectedProblemKey::GetData()
{
    return Guarded<BSTR>(L"DetectedProblemKey - GetData", nullptr, [&] { return MakeBstr(Data()); });
}

TCategoryType STDMETHODCALLTYPE TDetectedProblemKey::GetCategoryType()
{
    return owner_ ? owner_->CategoryType() : static_cast<TCategoryType>(rctUndefined);
}

IValidationAlgorithm* STDMETHODCALLTYPE TDetectedProblemKey::GetAlgorithm()
{
    return Algorithm;
}

BOOL STDMETHODCALLTYPE TDetectedProblemKey::Fix()
{
    return Guarded<BOOL>(L"DetectedProblemKey - Fix", FALSE, [&] { return FixProblem() ? TRUE : FALSE; });
}

bool TDetectedProblemKey::FixProblem()
{
    if (DebugLog::Enabled()) {
        DebugLog::Log(L"TDetectedProblemKey.Fix.Start");
        DebugLog::Log(std::wstring(L"Class ") + ClassName());
        DebugLog::Log(L"Key " + KeyPath());
        DebugLog::Log(L"Value " + ValueName());
        DebugLog::Log(L"Data " + Data());
    }
    bool result = false;
    if (Algorithm) {
        Algorithm->SetUse64BitView(Use64BitView);
        Algorithm->SetDisableFsRedirection(DisableFsRedirection);
        result = Algorithm->ApplyFix(KeyPath(), ValueName(), Data());
    }
    DebugLog::Log(L"TDetectedProblemKey.Fix");
    return result;
}

void TDetectedProblemKey::SetKeyPath(const std::wstring& value)
{
    const TOwnerLock guard(owner_);
    keyPath_ = value;
}

void TDetectedProblemKey::SetValueName(const std::wstring& value)
{
    const TOwnerLock guard(owner_);
    valueName_ = value;
}

void TDetectedProblemKey::SetData(const std::wstring& value)
{
    const TOwnerLock guard(owner_);
    data_ = value;
}

std::wstring TDetectedProblemKey::KeyPath() const
{
    const TOwnerLock guard(owner_);
    return keyPath_;
}

std::wstring TDetectedProblemKey::ValueName() const
{
    const TOwnerLock guard(owner_);
    return valueName_;
}

std::wstring TDetectedProblemKey::Data() const
{
    const TOwnerLock guard(owner_);
    return data_;
}

TProblemKeyStatus TDetectedProblemKey::Status() const
{
    const TOwnerLock guard(owner_);
    return status_.load();
}

void TDetectedProblemKey::ChangeStatus(TProblemKeyStatus value)
{
    const TOwnerLock guard(owner_);
    const TProblemKeyStatus current = status_.load();
    TDetectedProblemKeysStatistics* statistics = owner_ ? owner_->Statistics() : nullptr;
    if (statistics && value != current) {
        if (TKeysCollection* from = statistics->ListOf(current)) {
            from->Remove(this);
        }
        if (TKeysCollection* to = statistics->ListOf(value)) {
            to->Add(this);
        }
    }
    status_.store(value);
}

// --- TKeysCollection -------------------------------------------------------------------

TKeysCollection::TKeysCollection(bool ownsKeys) : ownsKeys_(ownsKeys) {}

TKeysCollection::~TKeysCollection()
{
    ReleaseAll();
}

LONG STDMETHODCALLTYPE TKeysCollection::GetCount()
{
    return Count();
}

IDetectedProblemKey* STDMETHODCALLTYPE TKeysCollection::GetItem(LONG index)
{
    const TLockGuard guard(lock_);
    if (index < 0 || static_cast<size_t>(index) >= items_.size()) {
        return nullptr;
    }
    return items_[static_cast<size_t>(index)];
}

TDetectedProblemKey* TKeysCollection::AddNew()
{
    auto key = std::make_unique<TDetectedProblemKey>();
    const TLockGuard guard(lock_);
    items_.push_back(key.get());
    TDetectedProblemKey* const added = key.release();
    KeyAdded(added);
    return added;
}

void TKeysCollection::Add(TDetectedProblemKey* key)
{
    if (!key) {
        return;
    }
    const TLockGuard guard(lock_);
    items_.push_back(key);
    KeyAdded(key);
}

void TKeysCollection::Delete(LONG index)
{
    const TLockGuard guard(lock_);
    if (index < 0 || static_cast<size_t>(index) >= items_.size()) {
        return;
    }
    TDetectedProblemKey* const key = items_[static_cast<size_t>(index)];
    KeyRemoved(key);
    items_.erase(items_.begin() + index);
    if (ownsKeys_) {
        delete key;
    }
}

void TKeysCollection::Remove(TDetectedProblemKey* key)
{
    const TLockGuard guard(lock_);
    const auto found = std::find(items_.begin(), items_.end(), key);
    if (found != items_.end()) {
        Delete(static_cast<LONG>(found - items_.begin()));
    }
}

void TKeysCollection::Clear()
{
    const TLockGuard guard(lock_);
    std::vector<TDetectedProblemKey*> old;
    old.swap(items_);
    // The status lists are emptied before the problems are freed, so that nobody reading a
    // list meanwhile can reach a freed problem.
    KeysCleared();
    if (ownsKeys_) {
        for (TDetectedProblemKey* key : old) {
            delete key;
        }
    }
}

LONG TKeysCollection::Count() const
{
    const TLockGuard guard(lock_);
    return static_cast<LONG>(items_.size());
}

bool TKeysCollection::Contains(const TDetectedProblemKey* key) const
{
    const TLockGuard guard(lock_);
    return std::find(items_.begin(), items_.end(), key) != items_.end();
}

TDetectedProblemKey* TKeysCollection::Items(LONG index) const
{
    if (index < 0 || static_cast<size_t>(index) >= items_.size()) {
        return nullptr;
    }
    return items_[static_cast<size_t>(index)];
}

void TKeysCollection::ReleaseAll()
{
    const TLockGuard guard(lock_);
    std::vector<TDetectedProblemKey*> old;
    old.swap(items_);
    if (ownsKeys_) {
        for (TDetectedProblemKey* key : old) {
            delete key;
        }
    }
}

// --- TDetectedProblemKeysStatistics ----------------------------------------------------

TDetectedProblemKeysStatistics::TDetectedProblemKeysStatistics(TLock* collectionLock)
    : collectionLock_(collectionLock)
{
}

IKeysCollection* STDMETHODCALLTYPE TDetectedProblemKeysStatistics::GetKeysToFix()
{
    return &toFix_;
}

IKeysCollection* STDMETHODCALLTYPE TDetectedProblemKeysStatistics::GetKeysToIgnore()
{
    return &toIgnore_;
}

IKeysCollection* STDMETHODCALLTYPE TDetectedProblemKeysStatistics::GetKeysToSkip()
{
    return &toSkip_;
}

LONG STDMETHODCALLTYPE TDetectedProblemKeysStatistics::GetFixedCount()
{
    return fixed_.load();
}

LONG STDMETHODCALLTYPE TDetectedProblemKeysStatistics::GetFailedCount()
{
    return failed_.load();
}

LONG STDMETHODCALLTYPE TDetectedProblemKeysStatistics::GetTotalCount()
{
    std::optional<TLockGuard> guard;
    if (collectionLock_) {
        guard.emplace(*collectionLock_);
    }
    return toFix_.Count() + toSkip_.Count() + toIgnore_.Count();
}

TKeysCollection* TDetectedProblemKeysStatistics::ListOf(TProblemKeyStatus status)
{
    switch (status) {
    case ksSkip:
        return &toSkip_;
    case ksFix:
        return &toFix_;
    case ksIgnore:
        return &toIgnore_;
    default:
        return nullptr;
    }
}

void TDetectedProblemKeysStatistics::ClearLists()
{
    toFix_.Clear();
    toSkip_.Clear();
    toIgnore_.Clear();
}

// --- TDetectedProblemKeysCollection ----------------------------------------------------

TDetectedProblemKeysCollection::TDetectedProblemKeysCollection(TCategoryType categoryType)
    : TKeysCollection(true), categoryType_(categoryType),
      statistics_(std::make_unique<TDetectedProblemKeysStatistics>(&CollectionLock()))
{
}

TDetectedProblemKeysCollection::~TDetectedProblemKeysCollection()
{
    const TLockGuard guard(CollectionLock());
    statistics_.reset();
    ReleaseAll();
}

HRESULT STDMETHODCALLTYPE TDetectedProblemKeysCollection::QueryInterface(REFIID iid, void** object)
{
    if (!object) {
        return E_POINTER;
    }
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDetectedProblemKeysCollection)) {
        *object = static_cast<IDetectedProblemKeysCollection*>(this);
        return S_OK;
    }
    if (IsEqualIID(iid, IID_IKeysCollection)) {
        *object = static_cast<IKeysCollection*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

LONG STDMETHODCALLTYPE TDetectedProblemKeysCollection::GetCount()
{
    return TKeysCollection::GetCount();
}

IDetectedProblemKey* STDMETHODCALLTYPE TDetectedProblemKeysCollection::GetItem(LONG index)
{
    return TKeysCollection::GetItem(index);
}

IDetectedProblemKeysStatistics* STDMETHODCALLTYPE TDetectedProblemKeysCollection::GetStatistics()
{
    return statistics_.get();
}

void STDMETHODCALLTYPE TDetectedProblemKeysCollection::SetAllStatuses(BYTE value)
{
    GuardedVoid(L"DetectedProblemKeysCollection - SetAllStatuses", [&] {
        const TLockGuard guard(CollectionLock());
        const LONG count = Count();
        for (LONG index = 0; index < count; ++index) {
            Items(index)->ChangeStatus(value);
        }
    });
}

void TDetectedProblemKeysCollection::KeyAdded(TDetectedProblemKey* key)
{
    key->owner_ = this;
    if (statistics_) {
        if (TKeysCollection* list = statistics_->ListOf(key->status_.load())) {
            list->Add(key);
        }
    }
}

void TDetectedProblemKeysCollection::KeyRemoved(TDetectedProblemKey* key)
{
    if (statistics_) {
        if (TKeysCollection* list = statistics_->ListOf(key->status_.load())) {
            list->Remove(key);
        }
    }
}

void TDetectedProblemKeysCollection::KeysCleared()
{
    if (statistics_) {
        statistics_->ClearLists();
    }
}

}  // namespace tidyhive

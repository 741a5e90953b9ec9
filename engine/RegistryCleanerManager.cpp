#include "engine/RegistryCleanerManager.h"

#include "clean/CategoryCleanerManager.h"
#include "clean/IgnoreListCollection.h"
#include "clean/RestoreManager.h"
#include "clean/LogManager.h"
#include "engine/BoundaryGuard.h"
#include "engine/EventManager.h"
#include "engine/RegistryCleanerOptions.h"
#include "scan/CategoryScannerManager.h"
#include "scan/DetectedProblemKeys.h"

namespace tidyhive {

TRegistryCleanerManager::TRegistryCleanerManager()
    : categories_(std::make_unique<TCategoryCollection>()), ignoreLists_(std::make_unique<TIgnoreListCollection>())
{
    scanManager_ = std::make_unique<TCategoryScannerManager>(categories_.get());
    BindTaskHooks(*scanManager_);
    cleanerManager_ = std::make_unique<TCategoryCleanerManager>(categories_.get());
    BindTaskHooks(*cleanerManager_);
    ignoreLists_->ClearAll();
    categories_->SetIgnoreLists(ignoreLists_.get());
    // A damaged file is kept aside and the lists start empty: the root is always created.
    try {
        ignoreLists_->Load(UserIgnoreListFileName());
    } catch (const std::exception& error) {
        DebugLog::Log(L"RegistryCleanerManager - LoadIgnoreLists - " + Utf8ToWide(error.what()));
    }
    cleanerManager_->SetIgnoreLists(ignoreLists_.get());
}

TRegistryCleanerManager::~TRegistryCleanerManager()
{
    // Each stops its worker and waits for it before what it walks goes away.
    cleanerManager_.reset();
    scanManager_.reset();
}

void TRegistryCleanerManager::BindTaskHooks(TTask& task)
{
    task.OnCanStart = [this](TTask* sender) { return CanStartTask(sender); };
    task.OnStarted = [this](TTask* sender) { TaskStarted(sender); };
    task.OnFinished = [this](TTask* sender) { TaskEnded(sender); };
    task.OnStopped = [this](TTask* sender) { TaskEnded(sender); };
}

bool TRegistryCleanerManager::CanStartTask(TTask*) const
{
    return runningTask_ == rtNone;
}

void TRegistryCleanerManager::TaskStarted(TTask* sender)
{
    if (sender == scanManager_.get()) {
        runningTask_ = rtScan;
        cleanerManager_->ResetCounters();
        TLogManager::Instance().BeginReport();
    } else {
        runningTask_ = rtClean;
    }
    categories_->SetLocked(true);
}

void TRegistryCleanerManager::TaskEnded(TTask*)
{
    runningTask_ = rtNone;
    categories_->SetLocked(false);
}

void STDMETHODCALLTYPE TRegistryCleanerManager::Free()
{
    GuardedVoid(L"RegistryCleanerManager - Free", [&] { delete this; });
}

IScanTask* STDMETHODCALLTYPE TRegistryCleanerManager::GetScanManager()
{
    return scanManager_->AsInterface();
}

ICleanTask* STDMETHODCALLTYPE TRegistryCleanerManager::GetCleanerManager()
{
    return cleanerManager_->AsInterface();
}

ILogManager* STDMETHODCALLTYPE TRegistryCleanerManager::GetLogManager()
{
    return Guarded<ILogManager*>(L"RegistryCleanerManager - GetLogManager", nullptr,
                                 [] { return &TLogManager::Instance(); });
}

IIgnoreList* STDMETHODCALLTYPE TRegistryCleanerManager::GetIgnoreList(TCategoryType type)
{
    return ignoreLists_->GetList(type);  // null above rctInternet
}

BYTE STDMETHODCALLTYPE TRegistryCleanerManager::GetRunningTask()
{
    return runningTask_;
}

ICategoryCollection* STDMETHODCALLTYPE TRegistryCleanerManager::GetCategories()
{
    return categories_.get();
}

IDetectedProblemKeysCollection* STDMETHODCALLTYPE TRegistryCleanerManager::GetDetectedKeys(TCategoryType type)
{
    TBaseCategoryScanner* scanner = categories_->ScannerOfType(type);
    return scanner ? &scanner->Problems() : nullptr;
}

IRegistryCleanerOptions* STDMETHODCALLTYPE TRegistryCleanerManager::GetOptions()
{
    return Guarded<IRegistryCleanerOptions*>(L"RegistryCleanerManager - GetOptions", nullptr,
                                             [] { return &TRegistryCleanerOptions::Instance(); });
}

IEventManager* STDMETHODCALLTYPE TRegistryCleanerManager::GetEventManager()
{
    return &TEventManager::Instance();
}

IBackvault* STDMETHODCALLTYPE TRegistryCleanerManager::GetBackupLibrary()
{
    return Guarded<IBackvault*>(L"RegistryCleanerManager - GetBackupLibrary", nullptr,
                                [] { return TRestoreManager::Instance().Backup(); });
}

void STDMETHODCALLTYPE TRegistryCleanerManager::SaveIgnoreLists()
{
    GuardedVoid(L"RegistryCleanerManager - SaveIgnoreLists", [&] { ignoreLists_->Save(); });
}

}  // namespace tidyhive

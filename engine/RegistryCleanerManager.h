// The engine's root object, handed to the host by GetRegistryCleanerManager.
#pragma once

#include "engine/CategoryCollection.h"
#include "engine/CommonInterfacedObject.h"

#include <memory>

namespace tidyhive {

class TIgnoreListCollection;
class TCategoryScannerManager;
class TCategoryCleanerManager;
class TTask;

class TRegistryCleanerManager : public TCommonInterfacedObject<IRegistryCleanerManager> {
public:
    TRegistryCleanerManager();
    ~TRegistryCleanerManager() override;

    void STDMETHODCALLTYPE Free() override;
    IScanTask* STDMETHODCALLTYPE GetScanManager() override;
    ICleanTask* STDMETHODCALLTYPE GetCleanerManager() override;
    ILogManager* STDMETHODCALLTYPE GetLogManager() override;
    IIgnoreList* STDMETHODCALLTYPE GetIgnoreList(TCategoryType type) override;
    BYTE STDMETHODCALLTYPE GetRunningTask() override;
    ICategoryCollection* STDMETHODCALLTYPE GetCategories() override;
    IDetectedProblemKeysCollection* STDMETHODCALLTYPE GetDetectedKeys(TCategoryType type) override;
    IRegistryCleanerOptions* STDMETHODCALLTYPE GetOptions() override;
    IEventManager* STDMETHODCALLTYPE GetEventManager() override;
    IBackvault* STDMETHODCALLTYPE GetBackupLibrary() override;
    void STDMETHODCALLTYPE SaveIgnoreLists() override;

    TCategoryCollection& Categories() { return *categories_; }
    TIgnoreListCollection& IgnoreLists() { return *ignoreLists_; }
    TCategoryCleanerManager& CleanerManager() { return *cleanerManager_; }

private:
    volatile BYTE runningTask_ = rtNone;
    std::unique_ptr<TCategoryCollection> categories_;
    std::unique_ptr<TIgnoreListCollection> ignoreLists_;
    // Declared last: destroyed first, stopping its worker before what it walks goes away.
    std::unique_ptr<TCategoryScannerManager> scanManager_;
    std::unique_ptr<TCategoryCleanerManager> cleanerManager_;

    // Task arbitration: at most one task runs, and the collection is fixed meanwhile.
    void BindTaskHooks(TTask& task);
    bool CanStartTask(TTask* sender) const;
    void TaskStarted(TTask* sender);
    void TaskEnded(TTask* sender);
};

}  // namespace tidyhive

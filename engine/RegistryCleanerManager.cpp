#include "engine/RegistryCleanerManager.h"

#include "clean/LogManager.h"
#include "engine/BoundaryGuard.h"
#include "engine/EventManager.h"
#include "engine/RegistryCleanerOptions.h"

namespace tidyhive {

TRegistryCleanerManager::TRegistryCleanerManager() : categories_(std::make_unique<TCategoryCollection>()) {}

TRegistryCleanerManager::~TRegistryCleanerManager() = default;

void STDMETHODCALLTYPE TRegistryCleanerManager::Free()
{
    GuardedVoid(L"RegistryCleanerManager - Free", [&] { delete this; });
}

IScanTask* STDMETHODCALLTYPE TRegistryCleanerManager::GetScanManager()
{
    return nullptr;
}

ICleanTask* STDMETHODCALLTYPE TRegistryCleanerManager::GetCleanerManager()
{
    return nullptr;
}

ILogManager* STDMETHODCALLTYPE TRegistryCleanerManager::GetLogManager()
{
    return Guarded<ILogManager*>(L"RegistryCleanerManager - GetLogManager", nullptr,
                                 [] { return &TLogManager::Instance(); });
}

IIgnoreList* STDMETHODCALLTYPE TRegistryCleanerManager::GetIgnoreList(TCategoryType)
{
    return nullptr;
}

BYTE STDMETHODCALLTYPE TRegistryCleanerManager::GetRunningTask()
{
    return runningTask_;
}

ICategoryCollection* STDMETHODCALLTYPE TRegistryCleanerManager::GetCategories()
{
    return categories_.get();
}

IDetectedProblemKeysCollection* STDMETHODCALLTYPE TRegistryCleanerManager::GetDetectedKeys(TCategoryType)
{
    return nullptr;
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
    return nullptr;
}

void STDMETHODCALLTYPE TRegistryCleanerManager::SaveIgnoreLists() {}

}  // namespace tidyhive

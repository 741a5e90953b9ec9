#include "engine/RegistryCleanerManager.h"

#include "clean/IgnoreListCollection.h"
#include "clean/LogManager.h"
#include "engine/BoundaryGuard.h"
#include "engine/EventManager.h"
#include "engine/RegistryCleanerOptions.h"

namespace tidyhive {

TRegistryCleanerManager::TRegistryCleanerManager()
    : categories_(std::make_unique<TCategoryCollection>()), ignoreLists_(std::make_unique<TIgnoreListCollection>())
{
    ignoreLists_->ClearAll();
    categories_->SetIgnoreLists(ignoreLists_.get());
    // A damaged file is kept aside and the lists start empty: the root is always created.
    try {
        ignoreLists_->Load(UserIgnoreListFileName());
    } catch (const std::exception& error) {
        DebugLog::Log(L"RegistryCleanerManager - LoadIgnoreLists - " + Utf8ToWide(error.what()));
    }
}

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

void STDMETHODCALLTYPE TRegistryCleanerManager::SaveIgnoreLists()
{
    GuardedVoid(L"RegistryCleanerManager - SaveIgnoreLists", [&] { ignoreLists_->Save(); });
}

}  // namespace tidyhive

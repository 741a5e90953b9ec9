// The engine's one export.
#include "engine/BoundaryGuard.h"
#include "engine/EngineStartup.h"
#include "engine/RegistryCleanerManager.h"

using namespace tidyhive;

extern "C" HRESULT WINAPI GetRegistryCleanerManager(IRegistryCleanerManager** manager)
{
    if (!manager) {
        return E_POINTER;
    }
    *manager = nullptr;
    return Guarded<HRESULT>(L"GetRegistryCleanerManager", E_FAIL, [&]() -> HRESULT {
        EnsureEngineStarted();
        *manager = new TRegistryCleanerManager();
        return S_OK;
    });
}

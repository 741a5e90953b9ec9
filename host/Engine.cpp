#include "host/Engine.h"

namespace tidyhive::host {

TEngine::~TEngine()
{
    if (manager_) {
        manager_->Free();
    }
    // The library stays loaded: its sibling services live until the process ends.
}

bool TEngine::Open()
{
    library_ = LoadLibraryW(L"Tidyhive.dll");
    if (!library_) {
        error_ = L"cannot load Tidyhive.dll (error " + std::to_wstring(GetLastError()) + L")";
        return false;
    }
    auto create = reinterpret_cast<GetRegistryCleanerManagerFn>(
        GetProcAddress(library_, kGetRegistryCleanerManagerExport));
    if (!create) {
        error_ = L"Tidyhive.dll does not export GetRegistryCleanerManager";
        return false;
    }
    const HRESULT status = create(&manager_);
    if (FAILED(status) || !manager_) {
        error_ = L"the engine could not be created (HRESULT 0x" +
                 std::to_wstring(static_cast<unsigned long>(status)) + L")";
        manager_ = nullptr;
        return false;
    }
    return true;
}

}  // namespace tidyhive::host

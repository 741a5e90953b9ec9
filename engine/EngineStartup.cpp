#include "engine/EngineStartup.h"

#include "services/HostLibraries.h"
#include "services/LocalizedTexts.h"

#include <mutex>

namespace tidyhive {

void EnsureEngineStarted()
{
    static std::once_flag once;
    std::call_once(once, [] {
        GetGlobals();
        GetHelper();
        GetOptions();
        InitializeLocalizedTexts();
    });
}

}  // namespace tidyhive

#include "services/HostLibraries.h"

#include "services/DebugLog.h"
#include "services/Text.h"

#include <mutex>
#include <string>
#include <vector>

namespace tidyhive {
namespace {

IUnknown* const kRequestedSentinel = reinterpret_cast<IUnknown*>(static_cast<ULONG_PTR>(1));

template <class Interface>
Interface* Service(TServiceCache& cache, const char* fileName, const char* identifier, const wchar_t* label)
{
    IUnknown* instance = GetLibraryInstance(cache, fileName, identifier, 0);
    CheckLibraryInstance(instance, label);
    // GetInstance answers the service's own interface for the identifier it was given.
    return reinterpret_cast<Interface*>(instance);
}

}  // namespace

struct TLibraryList::Impl {
    std::mutex mutex;
    std::vector<std::string> names;
    std::vector<HMODULE> modules;
};

TLibraryList& TLibraryList::Instance()
{
    // Kept for the life of the process: the modules are never freed, since services
    // handed out by them stay in use until the process ends.
    static TLibraryList* list = new TLibraryList();
    return *list;
}

TLibraryList::TLibraryList() : impl_(new Impl) {}

HMODULE TLibraryList::GetModule(const char* fileName)
{
    std::lock_guard guard(impl_->mutex);
    for (size_t i = 0; i < impl_->names.size(); ++i) {
        if (lstrcmpiA(impl_->names[i].c_str(), fileName) == 0) {
            return impl_->modules[i];
        }
    }
    HMODULE module = LoadLibraryA(fileName);
    if (module) {
        impl_->names.emplace_back(fileName);
        impl_->modules.push_back(module);
    }
    return module;
}

IUnknown* GetLibraryInstance(TServiceCache& cache, const char* fileName, const char* identifier, LONG param)
{
    IUnknown* current = cache.load(std::memory_order_acquire);
    if (current == kRequestedSentinel) {
        return nullptr;
    }
    if (current) {
        return current;
    }
    IUnknown* expected = nullptr;
    if (!cache.compare_exchange_strong(expected, kRequestedSentinel)) {
        return expected == kRequestedSentinel ? nullptr : expected;
    }
    IUnknown* instance = nullptr;
    if (HMODULE module = TLibraryList::Instance().GetModule(fileName)) {
        auto getInstance = reinterpret_cast<GetInstanceFn>(GetProcAddress(module, kGetInstanceExport));
        if (getInstance) {
            instance = getInstance(identifier, param);
        }
    }
    if (instance) {
        cache.store(instance, std::memory_order_release);
    }
    return instance;
}

void CheckLibraryInstance(IUnknown* instance, const wchar_t* label)
{
    if (instance) {
        return;
    }
    const std::wstring message = FormatText(
        L"An error occurred while loading library %s. \r\n\r\nIt may have been removed. Please reinstall the "
        L"application. If the problem persists, contact technical support.",
        label);
    DebugLog::LogError(message);
    ShowMessageBox(message, MB_ICONERROR);
    ExitProcess(kFatalLibraryExitCode);
}

int ShowMessageBox(const std::wstring& text, UINT style)
{
    // The title comes from the globals service, unless that service is the one missing.
    std::wstring title;
    static TServiceCache globalsForTitle{nullptr};
    IUnknown* globals = GetLibraryInstance(globalsForTitle, kSysvaneLibrary, kGlobalsInstanceId, 0);
    if (globals) {
        auto* g = reinterpret_cast<IGlobals*>(globals);
        title = SiblingText(g, &IGlobals::GetCompanyName) + L" " + SiblingText(g, &IGlobals::GetProductName);
    }
    return MessageBoxW(nullptr, text.c_str(), title.c_str(), style | MB_TOPMOST | MB_TASKMODAL);
}

#define TIDYHIVE_SERVICE(Getter, Interface, File, Id, Label)                                                  \
    Interface* Getter()                                                                                       \
    {                                                                                                         \
        static TServiceCache cache{nullptr};                                                                  \
        return Service<Interface>(cache, File, Id, Label);                                                    \
    }

TIDYHIVE_SERVICE(GetHelper, ISysHelper, kSysvaneLibrary, kHelperInstanceId, L"Sysvane.dll::Helper")
TIDYHIVE_SERVICE(GetDiskHelper, IDiskHelper, kSysvaneLibrary, kDiskHelperInstanceId, L"Sysvane.dll::DiskHelper")
TIDYHIVE_SERVICE(GetOptions, ISettingsStore, kSysvaneLibrary, kOptionsInstanceId, L"Sysvane.dll::Options")
TIDYHIVE_SERVICE(GetGlobals, IGlobals, kSysvaneLibrary, kGlobalsInstanceId, L"Sysvane.dll::Globals")
TIDYHIVE_SERVICE(GetShellHelper, IShellHelper, kSysvaneLibrary, kShellHelperInstanceId,
                 L"Sysvane.dll::ShellHelper")
TIDYHIVE_SERVICE(GetSettings, ISettings, kTunestoreLibrary, kSettingsInstanceId, L"Tunestore.dll::Settings")
TIDYHIVE_SERVICE(GetBackvault, IBackvault, kBackvaultLibrary, kBackvaultInstanceId, L"Backvault.dll::Backvault")
TIDYHIVE_SERVICE(GetLocalizer, ILocalizer, kLingmoorLibrary, kLocalizerInstanceId, L"Lingmoor.dll::Localizer")
TIDYHIVE_SERVICE(GetReportGenerator, IReportManager, kDocuframeLibrary, kReportGeneratorInstanceId,
                 L"Docuframe.dll::ReportGenerator")

#undef TIDYHIVE_SERVICE

}  // namespace tidyhive

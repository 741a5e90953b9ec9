// Loader of the sibling libraries beside the engine. Each library is loaded by file name
// on first use and asked for its service through its "GetInstance" export; the engine
// keeps each service for the life of the process. A service that cannot be had is fatal:
// a message box explains it and the process ends.
#pragma once

#include "tidyhive/Siblings.h"

#include <windows.h>

#include <atomic>
#include <string>

namespace tidyhive {

// Exit code of the process when a sibling library cannot be loaded.
inline constexpr UINT kFatalLibraryExitCode = 0xE0000001u;

class TLibraryList {
public:
    static TLibraryList& Instance();
    // The module of a library already loaded (names compared case-insensitively), else
    // the library loaded now with the standard search; 0 when it cannot be loaded.
    HMODULE GetModule(const char* fileName);

private:
    TLibraryList();
    struct Impl;
    Impl* impl_;
};

// Cache of one service: null (not yet requested), the failure sentinel, or the instance.
using TServiceCache = std::atomic<IUnknown*>;

// Returns the cached instance, or asks the library for it once. A failed request is not
// retried: the cache keeps the sentinel and later calls answer null.
IUnknown* GetLibraryInstance(TServiceCache& cache, const char* fileName, const char* identifier, LONG param);
// Shows the fatal message and ends the process when instance is null.
void CheckLibraryInstance(IUnknown* instance, const wchar_t* label);

ISysHelper* GetHelper();
IDiskHelper* GetDiskHelper();
ISettingsStore* GetOptions();
IGlobals* GetGlobals();
IShellHelper* GetShellHelper();
ISettings* GetSettings();
IBackvault* GetBackvault();
ILocalizer* GetLocalizer();
IReportManager* GetReportGenerator();

// MessageBoxW with the product's title, no owner, topmost and task-modal.
int ShowMessageBox(const std::wstring& text, UINT style);

// Text answered by a sibling's BSTR getter; empty when the call fails.
template <class Interface, class Method>
std::wstring SiblingText(Interface* service, Method method)
{
    BSTR text = nullptr;
    if (!service || FAILED((service->*method)(&text))) {
        SysFreeString(text);
        return {};
    }
    std::wstring result = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return result;
}

}  // namespace tidyhive

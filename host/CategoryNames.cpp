#include "host/CategoryNames.h"

#include <windows.h>

namespace tidyhive::host {
namespace {

constexpr const wchar_t* kTypeNames[] = {
    L"rctUndefined",    L"rctClasses",   L"rctFileAssocs",  L"rctFonts",     L"rctFileExts",
    L"rctUninstall",    L"rctStartup",   L"rctSharedFiles", L"rctHelpFiles", L"rctAppPaths",
    L"rctHistoryLists", L"rctAppEvents", L"rctVirtDevices", L"rctShortcuts", L"rctSoftware",
    L"rctFireWall",     L"rctInternet"};

}  // namespace

const wchar_t* CategoryTypeName(TCategoryType type)
{
    return type <= rctInternet ? kTypeNames[type] : L"";
}

std::optional<TCategoryType> CategoryTypeFromName(const std::wstring& name)
{
    for (int type = rctClasses; type <= rctInternet; ++type) {
        if (lstrcmpiW(name.c_str(), kTypeNames[type]) == 0) {
            return static_cast<TCategoryType>(type);
        }
    }
    return std::nullopt;
}

}  // namespace tidyhive::host

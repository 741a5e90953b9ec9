#include "engine/CategoryType.h"

#include <array>

namespace tidyhive {
namespace {

constexpr std::array<const wchar_t*, kCategoryTypeCount> kNames = {
    L"rctUndefined",    L"rctClasses",   L"rctFileAssocs", L"rctFonts",        L"rctFileExts",  L"rctUninstall",
    L"rctStartup",      L"rctSharedFiles", L"rctHelpFiles", L"rctAppPaths",    L"rctHistoryLists",
    L"rctAppEvents",    L"rctVirtDevices", L"rctShortcuts", L"rctSoftware",    L"rctFireWall",  L"rctInternet"};

#define TIDYHIVE_CATEGORY(type, flag, word)                                                                   \
    TCategoryDescriptor{type, flag, TextKey::CS_##word##_NAME, TextKey::CS_##word##_DESCRIPTION,              \
                        TextKey::CS_##word##_DESCRIPTION_DETAILED}

const std::array<TCategoryDescriptor, 16> kDescriptors = {
    TIDYHIVE_CATEGORY(rctClasses, true, CLASSES),       TIDYHIVE_CATEGORY(rctFileAssocs, false, FILEASSOC),
    TIDYHIVE_CATEGORY(rctFonts, false, FONTS),          TIDYHIVE_CATEGORY(rctFileExts, false, FILEEXT),
    TIDYHIVE_CATEGORY(rctUninstall, false, UNINSTALL),  TIDYHIVE_CATEGORY(rctStartup, false, STARTUP),
    TIDYHIVE_CATEGORY(rctSharedFiles, true, SHAREDMOD), TIDYHIVE_CATEGORY(rctHelpFiles, false, HELPFILES),
    TIDYHIVE_CATEGORY(rctAppPaths, false, APPPATHS),    TIDYHIVE_CATEGORY(rctHistoryLists, false, HISTORY),
    TIDYHIVE_CATEGORY(rctAppEvents, false, APPEVENTS),  TIDYHIVE_CATEGORY(rctVirtDevices, true, VIRTDEV),
    TIDYHIVE_CATEGORY(rctShortcuts, false, SHORTCUTS),  TIDYHIVE_CATEGORY(rctSoftware, true, SOFTWARE),
    TIDYHIVE_CATEGORY(rctFireWall, false, FIREWALL),    TIDYHIVE_CATEGORY(rctInternet, false, INTERNET),
};

#undef TIDYHIVE_CATEGORY

}  // namespace

std::wstring CategoryTypeToName(TCategoryType type)
{
    return type < kNames.size() ? kNames[type] : L"";
}

const TCategoryDescriptor* FindCategoryDescriptor(TCategoryType type)
{
    if (type == rctUndefined || type > rctInternet) {
        return nullptr;
    }
    return &kDescriptors[type - 1];
}

}  // namespace tidyhive

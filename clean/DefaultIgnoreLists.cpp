#include "clean/DefaultIgnoreLists.h"

#include "clean/LibStream.h"
#include "engine/CategoryType.h"
#include "services/DebugLog.h"
#include "services/Text.h"

#include <windows.h>

namespace tidyhive {
namespace {

// The module this code is linked into: the engine library, or a test program.
HMODULE OwnModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&OwnModule), &module);
    return module;
}

std::vector<std::uint8_t> ResourceBytes()
{
    HMODULE module = OwnModule();
    HRSRC resource = FindResourceW(module, L"DEFAULT", L"IGNORE_LIST");
    if (!resource) {
        return {};
    }
    HGLOBAL loaded = LoadResource(module, resource);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = SizeofResource(module, resource);
    if (!data || size == 0) {
        return {};
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    return std::vector<std::uint8_t>(bytes, bytes + size);
}

}  // namespace

void LoadDefaultIgnoreList(TCategoryType type, TIgnoreList& list)
{
    // Read-only resource memory: copied once per process, opened per scanner.
    static const std::vector<std::uint8_t> image = ResourceBytes();
    if (image.empty()) {
        return;
    }
    try {
        TMemoryStream stream(image);
        TLibStream container(&stream);
        if (auto entry = container.ReadEntry(WideToUtf8(CategoryTypeToName(type)))) {
            entry->Seek(0);
            list.LoadFromStream(*entry);
        }
    } catch (const std::exception& error) {
        DebugLog::Log(L"DefaultIgnoreLists - LoadDefaultIgnoreList - " + Utf8ToWide(error.what()));
        list.Clear();
    }
}

}  // namespace tidyhive

#include "registry/RegistryPaths.h"

#include "services/Text.h"

#include <iterator>

namespace tidyhive {
namespace {

const TRegistryRoot kRoots[] = {
    {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT, L"CLASSES_ROOT"},
    {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER, L"CURRENT_USER"},
    {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE, L"MACHINE"},
    {L"HKEY_USERS", HKEY_USERS, L"USERS"},
    {L"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA, nullptr},
    {L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG, nullptr},
    {L"HKEY_DYN_DATA", HKEY_DYN_DATA, nullptr},
};

}  // namespace

const TRegistryRoot* RegistryRoots(size_t& count)
{
    count = std::size(kRoots);
    return kRoots;
}

HKEY ExtractRootFromKey(std::wstring_view path)
{
    for (const TRegistryRoot& root : kRoots) {
        if (StartsWithText(path, root.name)) {
            return root.key;
        }
    }
    return HKEY_CLASSES_ROOT;
}

std::wstring ExtractKeyWithotRoot(std::wstring_view path)
{
    const size_t slash = path.find(L'\\');
    return slash == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(slash + 1));
}

std::wstring RegPathToSecurityName(std::wstring_view path)
{
    for (const TRegistryRoot& root : kRoots) {
        if (!root.securityPrefix) {
            continue;
        }
        const std::wstring name = std::wstring(root.name) + L"\\";
        if (StartsWithText(path, name)) {
            return std::wstring(root.securityPrefix) + std::wstring(path.substr(name.size() - 1));
        }
    }
    return {};
}

std::wstring RegRootName(HKEY root)
{
    for (const TRegistryRoot& entry : kRoots) {
        if (entry.key == root) {
            return entry.name;
        }
    }
    return {};
}

std::wstring ExtractLastKey(std::wstring_view path)
{
    const size_t slash = path.rfind(L'\\');
    return std::wstring(slash == std::wstring_view::npos ? path : path.substr(slash + 1));
}

void SplitLastKey(std::wstring& path, std::wstring& last)
{
    const size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos) {
        last.clear();
        return;
    }
    last = path.substr(slash + 1);
    path.erase(slash);
}

}  // namespace tidyhive

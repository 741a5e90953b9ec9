#include "registry/PathFunctions.h"

#include "registry/RegistryPaths.h"
#include "services/Text.h"

#include <windows.h>

#include <vector>

namespace tidyhive {
namespace {

std::wstring EnvironmentVariable(const wchar_t* name)
{
    std::wstring value(256, L'\0');
    for (;;) {
        const DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
        if (length == 0) {
            return {};
        }
        if (length < value.size()) {
            value.resize(length);
            return value;
        }
        value.resize(length);
    }
}

std::vector<std::wstring> SplitList(const std::wstring& text)
{
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(L';', start), text.size());
        if (end > start) {
            parts.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return parts;
}

bool IsFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring CurrentFolder()
{
    const DWORD length = GetCurrentDirectoryW(0, nullptr);
    std::wstring folder(length, L'\0');
    folder.resize(GetCurrentDirectoryW(length, folder.data()));
    return folder;
}

std::wstring JoinPath(std::wstring folder, const std::wstring& name)
{
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') {
        folder += L'\\';
    }
    return folder + name;
}

// The first folder (current, then PATH) that holds the file.
std::wstring FindInFolders(const std::vector<std::wstring>& folders, const std::wstring& fileName)
{
    for (const std::wstring& folder : folders) {
        const std::wstring candidate = JoinPath(folder, fileName);
        if (IsFile(candidate)) {
            return candidate;
        }
    }
    return {};
}

bool HasExtension(const std::wstring& fileName)
{
    const size_t dot = fileName.rfind(L'.');
    const size_t slash = fileName.find_last_of(L"\\/");
    return dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash) &&
           dot + 1 < fileName.size();
}

}  // namespace

void ForceFolders(const std::wstring& folder)
{
    std::wstring parent = folder;
    if (!parent.empty() && parent.back() == L'\\') {
        parent.pop_back();
    }
    std::wstring last;
    SplitLastKey(parent, last);
    if (!last.empty()) {
        ForceFolders(parent);
    }
    const bool drive = parent.size() == 2 && parent[1] == L':';
    if (!parent.empty() && !drive) {
        CreateDirectoryW(parent.c_str(), nullptr);
    }
    if (!last.empty()) {
        CreateDirectoryW((parent + L"\\" + last).c_str(), nullptr);
    }
}

std::wstring GetDelimitedField(std::wstring_view text, std::wstring_view name, std::wstring_view separator)
{
    if (name.empty()) {
        return {};
    }
    const std::wstring lowerText = LowerCase(text);
    const size_t found = lowerText.find(LowerCase(name));
    if (found == std::wstring::npos) {
        return {};
    }
    const size_t afterName = found + name.size();
    const size_t valueStart = afterName + 1;  // past the joining character
    if (valueStart > text.size()) {
        return {};
    }
    const size_t end = separator.empty() ? std::wstring::npos : lowerText.find(separator, afterName);
    if (end == std::wstring::npos) {
        return std::wstring(text.substr(valueStart));
    }
    return end > valueStart ? std::wstring(text.substr(valueStart, end - valueStart)) : std::wstring();
}

std::wstring SearchExecutableInPath(const std::wstring& fileName)
{
    if (fileName.empty()) {
        return {};
    }
    std::vector<std::wstring> folders{CurrentFolder()};
    for (std::wstring& folder : SplitList(EnvironmentVariable(L"PATH"))) {
        folders.push_back(std::move(folder));
    }
    if (HasExtension(fileName)) {
        return FindInFolders(folders, fileName);
    }
    std::wstring extensions = EnvironmentVariable(L"PATHEXT");
    if (extensions.empty()) {
        extensions = L".COM;.EXE;.BAT;.CMD";
    }
    for (const std::wstring& extension : SplitList(extensions)) {
        std::wstring found = FindInFolders(folders, fileName + extension);
        if (!found.empty()) {
            return found;
        }
    }
    return {};
}

}  // namespace tidyhive

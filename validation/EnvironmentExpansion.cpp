#include "validation/EnvironmentExpansion.h"

#include "services/Text.h"

#include <windows.h>

namespace tidyhive {
namespace {

bool LookUp(const std::wstring& name, const TEnvironmentOverrides& overrides, std::wstring& value)
{
    for (const auto& [overridden, overrideValue] : overrides) {
        if (SameText(overridden, name)) {
            value = overrideValue;
            return true;
        }
    }
    if (name.empty()) {
        return false;
    }
    SetLastError(ERROR_SUCCESS);
    std::wstring buffer(256, L'\0');
    for (;;) {
        const DWORD length =
            GetEnvironmentVariableW(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            // Set but empty expands to nothing; not set stays as written.
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
                return false;
            }
            value.clear();
            return true;
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            value = std::move(buffer);
            return true;
        }
        buffer.resize(length);
    }
}

// The platform's rules: "%name%" of a known variable becomes its value; an unknown one is
// copied whole and the scan goes on after its closing "%"; a "%" without a partner is text.
std::wstring ExpandWithOverrides(const std::wstring& text, const TEnvironmentOverrides& overrides)
{
    std::wstring result;
    result.reserve(text.size());
    size_t position = 0;
    while (position < text.size()) {
        const size_t open = text.find(L'%', position);
        if (open == std::wstring::npos) {
            result.append(text, position, std::wstring::npos);
            break;
        }
        result.append(text, position, open - position);
        const size_t close = text.find(L'%', open + 1);
        if (close == std::wstring::npos) {
            result.append(text, open, std::wstring::npos);
            break;
        }
        std::wstring value;
        if (LookUp(text.substr(open + 1, close - open - 1), overrides, value)) {
            result += value;
        } else {
            result.append(text, open, close - open + 1);
        }
        position = close + 1;
    }
    return result;
}

// The platform call, retried with the size it asks for: long data is expanded, not refused.
bool ExpandWithPlatform(const std::wstring& text, std::wstring& expanded)
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD needed =
            ExpandEnvironmentStringsW(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (needed == 0) {
            return false;
        }
        if (needed <= buffer.size()) {
            buffer.resize(needed - 1);  // without the terminator
            expanded = std::move(buffer);
            return true;
        }
        buffer.assign(needed, L'\0');  // the environment may grow between the calls: try again
    }
    return false;
}

}  // namespace

std::wstring EnvironmentValue(const std::wstring& name)
{
    std::wstring value;
    return LookUp(name, {}, value) ? value : std::wstring();
}

bool ExpandEnvironmentText(const std::wstring& text, std::wstring& expanded,
                           const TEnvironmentOverrides& overrides)
{
    if (overrides.empty()) {
        return ExpandWithPlatform(text, expanded);
    }
    expanded = ExpandWithOverrides(text, overrides);
    return true;
}

}  // namespace tidyhive

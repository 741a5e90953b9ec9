// Persistent category type names as a host shows and accepts them.
#pragma once

#include "tidyhive/Tidyhive.h"

#include <optional>
#include <string>

namespace tidyhive::host {

const wchar_t* CategoryTypeName(TCategoryType type);
// The type named (case-insensitively), or nothing for an unknown name.
std::optional<TCategoryType> CategoryTypeFromName(const std::wstring& name);

}  // namespace tidyhive::host

// Expanding "%NAME%" references in file names without touching the process environment:
// a check that wants other values for a few variables (the 64-bit program folders) passes
// them as overrides, so the host's threads never see a changed environment.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tidyhive {

// Variables whose values replace the process's own, by name (case-insensitive).
using TEnvironmentOverrides = std::vector<std::pair<std::wstring, std::wstring>>;

// The value of a process environment variable; empty when it is not set.
std::wstring EnvironmentValue(const std::wstring& name);

// Expands the variables of text as the platform does (an unknown variable or a lone "%"
// stays as written), with overrides looked up before the process environment. The result
// has no length limit. False only when the platform expansion itself fails; expanded is
// then left unchanged.
bool ExpandEnvironmentText(const std::wstring& text, std::wstring& expanded,
                           const TEnvironmentOverrides& overrides = {});

}  // namespace tidyhive

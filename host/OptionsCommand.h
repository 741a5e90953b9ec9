// "tidyhive options": the engine's scan options through IRegistryCleanerOptions.
#pragma once

#include <string>
#include <vector>

namespace tidyhive::host {

int OptionsCommand(const std::vector<std::wstring>& args);

}  // namespace tidyhive::host

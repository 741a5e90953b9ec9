// "tidyhive clean": scans the chosen categories and fixes what it found, inside one backup
// session that "tidyhive restore" can undo.
#pragma once

#include <string>
#include <vector>

namespace tidyhive::host {

int CleanCommand(const std::vector<std::wstring>& args);

}  // namespace tidyhive::host

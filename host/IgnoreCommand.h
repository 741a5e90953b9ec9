// "tidyhive ignore": the user's ignore lists, through IIgnoreList.
#pragma once

#include <string>
#include <vector>

namespace tidyhive::host {

int IgnoreCommand(const std::vector<std::wstring>& args);

}  // namespace tidyhive::host

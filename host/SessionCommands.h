// The host's backup-session commands: "sessions", "restore ID [--overwrite]" and
// "export ID FILE", driven through Backvault.dll's IBackvault.
#pragma once

#include <string>
#include <vector>

namespace tidyhive::host {

int ListSessionsCommand(const std::vector<std::wstring>& args);
int RestoreSessionCommand(const std::vector<std::wstring>& args);
int ExportSessionCommand(const std::vector<std::wstring>& args);

}  // namespace tidyhive::host

// A session as a regedit file ("Windows Registry Editor Version 5.00", UTF-16LE with a
// byte-order mark, as regedit writes it) that re-creates what the session removed or
// replaced: deleted keys with their values, deleted values, values as they were before
// the session changed them. Keys and values the session added are left out; so are key
// classes and security, which the format cannot carry. Kept files are listed as comments.
#pragma once

#include "siblings/backvault/Records.h"

#include <string>

namespace tidyhive::backvault {

// Throws EBackvault; a damaged session writes nothing.
void ExportStoredSession(const std::wstring &storage, const std::wstring &id, const std::wstring &fileName);

// One value line (with regedit's continuation lines for long hex data), without the line end.
std::wstring FormatRegValue(const std::wstring &name, uint32_t type, const TBytes &data);

} // namespace tidyhive::backvault

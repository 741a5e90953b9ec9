// Undoing a session: its changes replayed backwards, each put back only where the
// registry or file still holds what the change left (or where the caller says to
// overwrite), so that restoring twice is harmless and later edits are not lost.
#pragma once

#include <windows.h>

#include <string>

namespace tidyhive::backvault {

struct TRestoreResult {
    // S_OK: everything is as before the session; S_FALSE: conflicts were left as they
    // are; a failure code: something could not be restored, or (damaged journal) nothing
    // was touched.
    HRESULT status = S_OK;
    std::wstring report;
};

TRestoreResult RestoreStoredSession(const std::wstring &storage, const std::wstring &id, bool overwrite);

} // namespace tidyhive::backvault

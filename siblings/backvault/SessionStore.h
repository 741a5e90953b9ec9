// Where sessions live and how a stored session reads back: one folder per session under
// the storage folder, named by the session identifier, holding the journal, its seal and
// the kept files ("files\").
#pragma once

#include "siblings/backvault/Journal.h"
#include "siblings/backvault/Records.h"

#include <map>
#include <string>
#include <variant>
#include <vector>

namespace tidyhive::backvault {

// The user's application data folder, then "Quorvanta\Backvault\Sessions".
std::wstring DefaultStorageFolder();

// Identifiers are "YYYYMMDD-HHMMSS-XXXX" (UTC start, then four hex digits); anything else
// is refused before it becomes part of a path.
bool IsValidSessionId(const std::wstring &id);
// Creates a new, empty session folder and answers its identifier. Throws EBackvault.
std::wstring CreateSessionFolder(const std::wstring &storage, std::wstring &folder);
std::wstring SessionFolder(const std::wstring &storage, const std::wstring &id);

struct TSessionSummary {
    std::wstring id;
    std::wstring title;
    std::wstring program;
    uint64_t started = 0;
    uint64_t finished = 0;
    uint32_t changes = 0;
    bool complete = false;
    bool damaged = false;
    std::wstring problem; // why a damaged session cannot be read
};

// All sessions, newest first; a damaged one is listed with its problem.
std::vector<TSessionSummary> ListSessions(const std::wstring &storage);

using TChange = std::variant<TValueChange, TKeyCreation, TKeyDeletion, TSecurityChange, TFileChange>;

struct TStoredChange {
    uint32_t sequence = 0;
    TRecordKind kind = TRecordKind::SetValue;
    TChange change;
};

struct TStoredSession {
    TSessionSummary summary;
    std::vector<TStoredChange> changes;    // in the order they were made
    std::map<uint32_t, TOutcome> outcomes; // by the change's sequence number
    bool tornTail = false;
};

// Reads and decodes a whole session, or throws EBackvault with a message that names the
// session and says where its journal is damaged.
TStoredSession LoadSession(const std::wstring &storage, const std::wstring &id, bool exclusive);

// Removes a session's folder with everything in it. Throws EBackvault.
void RemoveSessionFolder(const std::wstring &storage, const std::wstring &id);

// Creates a folder and its parents. Throws EBackvault.
void CreateFolders(const std::wstring &folder);

} // namespace tidyhive::backvault

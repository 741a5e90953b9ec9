#include "siblings/backvault/SessionStore.h"

#include "siblings/backvault/BackvaultError.h"
#include "siblings/backvault/FileState.h"
#include "siblings/backvault/Win32Owners.h"

#include <shlobj.h>

#include <algorithm>
#include <cwctype>

namespace tidyhive::backvault {
namespace {

uint64_t FromFileTime(const FILETIME &time)
{
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

TSessionSummary Summarize(const std::wstring &id, const TJournal &journal)
{
    TSessionSummary summary;
    summary.id = id;
    for (const TJournalRecord &record : journal.records) {
        switch (static_cast<TRecordKind>(record.kind)) {
        case TRecordKind::Begin: {
            const TSessionHeader header = DecodeSessionHeader(record.payload);
            summary.started = header.started;
            summary.title = header.title;
            summary.program = header.program;
            break;
        }
        case TRecordKind::Title:
            summary.title = DecodeText(record.payload);
            break;
        case TRecordKind::End:
            summary.finished = DecodeSessionEnd(record.payload).finished;
            summary.complete = true;
            break;
        default:
            if (IsChangeKind(record.kind)) {
                ++summary.changes;
            }
            break;
        }
    }
    return summary;
}

EBackvault SessionError(const std::wstring &id, const EBackvault &error)
{
    return EBackvault(L"Session " + id + L": " + error.Message(), error.Code());
}

void RemoveTree(const std::wstring &folder)
{
    WIN32_FIND_DATAW entry = {};
    {
        TFindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
        if (find) {
            do {
                const std::wstring name = entry.cFileName;
                if (name == L"." || name == L"..") {
                    continue;
                }
                const std::wstring path = folder + L"\\" + name;
                if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                    !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                    RemoveTree(path);
                } else if (const DWORD error = RemoveFile(path); error != ERROR_SUCCESS) {
                    throw EBackvault(WithSystemMessage(L"Cannot remove " + path, error), error);
                }
            } while (FindNextFileW(find.get(), &entry));
        }
    }
    if (!RemoveDirectoryW(folder.c_str())) {
        const DWORD error = GetLastError();
        throw EBackvault(WithSystemMessage(L"Cannot remove " + folder, error), error);
    }
}

} // namespace

std::wstring DefaultStorageFolder()
{
    wchar_t folder[MAX_PATH] = {};
    const HRESULT status = SHGetFolderPathW(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, folder);
    if (FAILED(status)) {
        throw EBackvault(L"The user's application data folder is not known", static_cast<DWORD>(status));
    }
    return std::wstring(folder) + L"\\Quorvanta\\Backvault\\Sessions";
}

bool IsValidSessionId(const std::wstring &id)
{
    // 8 digits, '-', 6 digits, '-', 4 hex digits.
    if (id.size() != 20 || id[8] != L'-' || id[15] != L'-') {
        return false;
    }
    for (size_t index = 0; index < id.size(); ++index) {
        if (index == 8 || index == 15) {
            continue;
        }
        const wchar_t c = id[index];
        const bool digit = c >= L'0' && c <= L'9';
        const bool hex = digit || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
        if (index < 15 ? !digit : !hex) {
            return false;
        }
    }
    return true;
}

std::wstring SessionFolder(const std::wstring &storage, const std::wstring &id)
{
    if (!IsValidSessionId(id)) {
        throw EBackvault(L"\"" + id + L"\" is not a session identifier", ERROR_INVALID_PARAMETER);
    }
    return storage + L"\\" + id;
}

void CreateFolders(const std::wstring &folder)
{
    if (GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return;
    }
    const DWORD status = CreateParentFolders(folder);
    if ((status != ERROR_SUCCESS || !CreateDirectoryW(folder.c_str(), nullptr)) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
        const DWORD error = status != ERROR_SUCCESS ? status : GetLastError();
        throw EBackvault(WithSystemMessage(L"Cannot create the folder " + folder, error), error);
    }
}

std::wstring CreateSessionFolder(const std::wstring &storage, std::wstring &folder)
{
    CreateFolders(storage);
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    static volatile LONG counter = 0;
    const DWORD seed = GetCurrentProcessId() * 2654435761u + GetTickCount();
    for (int attempt = 0; attempt < 64; ++attempt) {
        const DWORD suffix = (seed + static_cast<DWORD>(InterlockedIncrement(&counter)) * 40503u) & 0xFFFF;
        wchar_t id[32] = {};
        swprintf(id, 32, L"%04u%02u%02u-%02u%02u%02u-%04x", now.wYear, now.wMonth, now.wDay, now.wHour,
                 now.wMinute, now.wSecond, static_cast<unsigned>(suffix));
        const std::wstring candidate = storage + L"\\" + id;
        if (CreateDirectoryW(candidate.c_str(), nullptr)) {
            folder = candidate;
            return id;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            const DWORD error = GetLastError();
            throw EBackvault(WithSystemMessage(L"Cannot create the session folder " + candidate, error),
                             error);
        }
    }
    throw EBackvault(L"Cannot find a free session identifier in " + storage, ERROR_ALREADY_EXISTS);
}

std::vector<TSessionSummary> ListSessions(const std::wstring &storage)
{
    struct TListed {
        TSessionSummary summary;
        uint64_t sortTime;
    };
    std::vector<TListed> listed;
    WIN32_FIND_DATAW entry = {};
    TFindHandle find(FindFirstFileW((storage + L"\\*").c_str(), &entry));
    if (!find) {
        return {};
    }
    do {
        const std::wstring name = entry.cFileName;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsValidSessionId(name)) {
            continue;
        }
        TListed item;
        try {
            // Read as a restore reads it, so that "damaged" means "cannot be restored".
            item.summary = LoadSession(storage, name, false).summary;
        } catch (const EBackvault &error) {
            item.summary = TSessionSummary{};
            item.summary.id = name;
            item.summary.damaged = true;
            item.summary.problem = error.Message();
        }
        item.sortTime = item.summary.started ? item.summary.started : FromFileTime(entry.ftCreationTime);
        listed.push_back(std::move(item));
    } while (FindNextFileW(find.get(), &entry));
    std::sort(listed.begin(), listed.end(), [](const TListed &left, const TListed &right) {
        if (left.sortTime != right.sortTime) {
            return left.sortTime > right.sortTime;
        }
        return left.summary.id > right.summary.id;
    });
    std::vector<TSessionSummary> sessions;
    for (TListed &item : listed) {
        sessions.push_back(std::move(item.summary));
    }
    return sessions;
}

TStoredSession LoadSession(const std::wstring &storage, const std::wstring &id, bool exclusive)
{
    const std::wstring folder = SessionFolder(storage, id);
    if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
        throw EBackvault(L"There is no session " + id + L" in " + storage, ERROR_NOT_FOUND);
    }
    TJournal journal;
    try {
        journal = ReadJournal(folder, exclusive);
    } catch (const EBackvault &error) {
        throw SessionError(id, error);
    }
    TStoredSession session;
    session.tornTail = journal.tornTail;
    const TJournalRecord *current = nullptr;
    try {
        session.summary = Summarize(id, journal);
        for (const TJournalRecord &record : journal.records) {
            current = &record;
            const auto kind = static_cast<TRecordKind>(record.kind);
            TStoredChange stored;
            stored.sequence = record.sequence;
            stored.kind = kind;
            switch (kind) {
            case TRecordKind::SetValue:
            case TRecordKind::DeleteValue:
                stored.change = DecodeValueChange(record.payload);
                break;
            case TRecordKind::CreateKey:
                stored.change = DecodeKeyCreation(record.payload);
                break;
            case TRecordKind::DeleteKey:
                stored.change = DecodeKeyDeletion(record.payload);
                break;
            case TRecordKind::SetKeySecurity:
                stored.change = DecodeSecurityChange(record.payload);
                break;
            case TRecordKind::FileChange:
                stored.change = DecodeFileChange(record.payload);
                break;
            case TRecordKind::Outcome: {
                const TOutcome outcome = DecodeOutcome(record.payload);
                if (outcome.intent >= record.sequence) {
                    throw TByteReader::EDecode{};
                }
                session.outcomes[outcome.intent] = outcome;
                continue;
            }
            case TRecordKind::Begin:
            case TRecordKind::Title:
            case TRecordKind::End:
                continue; // read by Summarize
            default:
                // A kind this library never writes: the journal cannot be read for certain.
                throw TByteReader::EDecode{};
            }
            session.changes.push_back(std::move(stored));
        }
    } catch (const TByteReader::EDecode &) {
        const std::wstring where = current ? L"record " + std::to_wstring(current->sequence) + L" at byte " +
                                                 std::to_wstring(current->offset)
                                           : std::wstring(L"a record");
        throw EBackvault(L"Session " + id + L": the journal is damaged: " + where +
                             L" does not hold a valid change",
                         ERROR_FILE_CORRUPT);
    }
    return session;
}

void RemoveSessionFolder(const std::wstring &storage, const std::wstring &id)
{
    const std::wstring folder = SessionFolder(storage, id);
    if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
        throw EBackvault(L"There is no session " + id + L" in " + storage, ERROR_NOT_FOUND);
    }
    RemoveTree(folder);
}

} // namespace tidyhive::backvault

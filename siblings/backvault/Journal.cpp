#include "siblings/backvault/Journal.h"

#include "siblings/backvault/BackvaultError.h"

#include <algorithm>
#include <cstring>

namespace tidyhive::backvault {
namespace {

constexpr char kJournalMagic[8] = {'B', 'K', 'V', 'J', 'R', 'N', 'L', '1'};
constexpr char kSealMagic[8] = {'B', 'K', 'V', 'S', 'E', 'A', 'L', '1'};
constexpr size_t kRecordHeaderSize = 12;
constexpr size_t kBodyHeaderSize = 8;
constexpr uint32_t kMaxBodySize = 256u << 20;
constexpr uint64_t kMaxJournalSize = 1024ull << 20;

std::wstring JoinFile(const std::wstring &folder, const wchar_t *name)
{
    return folder + L"\\" + name;
}

uint32_t ReadU32(const uint8_t *data)
{
    uint32_t value = 0;
    std::memcpy(&value, data, sizeof(value));
    return value;
}

EBackvault Damaged(const std::wstring &text)
{
    return EBackvault(text, ERROR_FILE_CORRUPT);
}

std::wstring AtOffset(uint64_t offset)
{
    return L" at byte " + std::to_wstring(offset);
}

TBytes ReadWholeFile(HANDLE file, const std::wstring &what)
{
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file, &size)) {
        throw EBackvault(WithSystemMessage(L"Cannot read the size of " + what, GetLastError()),
                         GetLastError());
    }
    if (static_cast<uint64_t>(size.QuadPart) > kMaxJournalSize) {
        throw Damaged(L"The " + what + L" is larger than any journal this library writes (" +
                      std::to_wstring(size.QuadPart) + L" bytes)");
    }
    TBytes bytes(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD read = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        if (!ReadFile(file, bytes.data() + done, chunk, &read, nullptr)) {
            throw EBackvault(WithSystemMessage(L"Cannot read the " + what, GetLastError()), GetLastError());
        }
        if (read == 0) {
            bytes.resize(done);
            break;
        }
        done += read;
    }
    return bytes;
}

bool AllZero(const TBytes &bytes, size_t from)
{
    return std::all_of(bytes.begin() + static_cast<ptrdiff_t>(from), bytes.end(),
                       [](uint8_t b) { return b == 0; });
}

struct TSeal {
    uint64_t length = 0;
    uint32_t count = 0;
};

// False when there is no seal; throws when there is one that does not check out.
bool ReadSeal(const std::wstring &folder, TSeal &seal)
{
    TFileHandle file(CreateFileW(JoinFile(folder, kSealFileName).c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            return false;
        }
        throw EBackvault(WithSystemMessage(L"Cannot open the journal's seal", error), error);
    }
    const TBytes bytes = ReadWholeFile(file.get(), L"journal's seal");
    if (bytes.size() != 24 || std::memcmp(bytes.data(), kSealMagic, 8) != 0 ||
        ReadU32(bytes.data() + 20) != Crc32(bytes.data(), 20)) {
        throw Damaged(L"The journal's seal is damaged");
    }
    std::memcpy(&seal.length, bytes.data() + 8, sizeof(seal.length));
    seal.count = ReadU32(bytes.data() + 16);
    return true;
}

} // namespace

TJournalWriter::TJournalWriter(const std::wstring &folder, const TBytes &beginPayload) : folder_(folder)
{
    const std::wstring path = JoinFile(folder, kJournalFileName);
    // Others may read the journal while it grows (a host listing sessions), never write it.
    file_.Reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) {
        const DWORD error = GetLastError();
        throw EBackvault(WithSystemMessage(L"Cannot create the session journal " + path, error), error);
    }
    TBytes header(kJournalMagic, kJournalMagic + sizeof(kJournalMagic));
    Write(header, false);
    Append(TRecordKind::Begin, beginPayload, true);
}

void TJournalWriter::Write(const TBytes &bytes, bool flush)
{
    if (broken_) {
        throw EBackvault(
            L"The session journal could not be repaired after a failed write; no more changes can "
            L"be recorded",
            ERROR_WRITE_FAULT);
    }
    LARGE_INTEGER position = {};
    position.QuadPart = static_cast<LONGLONG>(length_);
    DWORD error = ERROR_SUCCESS;
    if (!SetFilePointerEx(file_.get(), position, nullptr, FILE_BEGIN)) {
        error = GetLastError();
    }
    size_t done = 0;
    while (error == ERROR_SUCCESS && done < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        if (!WriteFile(file_.get(), bytes.data() + done, chunk, &written, nullptr)) {
            error = GetLastError();
        } else if (written == 0) {
            error = ERROR_WRITE_FAULT;
        }
        done += written;
    }
    if (error == ERROR_SUCCESS && flush && !FlushFileBuffers(file_.get())) {
        error = GetLastError();
    }
    if (error != ERROR_SUCCESS) {
        // Cut the partial record off so that the next record does not follow garbage.
        if (!SetFilePointerEx(file_.get(), position, nullptr, FILE_BEGIN) || !SetEndOfFile(file_.get()) ||
            !FlushFileBuffers(file_.get())) {
            broken_ = true;
        }
        throw EBackvault(WithSystemMessage(L"Cannot write to the session journal", error), error);
    }
    length_ += bytes.size();
}

uint32_t TJournalWriter::Append(TRecordKind kind, const TBytes &payload, bool flush)
{
    if (payload.size() > kMaxBodySize - kBodyHeaderSize) {
        throw EBackvault(L"A change is too large to record (" + std::to_wstring(payload.size()) + L" bytes)",
                         ERROR_FILE_TOO_LARGE);
    }
    const uint32_t bodySize = static_cast<uint32_t>(payload.size() + kBodyHeaderSize);
    TByteWriter body;
    body.U32(count_);
    body.U16(static_cast<uint16_t>(kind));
    body.U16(0);
    body.Raw(payload.data(), payload.size());
    TByteWriter record;
    record.U32(bodySize);
    record.U32(Crc32(&bodySize, sizeof(bodySize)));
    record.U32(Crc32(body.Result().data(), body.Result().size()));
    record.Raw(body.Result().data(), body.Result().size());
    Write(record.Result(), flush);
    return count_++;
}

void TJournalWriter::Seal()
{
    if (!FlushFileBuffers(file_.get())) {
        const DWORD error = GetLastError();
        throw EBackvault(WithSystemMessage(L"Cannot flush the session journal", error), error);
    }
    TByteWriter seal;
    seal.Raw(kSealMagic, sizeof(kSealMagic));
    seal.U64(length_);
    seal.U32(count_);
    seal.U32(Crc32(seal.Result().data(), seal.Result().size()));
    const std::wstring temporary = JoinFile(folder_, L"journal.seal.tmp");
    {
        TFileHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file ||
            !WriteFile(file.get(), seal.Result().data(), static_cast<DWORD>(seal.Result().size()), &written,
                       nullptr) ||
            written != seal.Result().size() || !FlushFileBuffers(file.get())) {
            const DWORD error = GetLastError();
            throw EBackvault(WithSystemMessage(L"Cannot write the journal's seal", error), error);
        }
    }
    if (!MoveFileExW(temporary.c_str(), JoinFile(folder_, kSealFileName).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        throw EBackvault(WithSystemMessage(L"Cannot write the journal's seal", error), error);
    }
    broken_ = true; // sealed: nothing may follow
}

TJournal ReadJournal(const std::wstring &folder, bool exclusive)
{
    const std::wstring path = JoinFile(folder, kJournalFileName);
    // Exclusive readers (a restore) must not run while a recording process still appends.
    const DWORD share = exclusive ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
    TFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            throw EBackvault(L"The session has no journal", error);
        }
        if (error == ERROR_SHARING_VIOLATION) {
            throw EBackvault(L"The session is still being recorded by a running program", error);
        }
        throw EBackvault(WithSystemMessage(L"Cannot open the session journal", error), error);
    }
    TSeal seal;
    TJournal journal;
    journal.sealed = ReadSeal(folder, seal);
    const TBytes bytes = ReadWholeFile(file.get(), L"session journal");

    if (journal.sealed && bytes.size() != seal.length) {
        throw Damaged(L"The journal is " + std::to_wstring(bytes.size()) + L" bytes long but was sealed at " +
                      std::to_wstring(seal.length) + L" bytes" +
                      (bytes.size() < seal.length ? L" (truncated)" : L""));
    }
    if (bytes.size() < sizeof(kJournalMagic)) {
        // A process killed while creating the journal: an empty session.
        if (!journal.sealed && std::memcmp(bytes.data(), kJournalMagic, bytes.size()) == 0) {
            journal.tornTail = !bytes.empty();
            return journal;
        }
        throw Damaged(L"The journal is too short to be a backup journal");
    }
    if (std::memcmp(bytes.data(), kJournalMagic, sizeof(kJournalMagic)) != 0) {
        throw Damaged(L"The file is not a backup journal (wrong signature)");
    }

    size_t offset = sizeof(kJournalMagic);
    while (offset < bytes.size()) {
        const size_t left = bytes.size() - offset;
        const uint8_t *at = bytes.data() + offset;
        // Classify a record that does not check out: an unsealed journal may end in one
        // incomplete record (or in zeros the file system left), nothing else.
        auto reject = [&](const std::wstring &reason, bool reachesEnd) -> void {
            if (!journal.sealed && (reachesEnd || AllZero(bytes, offset))) {
                journal.tornTail = true;
                return;
            }
            throw Damaged(L"Record " + std::to_wstring(journal.records.size()) + AtOffset(offset) + L": " +
                          reason);
        };
        if (left < kRecordHeaderSize) {
            reject(L"incomplete record header", true);
            break;
        }
        const uint32_t bodySize = ReadU32(at);
        if (ReadU32(at + 4) != Crc32(at, 4) || bodySize < kBodyHeaderSize || bodySize > kMaxBodySize) {
            reject(L"damaged record header", false);
            break;
        }
        if (bodySize > left - kRecordHeaderSize) {
            reject(L"the record is cut off (" + std::to_wstring(left - kRecordHeaderSize) + L" of " +
                       std::to_wstring(bodySize) + L" bytes)",
                   true);
            break;
        }
        const uint8_t *body = at + kRecordHeaderSize;
        if (ReadU32(at + 8) != Crc32(body, bodySize)) {
            reject(L"checksum mismatch", offset + kRecordHeaderSize + bodySize == bytes.size());
            break;
        }
        TJournalRecord record;
        record.sequence = ReadU32(body);
        std::memcpy(&record.kind, body + 4, sizeof(record.kind));
        record.offset = offset;
        if (record.sequence != journal.records.size()) {
            throw Damaged(L"Record " + std::to_wstring(journal.records.size()) + AtOffset(offset) +
                          L": out of sequence (numbered " + std::to_wstring(record.sequence) + L")");
        }
        record.payload.assign(body + kBodyHeaderSize, body + bodySize);
        journal.records.push_back(std::move(record));
        offset += kRecordHeaderSize + bodySize;
    }
    if (journal.sealed && journal.records.size() != seal.count) {
        throw Damaged(L"The journal holds " + std::to_wstring(journal.records.size()) +
                      L" records but was sealed with " + std::to_wstring(seal.count));
    }
    return journal;
}

} // namespace tidyhive::backvault

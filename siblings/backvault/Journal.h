// A session's journal: an append-only file of checksummed records, each flushed to disk
// before the change it describes is made.
//
// File:   "BKVJRNL1" (8 bytes), then records back to back.
// Record: u32 body size, u32 CRC-32 of those four size bytes, u32 CRC-32 of the body,
//         body = u32 sequence number (0, 1, 2, ...), u16 kind, u16 flags (0), payload.
// Seal:   "journal.seal", written when the session ends: "BKVSEAL1", u64 journal length,
//         u32 record count, u32 CRC-32 of the preceding 20 bytes.
//
// A process killed while appending leaves at most one incomplete record at the end (the
// record's change was never made, since the change waits for the flush). Such a torn
// tail is ignored in an unsealed journal. Everything else that does not check out, and
// any tail at all in a sealed journal, makes the journal damaged.
#pragma once

#include "siblings/backvault/ByteCodec.h"
#include "siblings/backvault/Records.h"
#include "siblings/backvault/Win32Owners.h"

#include <string>
#include <vector>

namespace tidyhive::backvault {

inline constexpr wchar_t kJournalFileName[] = L"journal.bvj";
inline constexpr wchar_t kSealFileName[] = L"journal.seal";

struct TJournalRecord {
    uint32_t sequence = 0;
    uint16_t kind = 0;
    uint64_t offset = 0;
    TBytes payload;
};

struct TJournal {
    std::vector<TJournalRecord> records;
    bool sealed = false;
    bool tornTail = false; // an unsealed journal ended in an incomplete record, ignored
};

class TJournalWriter {
public:
    // Creates the journal in a new session folder; the first record (Begin) is on disk
    // when this returns. Throws EBackvault.
    TJournalWriter(const std::wstring &folder, const TBytes &beginPayload);
    TJournalWriter(const TJournalWriter &) = delete;
    TJournalWriter &operator=(const TJournalWriter &) = delete;

    // Appends one record and answers its sequence number; with flush, the record is on
    // disk when this returns. A failed append leaves the journal as it was (or, if even
    // that fails, refuses every later append). Throws EBackvault.
    uint32_t Append(TRecordKind kind, const TBytes &payload, bool flush);
    // Flushes and writes the seal; the journal takes no more records.
    void Seal();
    uint32_t Count() const { return count_; }

private:
    void Write(const TBytes &bytes, bool flush);
    std::wstring folder_;
    TFileHandle file_;
    uint64_t length_ = 0;
    uint32_t count_ = 0;
    bool broken_ = false;
};

// Reads and checks a whole journal. Throws EBackvault (ERROR_FILE_CORRUPT for damage,
// ERROR_SHARING_VIOLATION while another process still writes it with exclusive set).
TJournal ReadJournal(const std::wstring &folder, bool exclusive);

} // namespace tidyhive::backvault

// The change records of a session's journal: what each change replaced, enough to put it
// back, and what it left, enough to tell whether someone changed it again afterwards.
#pragma once

#include "siblings/backvault/ByteCodec.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tidyhive::backvault {

enum class TRecordKind : uint16_t {
    Begin = 1,           // TSessionHeader
    Title = 2,           // text
    End = 3,             // TSessionEnd
    SetValue = 10,       // TValueChange
    DeleteValue = 11,    // TValueChange (after: absent)
    CreateKey = 12,      // TKeyCreation
    DeleteKey = 13,      // TKeyDeletion
    SetKeySecurity = 14, // TSecurityChange
    FileChange = 20,     // TFileChange
    Outcome = 30,        // TOutcome, written after the change was tried
};

bool IsChangeKind(uint16_t kind);

// A key as the change addressed it: a predefined root (its 32-bit handle value), the
// path below it and the registry view (KEY_WOW64_64KEY, KEY_WOW64_32KEY or 0 on a 32-bit
// system).
struct TRegLocation {
    uint32_t root = 0;
    uint32_t view = 0;
    std::wstring path; // key names joined by single backslashes, none leading or trailing
};

struct TValueState {
    bool present = false;
    uint32_t type = 0;
    TBytes data;
};
bool operator==(const TValueState &left, const TValueState &right);

struct TNamedValue {
    std::wstring name;
    uint32_t type = 0;
    TBytes data;
};

// A key with everything below it, as it was just before it was deleted.
struct TKeySnapshot {
    std::wstring name;
    std::wstring keyClass;
    TBytes security; // self-relative owner, group and access list; empty when unreadable
    std::vector<TNamedValue> values;
    std::vector<TKeySnapshot> subkeys;
};

struct TValueChange {
    TRegLocation key;
    std::wstring name; // empty: the default value
    TValueState before;
    TValueState after;
};

struct TKeyCreation {
    TRegLocation key;
    uint32_t existingDepth = 0; // how many leading key names already existed
};

struct TKeyDeletion {
    TRegLocation key;
    TKeySnapshot snapshot;
};

struct TSecurityChange {
    TRegLocation key;
    uint32_t information = 0;
    TBytes before;
    TBytes after;
};

enum class TFileKind : uint8_t { Absent = 0, File = 1, Directory = 2 };

struct TFileState {
    TFileKind kind = TFileKind::Absent;
    uint32_t attributes = 0;
    uint64_t creationTime = 0;
    uint64_t accessTime = 0;
    uint64_t writeTime = 0;
    uint64_t size = 0;
    uint32_t crc = 0;
    std::wstring blob; // the kept copy's name inside the session folder; empty when none
};

enum class TFileOperation : uint8_t {
    Delete = 1,
    CopyTarget = 2,
    MoveSource = 3,
    MoveTarget = 4,
    Attributes = 5,
    CreateDirectory = 6,
    RemoveDirectory = 7
};

struct TFileEntry {
    TFileOperation operation = TFileOperation::Delete;
    std::wstring path;
    TFileState before;
    TFileState after;
};

struct TFileChange {
    std::vector<TFileEntry> entries;
};

struct TOutcome {
    uint32_t intent = 0; // sequence number of the change record
    uint32_t status = 0; // Windows error code of the change, 0: made
    bool hasStored = false;
    TValueState stored; // a value as the registry keeps it, where that differs from what was asked
};

struct TSessionHeader {
    uint64_t started = 0; // UTC file time
    std::wstring title;
    std::wstring program;
    uint32_t processId = 0;
    uint32_t pointerBits = 0;
};

struct TSessionEnd {
    uint64_t finished = 0;
    uint32_t changes = 0;
};

TBytes Encode(const TValueChange &change);
TBytes Encode(const TKeyCreation &change);
TBytes Encode(const TKeyDeletion &change);
TBytes Encode(const TSecurityChange &change);
TBytes Encode(const TFileChange &change);
TBytes Encode(const TOutcome &outcome);
TBytes Encode(const TSessionHeader &header);
TBytes Encode(const TSessionEnd &end);
TBytes EncodeText(const std::wstring &text);

// Each throws TByteReader::EDecode when the payload does not hold exactly one record.
TValueChange DecodeValueChange(const TBytes &payload);
TKeyCreation DecodeKeyCreation(const TBytes &payload);
TKeyDeletion DecodeKeyDeletion(const TBytes &payload);
TSecurityChange DecodeSecurityChange(const TBytes &payload);
TFileChange DecodeFileChange(const TBytes &payload);
TOutcome DecodeOutcome(const TBytes &payload);
TSessionHeader DecodeSessionHeader(const TBytes &payload);
TSessionEnd DecodeSessionEnd(const TBytes &payload);
std::wstring DecodeText(const TBytes &payload);

} // namespace tidyhive::backvault

#include "siblings/backvault/Records.h"

namespace tidyhive::backvault {
namespace {

// Snapshots nest as deep as keys do (at most 512 levels on Windows); a damaged record must
// not recurse without end.
constexpr int kMaxSnapshotDepth = 600;

void Put(TByteWriter &out, const TRegLocation &location)
{
    out.U32(location.root);
    out.U32(location.view);
    out.Text(location.path);
}

TRegLocation GetLocation(TByteReader &in)
{
    TRegLocation location;
    location.root = in.U32();
    location.view = in.U32();
    location.path = in.Text();
    return location;
}

void Put(TByteWriter &out, const TValueState &state)
{
    out.U8(state.present ? 1 : 0);
    out.U32(state.type);
    out.Bytes(state.data);
}

TValueState GetValueState(TByteReader &in)
{
    TValueState state;
    const uint8_t present = in.U8();
    if (present > 1) {
        throw TByteReader::EDecode{};
    }
    state.present = present == 1;
    state.type = in.U32();
    state.data = in.Bytes();
    return state;
}

void Put(TByteWriter &out, const TKeySnapshot &snapshot)
{
    out.Text(snapshot.name);
    out.Text(snapshot.keyClass);
    out.Bytes(snapshot.security);
    out.U32(static_cast<uint32_t>(snapshot.values.size()));
    for (const TNamedValue &value : snapshot.values) {
        out.Text(value.name);
        out.U32(value.type);
        out.Bytes(value.data);
    }
    out.U32(static_cast<uint32_t>(snapshot.subkeys.size()));
    for (const TKeySnapshot &subkey : snapshot.subkeys) {
        Put(out, subkey);
    }
}

TKeySnapshot GetSnapshot(TByteReader &in, int depth)
{
    if (depth > kMaxSnapshotDepth) {
        throw TByteReader::EDecode{};
    }
    TKeySnapshot snapshot;
    snapshot.name = in.Text();
    snapshot.keyClass = in.Text();
    snapshot.security = in.Bytes();
    const uint32_t values = in.Count(12);
    snapshot.values.reserve(values);
    for (uint32_t index = 0; index < values; ++index) {
        TNamedValue value;
        value.name = in.Text();
        value.type = in.U32();
        value.data = in.Bytes();
        snapshot.values.push_back(std::move(value));
    }
    const uint32_t subkeys = in.Count(20);
    snapshot.subkeys.reserve(subkeys);
    for (uint32_t index = 0; index < subkeys; ++index) {
        snapshot.subkeys.push_back(GetSnapshot(in, depth + 1));
    }
    return snapshot;
}

void Put(TByteWriter &out, const TFileState &state)
{
    out.U8(static_cast<uint8_t>(state.kind));
    out.U32(state.attributes);
    out.U64(state.creationTime);
    out.U64(state.accessTime);
    out.U64(state.writeTime);
    out.U64(state.size);
    out.U32(state.crc);
    out.Text(state.blob);
}

TFileState GetFileState(TByteReader &in)
{
    TFileState state;
    const uint8_t kind = in.U8();
    if (kind > static_cast<uint8_t>(TFileKind::Directory)) {
        throw TByteReader::EDecode{};
    }
    state.kind = static_cast<TFileKind>(kind);
    state.attributes = in.U32();
    state.creationTime = in.U64();
    state.accessTime = in.U64();
    state.writeTime = in.U64();
    state.size = in.U64();
    state.crc = in.U32();
    state.blob = in.Text();
    return state;
}

template <class Record, class Read> Record DecodeWhole(const TBytes &payload, Read read)
{
    TByteReader in(payload);
    Record record = read(in);
    if (!in.AtEnd()) {
        throw TByteReader::EDecode{};
    }
    return record;
}

} // namespace

bool IsChangeKind(uint16_t kind)
{
    switch (static_cast<TRecordKind>(kind)) {
    case TRecordKind::SetValue:
    case TRecordKind::DeleteValue:
    case TRecordKind::CreateKey:
    case TRecordKind::DeleteKey:
    case TRecordKind::SetKeySecurity:
    case TRecordKind::FileChange:
        return true;
    default:
        return false;
    }
}

bool operator==(const TValueState &left, const TValueState &right)
{
    if (!left.present || !right.present) {
        return left.present == right.present;
    }
    return left.type == right.type && left.data == right.data;
}

TBytes Encode(const TValueChange &change)
{
    TByteWriter out;
    Put(out, change.key);
    out.Text(change.name);
    Put(out, change.before);
    Put(out, change.after);
    return out.Take();
}

TBytes Encode(const TKeyCreation &change)
{
    TByteWriter out;
    Put(out, change.key);
    out.U32(change.existingDepth);
    return out.Take();
}

TBytes Encode(const TKeyDeletion &change)
{
    TByteWriter out;
    Put(out, change.key);
    Put(out, change.snapshot);
    return out.Take();
}

TBytes Encode(const TSecurityChange &change)
{
    TByteWriter out;
    Put(out, change.key);
    out.U32(change.information);
    out.Bytes(change.before);
    out.Bytes(change.after);
    return out.Take();
}

TBytes Encode(const TFileChange &change)
{
    TByteWriter out;
    out.U32(static_cast<uint32_t>(change.entries.size()));
    for (const TFileEntry &entry : change.entries) {
        out.U8(static_cast<uint8_t>(entry.operation));
        out.Text(entry.path);
        Put(out, entry.before);
        Put(out, entry.after);
    }
    return out.Take();
}

TBytes Encode(const TOutcome &outcome)
{
    TByteWriter out;
    out.U32(outcome.intent);
    out.U32(outcome.status);
    out.U8(outcome.hasStored ? 1 : 0);
    if (outcome.hasStored) {
        Put(out, outcome.stored);
    }
    return out.Take();
}

TBytes Encode(const TSessionHeader &header)
{
    TByteWriter out;
    out.U64(header.started);
    out.Text(header.title);
    out.Text(header.program);
    out.U32(header.processId);
    out.U32(header.pointerBits);
    return out.Take();
}

TBytes Encode(const TSessionEnd &end)
{
    TByteWriter out;
    out.U64(end.finished);
    out.U32(end.changes);
    return out.Take();
}

TBytes EncodeText(const std::wstring &text)
{
    TByteWriter out;
    out.Text(text);
    return out.Take();
}

TValueChange DecodeValueChange(const TBytes &payload)
{
    return DecodeWhole<TValueChange>(payload, [](TByteReader &in) {
        TValueChange change;
        change.key = GetLocation(in);
        change.name = in.Text();
        change.before = GetValueState(in);
        change.after = GetValueState(in);
        return change;
    });
}

TKeyCreation DecodeKeyCreation(const TBytes &payload)
{
    return DecodeWhole<TKeyCreation>(payload, [](TByteReader &in) {
        TKeyCreation change;
        change.key = GetLocation(in);
        change.existingDepth = in.U32();
        return change;
    });
}

TKeyDeletion DecodeKeyDeletion(const TBytes &payload)
{
    return DecodeWhole<TKeyDeletion>(payload, [](TByteReader &in) {
        TKeyDeletion change;
        change.key = GetLocation(in);
        change.snapshot = GetSnapshot(in, 0);
        return change;
    });
}

TSecurityChange DecodeSecurityChange(const TBytes &payload)
{
    return DecodeWhole<TSecurityChange>(payload, [](TByteReader &in) {
        TSecurityChange change;
        change.key = GetLocation(in);
        change.information = in.U32();
        change.before = in.Bytes();
        change.after = in.Bytes();
        return change;
    });
}

TFileChange DecodeFileChange(const TBytes &payload)
{
    return DecodeWhole<TFileChange>(payload, [](TByteReader &in) {
        TFileChange change;
        const uint32_t count = in.Count(16);
        for (uint32_t index = 0; index < count; ++index) {
            TFileEntry entry;
            const uint8_t operation = in.U8();
            if (operation < static_cast<uint8_t>(TFileOperation::Delete) ||
                operation > static_cast<uint8_t>(TFileOperation::RemoveDirectory)) {
                throw TByteReader::EDecode{};
            }
            entry.operation = static_cast<TFileOperation>(operation);
            entry.path = in.Text();
            entry.before = GetFileState(in);
            entry.after = GetFileState(in);
            change.entries.push_back(std::move(entry));
        }
        return change;
    });
}

TOutcome DecodeOutcome(const TBytes &payload)
{
    return DecodeWhole<TOutcome>(payload, [](TByteReader &in) {
        TOutcome outcome;
        outcome.intent = in.U32();
        outcome.status = in.U32();
        const uint8_t hasStored = in.U8();
        if (hasStored > 1) {
            throw TByteReader::EDecode{};
        }
        outcome.hasStored = hasStored == 1;
        if (outcome.hasStored) {
            outcome.stored = GetValueState(in);
        }
        return outcome;
    });
}

TSessionHeader DecodeSessionHeader(const TBytes &payload)
{
    return DecodeWhole<TSessionHeader>(payload, [](TByteReader &in) {
        TSessionHeader header;
        header.started = in.U64();
        header.title = in.Text();
        header.program = in.Text();
        header.processId = in.U32();
        header.pointerBits = in.U32();
        return header;
    });
}

TSessionEnd DecodeSessionEnd(const TBytes &payload)
{
    return DecodeWhole<TSessionEnd>(payload, [](TByteReader &in) {
        TSessionEnd end;
        end.finished = in.U64();
        end.changes = in.U32();
        return end;
    });
}

std::wstring DecodeText(const TBytes &payload)
{
    return DecodeWhole<std::wstring>(payload, [](TByteReader &in) { return in.Text(); });
}

} // namespace tidyhive::backvault

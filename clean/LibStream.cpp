#include "LibStream.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <limits>
#include <system_error>

namespace tidyhive {

namespace {

constexpr std::array<std::uint32_t, 256> MakeCrcTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < table.size(); ++i) {
        std::uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr auto kCrcTable = MakeCrcTable();
static_assert(kCrcTable[1] == 0x77073096u && kCrcTable[2] == 0xEE0E612Cu);

const char* const kNotALibrary = "Not a library stream";
const char* const kUnknownVersion = "Unknown library version";
const char* const kHeaderCorrupted = "Header is corrupted";
const char* const kNullStream = "Null stream";
const char* const kDataCorrupted = "Data is corrupted";
const char* const kNameTooLong = "Entry name too long: ";
const char* const kReadOnly = "Attempt to change read-only library stream";

constexpr std::uint64_t kMaxBuffer = std::numeric_limits<std::size_t>::max();

std::uint32_t GetLe32(const std::uint8_t* p) noexcept
{
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

std::uint64_t GetLe64(const std::uint8_t* p) noexcept
{
    return std::uint64_t{GetLe32(p)} | std::uint64_t{GetLe32(p + 4)} << 32;
}

void PutLe32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void PutLe64(std::vector<std::uint8_t>& out, std::uint64_t value)
{
    PutLe32(out, static_cast<std::uint32_t>(value));
    PutLe32(out, static_cast<std::uint32_t>(value >> 32));
}

// Streams may deliver fewer bytes than asked before their end; only a read of nothing means the end.
bool ReadExact(TStream& stream, void* buffer, std::size_t count)
{
    auto* p = static_cast<std::uint8_t*>(buffer);
    while (count > 0) {
        const auto got = stream.Read(p, count);
        if (got == 0)
            return false;
        p += got;
        count -= got;
    }
    return true;
}

std::vector<std::uint8_t> ReadWhole(TStream& stream)
{
    const auto size = stream.Size();
    if (size > kMaxBuffer)
        throw std::length_error("Stream too large");
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    stream.Seek(0);
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const auto got = stream.Read(bytes.data() + filled, bytes.size() - filled);
        if (got == 0)
            break;
        filled += got;
    }
    bytes.resize(filled);
    return bytes;
}

char FoldAscii(char c) noexcept
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameName(std::string_view a, std::string_view b) noexcept
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return FoldAscii(x) == FoldAscii(y); });
}

} // namespace

std::uint32_t LibCheckValue(const void* data, std::size_t size, std::uint32_t reg) noexcept
{
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i)
        reg = kCrcTable[(reg ^ p[i]) & 0xFFu] ^ (reg >> 8);
    return reg;
}

// ---- TLibHeader ----

void TLibHeader::LoadFromStream(TStream& stream)
{
    std::uint8_t fixed[12];
    stream.Seek(0);
    if (!ReadExact(stream, fixed, 4) || GetLe32(fixed) != kMagic)
        throw ELibStreamError(kNotALibrary);
    if (!ReadExact(stream, fixed + 4, 4) || GetLe32(fixed + 4) != kVersion)
        throw ELibStreamError(kUnknownVersion);
    if (!ReadExact(stream, fixed + 8, 4))
        throw ELibStreamError(kHeaderCorrupted);
    const auto count = static_cast<std::int32_t>(GetLe32(fixed + 8));
    if (count < 0)
        throw ELibStreamError(kHeaderCorrupted);

    // A count the stream cannot hold is refused before the table is allocated, so a hostile file cannot
    // make us reserve gigabytes; the outcome is the same as the short read it would lead to.
    const std::uint64_t tableSize = kRecordSize * static_cast<std::uint64_t>(count);
    if (stream.Size() < kFixedSize + tableSize || tableSize > kMaxBuffer)
        throw ELibStreamError(kHeaderCorrupted);
    std::vector<std::uint8_t> table(static_cast<std::size_t>(tableSize));
    std::uint8_t storedCheck[4];
    if (!ReadExact(stream, table.data(), table.size()) || !ReadExact(stream, storedCheck, sizeof storedCheck))
        throw ELibStreamError(kHeaderCorrupted);
    const auto check = LibCheckValue(table.data(), table.size(), LibCheckValue(fixed, sizeof fixed));
    if (check != GetLe32(storedCheck))
        throw ELibStreamError(kHeaderCorrupted);

    std::vector<TLibEntry> entries;
    entries.reserve(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < table.size(); i += kRecordSize) {
        const std::uint8_t* record = table.data() + i;
        // Only a forged table can get past the check value with a length the writer never produces.
        if (record[0] > kMaxNameLength)
            throw ELibStreamError(kHeaderCorrupted);
        TLibEntry& entry = entries.emplace_back();
        entry.name.assign(reinterpret_cast<const char*>(record + 1), record[0]);
        entry.offset = GetLe64(record + 32);
        entry.size = GetLe64(record + 40);
        entry.check = GetLe32(record + 48);
    }
    entries_ = std::move(entries);
}

std::vector<std::uint8_t> TLibHeader::ToBytes() const
{
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(Size()));
    PutLe32(out, kMagic);
    PutLe32(out, kVersion);
    PutLe32(out, static_cast<std::uint32_t>(entries_.size()));
    for (const auto& entry : entries_) {
        const auto nameLength = std::min(entry.name.size(), kMaxNameLength);
        out.push_back(static_cast<std::uint8_t>(nameLength));
        out.insert(out.end(), entry.name.begin(),
                   entry.name.begin() + static_cast<std::ptrdiff_t>(nameLength));
        out.insert(out.end(), kMaxNameLength - nameLength, 0);
        PutLe64(out, entry.offset);
        PutLe64(out, entry.size);
        PutLe32(out, entry.check);
    }
    PutLe32(out, LibCheckValue(out.data(), out.size()));
    return out;
}

void TLibHeader::SaveToStream(TStream* stream) const
{
    if (stream == nullptr)
        throw ELibStreamError(kNullStream);
    const auto bytes = ToBytes();
    stream->Write(bytes.data(), bytes.size());
}

std::ptrdiff_t TLibHeader::IndexOf(std::string_view name) const noexcept
{
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (SameName(entries_[i].name, name))
            return static_cast<std::ptrdiff_t>(i);
    return -1;
}

// ---- TLibStream ----

TLibStream::TLibStream() : owned_(std::make_unique<TMemoryStream>())
{
    stream_ = owned_.get();
    header_.SaveToStream(stream_);
    stream_->Seek(0);
}

TLibStream::TLibStream(TStream* stream) : stream_(stream), readOnly_(true)
{
    if (stream == nullptr)
        throw ELibStreamError(kNullStream);
    header_.LoadFromStream(*stream);
    VerifyDataLayout();
}

void TLibStream::VerifyDataLayout()
{
    auto& entries = header_.Entries();
    // Among equal offsets the empty entries go first: the writer can place an empty entry at the very
    // offset where the next one starts.
    std::stable_sort(entries.begin(), entries.end(), [](const TLibEntry& a, const TLibEntry& b) {
        return a.offset < b.offset || (a.offset == b.offset && a.size < b.size);
    });
    if (entries.empty())
        return;
    // Sizes are compared with what is left of the stream rather than added to offsets, so that no 64-bit
    // sum can wrap around.
    const auto streamSize = stream_->Size();
    auto expected = header_.Size();
    for (const auto& entry : entries) {
        if (entry.offset != expected || expected > streamSize || entry.size > streamSize - expected)
            throw ELibStreamError(kDataCorrupted);
        expected += entry.size;
    }
    if (expected != streamSize)
        throw ELibStreamError(kDataCorrupted);
}

std::vector<std::string> TLibStream::EntryNames() const
{
    std::vector<std::string> names;
    names.reserve(header_.Entries().size());
    for (const auto& entry : header_.Entries())
        names.push_back(entry.name);
    return names;
}

std::unique_ptr<TMemoryStream> TLibStream::ReadEntry(std::string_view name) const
{
    if (stream_ == nullptr)
        return nullptr;
    const auto index = header_.IndexOf(name);
    if (index < 0)
        return nullptr;
    const TLibEntry& entry = header_.Entries()[static_cast<std::size_t>(index)];
    if (entry.size > kMaxBuffer)
        throw ELibStreamError(kDataCorrupted);
    std::vector<std::uint8_t> copy(static_cast<std::size_t>(entry.size));
    stream_->Seek(entry.offset);
    // A short read means the stream changed under a read-only container since it was opened.
    if (!ReadExact(*stream_, copy.data(), copy.size()) ||
        LibCheckValue(copy.data(), copy.size()) != entry.check)
        throw ELibStreamError(kDataCorrupted);
    return std::make_unique<TMemoryStream>(std::move(copy));
}

void TLibStream::WriteEntry(std::string_view name, TStream* data)
{
    if (readOnly_)
        throw ELibStreamError(kReadOnly);
    if (data == nullptr)
        return;

    // The new header and image are built aside and swapped in at the end, so that a failure (a refused
    // name, no memory) leaves the container as it was. The bytes are those of moving the data in place.
    const auto bytes = ReadWhole(*data);
    const auto& old = owned_->Bytes();
    const auto oldDataStart = static_cast<std::size_t>(header_.Size());
    const auto copyOld = [&old](std::vector<std::uint8_t>& to, std::size_t from, std::size_t end) {
        to.insert(to.end(), old.begin() + static_cast<std::ptrdiff_t>(from),
                  old.begin() + static_cast<std::ptrdiff_t>(end));
    };
    TLibHeader next = header_;
    auto& entries = next.Entries();
    std::vector<std::uint8_t> image;

    const auto index = header_.IndexOf(name);
    if (index < 0) {
        if (name.size() > TLibHeader::kMaxNameLength)
            throw ELibStreamError(kNameTooLong + std::string(name));
        // One more record pushes all existing data up by its size; the new data goes at the very end.
        for (auto& entry : entries)
            entry.offset += TLibHeader::kRecordSize;
        TLibEntry& added = entries.emplace_back();
        added.name = std::string(name);
        added.offset = old.size() + TLibHeader::kRecordSize;
        added.size = bytes.size();
        added.check = LibCheckValue(bytes.data(), bytes.size());
        image = next.ToBytes();
        image.reserve(image.size() + (old.size() - oldDataStart) + bytes.size());
        copyOld(image, oldDataStart, old.size());
        image.insert(image.end(), bytes.begin(), bytes.end());
    } else {
        // The writer only ever appends, so the entries after this one in table order are exactly those
        // whose data follows it in the image.
        const auto at = static_cast<std::size_t>(index);
        TLibEntry& entry = entries[at];
        const auto oldBegin = static_cast<std::size_t>(entry.offset);
        const auto oldEnd = oldBegin + static_cast<std::size_t>(entry.size);
        // Unsigned wrap-around makes one addition serve both growing and shrinking.
        const std::uint64_t delta = std::uint64_t{bytes.size()} - entry.size;
        for (std::size_t later = at + 1; later < entries.size(); ++later)
            entries[later].offset += delta;
        entry.size = bytes.size();
        entry.check = LibCheckValue(bytes.data(), bytes.size());
        image = next.ToBytes();
        image.reserve(image.size() + (old.size() - oldDataStart) - (oldEnd - oldBegin) + bytes.size());
        copyOld(image, oldDataStart, oldBegin);
        image.insert(image.end(), bytes.begin(), bytes.end());
        copyOld(image, oldEnd, old.size());
    }

    *owned_ = TMemoryStream(std::move(image));
    header_ = std::move(next);
}

void TLibStream::SaveToStream(TStream& target) const
{
    // Exactly the size known at the start is copied, so that copying a stream into itself ends.
    auto remaining = stream_->Size();
    stream_->Seek(0);
    std::vector<std::uint8_t> chunk(static_cast<std::size_t>(std::min<std::uint64_t>(remaining, 64 * 1024)));
    while (remaining > 0) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, chunk.size()));
        const auto got = stream_->Read(chunk.data(), want);
        if (got == 0)
            throw ELibStreamError(kDataCorrupted);
        target.Write(chunk.data(), got);
        remaining -= got;
    }
}

void TLibStream::SaveToFile(const std::filesystem::path& fileName) const
{
    TMemoryStream image;
    SaveToStream(image);
    std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
    if (!file)
        throw std::filesystem::filesystem_error("Cannot create file", fileName,
                                                std::make_error_code(std::errc::io_error));
    file.write(reinterpret_cast<const char*>(image.Bytes().data()),
               static_cast<std::streamsize>(image.Size()));
    file.close();
    if (!file)
        throw std::filesystem::filesystem_error("Cannot write file", fileName,
                                                std::make_error_code(std::errc::io_error));
}

} // namespace tidyhive

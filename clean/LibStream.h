// The library container that holds the ignore lists: a small archive of named entries with a checksummed
// header and a checksum per entry.
//
// Layout (little-endian, offsets from the start of the container):
//   0   magic 0x1A48525A          4   version 0x00010000       8   entry count N (signed 32-bit)
//   12  N records of 52 bytes: name length (0..31), 31 name bytes zero-padded, data offset (u64),
//       data size (u64), data check value (u32)
//   12 + 52N  header check value over bytes 0 .. 12 + 52N - 1
//   16 + 52N  the data of all entries, back to back
// The check values are CRC registers (see LibCheckValue).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "MemoryStream.h"

namespace tidyhive {

class ELibStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The CRC-32 register (reflected IEEE 802.3 polynomial) started at 0xFFFFFFFF and not inverted at the end,
// so it is the bitwise complement of the usual CRC-32. Pass an earlier result as reg to continue over
// further bytes.
std::uint32_t LibCheckValue(const void* data, std::size_t size, std::uint32_t reg = 0xFFFFFFFFu) noexcept;

struct TLibEntry {
    std::string name; // 8-bit, at most kMaxNameLength bytes
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint32_t check = 0;
};

// The entry table. It does not check the data; TLibStream does.
class TLibHeader {
public:
    static constexpr std::uint32_t kMagic = 0x1A48525Au;
    static constexpr std::uint32_t kVersion = 0x00010000u;
    static constexpr std::size_t kFixedSize = 16; // magic, version, count, header check value
    static constexpr std::size_t kRecordSize = 52;
    static constexpr std::size_t kMaxNameLength = 31;

    // Reads and verifies magic, version, count, table and header check value from position 0.
    // Throws ELibStreamError; the table is then unchanged.
    void LoadFromStream(TStream& stream);
    // Writes the whole header, check value included, at the stream's current position.
    void SaveToStream(TStream* stream) const;
    std::vector<std::uint8_t> ToBytes() const;

    std::uint64_t Size() const noexcept { return kFixedSize + kRecordSize * std::uint64_t{entries_.size()}; }
    // First entry whose name matches, ignoring ASCII letter case; -1 if none.
    std::ptrdiff_t IndexOf(std::string_view name) const noexcept;

    std::vector<TLibEntry>& Entries() noexcept { return entries_; }
    const std::vector<TLibEntry>& Entries() const noexcept { return entries_; }

private:
    std::vector<TLibEntry> entries_;
};

class TLibStream {
public:
    // An empty, writable container owning an in-memory image that always holds header and data.
    TLibStream();
    // Opens the container in stream read-only. The stream is not owned and must outlive this object.
    // Throws ELibStreamError when the stream is absent or is not a sound container.
    explicit TLibStream(TStream* stream);

    TLibStream(const TLibStream&) = delete;
    TLibStream& operator=(const TLibStream&) = delete;
    TLibStream(TLibStream&&) noexcept = default;
    TLibStream& operator=(TLibStream&&) noexcept = default;
    ~TLibStream() = default;

    int EntryCount() const noexcept { return static_cast<int>(header_.Entries().size()); }
    // Entry names in table order (ascending data offset once opened from a stream).
    std::vector<std::string> EntryNames() const;
    bool ReadOnly() const noexcept { return readOnly_; }

    // A copy of the entry's data positioned at 0, or null when there is no such entry.
    // Throws ELibStreamError "Data is corrupted" when the data fails its check value.
    std::unique_ptr<TMemoryStream> ReadEntry(std::string_view name) const;
    // Adds or replaces the entry with the whole content of data, whatever its position; does nothing
    // for a null data. Throws ELibStreamError on a read-only container or a new name over 31 bytes;
    // on any failure the container is unchanged.
    void WriteEntry(std::string_view name, TStream* data);

    // Copies the whole container image to target's current position.
    void SaveToStream(TStream& target) const;
    // Creates or overwrites the file with the whole container image.
    void SaveToFile(const std::filesystem::path& fileName) const;

private:
    void VerifyDataLayout();

    TLibHeader header_;
    TStream* stream_ = nullptr;            // the image: owned_ or the caller's stream
    std::unique_ptr<TMemoryStream> owned_; // set only for a container created empty
    bool readOnly_ = false;
};

} // namespace tidyhive

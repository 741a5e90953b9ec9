#include "siblings/backvault/ByteCodec.h"

#include <array>
#include <cstring>

namespace tidyhive::backvault {
namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t index = 0; index < 256; ++index) {
        uint32_t value = index;
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 1) ? 0xEDB88320u ^ (value >> 1) : value >> 1;
        }
        table[index] = value;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

} // namespace

uint32_t Crc32(const void *data, size_t size, uint32_t previous)
{
    uint32_t crc = ~previous;
    const auto *bytes = static_cast<const uint8_t *>(data);
    for (size_t index = 0; index < size; ++index) {
        crc = kCrcTable[(crc ^ bytes[index]) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

void TByteWriter::Raw(const void *data, size_t size)
{
    const auto *bytes = static_cast<const uint8_t *>(data);
    bytes_.insert(bytes_.end(), bytes, bytes + size);
}

void TByteWriter::Bytes(const TBytes &value)
{
    U32(static_cast<uint32_t>(value.size()));
    Raw(value.data(), value.size());
}

void TByteWriter::Text(const std::wstring &value)
{
    U32(static_cast<uint32_t>(value.size()));
    Raw(value.data(), value.size() * sizeof(wchar_t));
}

void TByteReader::Raw(void *out, size_t size)
{
    if (size > left_) {
        throw EDecode{};
    }
    if (size) {
        std::memcpy(out, data_, size);
    }
    data_ += size;
    left_ -= size;
}

uint8_t TByteReader::U8()
{
    uint8_t value = 0;
    Raw(&value, sizeof(value));
    return value;
}

uint16_t TByteReader::U16()
{
    uint16_t value = 0;
    Raw(&value, sizeof(value));
    return value;
}

uint32_t TByteReader::U32()
{
    uint32_t value = 0;
    Raw(&value, sizeof(value));
    return value;
}

uint64_t TByteReader::U64()
{
    uint64_t value = 0;
    Raw(&value, sizeof(value));
    return value;
}

TBytes TByteReader::Bytes()
{
    const uint32_t size = U32();
    if (size > left_) {
        throw EDecode{};
    }
    TBytes value(size);
    Raw(value.data(), size);
    return value;
}

std::wstring TByteReader::Text()
{
    const uint32_t length = U32();
    if (length > left_ / sizeof(wchar_t)) {
        throw EDecode{};
    }
    std::wstring value(length, L'\0');
    Raw(value.data(), length * sizeof(wchar_t));
    return value;
}

uint32_t TByteReader::Count(size_t smallestItem)
{
    const uint32_t count = U32();
    if (smallestItem && count > left_ / smallestItem) {
        throw EDecode{};
    }
    return count;
}

} // namespace tidyhive::backvault

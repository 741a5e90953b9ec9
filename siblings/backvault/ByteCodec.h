// Little-endian field encoding of the journal's records, and the CRC-32 that guards them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tidyhive::backvault {

using TBytes = std::vector<uint8_t>;

// CRC-32 (IEEE 802.3, the one of zip and PNG); pass the previous result to continue.
uint32_t Crc32(const void *data, size_t size, uint32_t previous = 0);

class TByteWriter {
public:
    void U8(uint8_t value) { bytes_.push_back(value); }
    void U16(uint16_t value) { Raw(&value, sizeof(value)); }
    void U32(uint32_t value) { Raw(&value, sizeof(value)); }
    void U64(uint64_t value) { Raw(&value, sizeof(value)); }
    void Bytes(const TBytes &value);
    void Text(const std::wstring &value);
    void Raw(const void *data, size_t size);
    const TBytes &Result() const { return bytes_; }
    TBytes Take() { return std::move(bytes_); }

private:
    TBytes bytes_;
};

// Reads what TByteWriter wrote. Reading past the end throws EDecode: a record whose
// checksum is right but whose fields do not add up is as damaged as one with a bad sum.
class TByteReader {
public:
    struct EDecode {};
    TByteReader(const uint8_t *data, size_t size) : data_(data), left_(size) {}
    explicit TByteReader(const TBytes &bytes) : TByteReader(bytes.data(), bytes.size()) {}

    uint8_t U8();
    uint16_t U16();
    uint32_t U32();
    uint64_t U64();
    TBytes Bytes();
    std::wstring Text();
    bool AtEnd() const { return left_ == 0; }
    // Counts read ahead of a vector of records, checked against what is left so that a
    // damaged count cannot ask for an absurd allocation.
    uint32_t Count(size_t smallestItem);

private:
    void Raw(void *out, size_t size);
    const uint8_t *data_;
    size_t left_;
};

} // namespace tidyhive::backvault

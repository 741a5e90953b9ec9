// Byte streams for the ignore-list codecs: the minimal stream interface that the readers take, so that a
// file or a resource can stand behind it, and the growable memory stream that the writers build into.
// Portable C++ only: the codecs are tested and fuzzed natively as well as under Wine.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

namespace tidyhive {

// Positions and sizes are 64-bit because the container stores 64-bit offsets; Read and Write move
// buffers that are already in memory, so their counts are size_t.
class TStream {
public:
    virtual ~TStream() = default;

    // Copies up to count bytes from the current position and advances it; answers how many were copied,
    // fewer than count only at the end of the stream.
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    // Writes all count bytes at the current position and advances it, growing the stream as needed.
    // Throws when it cannot; the stream is then unchanged.
    virtual void Write(const void* buffer, std::size_t count) = 0;
    virtual std::uint64_t Size() const = 0;
    virtual std::uint64_t Position() const = 0;
    // Any position is allowed: past the end, Read finds nothing and Write fills the gap with zeros.
    virtual void Seek(std::uint64_t position) = 0;

protected:
    TStream() = default;
    TStream(const TStream&) = default;
    TStream(TStream&&) = default;
    TStream& operator=(const TStream&) = default;
    TStream& operator=(TStream&&) = default;
};

class TMemoryStream final : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<std::uint8_t> bytes) noexcept : bytes_(std::move(bytes)) {}

    std::size_t Read(void* buffer, std::size_t count) override
    {
        if (count == 0 || position_ >= bytes_.size())
            return 0;
        const auto available = bytes_.size() - static_cast<std::size_t>(position_);
        const auto n = std::min(count, available);
        std::memcpy(buffer, bytes_.data() + position_, n);
        position_ += n;
        return n;
    }

    void Write(const void* buffer, std::size_t count) override
    {
        if (count == 0)
            return;
        if (position_ > MaxSize() || count > MaxSize() - position_)
            throw std::length_error("Memory stream too large");
        const auto end = static_cast<std::size_t>(position_ + count);
        if (end > bytes_.size())
            bytes_.resize(end);
        std::memcpy(bytes_.data() + position_, buffer, count);
        position_ = end;
    }

    std::uint64_t Size() const override { return bytes_.size(); }
    std::uint64_t Position() const override { return position_; }
    void Seek(std::uint64_t position) override { position_ = position; }

    // Truncates or zero-extends; the position stays where it is.
    void SetSize(std::uint64_t size)
    {
        if (size > MaxSize())
            throw std::length_error("Memory stream too large");
        bytes_.resize(static_cast<std::size_t>(size));
    }

    const std::vector<std::uint8_t>& Bytes() const noexcept { return bytes_; }

private:
    std::uint64_t MaxSize() const noexcept
    {
        return std::min<std::uint64_t>(bytes_.max_size(), std::numeric_limits<std::size_t>::max());
    }

    std::vector<std::uint8_t> bytes_;
    std::uint64_t position_ = 0;
};

} // namespace tidyhive

#include "EncodedStringList.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <system_error>

namespace tidyhive {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexValue(char c) noexcept
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool IsHighSurrogate(char32_t u) noexcept
{
    return u >= 0xD800 && u <= 0xDBFF;
}
bool IsLowSurrogate(char32_t u) noexcept
{
    return u >= 0xDC00 && u <= 0xDFFF;
}

template <class Unit> std::string Utf8FromUtf16Units(std::basic_string_view<Unit> text)
{
    static_assert(sizeof(Unit) == 2);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = static_cast<std::uint16_t>(text[i]);
        if (IsHighSurrogate(cp) && i + 1 < text.size()) {
            const char32_t next = static_cast<std::uint16_t>(text[i + 1]);
            if (IsLowSurrogate(next)) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (next - 0xDC00);
                ++i;
            }
        }
        AppendUtf8(out, cp);
    }
    return out;
}

template <class String> void AppendCodePoint(String& out, char32_t cp)
{
    using Unit = typename String::value_type;
    if constexpr (sizeof(Unit) == 2) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<Unit>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<Unit>(0xDC00 + (cp & 0x3FF)));
            return;
        }
    }
    out.push_back(static_cast<Unit>(cp));
}

// Well-formed UTF-8, except that three-byte sequences of surrogate values are accepted as lone code units.
template <class String> std::optional<String> DecodeUtf8(std::string_view text)
{
    String out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        std::size_t length;
        char32_t cp;
        if (lead < 0x80) {
            length = 1;
            cp = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            cp = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            cp = lead & 0x0Fu;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            cp = lead & 0x07u;
        } else {
            return std::nullopt;
        }
        if (text.size() - i < length)
            return std::nullopt;
        for (std::size_t k = 1; k < length; ++k) {
            const auto trail = static_cast<std::uint8_t>(text[i + k]);
            if ((trail & 0xC0u) != 0x80u)
                return std::nullopt;
            cp = (cp << 6) | (trail & 0x3Fu);
        }
        if ((length == 3 && cp < 0x800) || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
            return std::nullopt;
        AppendCodePoint(out, cp);
        i += length;
    }
    return out;
}

template <class LineFn> void ForEachLine(std::string_view text, LineFn&& onLine)
{
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c != '\r' && c != '\n') {
            ++i;
            continue;
        }
        onLine(text.substr(start, i - start));
        i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2u : 1u;
        start = i;
    }
    // A separator at the very end does not open another line.
    if (start < text.size())
        onLine(text.substr(start));
}

std::string ReadToEnd(TStream& stream)
{
    std::string text;
    char chunk[64 * 1024];
    for (;;) {
        const auto got = stream.Read(chunk, sizeof chunk);
        if (got == 0)
            return text;
        text.append(chunk, got);
    }
}

} // namespace

std::string Utf8FromUtf16(std::u16string_view text)
{
    return Utf8FromUtf16Units(text);
}

std::optional<std::u16string> Utf16FromUtf8(std::string_view text)
{
    return DecodeUtf8<std::u16string>(text);
}

std::string Utf8FromWide(std::wstring_view text)
{
    if constexpr (sizeof(wchar_t) == 2) {
        return Utf8FromUtf16Units(text);
    } else {
        std::string out;
        out.reserve(text.size());
        for (const wchar_t c : text) {
            const auto value = static_cast<std::uint32_t>(c);
            AppendUtf8(out, value > 0x10FFFF ? char32_t{0xFFFD} : static_cast<char32_t>(value));
        }
        return out;
    }
}

std::optional<std::wstring> WideFromUtf8(std::string_view text)
{
    return DecodeUtf8<std::wstring>(text);
}

std::wstring WideFromStoredText(std::string_view bytes)
{
    if (auto text = WideFromUtf8(bytes))
        return std::move(*text);
    std::wstring text;
    text.reserve(bytes.size());
    for (const char c : bytes)
        text.push_back(static_cast<wchar_t>(static_cast<std::uint8_t>(c)));
    return text;
}

std::string EncodedLineCheckValue(std::string_view payload)
{
    // Unsigned arithmetic gives the same bits as the signed accumulator without overflow being undefined.
    std::uint64_t sum = 0xFF0000000070F0F0u;
    for (std::size_t i = 0; i < payload.size(); ++i) {
        std::uint64_t c = static_cast<std::uint8_t>(payload[i]);
        if (c >= 'a' && c <= 'z')
            c -= 'a' - 'A';
        switch ((i + 1) % 3) {
        case 0:
            sum += 1;
            break;
        case 1:
            sum += c;
            break;
        default:
            sum += c * c;
            break;
        }
    }
    std::string digits(16, '0');
    for (std::size_t k = 16; k-- > 0; sum >>= 4)
        digits[k] = kHexDigits[sum & 0xFu];
    return digits;
}

std::string EncodeStoredLine(std::string_view plain)
{
    std::string payload;
    payload.reserve(plain.size() * 2);
    for (const char c : plain) {
        const auto b = static_cast<std::uint8_t>(static_cast<std::uint8_t>(c) ^ 0x80u);
        payload.push_back(kHexDigits[b >> 4]);
        payload.push_back(kHexDigits[b & 0xFu]);
    }
    return EncodedLineCheckValue(payload) + payload;
}

std::string DecodeStoredLine(std::string_view stored)
{
    if (stored.size() < 16)
        throw ECurruptedList();
    const auto payload = stored.substr(16);
    if (EncodedLineCheckValue(payload) != stored.substr(0, 16))
        throw ECurruptedList();
    std::string plain;
    plain.reserve(payload.size() / 2);
    // A trailing odd character carries no byte and is ignored.
    for (std::size_t i = 0; i + 1 < payload.size(); i += 2) {
        const int high = HexValue(payload[i]);
        const int low = HexValue(payload[i + 1]);
        if (high < 0 || low < 0)
            throw std::invalid_argument("'" + std::string(payload.substr(i, 2)) +
                                        "' is not a valid hexadecimal byte");
        plain.push_back(static_cast<char>(((high << 4) | low) ^ 0x80));
    }
    return plain;
}

void TEncodedStringList::LoadFromStream(TStream& stream)
{
    const std::string text = ReadToEnd(stream);
    std::vector<std::wstring> lines;
    ForEachLine(text, [&lines](std::string_view line) {
        lines.push_back(WideFromStoredText(DecodeStoredLine(line)));
    });
    lines_ = std::move(lines);
}

std::size_t TEncodedStringList::LoadReadableLines(TStream& stream)
{
    const std::string text = ReadToEnd(stream);
    std::vector<std::wstring> lines;
    std::size_t skipped = 0;
    ForEachLine(text, [&lines, &skipped](std::string_view line) {
        try {
            lines.push_back(WideFromStoredText(DecodeStoredLine(line)));
        } catch (const std::exception&) {
            ++skipped;
        }
    });
    lines_ = std::move(lines);
    return skipped;
}

void TEncodedStringList::SaveToStream(TStream& stream) const
{
    std::string text;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (i > 0)
            text += "\r\n";
        text += EncodeStoredLine(Utf8FromWide(lines_[i]));
    }
    stream.Write(text.data(), text.size());
}

void TEncodedStringList::LoadFromFile(const std::filesystem::path& fileName)
{
    std::ifstream file(fileName, std::ios::binary);
    if (!file)
        throw std::filesystem::filesystem_error("Cannot open file", fileName,
                                                std::make_error_code(std::errc::io_error));
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (file.bad())
        throw std::filesystem::filesystem_error("Cannot read file", fileName,
                                                std::make_error_code(std::errc::io_error));
    TMemoryStream stream(std::move(bytes));
    LoadFromStream(stream);
}

void TEncodedStringList::SaveToFile(const std::filesystem::path& fileName) const
{
    TMemoryStream stream;
    SaveToStream(stream);
    std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
    if (!file)
        throw std::filesystem::filesystem_error("Cannot create file", fileName,
                                                std::make_error_code(std::errc::io_error));
    file.write(reinterpret_cast<const char*>(stream.Bytes().data()),
               static_cast<std::streamsize>(stream.Size()));
    file.close();
    if (!file)
        throw std::filesystem::filesystem_error("Cannot write file", fileName,
                                                std::make_error_code(std::errc::io_error));
}

} // namespace tidyhive

// The encoded string list: the text of lines stored in each ignore-list container entry.
//
// Stored form: lines separated by CR LF, none after the last. Each line is a 16-digit check value of its
// payload followed by the payload, which is every byte of the plain line XOR 0x80 as two uppercase
// hexadecimal digits.
//
// Characters: the lines are std::wstring in the engine, the stored plain line is 8-bit. The plain bytes
// are the UTF-8 form of the line, so nothing is lost and pure-ASCII lines are stored exactly as the
// format defines them. Registry names may hold unpaired UTF-16 surrogates; those are written as the
// three-byte sequence of their code unit value (as WTF-8 does) so that even such names come back. On
// reading, a line whose bytes are not such UTF-8 came from an 8-bit code-page writer; each of its bytes
// is then taken as the character of the same number (ISO 8859-1), so the line still loads readably.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "MemoryStream.h"

namespace tidyhive {

class ECurruptedList : public std::runtime_error {
public:
    ECurruptedList() : std::runtime_error("Invalid data. Probably list was corrupted.") {}
};

// ---- Text conversions at the codec boundary (no platform API) ----

// UTF-16 to UTF-8; an unpaired surrogate becomes its own three-byte sequence.
std::string Utf8FromUtf16(std::u16string_view text);
// UTF-8 (unpaired surrogate sequences accepted) to UTF-16; nullopt for ill-formed input.
std::optional<std::u16string> Utf16FromUtf8(std::string_view text);
// The same for wchar_t text, which is UTF-16 on Windows and UTF-32 elsewhere. In UTF-32, values beyond
// U+10FFFF are written as U+FFFD.
std::string Utf8FromWide(std::wstring_view text);
std::optional<std::wstring> WideFromUtf8(std::string_view text);
// Stored plain bytes to a line: UTF-8 if well-formed, otherwise one character per byte (ISO 8859-1).
std::wstring WideFromStoredText(std::string_view bytes);

// ---- One stored line ----

// Check value of a payload: 16 uppercase hexadecimal digits.
std::string EncodedLineCheckValue(std::string_view payload);
// Plain bytes to a stored line (check value and payload).
std::string EncodeStoredLine(std::string_view plain);
// A stored line to its plain bytes. Throws ECurruptedList for a line shorter than 16 characters or with a
// wrong check value, and std::invalid_argument for a payload pair that is not hexadecimal.
std::string DecodeStoredLine(std::string_view stored);

// ---- The list ----

class TEncodedStringList {
public:
    std::size_t Count() const noexcept { return lines_.size(); }
    void Add(std::wstring line) { lines_.push_back(std::move(line)); }
    void Clear() noexcept { lines_.clear(); }
    std::vector<std::wstring>& Lines() noexcept { return lines_; }
    const std::vector<std::wstring>& Lines() const noexcept { return lines_; }

    // Replaces the lines with those stored from the current position to the end of stream. On any
    // failure (ECurruptedList, std::invalid_argument) the previous lines stay.
    void LoadFromStream(TStream& stream);
    // As LoadFromStream, but a line that fails its check is left out instead of failing the
    // whole list; answers how many lines were left out.
    std::size_t LoadReadableLines(TStream& stream);
    // Writes the stored form at the stream's current position.
    void SaveToStream(TStream& stream) const;
    // Whole-file versions of the above; they throw std::filesystem::filesystem_error when the file
    // cannot be opened or written.
    void LoadFromFile(const std::filesystem::path& fileName);
    void SaveToFile(const std::filesystem::path& fileName) const;

private:
    std::vector<std::wstring> lines_;
};

} // namespace tidyhive

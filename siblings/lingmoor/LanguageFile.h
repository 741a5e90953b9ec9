// Reading a language file: UTF-8 text, one "KEY=text" a line (format in lang/README.md).
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

namespace tidyhive::siblings {

// Translations by key, the key upper-cased.
using TTranslations = std::unordered_map<std::wstring, std::wstring>;

// Language files larger than this are refused rather than read into memory.
inline constexpr size_t kMaxLanguageFileSize = 4u * 1024u * 1024u;

// Parses the bytes of a language file. On success fills translations and answers true; on
// the first fault answers false with a reason naming the line, and translations is empty.
bool ParseLanguageFile(std::string_view bytes, TTranslations &translations, std::wstring &problem);

// Reads and parses a language file; false with a reason when it is missing, unreadable,
// too large or malformed.
bool LoadLanguageFile(const std::wstring &fileName, TTranslations &translations, std::wstring &problem);

// A language name that can stand in a file name: 1 to 32 letters, digits, '-' or '_'.
bool IsPlainLanguageName(std::wstring_view language);

// The key as translations are looked up: upper-cased (keys are ASCII identifiers).
std::wstring TranslationKey(std::wstring_view key);

} // namespace tidyhive::siblings

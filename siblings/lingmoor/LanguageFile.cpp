#include "siblings/lingmoor/LanguageFile.h"

#include "services/OwnedHandle.h"

#include <windows.h>

#include <string>
#include <vector>

namespace tidyhive::siblings {
namespace {

std::wstring LineProblem(size_t line, const std::wstring &what)
{
    return L"line " + std::to_wstring(line) + L": " + what;
}

bool IsKeyCharacter(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'_';
}

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

bool Unescape(std::wstring_view raw, std::wstring &text, std::wstring &what)
{
    text.clear();
    text.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != L'\\') {
            text.push_back(raw[i]);
            continue;
        }
        if (++i == raw.size()) {
            what = L"a backslash ends the line (write \\\\ for a backslash)";
            return false;
        }
        switch (raw[i]) {
        case L'n':
            text.push_back(L'\n');
            break;
        case L'r':
            text.push_back(L'\r');
            break;
        case L't':
            text.push_back(L'\t');
            break;
        case L's':
            text.push_back(L' ');
            break;
        case L'\\':
            text.push_back(L'\\');
            break;
        default:
            what = std::wstring(L"unknown escape \\") + raw[i];
            return false;
        }
    }
    return true;
}

bool ParseLine(std::wstring_view line, size_t number, TTranslations &translations, std::wstring &problem)
{
    size_t begin = 0;
    while (begin < line.size() && IsBlank(line[begin])) {
        ++begin;
    }
    if (begin == line.size() || line[begin] == L'#') {
        return true;
    }
    const size_t equals = line.find(L'=', begin);
    if (equals == std::wstring_view::npos) {
        problem = LineProblem(number, L"no \"=\" between key and text");
        return false;
    }
    size_t keyEnd = equals;
    while (keyEnd > begin && IsBlank(line[keyEnd - 1])) {
        --keyEnd;
    }
    const std::wstring_view key = line.substr(begin, keyEnd - begin);
    if (key.empty()) {
        problem = LineProblem(number, L"the key is missing before \"=\"");
        return false;
    }
    for (wchar_t c : key) {
        if (!IsKeyCharacter(c)) {
            problem = LineProblem(number, L"a key holds only letters, digits and underscores");
            return false;
        }
    }
    size_t textBegin = equals + 1;
    while (textBegin < line.size() && IsBlank(line[textBegin])) {
        ++textBegin;
    }
    std::wstring text;
    std::wstring what;
    if (!Unescape(line.substr(textBegin), text, what)) {
        problem = LineProblem(number, what);
        return false;
    }
    // An empty text means "not translated yet": the English text stays.
    if (!text.empty()) {
        translations[TranslationKey(key)] = std::move(text);
    }
    return true;
}

} // namespace

std::wstring TranslationKey(std::wstring_view key)
{
    std::wstring upper(key);
    for (wchar_t &c : upper) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    return upper;
}

bool IsPlainLanguageName(std::wstring_view language)
{
    if (language.empty() || language.size() > 32) {
        return false;
    }
    for (wchar_t c : language) {
        if (!IsKeyCharacter(c) && c != L'-') {
            return false;
        }
    }
    return true;
}

bool ParseLanguageFile(std::string_view bytes, TTranslations &translations, std::wstring &problem)
{
    translations.clear();
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
    }
    if (bytes.size() > kMaxLanguageFileSize) {
        problem = L"the file is larger than " + std::to_wstring(kMaxLanguageFileSize) + L" bytes";
        return false;
    }
    std::wstring text;
    if (!bytes.empty()) {
        const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                               static_cast<int>(bytes.size()), nullptr, 0);
        if (length <= 0) {
            problem = L"the file is not UTF-8 text";
            return false;
        }
        text.resize(static_cast<size_t>(length));
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                            text.data(), length);
    }
    TTranslations parsed;
    size_t number = 0;
    for (size_t begin = 0; begin <= text.size();) {
        size_t end = text.find(L'\n', begin);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        std::wstring_view line(text.data() + begin, end - begin);
        if (!line.empty() && line.back() == L'\r') {
            line.remove_suffix(1);
        }
        ++number;
        if (line.find(L'\0') != std::wstring_view::npos) {
            problem = LineProblem(number, L"the line holds a NUL character");
            return false;
        }
        if (!ParseLine(line, number, parsed, problem)) {
            return false;
        }
        begin = end + 1;
    }
    translations = std::move(parsed);
    return true;
}

bool LoadLanguageFile(const std::wstring &fileName, TTranslations &translations, std::wstring &problem)
{
    translations.clear();
    const TOwnedHandle file(CreateFileW(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        problem = (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                      ? L"language file \"" + fileName + L"\" not found"
                      : L"language file \"" + fileName + L"\" cannot be opened (error " +
                            std::to_wstring(error) + L")";
        return false;
    }
    LARGE_INTEGER size = {};
    bool ok = GetFileSizeEx(file.Get(), &size) != 0;
    std::string bytes;
    if (ok && static_cast<ULONGLONG>(size.QuadPart) > kMaxLanguageFileSize + 3) {
        problem = L"language file \"" + fileName + L"\": the file is larger than " +
                  std::to_wstring(kMaxLanguageFileSize) + L" bytes";
        return false;
    }
    if (ok) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        ok = bytes.empty() ||
             (ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
              read == bytes.size());
    }
    if (!ok) {
        problem = L"language file \"" + fileName + L"\" cannot be read";
        return false;
    }
    std::wstring reason;
    if (!ParseLanguageFile(bytes, translations, reason)) {
        problem = L"language file \"" + fileName + L"\" is malformed: " + reason;
        return false;
    }
    return true;
}

} // namespace tidyhive::siblings

#include "services/Text.h"

#include <new>
#include <vector>

namespace tidyhive {

BSTR MakeBstr(std::wstring_view text)
{
    BSTR result = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!result) {
        throw std::bad_alloc();
    }
    return result;
}

std::wstring Utf8ToWide(std::string_view text)
{
    if (text.empty()) {
        return {};
    }
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size);
    return result;
}

std::string WideToUtf8(std::wstring_view text)
{
    if (text.empty()) {
        return {};
    }
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr,
                        nullptr);
    return result;
}

bool SameText(std::wstring_view a, std::wstring_view b)
{
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

bool StartsWithText(std::wstring_view text, std::wstring_view prefix)
{
    return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

std::wstring UpperCase(std::wstring_view text)
{
    std::wstring result(text);
    if (!result.empty()) {
        CharUpperBuffW(result.data(), static_cast<DWORD>(result.size()));
    }
    return result;
}

std::wstring LowerCase(std::wstring_view text)
{
    std::wstring result(text);
    if (!result.empty()) {
        CharLowerBuffW(result.data(), static_cast<DWORD>(result.size()));
    }
    return result;
}

std::wstring Trim(std::wstring_view text)
{
    // Trims control characters and spaces, as the classic Trim does (anything up to U+0020).
    size_t first = 0;
    size_t last = text.size();
    while (first < last && text[first] <= L' ') {
        ++first;
    }
    while (last > first && text[last - 1] <= L' ') {
        --last;
    }
    return std::wstring(text.substr(first, last - first));
}

std::wstring FormatTextV(const wchar_t* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    const int size = _vscwprintf(format, copy);
    va_end(copy);
    if (size <= 0) {
        return {};
    }
    std::vector<wchar_t> buffer(static_cast<size_t>(size) + 1);
    _vsnwprintf(buffer.data(), buffer.size(), format, args);
    return std::wstring(buffer.data(), static_cast<size_t>(size));
}

std::wstring FormatText(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    std::wstring result = FormatTextV(format, args);
    va_end(args);
    return result;
}

}  // namespace tidyhive

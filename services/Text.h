// Wide-text helpers and the BSTR owner used at the interface boundary.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdarg>
#include <string>
#include <string_view>
#include <utility>

namespace tidyhive {

// Owns one BSTR; frees it on destruction. Release() hands ownership to a caller.
class TBstr {
public:
    TBstr() = default;
    explicit TBstr(BSTR owned) : value_(owned) {}
    TBstr(const TBstr&) = delete;
    TBstr& operator=(const TBstr&) = delete;
    TBstr(TBstr&& other) noexcept : value_(other.Release()) {}
    TBstr& operator=(TBstr&& other) noexcept
    {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    ~TBstr() { SysFreeString(value_); }

    BSTR Get() const { return value_; }
    BSTR* Out()
    {
        Reset();
        return &value_;
    }
    BSTR Release() { return std::exchange(value_, nullptr); }
    void Reset(BSTR owned = nullptr) { SysFreeString(std::exchange(value_, owned)); }
    std::wstring Str() const { return value_ ? std::wstring(value_, SysStringLen(value_)) : std::wstring(); }

private:
    BSTR value_ = nullptr;
};

// A new BSTR holding the text; the caller owns it. Throws std::bad_alloc when out of memory.
BSTR MakeBstr(std::wstring_view text);

// Text of a BSTR or a null-terminated wide string; null reads as empty.
inline std::wstring FromBstr(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : std::wstring(); }
inline std::wstring FromWide(LPCWSTR text) { return text ? std::wstring(text) : std::wstring(); }

std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

// Case-insensitive comparisons as the system compares registry names.
bool SameText(std::wstring_view a, std::wstring_view b);
bool StartsWithText(std::wstring_view text, std::wstring_view prefix);
std::wstring UpperCase(std::wstring_view text);
std::wstring LowerCase(std::wstring_view text);
std::wstring Trim(std::wstring_view text);

// printf-style formatting of wide text ("%s" takes a wide string).
std::wstring FormatText(const wchar_t* format, ...);
std::wstring FormatTextV(const wchar_t* format, va_list args);

}  // namespace tidyhive

#include "host/Console.h"

#include <windows.h>
#include <oleauto.h>

#include <cstdio>

namespace tidyhive::host {
namespace {

std::string ToUtf8(std::wstring_view text)
{
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr,
                        nullptr);
    return result;
}

}  // namespace

void Out(std::wstring_view text)
{
    const std::string bytes = ToUtf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void OutLine(std::wstring_view text)
{
    Out(text);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void ErrLine(std::wstring_view text)
{
    const std::string bytes = ToUtf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

bool StdoutIsTerminal()
{
    // A console or a terminal; pipes and files get no progress line.
    return GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR;
}

std::wstring TakeText(wchar_t* bstr)
{
    std::wstring text = bstr ? std::wstring(bstr, SysStringLen(bstr)) : std::wstring();
    SysFreeString(bstr);
    return text;
}

}  // namespace tidyhive::host

// Console output for the host: wide text written as UTF-8, errors to the error stream.
#pragma once

#include <string>
#include <string_view>

namespace tidyhive::host {

void Out(std::wstring_view text);
void OutLine(std::wstring_view text = {});
void ErrLine(std::wstring_view text);
bool StdoutIsTerminal();

// A BSTR's text, freeing the BSTR.
std::wstring TakeText(wchar_t* bstr);

}  // namespace tidyhive::host

// The one exception type inside the backup library. It never crosses an interface: every
// interface method catches it at its edge and answers an error code or HRESULT.
#pragma once

#include <windows.h>

#include <exception>
#include <string>

namespace tidyhive::backvault {

class EBackvault : public std::exception {
public:
    explicit EBackvault(std::wstring message, DWORD code = ERROR_GEN_FAILURE)
        : message_(std::move(message)), code_(code)
    {
    }
    const char *what() const noexcept override { return "backup library error"; }
    const std::wstring &Message() const { return message_; }
    DWORD Code() const { return code_; }

private:
    std::wstring message_;
    DWORD code_;
};

// The system's text for a Windows error code, without the trailing line break.
std::wstring SystemMessage(DWORD code);

// "text (error N: system message)".
std::wstring WithSystemMessage(const std::wstring &text, DWORD code);

// The message of the last failed call, kept per thread for GetLastErrorText.
void SetLastErrorText(const std::wstring &text);
std::wstring LastErrorText();

// Runs an interface method's body; an exception becomes the fallback answer and the
// thread's last error text.
template <class Result, class Body> Result Guarded(Result fallback, Body &&body) noexcept
{
    try {
        return body();
    } catch (const EBackvault &error) {
        SetLastErrorText(error.Message());
    } catch (const std::bad_alloc &) {
        SetLastErrorText(L"Not enough memory.");
    } catch (...) {
        SetLastErrorText(L"Unexpected failure inside the backup library.");
    }
    return fallback;
}

} // namespace tidyhive::backvault

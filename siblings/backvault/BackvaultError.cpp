#include "siblings/backvault/BackvaultError.h"

#include "siblings/backvault/Win32Owners.h"

#include <map>

namespace tidyhive::backvault {
namespace {

TLock &ErrorLock()
{
    static TLock *lock = new TLock(); // lives until the process ends: no work at unload
    return *lock;
}

std::map<DWORD, std::wstring> &ErrorTexts()
{
    static auto *texts = new std::map<DWORD, std::wstring>();
    return *texts;
}

} // namespace

std::wstring SystemMessage(DWORD code)
{
    wchar_t *buffer = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    std::wstring text = length && buffer ? std::wstring(buffer, length) : std::wstring();
    if (buffer) {
        LocalFree(buffer);
    }
    while (!text.empty() &&
           (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' || text.back() == L'.')) {
        text.pop_back();
    }
    return text;
}

std::wstring WithSystemMessage(const std::wstring &text, DWORD code)
{
    const std::wstring system = SystemMessage(code);
    return text + L" (error " + std::to_wstring(code) + (system.empty() ? L"" : L": " + system) + L")";
}

void SetLastErrorText(const std::wstring &text)
{
    try {
        TLockGuard guard(ErrorLock());
        ErrorTexts()[GetCurrentThreadId()] = text;
    } catch (...) {
        // Out of memory while keeping a message: the message is lost, nothing else.
    }
}

std::wstring LastErrorText()
{
    TLockGuard guard(ErrorLock());
    const auto found = ErrorTexts().find(GetCurrentThreadId());
    return found == ErrorTexts().end() ? std::wstring() : found->second;
}

} // namespace tidyhive::backvault

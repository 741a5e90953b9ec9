// Exceptions never leave the library: every exported and interface method runs its body
// through Guarded, which logs a failure and answers a fallback result.
#pragma once

#include "services/DebugLog.h"
#include "services/Text.h"

#include <exception>
#include <new>
#include <string>

namespace tidyhive {

void LogBoundaryFailure(const wchar_t* where, const std::exception* error) noexcept;

template <class Result, class Body>
Result Guarded(const wchar_t* where, Result fallback, Body&& body) noexcept
{
    try {
        return body();
    } catch (const std::exception& error) {
        LogBoundaryFailure(where, &error);
    } catch (...) {
        LogBoundaryFailure(where, nullptr);
    }
    return fallback;
}

template <class Body>
void GuardedVoid(const wchar_t* where, Body&& body) noexcept
{
    try {
        body();
    } catch (const std::exception& error) {
        LogBoundaryFailure(where, &error);
    } catch (...) {
        LogBoundaryFailure(where, nullptr);
    }
}

// A BSTR for the host; null when the text cannot be allocated.
inline BSTR ReturnText(const std::wstring& text) noexcept
{
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

}  // namespace tidyhive

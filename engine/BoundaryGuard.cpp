#include "engine/BoundaryGuard.h"

namespace tidyhive {

void LogBoundaryFailure(const wchar_t* where, const std::exception* error) noexcept
{
    try {
        const std::wstring message = error ? Utf8ToWide(error->what()) : std::wstring(L"unknown error");
        DebugLog::Log(std::wstring(where) + L" - " + message);
    } catch (...) {
        // Nothing more can be done without risking the host.
    }
}

}  // namespace tidyhive

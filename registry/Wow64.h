// The 64-bit Windows helpers: whether the system is 64-bit, which access bits select a
// registry view, and switching file-system redirection off and on for file checks.
//
// "WOW64" here means "the system is 64-bit": a 32-bit process under WOW64 and a 64-bit
// process both answer true, so the engine looks at both registry views in either build.
#pragma once

#include <windows.h>

namespace tidyhive {

// True on a 64-bit system. Computed once.
bool IsWow64();

// KEY_WOW64_64KEY on a 64-bit system, 0 otherwise.
REGSAM Wow64KeyAccessFlag();

// The access bits that select a view: KEY_WOW64_64KEY for the 64-bit view, KEY_WOW64_32KEY
// for the 32-bit view (named explicitly, so that a 64-bit process reaches it too); 0 on a
// 32-bit system, which has one view only.
REGSAM RegistryViewFlag(bool view64);

// The view bits of an access mask.
inline constexpr REGSAM kRegistryViewBits = KEY_WOW64_64KEY | KEY_WOW64_32KEY;

// Switches file-system redirection off for the calling thread (a 32-bit process under
// WOW64 only). oldValue receives what ResumeFsRedirection needs; it is left unchanged, and
// the result is true, where there is nothing to switch (a 64-bit or a 32-bit-only process).
bool SuspendFsRedirection(PVOID& oldValue);
// Switches redirection back on with the value SuspendFsRedirection returned.
bool ResumeFsRedirection(PVOID oldValue);

// Redirection off for one scope, on again when the scope ends.
class TFsRedirectionSuspension {
public:
    TFsRedirectionSuspension() : suspended_(SuspendFsRedirection(oldValue_)) {}
    ~TFsRedirectionSuspension()
    {
        if (suspended_) {
            ResumeFsRedirection(oldValue_);
        }
    }
    TFsRedirectionSuspension(const TFsRedirectionSuspension&) = delete;
    TFsRedirectionSuspension& operator=(const TFsRedirectionSuspension&) = delete;

private:
    PVOID oldValue_ = nullptr;
    bool suspended_;
};

}  // namespace tidyhive

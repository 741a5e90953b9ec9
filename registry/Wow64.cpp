#include "registry/Wow64.h"

namespace tidyhive {
namespace {

using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
using RedirectionFn = BOOL(WINAPI*)(PVOID);
using DisableRedirectionFn = BOOL(WINAPI*)(PVOID*);

// Resolved on first use and kept for the life of the process.
struct TWow64Entries {
    bool wow64 = false;       // the system is 64-bit
    bool redirected = false;  // this process is a 32-bit process under WOW64
    DisableRedirectionFn disable = nullptr;
    RedirectionFn revert = nullptr;
};

TWow64Entries Resolve()
{
    TWow64Entries entries;
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    if (!kernel) {
        return entries;
    }
    auto isWow64Process = reinterpret_cast<IsWow64ProcessFn>(GetProcAddress(kernel, "IsWow64Process"));
    entries.disable =
        reinterpret_cast<DisableRedirectionFn>(GetProcAddress(kernel, "Wow64DisableWow64FsRedirection"));
    entries.revert = reinterpret_cast<RedirectionFn>(GetProcAddress(kernel, "Wow64RevertWow64FsRedirection"));
    BOOL underWow64 = FALSE;
    if (isWow64Process && isWow64Process(GetCurrentProcess(), &underWow64)) {
        entries.redirected = underWow64 != FALSE;
    }
    entries.wow64 = sizeof(void*) == 8 || entries.redirected;
    return entries;
}

const TWow64Entries& Entries()
{
    static const TWow64Entries entries = Resolve();
    return entries;
}

}  // namespace

bool IsWow64()
{
    return Entries().wow64;
}

REGSAM Wow64KeyAccessFlag()
{
    return IsWow64() ? KEY_WOW64_64KEY : 0;
}

REGSAM RegistryViewFlag(bool view64)
{
    if (!IsWow64()) {
        return 0;
    }
    return view64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

bool SuspendFsRedirection(PVOID& oldValue)
{
    const TWow64Entries& entries = Entries();
    if (!entries.redirected || !entries.disable) {
        return true;
    }
    return entries.disable(&oldValue) != FALSE;
}

bool ResumeFsRedirection(PVOID oldValue)
{
    const TWow64Entries& entries = Entries();
    if (!entries.redirected || !entries.revert) {
        return true;
    }
    return entries.revert(oldValue) != FALSE;
}

}  // namespace tidyhive

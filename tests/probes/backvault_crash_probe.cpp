// Child process for the backup tests: begins a session, makes changes through IRegAccess
// and IFileAccess, reports each on standard output, and never ends the session. In
// "exit" mode it kills itself after the changes; in "run" mode it keeps making changes
// until its parent kills it.
//
//   backvault_crash_probe STORAGE KEYPATH FILE COUNT exit|run
// KEYPATH is below HKEY_CURRENT_USER and holds values "v0".."v<COUNT-1>".
#include "tidyhive/Backvault.h"

#include <shellapi.h>

#include <cstdio>
#include <string>

using namespace tidyhive;

namespace {

void Say(const char *text, unsigned number = 0)
{
    std::printf("%s %u\n", text, number);
    std::fflush(stdout);
}

} // namespace

int main()
{
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc != 6) {
        std::fprintf(stderr, "usage: backvault_crash_probe STORAGE KEYPATH FILE COUNT exit|run\n");
        return 2;
    }
    const std::wstring storage = argv[1];
    const std::wstring keyPath = argv[2];
    const std::wstring file = argv[3];
    const unsigned count = static_cast<unsigned>(_wtoi(argv[4]));
    const bool run = std::wstring(argv[5]) == L"run";

    HMODULE library = LoadLibraryW(L"Backvault.dll");
    using GetInstanceFn = IUnknown *(WINAPI *)(const char *, LONG);
    const auto getInstance =
        library ? reinterpret_cast<GetInstanceFn>(GetProcAddress(library, "GetInstance")) : nullptr;
    IBackvault *backvault =
        getInstance ? static_cast<IBackvault *>(getInstance(kBackvaultInstanceId, 0)) : nullptr;
    if (!backvault || FAILED(backvault->SetStorageFolder(storage.c_str()))) {
        return 3;
    }
    BSTR id = nullptr;
    if (!backvault->BeginSession(L"Probe session", L"Registry Cleaner", &id)) {
        return 4;
    }
    std::printf("session %ls\n", id);
    std::fflush(stdout);
    IRegAccess *reg = backvault->GetRegAccess();
    IFileAccess *files = backvault->GetFileAccess();

    HKEY key = nullptr;
    if (reg->RegOpenKeyEx(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        return 5;
    }
    unsigned changes = 0;
    // The same work over and over: each round deletes the values, writes new ones, deletes
    // those, so that a kill can land anywhere in it.
    for (unsigned round = 0; round == 0 || run; ++round) {
        if (round == 0 && !files->DeleteFile(file.c_str())) {
            return 6;
        }
        Say("changed", ++changes);
        for (unsigned index = 0; index < count; ++index) {
            const std::wstring name = L"v" + std::to_wstring(index);
            reg->RegDeleteValue(key, name.c_str());
            Say("changed", ++changes);
            const std::wstring data = L"probe " + std::to_wstring(round) + L"/" + std::to_wstring(index);
            reg->RegSetValueEx(key, (L"new" + name).c_str(), 0, REG_SZ,
                               reinterpret_cast<const BYTE *>(data.c_str()),
                               static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
            Say("changed", ++changes);
        }
        for (unsigned index = 0; index < count; ++index) {
            const std::wstring data = L"again " + std::to_wstring(index);
            reg->RegSetValueEx(key, (L"v" + std::to_wstring(index)).c_str(), 0, REG_EXPAND_SZ,
                               reinterpret_cast<const BYTE *>(data.c_str()),
                               static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
            Say("changed", ++changes);
        }
    }
    Say("done", changes);
    // Ends like a crash: no EndSession, no clean-up.
    TerminateProcess(GetCurrentProcess(), 9);
    return 0;
}

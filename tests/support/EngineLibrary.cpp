#include "tests/support/EngineLibrary.h"

#include <stdexcept>
#include <string>

namespace tidyhive::testing {

std::wstring TestBinFolder()
{
    std::wstring buffer(MAX_PATH, L'\0');
    buffer.resize(GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size())));
    return buffer.substr(0, buffer.find_last_of(L'\\') + 1);
}

TEngineLibrary::TEngineLibrary()
{
    module_ = LoadLibraryW((TestBinFolder() + L"Tidyhive.dll").c_str());
    if (!module_) {
        throw std::runtime_error("cannot load Tidyhive.dll");
    }
    create_ = reinterpret_cast<GetRegistryCleanerManagerFn>(
        GetProcAddress(module_, kGetRegistryCleanerManagerExport));
    if (!create_) {
        throw std::runtime_error("Tidyhive.dll lacks GetRegistryCleanerManager");
    }
}

IRegistryCleanerManager* TEngineLibrary::CreateRoot() const
{
    IRegistryCleanerManager* root = nullptr;
    if (FAILED(create_(&root)) || !root) {
        throw std::runtime_error("GetRegistryCleanerManager failed");
    }
    return root;
}

std::wstring Take(BSTR text)
{
    std::wstring result = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return result;
}

TChildResult RunChild(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs)
{
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        throw std::runtime_error("CreatePipe failed");
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + TestBinFolder() + program + L"\" " + arguments;
    // Under load Wine now and then refuses to start a process that starts fine a moment later.
    BOOL started = FALSE;
    DWORD error = 0;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        if (attempt > 0) {
            Sleep(200);
        }
        started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                 TestBinFolder().c_str(), &startup, &process);
        error = started ? 0 : GetLastError();
    }
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        throw std::runtime_error("cannot start the child process: error " + std::to_string(error));
    }
    TChildResult result;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(readEnd, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        result.output.append(buffer, read);
    }
    CloseHandle(readEnd);
    if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
    }
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

}  // namespace tidyhive::testing

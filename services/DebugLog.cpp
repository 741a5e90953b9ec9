#include "services/DebugLog.h"

#include "services/Text.h"

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstdarg>
#include <mutex>

namespace tidyhive {
namespace {

enum class Mode : int { Unknown, Off, On };

std::atomic<int> gMode{static_cast<int>(Mode::Unknown)};
std::mutex gNameMutex;
std::wstring gFileName;
std::wstring gHostName;

std::wstring ModuleFileName(HMODULE module)
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool RegistrySaysDebug(bool& decided)
{
    decided = false;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Quorvanta\\DebugMode", 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    const LONG status =
        RegQueryValueExW(key, L"DebugMode", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    if (status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(value)) {
        decided = value == 1;  // a 0 leaves the command-line switch effective
        return decided;
    }
    return false;
}

bool CommandLineSaysDebug()
{
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args) {
        return false;
    }
    const bool result = count > 1 && SameText(args[1], L"-debug");
    LocalFree(args);
    return result;
}

void EnsureNames()
{
    std::lock_guard guard(gNameMutex);
    if (!gFileName.empty()) {
        return;
    }
    const std::wstring exe = ModuleFileName(nullptr);
    const size_t slash = exe.find_last_of(L"\\/");
    std::wstring folder = slash == std::wstring::npos ? std::wstring() : exe.substr(0, slash + 1);
    gHostName = slash == std::wstring::npos ? exe : exe.substr(slash + 1);
    gFileName = folder + L"debug.log";
}

std::wstring TimeText()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return FormatText(L"%02u:%02u:%02u:%03u", now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
}

void AppendLine(const std::wstring& line)
{
    EnsureNames();
    std::wstring fileName;
    {
        std::lock_guard guard(gNameMutex);
        fileName = gFileName;
    }
    HANDLE file = CreateFileW(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;  // nowhere to write: the line is dropped
    }
    const std::string bytes = WideToUtf8(line + L"\r\n");
    SetFilePointer(file, 0, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

bool DebugLog::Enabled()
{
    int mode = gMode.load(std::memory_order_acquire);
    if (mode == static_cast<int>(Mode::Unknown)) {
        bool decided = false;
        const bool on = RegistrySaysDebug(decided) || CommandLineSaysDebug();
        mode = static_cast<int>(on ? Mode::On : Mode::Off);
        int expected = static_cast<int>(Mode::Unknown);
        gMode.compare_exchange_strong(expected, mode);
        mode = gMode.load(std::memory_order_acquire);
    }
    return mode == static_cast<int>(Mode::On);
}

void DebugLog::Configure(bool enabled, const std::wstring& fileName)
{
    if (!fileName.empty()) {
        EnsureNames();
        std::lock_guard guard(gNameMutex);
        gFileName = fileName;
    }
    gMode.store(static_cast<int>(enabled ? Mode::On : Mode::Off), std::memory_order_release);
}

void DebugLog::ResetForTesting()
{
    {
        std::lock_guard guard(gNameMutex);
        gFileName.clear();
    }
    gMode.store(static_cast<int>(Mode::Unknown), std::memory_order_release);
}

void DebugLog::Log(std::wstring_view message)
{
    if (!Enabled()) {
        return;
    }
    EnsureNames();
    AppendLine(TimeText() + L": (" + gHostName + L") " + std::wstring(message));
}

void DebugLog::LogFmt(const wchar_t* format, ...)
{
    if (!Enabled()) {
        return;
    }
    va_list args;
    va_start(args, format);
    const std::wstring message = FormatTextV(format, args);
    va_end(args);
    Log(message);
}

void DebugLog::LogError(std::wstring_view message)
{
    if (!Enabled()) {
        return;
    }
    AppendLine(TimeText() + L": " + std::wstring(message));
}

void DebugLog::Failure(std::wstring_view className, std::wstring_view operation, std::wstring_view message)
{
    if (!Enabled()) {
        return;
    }
    Log(ClassNameForLog(className) + L" - " + std::wstring(operation) + L" - " + std::wstring(message));
}

std::wstring ClassNameForLog(std::wstring_view className)
{
    if (!className.empty() && className.front() == L'T') {
        className.remove_prefix(1);
    }
    return std::wstring(className);
}

}  // namespace tidyhive

#include "services/DebugLog.h"

#include "services/OwnedHandle.h"
#include "services/Text.h"

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstdarg>
#include <memory>
#include <type_traits>
#include <mutex>

namespace tidyhive {
namespace {

enum class Mode : int { Unknown, Off, On };

std::atomic<int> gMode{static_cast<int>(Mode::Unknown)};

// Names and the mode's source; the mode itself is atomic so the hot path takes no lock.
struct LogState {
    std::mutex mutex;
    TDebugModeSource source;
    std::wstring fileName;
    std::wstring hostName;
};

LogState &State()
{
    static LogState *state = new LogState(); // lines may still come while the process ends
    return *state;
}

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

// Only an integer 1 switches debug mode on; anything else leaves the command line to decide.
bool RegistrySaysDebug(const std::wstring &keyPath)
{
    struct KeyCloser {
        void operator()(HKEY key) const { RegCloseKey(key); }
    };
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) {
        return false;
    }
    const std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser> key(opened);
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    const LONG status =
        RegQueryValueExW(key.get(), L"DebugMode", nullptr, &type, reinterpret_cast<BYTE *>(&value), &size);
    return status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(value) && value == 1;
}

bool CommandLineSaysDebug(const std::optional<std::wstring> &commandLine)
{
    const std::wstring line = commandLine ? *commandLine : std::wstring(GetCommandLineW());
    if (line.empty()) {
        return false; // CommandLineToArgvW would answer the executable's own name
    }
    int count = 0;
    LPWSTR *args = CommandLineToArgvW(line.c_str(), &count);
    if (!args) {
        return false;
    }
    const bool result = count > 1 && SameText(args[1], L"-debug");
    LocalFree(args);
    return result;
}

void EnsureNamesLocked(LogState &state)
{
    if (!state.fileName.empty() && !state.hostName.empty()) {
        return;
    }
    const std::wstring exe = ModuleFileName(nullptr);
    const size_t slash = exe.find_last_of(L"\\/");
    state.hostName = slash == std::wstring::npos ? exe : exe.substr(slash + 1);
    if (state.fileName.empty()) {
        const std::wstring folder = slash == std::wstring::npos ? std::wstring() : exe.substr(0, slash + 1);
        state.fileName = folder + L"debug.log";
    }
}

void Names(std::wstring &fileName, std::wstring &hostName)
{
    LogState &state = State();
    std::lock_guard guard(state.mutex);
    EnsureNamesLocked(state);
    fileName = state.fileName;
    hostName = state.hostName;
}

std::wstring TimeText()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return FormatText(L"%02u:%02u:%02u:%03u", now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
}

// One open-append-close per line. Append-only access puts every write at the end of the
// file; the guard keeps the host's thread and a worker from overwriting each other's line
// where the system does not make such writes atomic (Wine does not).
void AppendLine(const std::wstring &fileName, const std::wstring &line)
{
    static std::mutex *appendMutex = new std::mutex();
    std::lock_guard guard(*appendMutex);
    const TOwnedHandle file(CreateFileW(fileName.c_str(), GENERIC_READ | FILE_APPEND_DATA,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return; // nowhere to write: the line is dropped
    }
    const std::string bytes = WideToUtf8(line + L"\r\n");
    DWORD written = 0;
    WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void WriteLogLine(std::wstring_view message)
{
    std::wstring fileName;
    std::wstring hostName;
    Names(fileName, hostName);
    std::wstring line = TimeText();
    line.append(L": (").append(hostName).append(L") ").append(message);
    AppendLine(fileName, line);
}

// A line that cannot be written is dropped: logging never becomes an error of its own.
template <class Body> void Quietly(Body &&body) noexcept
{
    try {
        body();
    } catch (...) {
    }
}

} // namespace

bool DebugLog::Enabled() noexcept
{
    int mode = gMode.load(std::memory_order_acquire);
    if (mode != static_cast<int>(Mode::Unknown)) {
        return mode == static_cast<int>(Mode::On);
    }
    bool on = false;
    Quietly([&] {
        TDebugModeSource source;
        {
            LogState &state = State();
            std::lock_guard guard(state.mutex);
            source = state.source;
        }
        on = RegistrySaysDebug(source.keyPath) || CommandLineSaysDebug(source.commandLine);
    });
    int expected = static_cast<int>(Mode::Unknown);
    gMode.compare_exchange_strong(expected, static_cast<int>(on ? Mode::On : Mode::Off));
    return gMode.load(std::memory_order_acquire) == static_cast<int>(Mode::On);
}

void DebugLog::Configure(bool enabled, const std::wstring &fileName)
{
    if (!fileName.empty()) {
        LogState &state = State();
        std::lock_guard guard(state.mutex);
        state.fileName = fileName;
    }
    gMode.store(static_cast<int>(enabled ? Mode::On : Mode::Off), std::memory_order_release);
}

void DebugLog::ResetForTesting(const TDebugModeSource &source, const std::wstring &fileName)
{
    {
        LogState &state = State();
        std::lock_guard guard(state.mutex);
        state.source = source;
        state.fileName = fileName;
    }
    gMode.store(static_cast<int>(Mode::Unknown), std::memory_order_release);
}

std::wstring DebugLog::FileName()
{
    std::wstring fileName;
    std::wstring hostName;
    Names(fileName, hostName);
    return fileName;
}

void DebugLog::Log(std::wstring_view message) noexcept
{
    if (!Enabled()) {
        return;
    }
    Quietly([&] { WriteLogLine(message); });
}

void DebugLog::Log(std::wstring_view prefix, std::wstring_view text) noexcept
{
    if (!Enabled()) {
        return;
    }
    Quietly([&] {
        std::wstring message(prefix);
        message.append(text);
        WriteLogLine(message);
    });
}

void DebugLog::LogFmt(const wchar_t *format, ...) noexcept
{
    if (!Enabled()) {
        return;
    }
    va_list args;
    va_start(args, format);
    Quietly([&] { WriteLogLine(FormatTextV(format, args)); });
    va_end(args);
}

void DebugLog::LogError(std::wstring_view message) noexcept
{
    if (!Enabled()) {
        return;
    }
    Quietly([&] {
        std::wstring fileName;
        std::wstring hostName;
        Names(fileName, hostName);
        std::wstring line = TimeText();
        line.append(L": ").append(message);
        AppendLine(fileName, line);
    });
}

void DebugLog::LogArguments(std::wstring_view key, std::wstring_view value, std::wstring_view data) noexcept
{
    if (!Enabled()) {
        return;
    }
    Log(L"AKey: ", key);
    Log(L"AValue: ", value);
    Log(L"AData: ", data);
}

void DebugLog::Failure(std::wstring_view className, std::wstring_view operation,
                       std::wstring_view message) noexcept
{
    if (!Enabled()) {
        return;
    }
    Quietly([&] {
        WriteLogLine(ClassNameForLog(className) + L" - " + std::wstring(operation) + L" - " +
                     std::wstring(message));
    });
}

std::wstring ClassNameForLog(std::wstring_view className)
{
    if (!className.empty() && className.front() == L'T') {
        className.remove_prefix(1);
    }
    return std::wstring(className);
}

} // namespace tidyhive

// The engine's debug log: "debug.log" beside the host executable, written only in debug
// mode. With debug mode off every call returns at once and formats nothing.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tidyhive {

// Where debug mode is read from. The defaults are the product's; tests point them at a key
// and a command line of their own.
struct TDebugModeSource {
    // Below HKEY_CURRENT_USER; its DWORD value "DebugMode" equal to 1 switches debug mode on.
    std::wstring keyPath = L"Software\\Quorvanta\\DebugMode";
    // Whole command line whose first parameter may be "-debug"; unset: the process's own.
    std::optional<std::wstring> commandLine;
};

// Every logging call is noexcept: a line that cannot be written is dropped.
class DebugLog {
public:
    // Debug mode is determined on first use and kept: the DWORD value "DebugMode" equal to 1,
    // else the host's first command-line parameter "-debug" (any case). A value of another
    // type, or another number, leaves the switch to decide.
    static bool Enabled() noexcept;
    // Overrides debug mode and, when fileName is not empty, the log file (for tests).
    static void Configure(bool enabled, const std::wstring &fileName = {});
    // Forgets the determination, so that the next call determines it afresh from source; the
    // log file becomes fileName, or the default beside the host executable when empty.
    static void ResetForTesting(const TDebugModeSource &source = {}, const std::wstring &fileName = {});
    // The log file's full name (the host executable's folder, then "debug.log").
    static std::wstring FileName();

    // "hh:nn:ss:zzz: (host.exe) message"
    static void Log(std::wstring_view message) noexcept;
    // As Log with prefix and text joined, only when enabled: trace lines such as "AKey: "
    // followed by a key cost nothing on the hot path with debug mode off.
    static void Log(std::wstring_view prefix, std::wstring_view text) noexcept;
    // As Log, formatting the message first (only when enabled).
    static void LogFmt(const wchar_t *format, ...) noexcept;
    // "hh:nn:ss:zzz: message"
    static void LogError(std::wstring_view message) noexcept;

    // The three argument lines of a validation trace: "AKey: ", "AValue: ", "AData: ".
    static void LogArguments(std::wstring_view key, std::wstring_view value, std::wstring_view data) noexcept;

    // Shorthand for the engine's failure lines: "<Class less T> - <operation> - <message>".
    static void Failure(std::wstring_view className, std::wstring_view operation,
                        std::wstring_view message) noexcept;
    static void Write(std::wstring_view message) noexcept { Log(message); }
};

// The class name as failure lines show it: without its leading "T".
std::wstring ClassNameForLog(std::wstring_view className);

} // namespace tidyhive

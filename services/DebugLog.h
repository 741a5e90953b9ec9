// The engine's debug log: "debug.log" beside the host executable, written only in debug
// mode. With debug mode off every call returns at once and formats nothing.
#pragma once

#include <string>
#include <string_view>

namespace tidyhive {

class DebugLog {
public:
    // Debug mode is determined on first use: the DWORD value "DebugMode" under
    // HKEY_CURRENT_USER\Software\Quorvanta\DebugMode equal to 1, else the host's first
    // command-line parameter "-debug".
    static bool Enabled();
    // Overrides debug mode and, when fileName is not empty, the log file (for tests).
    static void Configure(bool enabled, const std::wstring& fileName = {});
    // Forgets the determination, so that the next call determines it afresh (for tests).
    static void ResetForTesting();

    // "hh:nn:ss:zzz: (host.exe) message"
    static void Log(std::wstring_view message);
    // As Log, formatting the message first (only when enabled).
    static void LogFmt(const wchar_t* format, ...);
    // "hh:nn:ss:zzz: message"
    static void LogError(std::wstring_view message);

    // Shorthand for the engine's failure lines: "<Class less T> - <operation> - <message>".
    static void Failure(std::wstring_view className, std::wstring_view operation, std::wstring_view message);
    static void Write(std::wstring_view message) { Log(message); }
};

// The class name as failure lines show it: without its leading "T".
std::wstring ClassNameForLog(std::wstring_view className);

}  // namespace tidyhive

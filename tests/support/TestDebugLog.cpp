#include "tests/support/TestDebugLog.h"

#include "services/DebugLog.h"
#include "services/Text.h"

#include <windows.h>

#include <algorithm>

namespace tidyhive::testing {

TCapturedDebugLog::TCapturedDebugLog() : fileName_(folder_.Path() + L"debug.log")
{
    DebugLog::Configure(true, fileName_);
}

TCapturedDebugLog::~TCapturedDebugLog()
{
    DebugLog::ResetForTesting();
    DebugLog::Configure(false);
}

std::vector<std::wstring> TCapturedDebugLog::Messages() const
{
    std::vector<std::wstring> result;
    HANDLE file = CreateFileW(fileName_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return result;
    }
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    CloseHandle(file);
    const std::wstring text = Utf8ToWide(bytes);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        std::wstring line = text.substr(start, end - start);
        start = end + 2;
        // "hh:nn:ss:zzz: " then, for ordinary lines, "(host.exe) "
        if (line.size() >= 14) {
            line.erase(0, 14);
        }
        if (!line.empty() && line.front() == L'(') {
            const size_t close = line.find(L") ");
            if (close != std::wstring::npos) {
                line.erase(0, close + 2);
            }
        }
        result.push_back(std::move(line));
    }
    return result;
}

size_t TCapturedDebugLog::Count(std::wstring_view message) const
{
    const auto messages = Messages();
    return static_cast<size_t>(std::count(messages.begin(), messages.end(), message));
}

std::wstring TCapturedDebugLog::Text() const
{
    std::wstring text;
    for (const auto &message : Messages()) {
        text += message;
        text += L'\n';
    }
    return text;
}

} // namespace tidyhive::testing

// Debug-log lines written while a test runs, with their time and host prefixes removed.
#pragma once

#include "services/DebugLog.h"
#include "services/Text.h"
#include "tests/support/TestRegistry.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tidyhive::testing {

class TDebugLogCapture {
public:
    TDebugLogCapture() : file_(folder_.Path() + L"debug.log") { DebugLog::Configure(true, file_); }
    ~TDebugLogCapture() { DebugLog::ResetForTesting(); }
    TDebugLogCapture(const TDebugLogCapture &) = delete;
    TDebugLogCapture &operator=(const TDebugLogCapture &) = delete;

    std::vector<std::wstring> Lines() const
    {
        std::ifstream stream(file_.c_str(), std::ios::binary);
        std::stringstream content;
        content << stream.rdbuf();
        std::vector<std::wstring> lines;
        std::istringstream reader(content.str());
        std::string line;
        while (std::getline(reader, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            std::wstring text = Utf8ToWide(line);
            // "hh:nn:ss:zzz: " and, for ordinary lines, "(host.exe) ".
            if (text.size() >= 14) {
                text.erase(0, 14);
            }
            if (!text.empty() && text.front() == L'(') {
                const size_t close = text.find(L") ");
                if (close != std::wstring::npos) {
                    text.erase(0, close + 2);
                }
            }
            lines.push_back(text);
        }
        return lines;
    }
    bool Contains(const std::wstring &line) const
    {
        const std::vector<std::wstring> lines = Lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

private:
    TTestFolder folder_;
    std::wstring file_;
};

} // namespace tidyhive::testing

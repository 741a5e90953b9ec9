// Captures the engine's debug log for one test: debug mode on, lines into a file of the
// test's own; debug mode off again afterwards.
#pragma once

#include "tests/support/TestRegistry.h"

#include <string>
#include <string_view>
#include <vector>

namespace tidyhive::testing {

class TCapturedDebugLog {
public:
    TCapturedDebugLog();
    ~TCapturedDebugLog();
    TCapturedDebugLog(const TCapturedDebugLog &) = delete;
    TCapturedDebugLog &operator=(const TCapturedDebugLog &) = delete;

    // The messages written so far, without their time and host prefix.
    std::vector<std::wstring> Messages() const;
    size_t Count(std::wstring_view message) const;
    // The whole log, one message a line (for failure output).
    std::wstring Text() const;

private:
    TTestFolder folder_;
    std::wstring fileName_;
};

} // namespace tidyhive::testing

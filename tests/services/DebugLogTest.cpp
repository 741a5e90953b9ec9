// The debug log: when it is on, where it writes, the two line forms, and that it appends.
#include "services/DebugLog.h"
#include "services/Lock.h"
#include "services/Text.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace tidyhive {
namespace {

using testing::ReadWholeFile;

using testing::TTestFolder;
using testing::TTestKey;

bool FileExists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}


// Lines without their CR LF; a last piece without CR LF is kept as it is.
std::vector<std::string> SplitLines(const std::string &content)
{
    std::vector<std::string> lines;
    size_t begin = 0;
    for (size_t end = content.find("\r\n"); end != std::string::npos; end = content.find("\r\n", begin)) {
        lines.push_back(content.substr(begin, end - begin));
        begin = end + 2;
    }
    if (begin < content.size()) {
        lines.push_back(content.substr(begin));
    }
    return lines;
}

std::wstring ExecutableName()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text(path);
    return text.substr(text.find_last_of(L'\\') + 1);
}

class DebugLogTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        DebugLog::ResetForTesting();
        DebugLog::Configure(false);
    }

    std::wstring LogFile() const { return folder_.Path() + L"debug.log"; }

    TTestFolder folder_;
};

TEST_F(DebugLogTest, LinesHaveTheTraceAndErrorForms)
{
    DebugLog::Configure(true, LogFile());
    DebugLog::Log(L"plain trace");
    DebugLog::LogFmt(L"%s - KeyExists - %s", L"RegistryUtility", L"Access denied");
    DebugLog::Log(L"AKey: ", L"HKEY_CURRENT_USER\\Software");
    DebugLog::LogError(L"an error line");
    DebugLog::Failure(L"TRegistryUtility", L"CleanupKey", L"gone");
    DebugLog::LogArguments(L"K", L"V", L"D");

    const std::string content = ReadWholeFile(LogFile());
    ASSERT_GE(content.size(), 2u) << "nothing written";
    EXPECT_EQ(content.substr(content.size() - 2), "\r\n") << content;
    const std::vector<std::string> lines = SplitLines(content);
    const std::string host = std::regex_replace(WideToUtf8(ExecutableName()), std::regex(R"([.])"), R"(\.)");
    const std::string time = R"(\d{2}:\d{2}:\d{2}:\d{3})";
    const std::vector<std::string> expected = {
        time + ": \\(" + host + "\\) plain trace",
        time + ": \\(" + host + "\\) RegistryUtility - KeyExists - Access denied",
        time + ": \\(" + host + "\\) AKey: HKEY_CURRENT_USER\\\\Software",
        time + ": an error line",
        time + ": \\(" + host + "\\) RegistryUtility - CleanupKey - gone",
        time + ": \\(" + host + "\\) AKey: K",
        time + ": \\(" + host + "\\) AValue: V",
        time + ": \\(" + host + "\\) AData: D",
    };
    ASSERT_EQ(lines.size(), expected.size()) << content;
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(std::regex_match(lines[i], std::regex(expected[i])))
            << "line " << i << ": \"" << lines[i] << "\" does not match " << expected[i];
    }
}

TEST_F(DebugLogTest, DebugModeComesFromAnIntegerOneOrTheSwitch)
{
    enum class Value { None, Dword0, Dword1, Dword2, String1 };
    struct Case {
        Value value;
        const wchar_t *commandLine;
        bool expected;
    };
    const Case cases[] = {
        {Value::None, L"host.exe", false},
        {Value::None, L"host.exe -debug", true},
        {Value::None, L"\"C:\\Program Files\\host.exe\" -DEBUG", true},
        {Value::None, L"host.exe /scan -debug", false}, // only the first parameter counts
        {Value::None, L"host.exe -debugging", false},
        {Value::Dword1, L"host.exe", true},
        {Value::Dword0, L"host.exe", false},
        {Value::Dword0, L"host.exe -debug", true}, // a 0 leaves the switch effective
        {Value::Dword2, L"host.exe", false},
        {Value::String1, L"host.exe", false}, // only an integer 1 counts
        {Value::String1, L"host.exe -Debug", true},
    };
    for (const Case &c : cases) {
        TTestKey key(L"DebugMode");
        switch (c.value) {
        case Value::None:
            break;
        case Value::Dword0:
            key.SetDword(L"", L"DebugMode", 0);
            break;
        case Value::Dword1:
            key.SetDword(L"", L"DebugMode", 1);
            break;
        case Value::Dword2:
            key.SetDword(L"", L"DebugMode", 2);
            break;
        case Value::String1:
            key.SetString(L"", L"DebugMode", L"1");
            break;
        }
        const std::wstring file = folder_.Path() + L"case.log";
        DeleteFileW(file.c_str());
        DebugLog::ResetForTesting({key.SubPath(), c.commandLine}, file);
        for (int i = 0; i < 50; ++i) {
            DebugLog::Log(L"line");
            DebugLog::LogError(L"error");
            DebugLog::LogFmt(L"%d", i);
        }
        const std::string label = "value case " + std::to_string(static_cast<int>(c.value)) +
                                  ", command line \"" +
                                  std::string(c.commandLine, c.commandLine + wcslen(c.commandLine)) + "\"";
        EXPECT_EQ(DebugLog::Enabled(), c.expected) << label;
        EXPECT_EQ(FileExists(file), c.expected) << label;
        if (c.expected) {
            EXPECT_EQ(SplitLines(ReadWholeFile(file)).size(), 150u) << label;
        }
    }
}

TEST_F(DebugLogTest, ModeIsDeterminedOnceAndKept)
{
    TTestKey key(L"DebugMode");
    DebugLog::ResetForTesting({key.SubPath(), L"host.exe"}, LogFile());
    EXPECT_FALSE(DebugLog::Enabled());
    key.SetDword(L"", L"DebugMode", 1);
    DebugLog::Log(L"still off");
    EXPECT_FALSE(DebugLog::Enabled());
    EXPECT_FALSE(FileExists(LogFile()));
}

TEST_F(DebugLogTest, ExistingLogIsAppendedToNeverTruncated)
{
    folder_.AddFile(L"debug.log", "earlier run\r\n");
    DebugLog::Configure(true, LogFile());
    DebugLog::Log(L"first");
    DebugLog::LogError(L"second");
    const std::vector<std::string> lines = SplitLines(ReadWholeFile(LogFile()));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "earlier run");
    EXPECT_NE(lines[1].find("first"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("second"), std::string::npos) << lines[2];
}

TEST_F(DebugLogTest, LinesFromTwoThreadsAreAllKeptWhole)
{
    DebugLog::Configure(true, LogFile());
    constexpr int kLines = 200;
    auto writer = [](const wchar_t *name) {
        for (int i = 0; i < kLines; ++i) {
            DebugLog::LogFmt(L"%s line %03d with some padding to make it longer", name, i);
        }
    };
    std::thread first(writer, L"first");
    std::thread second(writer, L"second");
    first.join();
    second.join();
    const std::vector<std::string> lines = SplitLines(ReadWholeFile(LogFile()));
    EXPECT_EQ(lines.size(), 2u * kLines);
    const std::regex whole(
        R"(\d{2}:\d{2}:\d{2}:\d{3}: \(.+\) (first|second) line \d{3} with some padding to make it longer)");
    for (const std::string &line : lines) {
        EXPECT_TRUE(std::regex_match(line, whole)) << "damaged line: " << line;
    }
}

TEST_F(DebugLogTest, TextOutsideTheCodePageSurvives)
{
    DebugLog::Configure(true, LogFile());
    DebugLog::Log(L"Schl\u00fcssel \u0416 \u4e2d");
    const std::string content = ReadWholeFile(LogFile());
    EXPECT_NE(content.find("Schl\xc3\xbcssel \xd0\x96 \xe4\xb8\xad"), std::string::npos) << content;
}

TEST_F(DebugLogTest, DefaultFileIsBesideTheHostExecutable)
{
    DebugLog::ResetForTesting();
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    folder.resize(folder.find_last_of(L'\\') + 1);
    EXPECT_EQ(DebugLog::FileName(), folder + L"debug.log");
}

// A real host: the log lands beside the executable that runs, named after it, only with the switch.
TEST_F(DebugLogTest, HostProcessWritesBesideItsExecutableOnlyWithTheSwitch)
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring probe(path);
    probe.resize(probe.find_last_of(L'\\') + 1);
    probe += L"debug_log_probe.exe";
    const std::wstring copy = folder_.Path() + L"debug_log_probe.exe";
    ASSERT_TRUE(CopyFileW(probe.c_str(), copy.c_str(), FALSE))
        << "cannot copy the probe, error " << GetLastError();

    auto run = [&](const std::wstring &arguments) -> DWORD {
        std::wstring commandLine = L"\"" + copy + L"\"" + arguments;
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(copy.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            folder_.Path().c_str(), &startup, &process)) {
            return 0xFFFFFFFF;
        }
        WaitForSingleObject(process.hProcess, 30000);
        DWORD code = 0xFFFFFFFE;
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return code;
    };

    EXPECT_EQ(run(L""), 0u);
    EXPECT_FALSE(FileExists(LogFile())) << "a log was written without debug mode";

    EXPECT_EQ(run(L" -Debug"), 1u);
    const std::vector<std::string> lines = SplitLines(ReadWholeFile(LogFile()));
    ASSERT_EQ(lines.size(), 3u) << ReadWholeFile(LogFile());
    const std::string time = R"(\d{2}:\d{2}:\d{2}:\d{3})";
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(time + R"(: \(debug_log_probe\.exe\) Probe trace)")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(time + R"(: Probe error)"))) << lines[1];
    EXPECT_TRUE(std::regex_match(
        lines[2], std::regex(time + R"(: \(debug_log_probe\.exe\) Call to Unlock without previous Lock)")))
        << lines[2];
}

TEST_F(DebugLogTest, UnlockWithoutLockIsLoggedAndHarmless)
{
    DebugLog::Configure(true, LogFile());
    TLock lock;
    lock.Unlock();
    lock.Lock();
    lock.Lock();
    EXPECT_EQ(lock.Count(), 2);
    // Another thread cannot release what this one holds.
    std::thread other([&] { lock.Unlock(); });
    other.join();
    EXPECT_EQ(lock.Count(), 2);
    lock.Unlock();
    lock.Unlock();
    lock.Unlock(); // one too many
    EXPECT_EQ(lock.Count(), 0);
    // The section is free again: another thread can take it.
    bool taken = false;
    std::thread taker([&] {
        lock.Lock();
        taken = true;
        lock.Unlock();
    });
    taker.join();
    EXPECT_TRUE(taken);

    const std::vector<std::string> lines = SplitLines(ReadWholeFile(LogFile()));
    ASSERT_EQ(lines.size(), 3u) << ReadWholeFile(LogFile());
    for (const std::string &line : lines) {
        EXPECT_NE(line.find(") Call to Unlock without previous Lock"), std::string::npos) << line;
    }
}

} // namespace
} // namespace tidyhive

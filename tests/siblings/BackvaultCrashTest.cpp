// A program that dies in the middle of a session leaves a session that undoes everything
// it changed: each change is on disk before it is made. The changes come from a child
// process (backvault_crash_probe) that kills itself or is killed at some point.
#include "tests/support/BackvaultTesting.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

namespace tidyhive::testing {
namespace {

constexpr unsigned kValues = 6;

// A running probe with its standard output on a pipe.
class TProbe {
public:
    TProbe(const std::wstring &storage, const TTestKey &key, const std::wstring &file, const wchar_t *mode)
    {
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        HANDLE write = nullptr;
        if (!CreatePipe(&read_, &write, &inherit, 0)) {
            throw std::runtime_error("cannot create a pipe");
        }
        SetHandleInformation(read_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = write;
        startup.hStdError = write;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        std::wstring line = L"\"" + ExecutableFolder() + L"backvault_crash_probe.exe\" \"" + storage +
                            L"\" \"" + key.SubPath() + L"\" \"" + file + L"\" " + std::to_wstring(kValues) +
                            L" " + mode;
        const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                            &startup, &process_);
        CloseHandle(write);
        if (!started) {
            throw std::runtime_error("cannot start backvault_crash_probe.exe");
        }
    }
    ~TProbe()
    {
        Kill();
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
        CloseHandle(read_);
    }
    TProbe(const TProbe &) = delete;
    TProbe &operator=(const TProbe &) = delete;

    // The next line of output; empty at the end.
    std::string Line()
    {
        for (;;) {
            const size_t end = buffer_.find('\n');
            if (end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            char chunk[256];
            DWORD got = 0;
            if (!ReadFile(read_, chunk, sizeof(chunk), &got, nullptr) || got == 0) {
                std::string rest = buffer_;
                buffer_.clear();
                return rest;
            }
            buffer_.append(chunk, got);
        }
    }
    void Kill()
    {
        TerminateProcess(process_.hProcess, 99);
        WaitForSingleObject(process_.hProcess, 30000);
    }
    DWORD ExitCode()
    {
        WaitForSingleObject(process_.hProcess, 30000);
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

private:
    PROCESS_INFORMATION process_ = {};
    HANDLE read_ = nullptr;
    std::string buffer_;
};

struct TFixture {
    TTestFolder storage;
    TTestFolder files;
    TTestKey key{L"Crash", true};
    std::wstring file;
    std::wstring treeBefore;
    std::vector<uint8_t> fileBefore;

    TFixture()
    {
        for (unsigned index = 0; index < kValues; ++index) {
            if (index % 2) {
                key.SetDword({}, L"v" + std::to_wstring(index), index * 1000);
            } else {
                key.SetString({}, L"v" + std::to_wstring(index), L"original " + std::to_wstring(index));
            }
        }
        key.SetString(L"Sub", L"", L"untouched subkey");
        treeBefore = DumpTree(HKEY_CURRENT_USER, key.SubPath(), KEY_WOW64_64KEY);
        file = files.AddFile(L"Dead link.lnk", std::string("L\0\0\0shortcut", 12));
        fileBefore = ReadFileBytes(file);
    }
    std::wstring Storage() const { return storage.Path() + L"Sessions"; }
};

std::wstring SessionId(TProbe &probe)
{
    const std::string line = probe.Line();
    if (line.rfind("session ", 0) != 0) {
        return {};
    }
    std::string id = line.substr(8);
    while (!id.empty() && (id.back() == '\r' || id.back() == ' ')) {
        id.pop_back();
    }
    return std::wstring(id.begin(), id.end());
}

void ExpectRestoredCompletely(const TFixture &fixture, const std::wstring &id)
{
    TBackvaultInstance backvault(fixture.Storage());
    BackvaultSessionInfo info = {};
    ASSERT_EQ(backvault->FindSession(id.c_str(), &info), S_OK) << backvault.LastError();
    EXPECT_FALSE(info.complete) << "the probe never ended its session";
    EXPECT_FALSE(info.damaged) << std::wstring(info.title);
    EXPECT_GT(info.changes, 0);
    ClearSessionInfo(info);
    std::wstring report;
    EXPECT_EQ(backvault.Restore(id, false, report), S_OK) << report;
    EXPECT_NE(report.find(L"not closed normally"), std::wstring::npos) << report;
    EXPECT_EQ(DumpTree(HKEY_CURRENT_USER, fixture.key.SubPath(), KEY_WOW64_64KEY), fixture.treeBefore)
        << report;
    EXPECT_EQ(ReadFileBytes(fixture.file), fixture.fileBefore) << report;
    EXPECT_EQ(backvault.Restore(id, false, report), S_OK) << report;
    EXPECT_NE(report.find(L"Restored: 0,"), std::wstring::npos) << report;
}

TEST(BackvaultCrash, ProgramThatKillsItselfAfterItsChangesLeavesAFullUndo)
{
    TFixture fixture;
    std::wstring id;
    {
        TProbe probe(fixture.Storage(), fixture.key, fixture.file, L"exit");
        id = SessionId(probe);
        ASSERT_FALSE(id.empty());
        std::string line;
        while (!(line = probe.Line()).empty() && line.rfind("done", 0) != 0) {
        }
        EXPECT_EQ(line.substr(0, 7), "done 19") << line;
        EXPECT_EQ(probe.ExitCode(), 9u);
    }
    EXPECT_NE(DumpTree(HKEY_CURRENT_USER, fixture.key.SubPath(), KEY_WOW64_64KEY), fixture.treeBefore);
    EXPECT_EQ(GetFileAttributesW(fixture.file.c_str()), INVALID_FILE_ATTRIBUTES);
    ExpectRestoredCompletely(fixture, id);
}

class BackvaultKilled : public ::testing::TestWithParam<unsigned> {};

TEST_P(BackvaultKilled, ProgramKilledInTheMiddleLeavesAFullUndo)
{
    const unsigned killAfter = GetParam();
    TFixture fixture;
    std::wstring id;
    {
        TProbe probe(fixture.Storage(), fixture.key, fixture.file, L"run");
        id = SessionId(probe);
        ASSERT_FALSE(id.empty());
        // The probe goes on changing while the kill is on its way: it lands anywhere.
        const std::string wanted = "changed " + std::to_string(killAfter);
        std::string line;
        while (!(line = probe.Line()).empty() && line.rfind(wanted, 0) != 0) {
        }
        ASSERT_EQ(line.substr(0, wanted.size()), wanted);
        probe.Kill();
    }
    ExpectRestoredCompletely(fixture, id);
}

INSTANTIATE_TEST_SUITE_P(AfterChanges, BackvaultKilled, ::testing::Values(1u, 2u, 9u, 26u, 80u));

} // namespace
} // namespace tidyhive::testing

// The host's session commands, run as a user runs them: tidyhive.exe sessions, restore and
// export, on a session in the default storage folder that the test removes afterwards.
#include "tests/support/BackvaultTesting.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

namespace tidyhive::testing {
namespace {

std::wstring Host(const std::wstring &arguments, int &code)
{
    std::string output;
    code = RunCaptured(L"\"" + ExecutableFolder() + L"tidyhive.exe\" " + arguments, output);
    return FromUtf8(output);
}

// A session of its own in the default storage, deleted when the test ends.
class TDefaultSession {
public:
    explicit TDefaultSession(TBackvaultInstance &backvault) : backvault_(backvault) {}
    ~TDefaultSession()
    {
        if (!id.empty()) {
            backvault_->DeleteSession(id.c_str());
        }
    }
    TDefaultSession(const TDefaultSession &) = delete;
    TDefaultSession &operator=(const TDefaultSession &) = delete;
    std::wstring id;

private:
    TBackvaultInstance &backvault_;
};

TEST(HostSessionCommands, ListRestoreAndExportASession)
{
    TBackvaultInstance backvault; // the default storage, as the host uses it
    TTestKey key(L"HostCommand", true);
    key.SetString({}, L"Removed", L"original");
    key.SetString({}, L"Edited", L"original too");
    TDefaultSession session(backvault);
    session.id = backvault.Begin(L"Registry Cleaner: Removed 2 records from the registry");
    ASSERT_FALSE(session.id.empty()) << backvault.LastError();
    HKEY handle = nullptr;
    ASSERT_EQ(backvault.reg()->RegOpenKeyEx(HKEY_CURRENT_USER, key.SubPath().c_str(), 0,
                                            KEY_ALL_ACCESS | KEY_WOW64_64KEY, &handle),
              ERROR_SUCCESS);
    backvault.reg()->RegDeleteValue(handle, L"Removed");
    backvault.reg()->RegDeleteValue(handle, L"Edited");
    backvault.reg()->RegCloseKey(handle);
    ASSERT_EQ(backvault->EndSession(TRUE), 1);
    key.SetString({}, L"Edited", L"the user's");

    int code = 0;
    std::wstring output = Host(L"sessions", code);
    EXPECT_EQ(code, 0) << output;
    EXPECT_NE(output.find(L"ID\tStarted\tFinished\tChanges\tState\tTitle"), std::wstring::npos) << output;
    EXPECT_NE(output.find(session.id + L"\t"), std::wstring::npos) << output;
    EXPECT_NE(output.find(L"\t2\tcomplete\tRegistry Cleaner: Removed 2 records from the registry"),
              std::wstring::npos)
        << output;

    TTestFolder folder;
    const std::wstring file = folder.Path() + L"session.reg";
    output = Host(L"export " + session.id + L" \"" + file + L"\"", code);
    EXPECT_EQ(code, 0) << output;
    EXPECT_NE(output.find(L"Exported session " + session.id), std::wstring::npos) << output;
    const std::vector<uint8_t> bytes = ReadFileBytes(file);
    const std::wstring text(reinterpret_cast<const wchar_t *>(bytes.data()), bytes.size() / 2);
    EXPECT_NE(text.find(L"\"Removed\"=\"original\""), std::wstring::npos) << text;

    output = Host(L"restore " + session.id, code);
    EXPECT_EQ(code, 3) << output;
    EXPECT_NE(output.find(L"Restored the value \"Removed\""), std::wstring::npos) << output;
    EXPECT_NE(output.find(L"Conflict: value \"Edited\""), std::wstring::npos) << output;
    EXPECT_TRUE(key.ValueExists({}, L"Removed"));

    output = Host(L"restore " + session.id + L" --overwrite", code);
    EXPECT_EQ(code, 0) << output;
    output = Host(L"restore " + session.id, code);
    EXPECT_EQ(code, 0) << output;
    EXPECT_NE(output.find(L"Restored: 0,"), std::wstring::npos) << output;
}

TEST(HostSessionCommands, BadInputIsRefusedWithAReason)
{
    struct TCase {
        const wchar_t *arguments;
        int code;
        const wchar_t *message;
    };
    const TCase cases[] = {
        {L"restore", 2, L"which session?"},
        {L"restore 20240101-000000-abcd --force", 2, L"unexpected argument '--force'"},
        {L"restore 20240101-000000-abcd", 1, L"There is no session 20240101-000000-abcd"},
        {L"restore ..\\..\\x", 1, L"is not a session identifier"},
        {L"export 20240101-000000-abcd", 2, L"usage: tidyhive export ID FILE"},
        {L"export 20240101-000000-abcd C:\\x.reg", 1, L"There is no session"},
        {L"sessions extra", 2, L"unexpected argument 'extra'"},
    };
    for (const TCase &item : cases) {
        int code = 0;
        const std::wstring output = Host(item.arguments, code);
        EXPECT_EQ(code, item.code) << std::wstring(item.arguments) << L"\n" << output;
        EXPECT_NE(output.find(item.message), std::wstring::npos) << std::wstring(item.arguments) << L"\n"
                                                                 << output;
    }
    int code = 0;
    const std::wstring help = Host(L"--help", code);
    EXPECT_NE(help.find(L"restore ID [--overwrite]"), std::wstring::npos) << help;
    EXPECT_NE(help.find(L"export ID FILE"), std::wstring::npos) << help;
}

} // namespace
} // namespace tidyhive::testing

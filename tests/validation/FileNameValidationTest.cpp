// The file and folder reference checks on real command lines: a table of data texts with
// the verdict each check must give, against files of the test's own, the Windows folder,
// the search path, the registry and both program folders.
#include "validation/FileNameValidationAlgorithm.h"

#include "scan/DetectedProblemKeys.h"
#include "services/Text.h"
#include "tests/support/TestRegistry.h"
#include "tests/validation/FileCheckTesting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

namespace tidyhive {
namespace {

using testing::NewGuidText;
using testing::TOwnFolder;
using testing::TTestFolder;
using testing::TTestKey;
using testing::TTestOptions;

enum class TCheck { File, Folder, Command, FileOrFolder };

const char* CheckName(TCheck check)
{
    switch (check) {
    case TCheck::File:
        return "file";
    case TCheck::Folder:
        return "folder";
    case TCheck::Command:
        return "command";
    case TCheck::FileOrFolder:
        return "file-or-folder";
    }
    return "?";
}

struct TCase {
    TCheck check;
    std::wstring data;
    bool valid;
    const char* why;
};

std::unique_ptr<TFileNameValidationAlgorithm> MakeCheck(TCheck check, TRegistryCleanerOptions& options)
{
    switch (check) {
    case TCheck::File:
        return std::make_unique<TFileNameValidationAlgorithm>(options);
    case TCheck::Folder:
        return std::make_unique<TFolderNameValidationAlgorithm>(options);
    case TCheck::Command:
        return std::make_unique<TCommandValidationAlgorithm>(options);
    case TCheck::FileOrFolder:
        return std::make_unique<TFileOrFolderNameValidationAlgorithm>(options);
    }
    return nullptr;
}

// Runs every row through a fresh check of its kind; each failing row names its input.
void ExpectVerdicts(const std::vector<TCase>& cases, TRegistryCleanerOptions& options,
                    const std::function<void(TFileNameValidationAlgorithm&)>& prepare = {})
{
    for (const TCase& row : cases) {
        auto check = MakeCheck(row.check, options);
        if (prepare) {
            prepare(*check);
        }
        const bool verdict = check->IsValid(L"HKEY_CURRENT_USER\\Software\\Test", L"Value", row.data);
        EXPECT_EQ(verdict, row.valid) << CheckName(row.check) << " check of [" << WideToUtf8(row.data)
                                      << "] answered " << (verdict ? "valid" : "invalid") << "; " << row.why;
    }
}

class FileNameValidationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = folder.Path();
        app = folder.AddFile(L"App Dir\\app.exe");
        library = folder.AddFile(L"lib.dll");
        CreateDirectoryW((root + L"Empty Folder").c_str(), nullptr);
    }

    TTestOptions options;
    TTestFolder folder;
    std::wstring root;  // with a trailing backslash
    std::wstring app;
    std::wstring library;
};

TEST_F(FileNameValidationTest, CommandLinesOfEveryShape)
{
    const std::wstring missing = L"tidyhive-missing-" + NewGuidText();
    const std::wstring longArguments(300, L'x');
    const std::vector<TCase> cases = {
        // Plain, quoted and unquoted paths with spaces and arguments.
        {TCheck::File, app, true, "existing file"},
        {TCheck::File, L"\"" + app + L"\" -min", true, "quoted program with an argument"},
        {TCheck::File, app + L" -min /x", true, "unquoted program with spaces, found at a blank"},
        {TCheck::File, root + L"App Dir\\missing.exe", false, "missing file in an existing folder"},
        {TCheck::File, root + L"Missing Dir\\app.exe", false, "file in a missing folder"},
        {TCheck::File, L"\"" + root + L"App Dir\\missing.exe\" -min", false, "quoted missing program"},
        {TCheck::File, library + L",EntryPoint", true, "library with an entry point, found at the comma"},
        // Not judged by the file check.
        {TCheck::File, L"rundll32.exe " + root + L"missing.dll,Entry", true, "rundll32 lines are not judged"},
        {TCheck::File, L"RunDll32 " + root + L"missing.dll,Entry", true, "rundll32 in any case"},
        {TCheck::File, root + L"missing.exe \"%1\"", true, "document verbs are not judged"},
        {TCheck::File, L"\\\\server\\share\\tool.exe", true, "UNC path: a network drive is not scanned"},
        {TCheck::File, L"\"\\\\server\\share\\tool.exe\" /x", true, "quoted UNC path with an argument"},
        // Environment variables.
        {TCheck::File, L"%windir%\\notepad.exe", true, "%windir% expanded"},
        {TCheck::File, L"%SystemRoot%\\system32\\cmd.exe /k", true, "%SystemRoot% expanded, argument"},
        {TCheck::File, L"%windir%\\" + missing + L".exe", false, "expanded, but missing"},
        {TCheck::File, L"%windir%\\notepad.exe " + longArguments, true, "expands past 259 characters"},
        // Bare names.
        {TCheck::File, L"notepad.exe", true, "bare name in the Windows folder"},
        {TCheck::File, L"notepad", true, "bare name, .exe added"},
        {TCheck::File, missing + L".exe", false, "bare name found nowhere"},
        // Empty data.
        {TCheck::File, L"", true, "empty data refers to nothing"},
        {TCheck::File, L"   ", true, "blank data refers to nothing"},

        {TCheck::Command, app, true, "existing program"},
        {TCheck::Command, L"\"" + app + L"\" -min", true, "quoted program with an argument"},
        {TCheck::Command, L"\"" + app + L"\" \"%1\"", true, "quoted program, quoted placeholder"},
        {TCheck::Command, L"\"" + app + L"\" /open %1", true, "quoted program, bare placeholder"},
        {TCheck::Command, app + L" -min /x", true, "unquoted program with spaces and arguments"},
        {TCheck::Command, app + L",Entry", true, "program cut at a comma"},
        {TCheck::Command, L"\"" + root + L"App Dir\\missing.exe\" -min", false, "quoted missing program"},
        {TCheck::Command, root + L"App Dir\\missing.exe -min", false, "unquoted missing program"},
        {TCheck::Command, root + L"missing.exe", false, "missing program in an existing folder"},
        {TCheck::Command, L"\"" + app, false, "quote never closed"},
        {TCheck::Command, L"cmd.exe /c exit", true, "relative name on the search path"},
        {TCheck::Command, L"cmd /c exit", true, "relative name, extension from PATHEXT"},
        {TCheck::Command, L"notepad.exe " + root + L"readme.txt", true, "notepad from the search path"},
        {TCheck::Command, L"rundll32.exe shell32.dll,Control_RunDLL", true, "rundll32 form"},
        {TCheck::Command, L"rundll32 " + root + L"missing.dll,Entry", true,
         "rundll32 exists; its library is an argument"},
        {TCheck::Command, L"msiexec /i " + root + L"setup.msi", true, "msiexec install form"},
        {TCheck::Command, L"MsiExec.exe /X{11111111-2222-3333-4444-555555555555}", true,
         "msiexec remove form"},
        {TCheck::Command, L"%windir%\\notepad.exe", true, "%windir% expanded"},
        {TCheck::Command, L"\"%SystemRoot%\\system32\\cmd.exe\" /k", true, "quoted %SystemRoot%"},
        {TCheck::Command, L"%ProgramFiles%\\" + missing + L"\\x.exe", false,
         "%ProgramFiles% expanded, missing"},
        {TCheck::Command, L"%windir%\\notepad.exe " + longArguments, true, "expands past 259 characters"},
        {TCheck::Command, L"\\\\server\\share\\tool.exe /x", true, "UNC program: not scanned"},
        {TCheck::Command, missing + L" /x", false, "bare name found nowhere"},
        {TCheck::Command, L"", true, "empty data refers to nothing"},

        {TCheck::Folder, root, true, "existing folder"},
        {TCheck::Folder, root + L"Empty Folder", true, "existing folder without a backslash"},
        {TCheck::Folder, root + L"Missing Folder", false, "missing folder"},
        {TCheck::Folder, app, false, "a file is not a folder"},
        {TCheck::Folder, L"%windir%\\system32", true, "expanded folder"},
        {TCheck::Folder, L"%TEMP%\\" + missing, false, "expanded, missing"},
        {TCheck::Folder, L"relative\\folder", true, "no drive letter: not judged"},
        {TCheck::Folder, L"\\\\server\\share\\folder", true, "UNC folder: no full path"},
        {TCheck::Folder, L"", true, "empty data refers to nothing"},

        {TCheck::FileOrFolder, app, true, "existing file"},
        {TCheck::FileOrFolder, root + L"Empty Folder", true, "existing folder"},
        {TCheck::FileOrFolder, L"\"" + app + L"\" -min", true, "quoted file with an argument"},
        {TCheck::FileOrFolder, root + L"missing.txt", false, "missing file in an existing folder"},
        {TCheck::FileOrFolder, root + L"missing.txt;" + app, true, "several paths are not judged"},
        {TCheck::FileOrFolder, L"plain words", true, "no full path: not judged"},
        {TCheck::FileOrFolder, L"", true, "empty data refers to nothing"},
    };
    ExpectVerdicts(cases, options.Get());
}

TEST_F(FileNameValidationTest, RegisteredNamesAreValidWithArguments)
{
    const TTestKey appPath(L"tidyapp", false, HKEY_LOCAL_MACHINE,
                           L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths");
    const std::wstring name = appPath.SubPath().substr(appPath.SubPath().rfind(L'\\') + 1);
    const std::vector<TCase> cases = {
        {TCheck::Command, name + L" /minimized", true, "registered under App Paths, with an argument"},
        {TCheck::Command, name, true, "registered under App Paths"},
        {TCheck::File, name + L" /minimized", true, "registered under App Paths, found by name"},
        {TCheck::Command, L"x" + name + L" /minimized", false, "a name that is not registered"},
    };
    ExpectVerdicts(cases, options.Get());
}

// Drives are faked by letter; every other letter keeps its real type (Z: is the host's root,
// a fixed drive that is no Windows disk, and is judged like any fixed drive).
UINT FakeDriveType(const std::wstring& root)
{
    if (SameText(root, L"Q:\\")) {
        return DRIVE_CDROM;
    }
    if (SameText(root, L"R:\\")) {
        return DRIVE_REMOVABLE;
    }
    if (SameText(root, L"N:\\")) {
        return DRIVE_REMOTE;
    }
    if (SameText(root, L"M:\\")) {
        return DRIVE_RAMDISK;
    }
    return GetDriveTypeW(root.c_str());
}

TEST_F(FileNameValidationTest, DriveTypesAndTheirOptions)
{
    const auto fake = [](TFileNameValidationAlgorithm& check) { check.SetDriveTypeQuery(FakeDriveType); };
    // Options off: CD and removable references are not judged; nothing is touched.
    const std::vector<TCase> unscanned = {
        {TCheck::File, L"Q:\\setup.exe", true, "CD drive, option off"},
        {TCheck::File, L"\"Q:\\setup.exe\" /auto", true, "quoted CD program with an argument, option off"},
        {TCheck::Command, L"\"Q:\\setup.exe\" /auto", true, "CD command, option off"},
        {TCheck::File, L"R:\\tool.exe", true, "removable drive, option off"},
        {TCheck::Command, L"R:\\tool.exe -x", true, "removable command, option off"},
        {TCheck::Folder, L"R:\\Photos", true, "removable folder, option off"},
        {TCheck::FileOrFolder, L"Q:\\readme.txt", true, "CD file, option off"},
        {TCheck::File, L"N:\\share\\tool.exe", true, "network drive is never scanned"},
        {TCheck::Command, L"N:\\share\\tool.exe /x", true, "network drive is never scanned"},
        {TCheck::File, L"M:\\cache\\tool.exe", true, "RAM disk is never scanned"},
        {TCheck::File, L"Z:\\" + NewGuidText() + L"\\tool.exe", false, "Z: is a fixed drive: judged"},
    };
    ExpectVerdicts(unscanned, options.Get(), fake);

    // Options on: the drives are judged, and with no disc the files are missing.
    options.Set(kOptionScanCDDriveReferences, true);
    options.Set(kOptionScanRemovableMediaReferences, true);
    const std::vector<TCase> scanned = {
        {TCheck::File, L"Q:\\setup.exe", false, "CD drive without a disc, option on"},
        {TCheck::File, L"\"Q:\\setup.exe\" /auto", false, "quoted CD program, option on"},
        {TCheck::Command, L"\"Q:\\setup.exe\" /auto", false, "CD command, option on"},
        {TCheck::File, L"R:\\tool.exe", false, "removable drive without a card, option on"},
        {TCheck::Folder, L"R:\\Photos", false, "removable folder, option on"},
        {TCheck::File, L"N:\\share\\tool.exe", true, "network drive is never scanned"},
    };
    ExpectVerdicts(scanned, options.Get(), fake);
}

TEST_F(FileNameValidationTest, OptionChangesReachExistingChecks)
{
    TFileNameValidationAlgorithm check(options.Get());
    check.SetDriveTypeQuery(FakeDriveType);
    EXPECT_TRUE(check.IsValid(L"HKEY_CURRENT_USER\\X", L"V", L"Q:\\setup.exe"));
    options.Set(kOptionScanCDDriveReferences, true);
    EXPECT_TRUE(check.GetScanCDDriveReferences());
    EXPECT_FALSE(check.IsValid(L"HKEY_CURRENT_USER\\X", L"V", L"Q:\\setup.exe"));
    options.Set(kOptionScanCDDriveReferences, false);
    EXPECT_TRUE(check.IsValid(L"HKEY_CURRENT_USER\\X", L"V", L"Q:\\setup.exe"));

    void* listener = nullptr;
    ASSERT_EQ(check.QueryInterface(IID_IFileNameValidator, &listener), S_OK);
    EXPECT_EQ(listener, static_cast<IFileNameValidator*>(&check));
    void* algorithm = nullptr;
    ASSERT_EQ(check.QueryInterface(IID_IValidationAlgorithm, &algorithm), S_OK);
    EXPECT_EQ(algorithm, static_cast<IValidationAlgorithm*>(&check));
}

TEST_F(FileNameValidationTest, ExistenceTestsLeaveTheErrorModeAsItWas)
{
    TFileNameValidationAlgorithm check(options.Get());
    const DWORD before = GetThreadErrorMode();
    EXPECT_FALSE(check.ExistsFile(root + L"missing.exe"));
    EXPECT_TRUE(check.ExistsFolder(root + L"Empty Folder"));
    EXPECT_EQ(GetThreadErrorMode(), before);
}

// Files present in only one of the two program folders: the check's file-system view
// decides which folder %ProgramFiles% names.
TEST_F(FileNameValidationTest, ProgramFoldersOfBothViews)
{
    const std::wstring folder64 = EnvironmentValue(L"ProgramW6432");
    const std::wstring folder32 = EnvironmentValue(L"ProgramFiles(x86)");
    if (folder64.empty() || folder32.empty()) {
        GTEST_SKIP() << "not a 64-bit system: one program folder only";
    }
    const TOwnFolder own64(folder64);
    const TOwnFolder own32(folder32);
    // The same folder name in both, so that only the view tells the two apart.
    const std::wstring shared = L"tidyhive-test-" + NewGuidText();
    const TOwnFolder in64(own64.Path() + shared);
    const TOwnFolder in32(own32.Path() + shared);
    in64.AddFile(L"only64.exe");
    in32.AddFile(L"only32.exe");
    const std::wstring base64 =
        L"%ProgramFiles%\\" + own64.Name() + L"\\" + shared + L"\\" + in64.Name() + L"\\";
    const std::wstring base32 =
        L"%ProgramFiles%\\" + own32.Name() + L"\\" + shared + L"\\" + in32.Name() + L"\\";

    const auto redirectionOff = [](TFileNameValidationAlgorithm& check) {
        check.SetDisableFsRedirection(true);
    };
    ExpectVerdicts(
        {
            {TCheck::File, base64 + L"only64.exe", true, "64-bit view: %ProgramFiles% is the 64-bit folder"},
            {TCheck::Command, L"\"" + base64 + L"only64.exe\" /x", true, "64-bit view, quoted command"},
            {TCheck::File, base32 + L"only32.exe", false, "64-bit view: not in the 64-bit folder"},
            {TCheck::Folder, base64, true, "64-bit view: folder"},
        },
        options.Get(), redirectionOff);
    ExpectVerdicts(
        {
            {TCheck::File, base32 + L"only32.exe", true, "32-bit view: %ProgramFiles% is the 32-bit folder"},
            {TCheck::Command, L"\"" + base32 + L"only32.exe\" /x", true, "32-bit view, quoted command"},
            {TCheck::File, base64 + L"only64.exe", false, "32-bit view: not in the 32-bit folder"},
        },
        options.Get());
    // Full paths name their folder whatever the view.
    ExpectVerdicts(
        {
            {TCheck::File, in64.Path() + L"only64.exe", true, "full 64-bit path"},
            {TCheck::File, in32.Path() + L"only32.exe", true, "full 32-bit path"},
        },
        options.Get(), redirectionOff);
}

// The swap of the program folders is private to the check: another thread reading the
// process environment meanwhile never sees it change.
TEST_F(FileNameValidationTest, ProgramFolderSwapLeavesTheProcessEnvironmentAlone)
{
    const std::wstring programFiles = EnvironmentValue(L"ProgramFiles");
    const std::wstring common = EnvironmentValue(L"CommonProgramFiles");
    std::atomic<bool> stop{false};
    std::atomic<int> changes{0};
    std::thread reader([&] {
        while (!stop) {
            if (EnvironmentValue(L"ProgramFiles") != programFiles ||
                EnvironmentValue(L"CommonProgramFiles") != common) {
                ++changes;
            }
        }
    });
    TFileNameValidationAlgorithm view64(options.Get());
    view64.SetDisableFsRedirection(true);
    TFileNameValidationAlgorithm view32(options.Get());
    for (int round = 0; round < 300; ++round) {
        std::wstring name64 = L"%ProgramFiles%\\x;%CommonProgramFiles%";
        std::wstring name32 = name64;
        ASSERT_TRUE(view64.ReplaceKnownEnviromentVariables(name64));
        ASSERT_TRUE(view32.ReplaceKnownEnviromentVariables(name32));
        if (round == 0 && view64.GetDisableFsRedirection()) {
            EXPECT_EQ(name64,
                      EnvironmentValue(L"ProgramW6432") + L"\\x;" + EnvironmentValue(L"CommonProgramW6432"));
            const std::wstring x86 = EnvironmentValue(L"ProgramFiles(x86)");
            if (!x86.empty()) {
                EXPECT_EQ(name32, x86 + L"\\x;" + EnvironmentValue(L"CommonProgramFiles(x86)"));
            }
        }
    }
    stop = true;
    reader.join();
    EXPECT_EQ(changes.load(), 0);
    EXPECT_EQ(EnvironmentValue(L"ProgramFiles"), programFiles);
}

// The private expansion follows the platform's rules for every shape of "%".
TEST(EnvironmentExpansionTest, OwnExpansionMatchesThePlatform)
{
    const TEnvironmentOverrides unrelated = {{L"TIDYHIVE_TEST_UNUSED_" + NewGuidText(), L"x"}};
    const std::vector<std::wstring> texts = {
        L"%windir%\\notepad.exe",
        L"%WINDIR%",
        L"100% %windir%",
        L"%tidyhive_undefined%\\x",
        L"%%",
        L"%windir",
        L"a%windir%b%SystemRoot%c",
        L"%",
        L"%%windir%%",
        L"no variables",
        L"",
        L"%tidyhive_undefined%windir%",
    };
    for (const std::wstring& text : texts) {
        wchar_t platform[4096] = {};
        ASSERT_NE(ExpandEnvironmentStringsW(text.c_str(), platform, 4096), 0u);
        std::wstring own;
        ASSERT_TRUE(ExpandEnvironmentText(text, own, unrelated));
        EXPECT_EQ(own, platform) << "[" << WideToUtf8(text) << "]";
        std::wstring viaPlatform;
        ASSERT_TRUE(ExpandEnvironmentText(text, viaPlatform));
        EXPECT_EQ(viaPlatform, platform) << "[" << WideToUtf8(text) << "]";
    }
}

TEST(EnvironmentExpansionTest, LongExpansionsAreNotCutOrRefused)
{
    const std::wstring windows = EnvironmentValue(L"windir");
    std::wstring text;
    std::wstring expected;
    for (int i = 0; i < 60; ++i) {
        text += L"%windir%;";
        expected += windows + L";";
    }
    ASSERT_GT(expected.size(), 259u);
    std::wstring expanded;
    ASSERT_TRUE(ExpandEnvironmentText(text, expanded));
    EXPECT_EQ(expanded, expected);
    ASSERT_TRUE(ExpandEnvironmentText(text, expanded, {{L"ProgramFiles", L"P"}}));
    EXPECT_EQ(expanded, expected);
}

TEST(FileNameExtractorsTest, PathsAndDrives)
{
    std::wstring drive;
    EXPECT_EQ(ExtractFullPath(L"\"C:\\Program Files\\App\\app.exe\" -min", &drive),
              L"C:\\Program Files\\App\\app.exe");
    EXPECT_EQ(drive, L"C:\\");
    EXPECT_EQ(ExtractFullPath(L"C:\\a\\b.dll;D:\\c.dll"), L"C:\\a\\b.dll");
    EXPECT_EQ(ExtractFullPath(L"no path here", &drive), L"");
    EXPECT_EQ(drive, L"");
    EXPECT_EQ(ExtractDisplayName(L"\"C:\\x\\y.exe\" /a"), L"C:\\x\\y.exe");
    EXPECT_EQ(ExtractDisplayName(L"notepad.exe /a"), L"notepad.exe");  // a slash ends a path
    EXPECT_EQ(ExtractDisplayName(L"<>"), L"<>");
    EXPECT_EQ(ExtractFileDrive(L"C:\\x"), L"C:");
    EXPECT_EQ(ExtractFileDrive(L"\\\\server\\share\\dir\\f"), L"\\\\server\\share");
    EXPECT_EQ(ExtractFileDrive(L"\\\\server"), L"\\\\server");
    EXPECT_EQ(ExtractFileDrive(L"relative\\f"), L"");
}

class FileNameFixTest : public FileNameValidationTest {
protected:
    TTestKey key{L"FileFix"};
};

TEST_F(FileNameFixTest, MissingFileValueIsDeleted)
{
    key.SetString(L"", L"Dead", root + L"missing.exe");
    key.SetString(L"", L"Live", app);
    TFileNameValidationAlgorithm check(options.Get());
    EXPECT_TRUE(check.ApplyFix(key.FullPath(), L"Dead", root + L"missing.exe"));
    EXPECT_FALSE(key.ValueExists(L"", L"Dead"));
    EXPECT_TRUE(key.ValueExists(L"", L"Live"));
}

TEST_F(FileNameFixTest, ReappearedFileIsLeftAloneAndTheKeyKept)
{
    const std::wstring later = root + L"later.exe";
    key.SetString(L"Sub", L"Ref", later);
    TFileNameValidationAlgorithm check(options.Get());
    check.SetAutoDeleteAnyKey(true);
    folder.AddFile(L"later.exe");  // reappears between scan and fix
    EXPECT_TRUE(check.ApplyFix(key.FullPath() + L"\\Sub", L"Ref", later));
    EXPECT_TRUE(key.ValueExists(L"Sub", L"Ref"));
}

TEST_F(FileNameFixTest, ValueRewrittenSinceTheScanIsJudgedAsItIsNow)
{
    key.SetString(L"", L"Ref", app);  // was missing.exe when scanned
    TFileNameValidationAlgorithm check(options.Get());
    EXPECT_TRUE(check.ApplyFix(key.FullPath(), L"Ref", root + L"missing.exe"));
    EXPECT_TRUE(key.ValueExists(L"", L"Ref"));
}

TEST_F(FileNameFixTest, InvalidDefaultValueIsEmptied)
{
    key.SetString(L"", L"", root + L"missing.exe");
    TFileNameValidationAlgorithm check(options.Get());
    EXPECT_TRUE(check.ApplyFix(key.FullPath(), L"", root + L"missing.exe"));
    ASSERT_TRUE(key.ValueExists(L"", L""));
    bool success = false;
    EXPECT_EQ(check.Registry().ReadStringSafe(key.FullPath(), L"", success), L"");
}

TEST_F(FileNameFixTest, GoneValueCountsAsFixed)
{
    TFileNameValidationAlgorithm check(options.Get());
    EXPECT_TRUE(check.ApplyFix(key.FullPath(), L"NeverThere", root + L"missing.exe"));
    EXPECT_TRUE(check.ApplyFix(key.FullPath() + L"\\NoSuchKey", L"V", root + L"missing.exe"));
}

TEST_F(FileNameFixTest, ShellCommandFixRemovesTheVerbAndAnEmptyShell)
{
    const std::wstring command = L"txtfile\\shell\\edit\\command";
    key.SetString(command, L"", L"\"" + root + L"missing.exe\" \"%1\"");
    key.SetString(L"txtfile", L"", L"Text Document");
    TShellCommandValidationAlgorithm check(options.Get());
    const std::wstring path = key.FullPath() + L"\\" + command;
    ASSERT_FALSE(check.IsValid(path, L"", L"\"" + root + L"missing.exe\" \"%1\""));
    EXPECT_TRUE(check.ApplyFix(path, L"", L"\"" + root + L"missing.exe\" \"%1\""));
    EXPECT_FALSE(key.Exists(L"txtfile\\shell\\edit"));
    EXPECT_FALSE(key.Exists(L"txtfile\\shell"));
    EXPECT_TRUE(key.Exists(L"txtfile"));
}

TEST_F(FileNameFixTest, ShellCommandFixKeepsAShellWithOtherVerbs)
{
    key.SetString(L"txtfile\\shell\\edit\\command", L"", root + L"missing.exe %1");
    key.SetString(L"txtfile\\shell\\open\\command", L"", L"\"" + app + L"\" \"%1\"");
    TShellCommandValidationAlgorithm check(options.Get());
    EXPECT_TRUE(
        check.ApplyFix(key.FullPath() + L"\\txtfile\\shell\\edit\\command", L"", root + L"missing.exe %1"));
    EXPECT_FALSE(key.Exists(L"txtfile\\shell\\edit"));
    EXPECT_TRUE(key.Exists(L"txtfile\\shell\\open\\command"));
}

TEST_F(FileNameFixTest, ShellCommandValidAgainKeepsItsVerb)
{
    key.SetString(L"cls\\shell\\open\\command", L"", L"\"" + app + L"\" \"%1\"");
    TShellCommandValidationAlgorithm check(options.Get());
    EXPECT_TRUE(
        check.ApplyFix(key.FullPath() + L"\\cls\\shell\\open\\command", L"", L"\"" + root + L"gone.exe\""));
    EXPECT_TRUE(key.Exists(L"cls\\shell\\open\\command"));
}

TEST_F(FileNameValidationTest, DescriptionsNameTheFileAtFault)
{
    TDetectedProblemKeysCollection collection(rctStartup);
    TDetectedProblemKey* problem = collection.AddNew();
    problem->SetKeyPath(L"HKEY_CURRENT_USER\\Software\\Run");
    problem->SetValueName(L"App");
    problem->SetData(L"\"C:\\Gone\\app.exe\" -min");
    TFileNameValidationAlgorithm file(options.Get());
    EXPECT_EQ(file.GetDescriptionText(), L"File does not exists.");
    EXPECT_EQ(file.GetShortDescriptionText(problem), L"File \"C:\\Gone\\app.exe\" does not exist.");
    EXPECT_EQ(file.GetCompleteDescriptionText(problem),
              L"Registry key <key>HKEY_CURRENT_USER\\Software\\Run</key> points to unexisting file "
              L"<i>C:\\Gone\\app.exe</i>. This entry can be removed.");
    TFolderNameValidationAlgorithm folderCheck(options.Get());
    EXPECT_EQ(folderCheck.GetShortDescriptionText(problem), L"Folder \"C:\\Gone\\app.exe\" does not exist.");
    TFileOrFolderNameValidationAlgorithm object(options.Get());
    EXPECT_EQ(object.GetDescriptionText(), L"File or Folder does not exists.");
    EXPECT_EQ(object.GetShortDescriptionText(problem), L"Object \"C:\\Gone\\app.exe\" does not exist.");
}

}  // namespace
}  // namespace tidyhive

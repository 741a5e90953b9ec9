// The startup category's pieces: the Run-family command check, which values it judges, its
// roots, and the scheduled-task side, through a stand-in scheduler and through the
// platform's Task Scheduler with a real backup session.
#include "categories/StartupCategoryScanner.h"

#include "scan/DetectedProblemKeys.h"
#include "services/Text.h"
#include "tests/support/BackvaultTesting.h"
#include "tests/support/PlantedTask.h"
#include "tests/support/TestRegistry.h"
#include "tests/validation/FileCheckTesting.h"
#include "tidyhive/Backvault.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <map>
#include <vector>

namespace tidyhive {
namespace {

using testing::NewGuidText;
using testing::TBackvaultInstance;
using testing::TPlantedTask;
using testing::TTestFolder;
using testing::TTestKey;
using testing::TTestOptions;

constexpr wchar_t kKey[] = L"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

TEST(StartupEntryTest, CommandsOfRunValues)
{
    TTestOptions options;
    TTestFolder folder;
    const std::wstring app = folder.AddFile(L"My App\\app.exe");
    const std::wstring missing = folder.Path() + L"My App\\gone.exe";
    struct TRow {
        std::wstring data;
        bool valid;
        const char* why;
    };
    const std::vector<TRow> rows = {
        {L"", false, "a named value without a command starts nothing"},
        {L"  ", false, "blank command"},
        {L"\"" + app + L"\" /background", true, "quoted program with spaces and an argument"},
        {app + L" -tray", true, "unquoted program with spaces"},
        {L"\"" + missing + L"\" /background", false, "quoted missing program"},
        {missing, false, "missing program in an existing folder"},
        {L"%windir%\\notepad.exe", true, "environment variable"},
        {L"cmd.exe /c exit", true, "program on the search path"},
        {L"rundll32.exe shell32.dll,Control_RunDLL", true, "rundll32 form"},
        {L"msiexec /fomus {11111111-2222-3333-4444-555555555555}", true, "msiexec form"},
        {L"tidyhive-missing-" + NewGuidText() + L".exe /x", false, "bare name found nowhere"},
    };
    TStartupEntryValidationAlgorithm check(options.Get());
    for (const TRow& row : rows) {
        const bool verdict = check.IsValid(kKey, L"Entry", row.data);
        EXPECT_EQ(verdict, row.valid) << "[" << WideToUtf8(row.data) << "] answered "
                                      << (verdict ? "valid" : "invalid") << "; " << row.why;
    }
    EXPECT_EQ(check.GetDescriptionText(), L"Invalid startup entry.");
}

TEST(StartupEntryTest, FixRemovesTheDeadValueOnly)
{
    TTestOptions options;
    TTestFolder folder;
    const TTestKey key(L"Run");
    const std::wstring app = folder.AddFile(L"app.exe");
    key.SetString(L"", L"Dead", folder.Path() + L"gone.exe /min");
    key.SetString(L"", L"Live", L"\"" + app + L"\" /min");
    key.SetString(L"", L"Empty", L"");
    TStartupEntryValidationAlgorithm check(options.Get());
    EXPECT_TRUE(check.ApplyFix(key.FullPath(), L"Dead", folder.Path() + L"gone.exe /min"));
    EXPECT_TRUE(check.ApplyFix(key.FullPath(), L"Empty", L""));
    EXPECT_FALSE(key.ValueExists(L"", L"Dead"));
    EXPECT_FALSE(key.ValueExists(L"", L"Empty"));
    EXPECT_TRUE(key.ValueExists(L"", L"Live"));
    // Judged as it is now: a value made good since the scan stays.
    key.SetString(L"", L"Mended", L"\"" + app + L"\"");
    EXPECT_TRUE(check.ApplyFix(key.FullPath(), L"Mended", folder.Path() + L"gone.exe"));
    EXPECT_TRUE(key.ValueExists(L"", L"Mended"));
}

TEST(StartupRootsTest, TenRootsAndTheirViews)
{
    EXPECT_EQ(StartupRootKey(0), L"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
    EXPECT_EQ(StartupRootKey(5),
              L"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce\\Setup");
    EXPECT_EQ(StartupRootKey(7), StartupRootKey(9));
    EXPECT_EQ(StartupRootKey(10), L"");
    EXPECT_EQ(StartupRootKey(-1), L"");
    for (int index = 0; index < kStartupRootCount; ++index) {
        EXPECT_EQ(IsStartupRoot64Bit(index), index < 6)
            << "root " << index;  // the test runs on a 64-bit system
    }
}

TEST(StartupRootsTest, MachineRootsAreWalkedAgainInThe32BitView)
{
    // The test runs on a 64-bit system: 32-bit programs' autostart entries live in the other view.
    ASSERT_EQ(StartupScannerRootCount(), 16);
    for (int index = 0; index < kStartupRootCount; ++index) {
        EXPECT_EQ(StartupScannerRootKey(index), StartupRootKey(index)) << "root " << index;
    }
    for (int index = kStartupMachine32FirstRoot; index < 16; ++index) {
        EXPECT_EQ(StartupScannerRootKey(index), StartupRootKey(index - kStartupMachine32FirstRoot))
            << "root " << index;
        EXPECT_FALSE(IsStartupRoot64Bit(index)) << "root " << index;
    }
    EXPECT_EQ(StartupScannerRootKey(16), L"");
    EXPECT_TRUE(IsRunOnceExRoot(12)) << "the 32-bit view's RunOnceEx holds a title and flags too";
    EXPECT_FALSE(IsStartupCommandValue(12, L"Title", L"Installing"));
    EXPECT_TRUE(IsStartupCommandValue(10, L"Title", L"C:\\x.exe"));
}

TEST(StartupRootsTest, OnlyCommandsAreJudged)
{
    struct TRow {
        int root;
        std::wstring name;
        std::wstring data;
        bool judged;
    };
    const std::vector<TRow> rows = {
        {0, L"", L"C:\\x.exe", false},     {6, L"App", L"", true},
        {6, L"Title", L"C:\\x.exe", true}, {2, L"Title", L"Installing components", false},
        {2, L"Flags", L"", false},         {8, L"TITLE", L"Setup", false},
        {8, L"flags", L"", false},         {2, L"Entry", L"", false},
        {2, L"Entry", L"C:\\x.exe", true},
    };
    for (const TRow& row : rows) {
        EXPECT_EQ(IsStartupCommandValue(row.root, row.name, row.data), row.judged)
            << "root " << row.root << " value [" << WideToUtf8(row.name) << "] data [" << WideToUtf8(row.data)
            << "]";
    }
}

// A scheduler in memory: tasks by name, each with its program and a .job file of its own.
class TStandInScheduler : public TTaskScheduler {
public:
    explicit TStandInScheduler(const TTestFolder& folder) : folder_(folder) {}

    void Add(const std::wstring& task, const std::wstring& program, bool opens = true)
    {
        tasks_[task] = {program, opens, folder_.AddFile(task)};
    }
    bool listable = true;
    int deletes = 0;

    bool EnumerateTasks(std::vector<std::wstring>& names) override
    {
        names.clear();
        for (const auto& [name, task] : tasks_) {
            names.push_back(name);
        }
        return listable;
    }
    bool GetApplicationName(const std::wstring& task, std::wstring& program) override
    {
        const auto found = tasks_.find(task);
        if (found == tasks_.end() || !found->second.opens) {
            return false;
        }
        program = found->second.program;
        return true;
    }
    std::wstring GetJobFileName(const std::wstring& task) override
    {
        const auto found = tasks_.find(task);
        return found == tasks_.end() ? L"" : found->second.jobFile;
    }
    bool DeleteTask(const std::wstring& task) override
    {
        ++deletes;
        tasks_.erase(task);
        return true;
    }

private:
    struct TTask {
        std::wstring program;
        bool opens;
        std::wstring jobFile;
    };
    const TTestFolder& folder_;
    std::map<std::wstring, TTask> tasks_;
};

struct TPassResult {
    std::vector<std::wstring> problems;
    int ignored = 0;
    int judged = 0;
};

TPassResult RunPass(TScheduledTaskValidationAlgorithm& check, const std::wstring& ignoredTask = {})
{
    TPassResult result;
    TScheduledTaskPassHooks hooks;
    hooks.isIgnored = [&](const std::wstring& task, const std::wstring&) { return task == ignoredTask; };
    hooks.addProblem = [&](const std::wstring& task, const std::wstring& program) {
        result.problems.push_back(task + L"=" + program);
    };
    hooks.valueIgnored = [&] { ++result.ignored; };
    result.judged = RunScheduledTaskPass(check, true, hooks);
    return result;
}

TEST(ScheduledTaskTest, TasksAreJudgedAsStartupCommands)
{
    TTestOptions options;
    TTestFolder folder;
    TTestFolder jobs;
    const std::wstring app = folder.AddFile(L"Task App\\run.exe");
    auto scheduler = std::make_shared<TStandInScheduler>(jobs);
    scheduler->Add(L"a-env.job", L"%windir%\\notepad.exe");
    scheduler->Add(L"b-quoted.job", L"\"" + app + L"\"");
    scheduler->Add(L"c-spaces.job", app);
    scheduler->Add(L"d-bare.job", L"cmd.exe");
    scheduler->Add(L"e-missing.job", folder.Path() + L"Task App\\gone.exe");
    scheduler->Add(L"f-empty.job", L"");
    scheduler->Add(L"g-ignored.job", folder.Path() + L"gone2.exe");
    scheduler->Add(L"h-closed.job", folder.Path() + L"gone3.exe", false);
    TScheduledTaskValidationAlgorithm check(options.Get(), scheduler, [] { return nullptr; });

    EXPECT_EQ(RunScheduledTaskPass(check, false, {}), 8) << "counting sees every listed task";
    const TPassResult pass = RunPass(check, L"g-ignored.job");
    EXPECT_EQ(pass.problems,
              (std::vector<std::wstring>{L"e-missing.job=" + folder.Path() + L"Task App\\gone.exe",
                                         L"f-empty.job="}));
    EXPECT_EQ(pass.ignored, 1);
    EXPECT_EQ(pass.judged, 7) << "a task that cannot be opened is skipped";

    scheduler->listable = false;
    EXPECT_EQ(RunScheduledTaskPass(check, false, {}), 0);
    EXPECT_TRUE(RunPass(check).problems.empty());
}

TEST(ScheduledTaskTest, DescriptionsNameTheTaskAndItsProgram)
{
    TTestOptions options;
    TTestFolder jobs;
    TScheduledTaskValidationAlgorithm check(options.Get(), std::make_shared<TStandInScheduler>(jobs));
    TDetectedProblemKeysCollection collection(rctStartup);
    TDetectedProblemKey* problem = collection.AddNew();
    problem->SetKeyPath(L"Backup.job");
    problem->SetValueName(L"C:\\Tools\\backup.exe");
    EXPECT_EQ(check.GetDescriptionText(), L"Invalid planned task.");
    EXPECT_EQ(check.GetShortDescriptionText(problem), L"Invalid planned task \"Backup.job\".");
    EXPECT_EQ(
        check.GetCompleteDescriptionText(problem),
        L"Planned task <key>Backup.job</key> points to the missing file \"<i>C:\\Tools\\backup.exe</i>\" and "
        L"could be safely deleted.");
}

// Records deletions instead of keeping them; a copy stands for the backup.
class TCopyingFileAccess : public IFileAccess {
public:
    explicit TCopyingFileAccess(std::wstring keep) : keep_(std::move(keep)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    BOOL STDMETHODCALLTYPE CopyFile(LPCWSTR, LPCWSTR, BOOL) override { return FALSE; }
    BOOL STDMETHODCALLTYPE MoveFile(LPCWSTR, LPCWSTR) override { return FALSE; }
    BOOL STDMETHODCALLTYPE CreateDirectory(LPCWSTR) override { return FALSE; }
    BOOL STDMETHODCALLTYPE DeleteFile(LPCWSTR path) override
    {
        deleted.push_back(path);
        return refuse ? FALSE : ::MoveFileW(path, (keep_ + std::to_wstring(deleted.size())).c_str());
    }
    BOOL STDMETHODCALLTYPE RemoveDirectory(LPCWSTR) override { return FALSE; }
    BOOL STDMETHODCALLTYPE SetFileAttributes(LPCWSTR, DWORD) override { return FALSE; }
    DWORD STDMETHODCALLTYPE GetLastError() override { return 0; }

    std::vector<std::wstring> deleted;
    bool refuse = false;

private:
    std::wstring keep_;
};

TEST(ScheduledTaskTest, FixKeepsTheJobFileBeforeDeletingAndLeavesMendedTasks)
{
    TTestOptions options;
    TTestFolder folder;
    TTestFolder jobs;
    auto scheduler = std::make_shared<TStandInScheduler>(jobs);
    const std::wstring gone = folder.Path() + L"gone.exe";
    scheduler->Add(L"dead.job", gone);
    scheduler->Add(L"mended.job", gone);
    scheduler->Add(L"refused.job", gone);
    TCopyingFileAccess files(folder.Path() + L"kept");
    TScheduledTaskValidationAlgorithm check(options.Get(), scheduler, [&] { return &files; });

    const std::wstring deadJob = scheduler->GetJobFileName(L"dead.job");
    EXPECT_TRUE(check.ApplyFix(L"dead.job", gone, L""));
    EXPECT_EQ(files.deleted, std::vector<std::wstring>{deadJob}) << "the .job file goes through the backup";
    EXPECT_EQ(GetFileAttributesW((folder.Path() + L"kept1").c_str()) != INVALID_FILE_ATTRIBUTES, true);

    // The program came back: nothing deleted, and the fix answers false.
    folder.AddFile(L"gone.exe");
    EXPECT_FALSE(check.ApplyFix(L"mended.job", gone, L""));
    DeleteFileW(gone.c_str());
    EXPECT_EQ(files.deleted.size(), 1u);

    // No copy in the backup session, no deletion.
    files.refuse = true;
    const int deletesBefore = scheduler->deletes;
    EXPECT_FALSE(check.ApplyFix(L"refused.job", gone, L""));
    EXPECT_EQ(scheduler->deletes, deletesBefore);
    TScheduledTaskValidationAlgorithm noBackup(options.Get(), scheduler, [] { return nullptr; });
    EXPECT_FALSE(noBackup.ApplyFix(L"refused.job", gone, L""));
    std::wstring program;
    EXPECT_TRUE(scheduler->GetApplicationName(L"refused.job", program));
}

class PlatformSchedulerTest : public ::testing::Test {
protected:
    void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void TearDown() override { CoUninitialize(); }

    static bool Listed(TTaskScheduler& scheduler, const std::wstring& name)
    {
        std::vector<std::wstring> names;
        scheduler.EnumerateTasks(names);
        for (const std::wstring& listed : names) {
            if (SameText(listed, name) || SameText(listed, name + L".job")) {
                return true;
            }
        }
        return false;
    }
};

TEST_F(PlatformSchedulerTest, DeadTaskIsFoundDeletedAndRestoredWithTheSession)
{
    TTestOptions options;
    TTestFolder folder;
    const std::wstring app = folder.AddFile(L"live.exe");
    TPlantedTask dead(folder.Path() + L"gone.exe");
    TPlantedTask live(app);
    TPlantedTask bare(L"notepad.exe");
    if (!dead.Planted() || !live.Planted() || !bare.Planted()) {
        GTEST_SKIP() << "the platform has no Task Scheduler 1.0";
    }
    auto scheduler = CreateTaskScheduler();
    ASSERT_TRUE(Listed(*scheduler, dead.Name()));
    std::wstring program;
    ASSERT_TRUE(scheduler->GetApplicationName(dead.Name() + L".job", program));
    EXPECT_TRUE(SameText(program, folder.Path() + L"gone.exe")) << WideToUtf8(program);

    TTestFolder storage;
    TBackvaultInstance backup(storage.Path());
    TScheduledTaskValidationAlgorithm check(options.Get(), scheduler, [&] { return backup.files(); });
    const TPassResult pass = RunPass(check);
    std::vector<std::wstring> ours;
    for (const std::wstring& problem : pass.problems) {
        if (problem.find(L"tidyhive-test-") != std::wstring::npos) {
            ours.push_back(problem);
        }
    }
    ASSERT_EQ(ours.size(), 1u) << "only the dead task of this test is reported";
    const std::wstring task = ours.front().substr(0, ours.front().find(L'='));

    const std::wstring id = backup.Begin(L"Scheduled task test");
    ASSERT_FALSE(id.empty()) << WideToUtf8(backup.LastError());
    const bool fixed = check.ApplyFix(task, folder.Path() + L"gone.exe", L"");
    backup->EndSession(TRUE);
    ASSERT_TRUE(fixed) << WideToUtf8(backup.LastError());
    EXPECT_FALSE(Listed(*scheduler, dead.Name()));
    EXPECT_TRUE(Listed(*scheduler, live.Name()));

    std::wstring report;
    EXPECT_TRUE(SUCCEEDED(backup.Restore(id, false, report))) << WideToUtf8(report);
    EXPECT_TRUE(Listed(*scheduler, dead.Name())) << "restoring the session brings the task back";
    ASSERT_TRUE(scheduler->GetApplicationName(dead.Name(), program));
    EXPECT_TRUE(SameText(program, folder.Path() + L"gone.exe")) << WideToUtf8(program);
}

}  // namespace
}  // namespace tidyhive

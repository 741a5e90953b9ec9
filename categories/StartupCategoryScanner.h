// The Startup category: autostart entries of the Run-family keys and of the legacy Task
// Scheduler whose program no longer exists.
//
// The roots, the per-value decision and the scheduled-task pass are here as plain pieces;
// the category scanner binds them to the base scanner's walk.
#pragma once

#include "scan/BaseCategoryScanner.h"

#include "categories/TaskScheduler.h"
#include "validation/FileNameValidationAlgorithm.h"

#include <functional>
#include <memory>
#include <string>

struct IFileAccess;

namespace tidyhive {

// A Run-family command line whose program exists or is registered. An empty command is
// invalid: a named autostart value without a command starts nothing.
class TStartupEntryValidationAlgorithm : public TCommandValidationAlgorithm {
public:
    using TCommandValidationAlgorithm::TCommandValidationAlgorithm;

    bool IsValid(const std::wstring& AKey, const std::wstring& AValue, const std::wstring& AData) override;
    std::wstring GetDescriptionText() override;

protected:
    const wchar_t* ClassName() const override { return L"TStartupEntryValidationAlgorithm"; }
};

// The file access that keeps a removed file in the open backup session; null when there is
// no backup library.
using TFileAccessSource = std::function<IFileAccess*()>;
// The backup library's file access, from the engine's restore manager.
IFileAccess* BackupFileAccess();

// A scheduled task, judged by its program as a startup command is judged (environment
// variables, quotes, the search path, registrations). The entry is (task name, program
// path, empty data).
class TScheduledTaskValidationAlgorithm : public TFileNameValidationAlgorithm {
public:
    // Over the process-wide options, the platform's scheduler and the backup library.
    TScheduledTaskValidationAlgorithm();
    TScheduledTaskValidationAlgorithm(TRegistryCleanerOptions& options,
                                      std::shared_ptr<TTaskScheduler> scheduler,
                                      TFileAccessSource fileAccess = BackupFileAccess);

    bool IsValid(const std::wstring& AKey, const std::wstring& AValue, const std::wstring& AData) override;
    std::wstring GetDescriptionText() override;
    std::wstring GetShortDescriptionText(IDetectedProblemKey* problem) override;
    std::wstring GetCompleteDescriptionText(IDetectedProblemKey* problem) override;
    // A task whose program is back is left alone and the fix answers false. Otherwise the
    // task's .job file goes through the backup library's file access (so that restoring the
    // session brings the task back) and the scheduler forgets the task; true when the file
    // is gone. Without a recorded copy nothing is deleted and the fix fails.
    bool FIX(const std::wstring& AKey, const std::wstring& AValue, const std::wstring& AData) override;

    TTaskScheduler& Scheduler() { return *scheduler_; }

protected:
    const wchar_t* ClassName() const override { return L"TScheduledTaskValidationAlgorithm"; }

private:
    std::shared_ptr<TTaskScheduler> scheduler_;
    TFileAccessSource fileAccess_;
};

// The ten roots of the category's table; the last repeats the user's RunOnce key and
// carries the scheduled-task pass (which runs whether that key exists or not).
inline constexpr int kStartupRootCount = 10;
inline constexpr int kStartupScheduledTaskRoot = 9;
// On a 64-bit system the six machine roots are walked once more, in the 32-bit view, as
// roots 10 to 15: 32-bit programs register their autostart entries there, and Windows
// starts them as it starts those of the 64-bit view.
inline constexpr int kStartupMachineRootCount = 6;
inline constexpr int kStartupMachine32FirstRoot = kStartupRootCount;
// The table's full key path; empty for an index out of range.
std::wstring StartupRootKey(int index);
// The scanner's roots: the table, then on a 64-bit system the machine roots again.
int StartupScannerRootCount();
// A scanner root's full key path; empty for an index out of range.
std::wstring StartupScannerRootKey(int index);
// The machine roots of the table (0 to 5) are read in the 64-bit view on a 64-bit system;
// every other root in the 32-bit view.
bool IsStartupRoot64Bit(int index);
// RunOnceEx roots hold the list's "Title" and "Flags" beside its numbered subkeys, not
// commands.
bool IsRunOnceExRoot(int index);
// Whether a value of the root holds a command to judge: never the default value, and at a
// RunOnceEx root never "Title", "Flags" or a value without text.
bool IsStartupCommandValue(int rootIndex, const std::wstring& AValue, const std::wstring& AData);

// The scheduled-task pass of the scanner.
struct TScheduledTaskPassHooks {
    // The pause-and-stop checkpoint, before each task.
    std::function<void()> checkpoint;
    // Shows the program being judged.
    std::function<void(const std::wstring& program)> setCurrentValue;
    // Whether an ignore list covers the task (key = task name, value = program).
    std::function<bool(const std::wstring& task, const std::wstring& program)> isIgnored;
    // Records an invalid task (key = task name, value = program, no data).
    std::function<void(const std::wstring& task, const std::wstring& program)> addProblem;
    // Counts an invalid task an ignore list covers.
    std::function<void()> valueIgnored;
};
// Counting (validate false): the number of tasks. Validating: judges each task that opens
// and reports the invalid ones not ignored; answers the number of tasks judged. Nothing
// when the scheduler cannot list its tasks.
int RunScheduledTaskPass(TScheduledTaskValidationAlgorithm& algorithm, bool validate,
                         const TScheduledTaskPassHooks& hooks);

}  // namespace tidyhive

namespace tidyhive {

// The startup category: the Run family of keys in both registry views, and the scheduled
// tasks, judged at the table's last root.
class TStartupCategoryScanner : public TBaseCategoryScanner {
public:
    explicit TStartupCategoryScanner(const TCategoryDescriptor& descriptor);
    ~TStartupCategoryScanner() override;

    void SelectRoot(int Index) override;
    std::wstring GetRootKey(int Index) override;
    int GetRootCount() override { return StartupScannerRootCount(); }
    bool IsRoot64Bit(int Index) override { return IsStartupRoot64Bit(Index); }
    TValidationAlgorithm* ValidateValue(const std::wstring& AKey, const std::wstring& AValue,
                                        const std::wstring& AData) override;
    std::wstring GetValueDescription(const std::wstring& AKey, const std::wstring& AValue,
                                     const std::wstring& AData) override;
    void RootWalked(int Index, bool AValidate, int& ACount) override;
    const wchar_t* ClassName() const override { return L"TStartupCategoryScanner"; }

private:
    std::unique_ptr<TStartupEntryValidationAlgorithm> entry_;
    std::unique_ptr<TScheduledTaskValidationAlgorithm> task_;
};

}  // namespace tidyhive

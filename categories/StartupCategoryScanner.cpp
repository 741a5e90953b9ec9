#include "categories/StartupCategoryScanner.h"

#include "clean/RestoreManager.h"
#include "engine/RegistryCleanerOptions.h"
#include "registry/Wow64.h"
#include "scan/Task.h"
#include "services/DebugLog.h"
#include "services/LocalizedTexts.h"
#include "services/Text.h"
#include "tidyhive/Backvault.h"

namespace tidyhive {
namespace {

const wchar_t* const kStartupRoots[kStartupRootCount] = {
    L"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    L"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
    L"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx",
    L"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServices",
    L"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServicesOnce",
    L"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce\\Setup",
    L"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    L"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
    L"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx",
    L"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
};

// The text after the last backslash.
std::wstring FileNamePart(const std::wstring& path)
{
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool FileExistsPlain(const std::wstring& name)
{
    const DWORD attributes = GetFileAttributesW(name.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

// TStartupEntryValidationAlgorithm

bool TStartupEntryValidationAlgorithm::IsValid(const std::wstring& AKey, const std::wstring& AValue,
                                               const std::wstring& AData)
{
    DebugLog::Log(L"@@ TStartupEntryValidationAlgorithm.IsValid.Start @@");
    TraceClass();
    TraceArguments(AKey, AValue, AData);
    const bool result =
        WithRedirectionHandled([&] { return !Trim(AData).empty() && ValidateCommand(AData); });
    DebugLog::Log(L"@@ TStartupEntryValidationAlgorithm.IsValid @@");
    return result;
}

std::wstring TStartupEntryValidationAlgorithm::GetDescriptionText()
{
    return LoadText(TextKey::VA_STARTUP_DESCRIPTION);
}

// TScheduledTaskValidationAlgorithm

IFileAccess* BackupFileAccess()
{
    IBackvault* backup = TRestoreManager::Instance().Backup();
    return backup ? backup->GetFileAccess() : nullptr;
}

TScheduledTaskValidationAlgorithm::TScheduledTaskValidationAlgorithm()
    : TScheduledTaskValidationAlgorithm(TRegistryCleanerOptions::Instance(), CreateTaskScheduler())
{
}

TScheduledTaskValidationAlgorithm::TScheduledTaskValidationAlgorithm(
    TRegistryCleanerOptions& options, std::shared_ptr<TTaskScheduler> scheduler, TFileAccessSource fileAccess)
    : TFileNameValidationAlgorithm(options), scheduler_(std::move(scheduler)),
      fileAccess_(std::move(fileAccess))
{
    if (!scheduler_) {
        scheduler_ = CreateTaskScheduler();
    }
}

bool TScheduledTaskValidationAlgorithm::IsValid(const std::wstring& AKey, const std::wstring& AValue,
                                                const std::wstring& AData)
{
    DebugLog::Log(L"@@ TScheduledTaskValidationAlgorithm.IsValid.Start @@");
    TraceClass();
    TraceArguments(AKey, AValue, AData);
    // A task without a program starts nothing.
    const bool result =
        WithRedirectionHandled([&] { return !Trim(AValue).empty() && ValidateCommand(AValue); });
    DebugLog::Log(L"@@ TScheduledTaskValidationAlgorithm.IsValid @@");
    return result;
}

std::wstring TScheduledTaskValidationAlgorithm::GetDescriptionText()
{
    return LoadText(TextKey::VA_SCHEDULER_DESCRIPTION);
}

std::wstring TScheduledTaskValidationAlgorithm::GetShortDescriptionText(IDetectedProblemKey* problem)
{
    return FormatDescription(LoadText(TextKey::VA_SCHEDULER_DESCRIPTION_SHORT),
                             {FileNamePart(ProblemKeyPath(problem))});
}

std::wstring TScheduledTaskValidationAlgorithm::GetCompleteDescriptionText(IDetectedProblemKey* problem)
{
    return FormatDescription(LoadText(TextKey::VA_SCHEDULER_DESCRIPTION_COMPLETE),
                             {FileNamePart(ProblemKeyPath(problem)), ProblemValueName(problem)});
}

bool TScheduledTaskValidationAlgorithm::FIX(const std::wstring& AKey, const std::wstring& AValue,
                                            const std::wstring& AData)
{
    DebugLog::Log(L"@@ TScheduledTaskValidationAlgorithm.FIX.Start @@");
    TraceClass();
    TraceArguments(AKey, AValue, AData);
    bool result = false;
    // The task as it is now: its program may have changed or come back since the scan.
    std::wstring program;
    const bool opened = scheduler_->GetApplicationName(AKey, program);
    if (opened && !IsValid(AKey, program, AData)) {
        const std::wstring jobFile = scheduler_->GetJobFileName(AKey);
        IFileAccess* access = fileAccess_ ? fileAccess_() : nullptr;
        if (jobFile.empty() || !access) {
            DebugLog::Failure(ClassNameForLog(ClassName()), L"FIX",
                              L"the task " + AKey + L" cannot be kept in the backup session; left in place");
        } else if (access->DeleteFile(jobFile.c_str())) {
            NoteFixChange();
            scheduler_->DeleteTask(AKey);  // lets the scheduler forget it; the file is gone already
            result = !FileExistsPlain(jobFile);
        }
    }
    DebugLog::Log(L"@@ TScheduledTaskValidationAlgorithm.FIX @@");
    return result;
}

// Roots and values

std::wstring StartupRootKey(int index)
{
    return index >= 0 && index < kStartupRootCount ? kStartupRoots[index] : L"";
}

int StartupScannerRootCount()
{
    return IsWow64() ? kStartupRootCount + kStartupMachineRootCount : kStartupRootCount;
}

std::wstring StartupScannerRootKey(int index)
{
    if (index >= kStartupMachine32FirstRoot && index < StartupScannerRootCount()) {
        return StartupRootKey(index - kStartupMachine32FirstRoot);
    }
    return StartupRootKey(index);
}

bool IsStartupRoot64Bit(int index)
{
    return IsWow64() && index >= 0 && index < kStartupMachineRootCount;
}

bool IsRunOnceExRoot(int index)
{
    return index == 2 || index == 8 || index == kStartupMachine32FirstRoot + 2;
}

bool IsStartupCommandValue(int rootIndex, const std::wstring& AValue, const std::wstring& AData)
{
    if (AValue.empty()) {
        return false;
    }
    if (IsRunOnceExRoot(rootIndex)) {
        return !SameText(AValue, L"Title") && !SameText(AValue, L"Flags") && !Trim(AData).empty();
    }
    return true;
}

// The scheduled-task pass

int RunScheduledTaskPass(TScheduledTaskValidationAlgorithm& algorithm, bool validate,
                         const TScheduledTaskPassHooks& hooks)
{
    std::vector<std::wstring> tasks;
    if (!algorithm.Scheduler().EnumerateTasks(tasks)) {
        return 0;
    }
    if (!validate) {
        return static_cast<int>(tasks.size());
    }
    int judged = 0;
    for (const std::wstring& task : tasks) {
        if (hooks.checkpoint) {
            hooks.checkpoint();
        }
        std::wstring program;
        if (!algorithm.Scheduler().GetApplicationName(task, program)) {
            continue;  // a task that cannot be opened is skipped
        }
        ++judged;
        if (hooks.setCurrentValue) {
            hooks.setCurrentValue(program);
        }
        if (algorithm.IsValid(task, program, L"")) {
            continue;
        }
        if (hooks.isIgnored && hooks.isIgnored(task, program)) {
            if (hooks.valueIgnored) {
                hooks.valueIgnored();
            }
        } else if (hooks.addProblem) {
            hooks.addProblem(task, program);
        }
    }
    return judged;
}

}  // namespace tidyhive

namespace tidyhive {

TStartupCategoryScanner::TStartupCategoryScanner(const TCategoryDescriptor& descriptor)
    : TBaseCategoryScanner(descriptor), entry_(std::make_unique<TStartupEntryValidationAlgorithm>()),
      task_(std::make_unique<TScheduledTaskValidationAlgorithm>())
{
    entry_->SetDisableFsRedirection(true);
    task_->SetDisableFsRedirection(true);
}

TStartupCategoryScanner::~TStartupCategoryScanner() = default;

void TStartupCategoryScanner::SelectRoot(int Index)
{
    TBaseCategoryScanner::SelectRoot(Index);
    entry_->SetUse64BitView(IsRoot64Bit(Index));
}

std::wstring TStartupCategoryScanner::GetRootKey(int Index)
{
    return StartupScannerRootKey(Index);
}

TValidationAlgorithm* TStartupCategoryScanner::ValidateValue(const std::wstring& AKey,
                                                             const std::wstring& AValue,
                                                             const std::wstring& AData)
{
    if (!IsStartupCommandValue(CurrentRootIndex(), AValue, AData)) {
        return nullptr;
    }
    return entry_->IsValid(AKey, AValue, AData) ? nullptr : entry_.get();
}

std::wstring TStartupCategoryScanner::GetValueDescription(const std::wstring&, const std::wstring& AValue,
                                                          const std::wstring&)
{
    return FormatText(LoadText(TextKey::CS_STARTUP_VALUEDESC_APP).c_str(), AValue.c_str());
}

// After the root's walk rather than inside it: a user without a RunOnce key still has
// scheduled tasks.
void TStartupCategoryScanner::RootWalked(int Index, bool AValidate, int& ACount)
{
    if (Index != kStartupScheduledTaskRoot) {
        return;
    }
    TScheduledTaskPassHooks hooks;
    hooks.checkpoint = [] { CheckThreadMessages(); };
    hooks.setCurrentValue = [this](const std::wstring& program) { SetCurrentValue(program); };
    hooks.isIgnored = [this](const std::wstring& task, const std::wstring& program) {
        return IsIgnored(task, program);
    };
    hooks.addProblem = [this](const std::wstring& task, const std::wstring& program) {
        AddProblem(task, program, std::wstring(), task_.get());
    };
    hooks.valueIgnored = [this] { CountIgnoredValue(); };
    const int tasks = RunScheduledTaskPass(*task_, AValidate, hooks);
    if (!AValidate) {
        ACount += tasks;
    }
}

}  // namespace tidyhive

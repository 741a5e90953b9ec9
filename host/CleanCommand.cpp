#include "host/CleanCommand.h"

#include "host/CategoryNames.h"
#include "host/Console.h"
#include "host/Engine.h"
#include "host/ScanCommand.h"
#include "host/TaskRunner.h"

#include <cstdio>
#include <iostream>

namespace tidyhive::host {
namespace {

struct TCategoryCounts {
    TCategoryType type;
    LONG fixedBefore;
    LONG failedBefore;
};

bool Confirm(LONG count)
{
    Out(L"Fix " + std::to_wstring(count) + (count == 1 ? L" problem" : L" problems") +
        L"? Every change is backed up and can be undone. [y/N] ");
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        OutLine();
        return false;
    }
    return answer == "y" || answer == "Y" || answer == "yes";
}

// Identifier of the newest backup session.
std::wstring NewestSession(IRegistryCleanerManager* root)
{
    IBackvault* backup = root->GetBackupLibrary();
    if (!backup || backup->GetSessionCount() <= 0) {
        return {};
    }
    BackvaultSessionInfo info{};
    if (FAILED(backup->GetSessionInfo(0, &info))) {
        return {};
    }
    std::wstring id = info.id ? info.id : L"";
    ClearSessionInfo(info);
    return id;
}

}  // namespace

int CleanCommand(const std::vector<std::wstring>& arguments)
{
    std::vector<std::wstring> args = arguments;
    TCategoryChoice choice;
    std::wstring error;
    if (!TakeCategoryChoice(args, choice, error)) {
        ErrLine(L"tidyhive clean: " + error);
        return 2;
    }
    bool json = false, yes = false, dryRun = false;
    for (const std::wstring& arg : args) {
        if (arg == L"--json") {
            json = true;
        } else if (arg == L"--yes") {
            yes = true;
        } else if (arg == L"--dry-run") {
            dryRun = true;
        } else {
            ErrLine(L"tidyhive clean: unexpected argument '" + arg + L"'. Run 'tidyhive --help'.");
            return 2;
        }
    }
    TEngine engine;
    if (!engine.Open()) {
        ErrLine(L"tidyhive: " + engine.error());
        return 1;
    }
    const TaskOutcome scanned = RunScan(engine, choice);
    if (scanned != TaskOutcome::Finished) {
        ErrLine(scanned == TaskOutcome::Interrupted
                    ? L"tidyhive clean: stopped during the scan; nothing was changed"
                    : L"tidyhive clean: the scan did not start; nothing was changed");
        return 1;
    }

    // What is about to be fixed, listed before anything changes.
    ICategoryCollection* categories = engine->GetCategories();
    std::vector<TCategoryCounts> counts;
    LONG toFix = 0;
    for (LONG i = 0; i < categories->GetCount(); ++i) {
        const TCategoryType type = categories->GetItem(i)->GetCategoryType();
        IDetectedProblemKeysCollection* problems = engine->GetDetectedKeys(type);
        IDetectedProblemKeysStatistics* statistics = problems->GetStatistics();
        counts.push_back({type, statistics->GetFixedCount(), statistics->GetFailedCount()});
        for (LONG p = 0; p < problems->GetCount(); ++p) {
            IDetectedProblemKey* problem = problems->GetItem(p);
            if (problem->GetStatus() == psFix) {
                ++toFix;
            }
            if (json) {
                OutLine(ProblemJson(type, problem, dryRun ? L", \"outcome\": \"would fix\"" : L""));
            } else {
                OutLine(std::wstring(dryRun ? L"would fix\t" : L"to fix\t") + CategoryTypeName(type) + L"\t" +
                        TakeText(problem->GetKeyPath()) + L"\t" + TakeText(problem->GetValueName()));
            }
        }
    }
    if (dryRun) {
        OutLine(json ? L"{\"summary\": {\"toFix\": " + std::to_wstring(toFix) + L", \"dryRun\": true}}"
                     : L"Dry run: " + std::to_wstring(toFix) +
                           L" problems would be fixed; nothing was changed.");
        return 0;
    }
    if (toFix == 0) {
        OutLine(json ? L"{\"summary\": {\"toFix\": 0}}" : L"Nothing to fix.");
        return 0;
    }
    if (!yes && !Confirm(toFix)) {
        OutLine(L"Nothing was changed.");
        return 0;
    }

    ICleanTask* clean = engine->GetCleanerManager();
    const TaskOutcome cleaned = RunTask(engine.get(), clean, ekCleanFinished, [clean]() {
        return L"cleaning: fixed " + std::to_wstring(clean->GetProblemsFixed()) + L", failed " +
               std::to_wstring(clean->GetFailedToFix());
    });
    if (cleaned == TaskOutcome::NotStarted) {
        ErrLine(L"tidyhive clean: the clean did not start (another task runs); nothing was changed");
        return 1;
    }
    for (const TCategoryCounts& category : counts) {
        IDetectedProblemKeysStatistics* statistics = engine->GetDetectedKeys(category.type)->GetStatistics();
        const LONG fixed = statistics->GetFixedCount() - category.fixedBefore;
        const LONG failed = statistics->GetFailedCount() - category.failedBefore;
        if (fixed == 0 && failed == 0) {
            continue;
        }
        if (json) {
            OutLine(L"{\"category\": " + JsonString(CategoryTypeName(category.type)) + L", \"fixed\": " +
                    std::to_wstring(fixed) + L", \"failed\": " + std::to_wstring(failed) + L"}");
        } else {
            OutLine(std::wstring(CategoryTypeName(category.type)) + L": fixed " + std::to_wstring(fixed) +
                    L", failed to fix " + std::to_wstring(failed));
        }
    }
    const std::wstring session = NewestSession(engine.get());
    if (json) {
        OutLine(L"{\"summary\": {\"problemsFixed\": " + std::to_wstring(clean->GetProblemsFixed()) +
                L", \"failedToFix\": " + std::to_wstring(clean->GetFailedToFix()) +
                L", \"problemsSkipped\": " + std::to_wstring(clean->GetProblemsSkipped()) +
                L", \"problemsIgnored\": " + std::to_wstring(clean->GetProblemsIgnored()) +
                L", \"session\": " + JsonString(session) + L", \"interrupted\": " +
                (cleaned == TaskOutcome::Interrupted ? L"true" : L"false") + L"}}");
    } else {
        OutLine(
            L"Fixed " + std::to_wstring(clean->GetProblemsFixed()) + L", failed to fix " +
            std::to_wstring(clean->GetFailedToFix()) +
            (cleaned == TaskOutcome::Interrupted ? L" (stopped; what was changed is in the session)" : L"") +
            L".");
        if (!session.empty()) {
            OutLine(L"Backup session: " + session);
            OutLine(L"To undo: tidyhive restore " + session);
        }
    }
    return 0;
}

}  // namespace tidyhive::host

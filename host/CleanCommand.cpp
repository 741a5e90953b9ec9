#include "host/CleanCommand.h"

#include "host/CategoryNames.h"
#include "host/CleanOutcomes.h"
#include "host/Console.h"
#include "host/Engine.h"
#include "host/ScanCommand.h"
#include "host/TaskRunner.h"

#include <cstdio>
#include <iostream>

namespace tidyhive::host {
namespace {

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

    // What is about to be fixed, listed before anything changes. The clean frees the problems,
    // so they are recorded here for the outcome lines too. With --json --yes the outcome lines
    // alone describe each problem.
    const TCleanPlan plan = RecordCleanPlan(engine.get());
    LONG toFix = 0;
    for (const TCategoryRecord& category : plan) {
        for (const TProblemRecord& problem : category.problems) {
            if (problem.status == psFix) {
                ++toFix;
            }
            if (json && yes && !dryRun) {
                continue;
            }
            if (json) {
                OutLine(ProblemJson(problem, dryRun ? L", \"outcome\": \"would fix\"" : L""));
            } else {
                OutLine(std::wstring(dryRun ? L"would fix\t" : L"to fix\t") + CategoryTypeName(problem.type) +
                        L"\t" + problem.key + L"\t" + problem.value);
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

    IBackvault* backup = engine->GetBackupLibrary();
    const std::vector<std::wstring> sessionsBefore = SessionIds(backup);
    const std::wstring reportFile = ReportFileName();
    const std::string reportBefore = ReadReportBytes(reportFile);
    ICleanTask* clean = engine->GetCleanerManager();
    const TaskOutcome cleaned = RunTask(engine.get(), clean, ekCleanFinished, [clean]() {
        return L"cleaning: fixed " + std::to_wstring(clean->GetProblemsFixed()) + L", failed " +
               std::to_wstring(clean->GetFailedToFix());
    });
    if (cleaned == TaskOutcome::NotStarted) {
        ErrLine(L"tidyhive clean: the clean did not start (another task runs); nothing was changed");
        return 1;
    }

    const TCleanCounts counts = CountsOf(clean);
    std::wstring warning;
    const auto outcomes = ReadCleanOutcomes(reportFile, reportBefore, plan, counts, warning);
    if (!warning.empty()) {
        ErrLine(L"tidyhive clean: " + warning);
    }
    for (size_t c = 0; c < plan.size(); ++c) {
        for (size_t p = 0; p < plan[c].problems.size(); ++p) {
            const TProblemRecord& problem = plan[c].problems[p];
            const TCleanOutcome outcome = outcomes[c][p];
            OutLine(json ? OutcomeJson(problem, outcome) : OutcomeLine(problem, outcome));
        }
    }
    const std::wstring session = NewCleanSession(backup, sessionsBefore);
    const std::wstring undo = L"tidyhive restore " + session;
    const bool interrupted = cleaned == TaskOutcome::Interrupted;
    if (json) {
        OutLine(L"{\"summary\": {\"problemsFixed\": " + std::to_wstring(counts.fixed) +
                L", \"failedToFix\": " + std::to_wstring(counts.failed) + L", \"problemsSkipped\": " +
                std::to_wstring(counts.skipped) + L", \"problemsIgnored\": " +
                std::to_wstring(counts.ignored) + L", \"session\": " + JsonString(session) + L", \"undo\": " +
                (session.empty() ? L"null" : JsonString(undo)) + L", \"interrupted\": " +
                (interrupted ? L"true" : L"false") + L"}}");
    } else {
        OutLine(L"Fixed " + std::to_wstring(counts.fixed) + L", failed to fix " +
                std::to_wstring(counts.failed) + L", skipped " + std::to_wstring(counts.skipped) +
                L", moved to ignore list " + std::to_wstring(counts.ignored) +
                (interrupted ? L" (stopped; what was changed is in the session)" : L"") + L".");
        if (session.empty()) {
            OutLine(L"No backup session was kept: these changes cannot be undone.");
        } else {
            OutLine(L"Backup session: " + session);
            OutLine(L"To undo: " + undo);
        }
    }
    return 0;
}

}  // namespace tidyhive::host

#include "host/ScanCommand.h"

#include "host/CategoryNames.h"
#include "host/Console.h"
#include "host/Engine.h"
#include "host/TaskRunner.h"

#include <algorithm>

namespace tidyhive::host {

bool TakeCategoryChoice(std::vector<std::wstring>& args, TCategoryChoice& choice, std::wstring& error)
{
    std::vector<std::wstring> rest;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == L"--all") {
            choice.all = true;
        } else if (args[i] == L"--category") {
            if (i + 1 >= args.size()) {
                error = L"--category needs a category type name such as rctFileExts";
                return false;
            }
            const auto type = CategoryTypeFromName(args[++i]);
            if (!type) {
                error = L"unknown category '" + args[i] + L"' (see 'tidyhive categories')";
                return false;
            }
            if (std::find(choice.types.begin(), choice.types.end(), *type) == choice.types.end()) {
                choice.types.push_back(*type);
            }
        } else {
            rest.push_back(args[i]);
        }
    }
    args = rest;
    return true;
}

void ApplyCategoryChoice(ICategoryCollection* categories, const TCategoryChoice& choice)
{
    categories->Clear();
    if (!choice.types.empty()) {
        for (TCategoryType type : choice.types) {
            categories->AddCategory(type);
        }
    } else if (choice.all) {
        categories->AddAllCategories();
    } else {
        categories->AddDefaultCategories();
    }
}

const wchar_t* StatusName(BYTE status)
{
    switch (status) {
    case psSkip:
        return L"skip";
    case psFix:
        return L"fix";
    case psIgnore:
        return L"ignore";
    default:
        return L"unknown";
    }
}

TProblemRecord RecordOf(TCategoryType type, IDetectedProblemKey* problem)
{
    TProblemRecord record;
    record.type = type;
    record.key = TakeText(problem->GetKeyPath());
    record.value = TakeText(problem->GetValueName());
    record.data = TakeText(problem->GetData());
    IValidationAlgorithm* algorithm = problem->GetAlgorithm();
    record.description = algorithm ? TakeText(algorithm->GetShortDescription(problem)) : std::wstring();
    record.status = problem->GetStatus();
    return record;
}

std::wstring ProblemJson(const TProblemRecord& problem, const std::wstring& extra)
{
    return L"{\"category\": " + JsonString(CategoryTypeName(problem.type)) + L", \"key\": " +
           JsonString(problem.key) + L", \"value\": " + JsonString(problem.value) + L", \"data\": " +
           JsonString(problem.data) + L", \"description\": " + JsonString(problem.description) +
           L", \"status\": " + JsonString(StatusName(problem.status)) + extra + L"}";
}

std::wstring ProblemJson(TCategoryType type, IDetectedProblemKey* problem, const std::wstring& extra)
{
    return ProblemJson(RecordOf(type, problem), extra);
}

TaskOutcome RunScan(TEngine& engine, const TCategoryChoice& choice)
{
    IScanTask* scan = engine->GetScanManager();
    ApplyCategoryChoice(engine->GetCategories(), choice);
    const auto progress = [scan]() {
        const LONG max = scan->GetMaxProgress();
        const LONG done = scan->GetProgress();
        const LONG percent = max > 0 ? std::min<LONG>(100, MulDiv(done, 100, max)) : 0;
        ICategoryScanner* current = scan->GetCurrentCategory();
        const std::wstring name = current ? TakeText(current->GetName()) : TakeText(scan->GetCurrentKey());
        return L"[" + std::to_wstring(percent) + L"%] " + name + L"  keys " +
               std::to_wstring(scan->GetKeysScanned()) + L"  problems " +
               std::to_wstring(scan->GetProblemsFound());
    };
    return RunTask(engine.get(), scan, ekScanFinished, progress);
}

int ScanCommand(const std::vector<std::wstring>& arguments)
{
    std::vector<std::wstring> args = arguments;
    TCategoryChoice choice;
    std::wstring error;
    if (!TakeCategoryChoice(args, choice, error)) {
        ErrLine(L"tidyhive scan: " + error);
        return 2;
    }
    bool json = false;
    for (const std::wstring& arg : args) {
        if (arg == L"--json") {
            json = true;
        } else {
            ErrLine(L"tidyhive scan: unexpected argument '" + arg + L"'. Run 'tidyhive --help'.");
            return 2;
        }
    }

    TEngine engine;
    if (!engine.Open()) {
        ErrLine(L"tidyhive: " + engine.error());
        return 1;
    }
    IScanTask* scan = engine->GetScanManager();
    const TaskOutcome outcome = RunScan(engine, choice);
    if (outcome == TaskOutcome::NotStarted) {
        ErrLine(L"tidyhive scan: the scan did not start (another task runs)");
        return 1;
    }

    ICategoryCollection* categories = engine->GetCategories();
    for (LONG i = 0; i < categories->GetCount(); ++i) {
        ICategoryScanner* scanner = categories->GetItem(i);
        const TCategoryType type = scanner->GetCategoryType();
        IDetectedProblemKeysCollection* problems = engine->GetDetectedKeys(type);
        const LONG count = problems ? problems->GetCount() : 0;
        if (json) {
            for (LONG p = 0; p < count; ++p) {
                OutLine(ProblemJson(type, problems->GetItem(p)));
            }
        } else {
            OutLine(std::wstring(CategoryTypeName(type)) + L"\t" + TakeText(scanner->GetName()) + L": " +
                    std::to_wstring(count) + (count == 1 ? L" problem" : L" problems"));
        }
    }
    const std::wstring interrupted = outcome == TaskOutcome::Interrupted ? L"true" : L"false";
    if (json) {
        OutLine(L"{\"summary\": {\"categoriesCount\": " + std::to_wstring(scan->GetCategoriesCount()) +
                L", \"categoriesScanned\": " + std::to_wstring(scan->GetCategoriesScanned()) +
                L", \"totalKeysScanned\": " + std::to_wstring(scan->GetKeysScanned()) +
                L", \"totalValuesScanned\": " + std::to_wstring(scan->GetValuesScanned()) +
                L", \"totalValuesIgnored\": " + std::to_wstring(scan->GetValuesIgnored()) +
                L", \"totalProblemsFound\": " + std::to_wstring(scan->GetProblemsFound()) +
                L", \"interrupted\": " + interrupted + L"}}");
    } else {
        OutLine(L"Scanned " + std::to_wstring(scan->GetCategoriesScanned()) + L" of " +
                std::to_wstring(scan->GetCategoriesCount()) + L" categories, " +
                std::to_wstring(scan->GetKeysScanned()) + L" keys, " +
                std::to_wstring(scan->GetValuesScanned()) + L" values; " +
                std::to_wstring(scan->GetProblemsFound()) + L" problems found, " +
                std::to_wstring(scan->GetValuesIgnored()) + L" ignored." +
                (outcome == TaskOutcome::Interrupted ? L" (stopped)" : L""));
    }
    return 0;
}

}  // namespace tidyhive::host

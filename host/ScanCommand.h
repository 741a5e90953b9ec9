// "tidyhive scan": scans the chosen categories and reports what it found.
#pragma once

#include "tidyhive/Tidyhive.h"

#include <string>
#include <vector>

namespace tidyhive::host {

struct TCategoryChoice {
    bool all = false;
    std::vector<TCategoryType> types;  // empty: the default categories (or all)
};

// Parses --all and --category NAME (repeatable) out of args, leaving the rest.
// Answers false with a message in error for an unknown category or a missing name.
bool TakeCategoryChoice(std::vector<std::wstring>& args, TCategoryChoice& choice, std::wstring& error);
void ApplyCategoryChoice(ICategoryCollection* categories, const TCategoryChoice& choice);

// The text of a problem's status as the JSON output names it.
const wchar_t* StatusName(BYTE status);

// A problem's fields as the host shows them, copied so that they outlive the problem (a
// clean frees every problem it handles).
struct TProblemRecord {
    TCategoryType type = rctUndefined;
    std::wstring key;
    std::wstring value;
    std::wstring data;
    std::wstring description;  // the algorithm's short description
    BYTE status = psFix;
};
TProblemRecord RecordOf(TCategoryType type, IDetectedProblemKey* problem);

// One JSON line for a problem; extra fields (already formatted, with a leading comma) may follow.
std::wstring ProblemJson(const TProblemRecord& problem, const std::wstring& extra = {});
std::wstring ProblemJson(TCategoryType type, IDetectedProblemKey* problem, const std::wstring& extra = {});

class TEngine;
enum class TaskOutcome;
// Chooses the categories and runs a scan, with a progress line on a terminal.
TaskOutcome RunScan(TEngine& engine, const TCategoryChoice& choice);

int ScanCommand(const std::vector<std::wstring>& args);

}  // namespace tidyhive::host

// What became of each problem of a clean. The clean task frees every category's problems
// when it ends and keeps only totals, so the host records the problems before the clean and
// afterwards reads each one's outcome back from the report the clean wrote
// ("tidyhive.xml", cleanLog/categories/category/problems/problem): one element per problem
// handled, in collection order and problem order, its "status" the engine's localized text.
#pragma once

#include "host/ScanCommand.h"
#include "tidyhive/Tidyhive.h"

#include <optional>
#include <string>
#include <vector>

namespace tidyhive::host {

enum class TCleanOutcome { Fixed, Failed, Skipped, Ignored, Unprocessed, Unknown };

// Stable names for JSON, whatever the language: "fixed", "failed", "skipped", "ignored",
// "unprocessed" (the clean stopped before it), "unknown" (the report does not say).
const wchar_t* OutcomeName(TCleanOutcome outcome);
// Words for the console: "Fixed", "Failed to fix", "Skipped", "Moved to ignore list", ...
const wchar_t* OutcomeText(TCleanOutcome outcome);

// A problem's line after the clean: the JSON object of "scan" with an "outcome" field, or
// the console's "<outcome>\t<category type>\t<key>\t<value>".
std::wstring OutcomeJson(const TProblemRecord& problem, TCleanOutcome outcome);
std::wstring OutcomeLine(const TProblemRecord& problem, TCleanOutcome outcome);

// A category of the clean with its problems as they stood before the clean started.
struct TCategoryRecord {
    TCategoryType type = rctUndefined;
    std::wstring name;  // the localized name, as the report carries it
    std::vector<TProblemRecord> problems;
};
// Every category of the collection, in collection order (the order the clean takes).
using TCleanPlan = std::vector<TCategoryRecord>;
TCleanPlan RecordCleanPlan(IRegistryCleanerManager* root);

// The status texts the engine writes into the report.
struct TOutcomeTexts {
    std::wstring fixed;
    std::wstring failed;
    std::wstring skipped;
    std::wstring ignored;
};
TOutcomeTexts DefaultOutcomeTexts();
// The texts in the language the engine uses, asked of the localiser that holds the engine's
// text variables (Lingmoor.dll keeps one instance per process); a key it does not answer
// keeps its English text. Call while the engine is loaded.
TOutcomeTexts EngineOutcomeTexts();

// The outcome that a report's status text names for a problem marked `marked` when the
// clean began. The mark narrows the choice (a problem marked to skip can only have been
// skipped), which also keeps apart outcomes that a translation gives the same text. No
// status, a text that is none of the four, or one that is both Fixed and Failed: Unknown.
TCleanOutcome OutcomeOf(const std::optional<std::wstring>& status, BYTE marked, const TOutcomeTexts& texts);

// The last cleanLog section of a report.
struct TReportedProblem {
    std::wstring key;
    std::wstring value;
    std::optional<std::wstring> status;
};
struct TReportedCategory {
    std::wstring name;
    std::vector<TReportedProblem> problems;
};
struct TCleanLog {
    std::vector<TReportedCategory> categories;
};
// Parses a report with the platform's XML parser (MSXML). False, with the reason in error,
// when the document is not well-formed or holds no cleanLog.
bool ParseCleanLog(const std::string& bytes, TCleanLog& log, std::wstring& error);

// The clean task's own totals.
struct TCleanCounts {
    LONG fixed = 0;
    LONG failed = 0;
    LONG skipped = 0;
    LONG ignored = 0;
};
TCleanCounts CountsOf(ICleanTask* clean);

// One outcome per planned problem, shaped like the plan. The log must be this clean's: the
// planned categories' names in order, no category or problem beyond the plan, and totals
// that agree with counts; otherwise every outcome is Unknown and warning says why. A
// reported problem whose key or value differs from the planned one at its place is Unknown
// (warning says so too); planned problems past the end of the log were not reached:
// Unprocessed. When the texts cannot tell Fixed from Failed, the counts settle it if they can.
std::vector<std::vector<TCleanOutcome>> MatchOutcomes(const TCleanPlan& plan, const TCleanLog& log,
                                                      const TOutcomeTexts& texts, const TCleanCounts& counts,
                                                      std::wstring& warning);

// Where the engine writes its report: the user's application-data folder, "Quorvanta\",
// the product name, "\User Reports\tidyhive.xml", as Sysvane.dll names them. Empty when
// the folder is unknown.
std::wstring ReportFileName();
// A file's bytes, read with every sharing mode (the report library may hold it open);
// empty when it cannot be read.
std::string ReadReportBytes(const std::wstring& fileName);

// Reads the outcomes of the clean that has just ended from the report. reportBefore: the
// report's bytes taken before the clean started, so that a report the clean did not write
// (it could not be opened) is not taken for its record.
std::vector<std::vector<TCleanOutcome>> ReadCleanOutcomes(const std::wstring& reportFile,
                                                          const std::string& reportBefore,
                                                          const TCleanPlan& plan, const TCleanCounts& counts,
                                                          std::wstring& warning);

// The identifiers of the backup sessions kept now.
std::vector<std::wstring> SessionIds(IBackvault* backup);
// The newest session of the engine's clean that is not among before: the one a clean that
// has just ended kept. Empty when there is none (backing up is turned off, or the backup
// library could not begin a session).
std::wstring NewCleanSession(IBackvault* backup, const std::vector<std::wstring>& before);

}  // namespace tidyhive::host

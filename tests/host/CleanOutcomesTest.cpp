// The outcome of each problem of a clean, read back from the report the engine wrote: how
// status texts map to outcomes, how a report is matched against the problems recorded
// before the clean, and a real clean of a test's own dead Open-with entries in which every
// other problem is left marked to skip, so that nothing of the prefix's changes.
#include "host/CleanOutcomes.h"
#include "host/TaskRunner.h"
#include "tests/support/BackvaultTesting.h"
#include "tests/support/EngineLibrary.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <optional>

namespace tidyhive::testing {
namespace {

using host::TCleanOutcome;

constexpr wchar_t kFileExts[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts";

std::wstring Names(const std::vector<TCleanOutcome>& outcomes)
{
    std::wstring text;
    for (TCleanOutcome outcome : outcomes) {
        text += (text.empty() ? L"" : L",") + std::wstring(host::OutcomeName(outcome));
    }
    return text;
}

std::wstring Names(const std::vector<std::vector<TCleanOutcome>>& outcomes)
{
    std::wstring text;
    for (const auto& category : outcomes) {
        text += L"[" + Names(category) + L"]";
    }
    return text;
}

TEST(CleanOutcomes, StatusTextsMapByTheEnginesWordsNarrowedByTheProblemsMark)
{
    const host::TOutcomeTexts english = host::DefaultOutcomeTexts();
    const host::TOutcomeTexts german = {L"Behoben", L"Nicht behoben!", L"\u00dcbersprungen", L"Ignoriert"};
    // A translation that gives skipping and ignoring the same words, and one that cannot
    // tell fixing from failing.
    const host::TOutcomeTexts sameSkipIgnore = {L"Fait", L"\u00c9chec", L"Laiss\u00e9", L"Laiss\u00e9"};
    const host::TOutcomeTexts sameFixFail = {L"Done", L"Done", L"Skipped", L"Ignored"};
    // Characters XML cannot carry reach the report as U+FFFD.
    const host::TOutcomeTexts control = {L"Fixed\x01", L"Failed", L"Skipped", L"Ignored"};
    struct TCase {
        std::optional<std::wstring> status;
        BYTE marked;
        const host::TOutcomeTexts* texts;
        TCleanOutcome expected;
    };
    const TCase cases[] = {
        {L"Fixed", psFix, &english, TCleanOutcome::Fixed},
        {L"Failed to fix!", psFix, &english, TCleanOutcome::Failed},
        {L"Skipped", psSkip, &english, TCleanOutcome::Skipped},
        {L"Moved to ignore list", psIgnore, &english, TCleanOutcome::Ignored},
        {std::nullopt, psFix, &english, TCleanOutcome::Unknown},
        {L"", psSkip, &english, TCleanOutcome::Unknown},
        {L"fixed", psFix, &english, TCleanOutcome::Unknown},
        {L"Failed to fix", psFix, &english, TCleanOutcome::Unknown},
        {L"Fixed", psSkip, &english, TCleanOutcome::Unknown},
        {L"Skipped", psFix, &english, TCleanOutcome::Unknown},
        {L"Fixed", 7, &english, TCleanOutcome::Unknown},
        {L"Behoben", psFix, &german, TCleanOutcome::Fixed},
        {L"Nicht behoben!", psFix, &german, TCleanOutcome::Failed},
        {L"\u00dcbersprungen", psSkip, &german, TCleanOutcome::Skipped},
        {L"Fixed", psFix, &german, TCleanOutcome::Unknown},
        {L"Laiss\u00e9", psSkip, &sameSkipIgnore, TCleanOutcome::Skipped},
        {L"Laiss\u00e9", psIgnore, &sameSkipIgnore, TCleanOutcome::Ignored},
        {L"Done", psFix, &sameFixFail, TCleanOutcome::Unknown},
        {L"Fixed\uFFFD", psFix, &control, TCleanOutcome::Fixed},
    };
    for (const TCase& item : cases) {
        const TCleanOutcome outcome = host::OutcomeOf(item.status, item.marked, *item.texts);
        EXPECT_EQ(outcome, item.expected)
            << "status \"" << (item.status ? *item.status : L"(none)") << "\" on a problem marked "
            << int(item.marked) << " with fixed text \"" << item.texts->fixed << "\": got "
            << host::OutcomeName(outcome) << ", expected " << host::OutcomeName(item.expected);
    }
}

TEST(CleanOutcomes, TheReportIsMatchedAgainstTheProblemsRecordedBeforeTheClean)
{
    const auto problem = [](const wchar_t* key, const wchar_t* value, BYTE status) {
        host::TProblemRecord record;
        record.type = rctFileExts;
        record.key = key;
        record.value = value;
        record.status = status;
        return record;
    };
    const host::TCleanPlan plan = {
        {rctFileExts,
         L"File Extentions",
         {problem(L"HKEY_CURRENT_USER\\A", L"a", psFix), problem(L"HKEY_CURRENT_USER\\A", L"a", psFix),
          problem(L"HKEY_CURRENT_USER\\B", L"", psSkip)}},
        {rctStartup, L"Startup", {problem(L"HKEY_CURRENT_USER\\Run", L"x\x01y", psFix)}},
    };
    const auto reported = [](const wchar_t* key, const wchar_t* value, std::optional<std::wstring> status) {
        return host::TReportedProblem{key, value, std::move(status)};
    };
    const host::TReportedCategory extensions = {L"File Extentions",
                                                {reported(L"HKEY_CURRENT_USER\\A", L"a", L"Fixed"),
                                                 reported(L"HKEY_CURRENT_USER\\A", L"a", L"Failed to fix!"),
                                                 reported(L"HKEY_CURRENT_USER\\B", L"", L"Skipped")}};
    const host::TReportedCategory startup = {L"Startup",
                                             {reported(L"HKEY_CURRENT_USER\\Run", L"x\uFFFDy", L"Fixed")}};
    const host::TOutcomeTexts english = host::DefaultOutcomeTexts();
    const host::TOutcomeTexts oneWord = {L"Done", L"Done", L"Skipped", L"Ignored"};

    struct TCase {
        const char* name;
        host::TCleanLog log;
        host::TCleanCounts counts;
        const host::TOutcomeTexts* texts;
        std::wstring expected;
        bool warns;
    };
    host::TReportedCategory renamedKey = extensions;
    renamedKey.problems[1].key = L"HKEY_CURRENT_USER\\Other";
    host::TReportedCategory stopped = extensions;
    stopped.problems.resize(1);
    host::TReportedCategory longer = extensions;
    longer.problems.push_back(reported(L"HKEY_CURRENT_USER\\C", L"", L"Fixed"));
    host::TReportedCategory oneWordExtensions = extensions;
    oneWordExtensions.problems[0].status = oneWordExtensions.problems[1].status = L"Done";
    host::TReportedCategory oneWordStartup = startup;
    oneWordStartup.problems[0].status = L"Done";
    const TCase cases[] = {
        {"every problem reported",
         {{extensions, startup}},
         {2, 1, 1, 0},
         &english,
         L"[fixed,failed,skipped][fixed]",
         false},
        {"stopped after the first problem",
         {{stopped}},
         {1, 0, 0, 0},
         &english,
         L"[fixed,unprocessed,unprocessed][unprocessed]",
         false},
        {"nothing reached",
         {},
         {0, 0, 0, 0},
         &english,
         L"[unprocessed,unprocessed,unprocessed][unprocessed]",
         false},
        {"one problem under another key",
         {{renamedKey, startup}},
         {2, 1, 1, 0},
         &english,
         L"[fixed,unknown,skipped][fixed]",
         true},
        {"totals that disagree",
         {{extensions, startup}},
         {3, 0, 1, 0},
         &english,
         L"[unknown,unknown,unknown][unknown]",
         true},
        {"another category first",
         {{startup, extensions}},
         {2, 1, 1, 0},
         &english,
         L"[unknown,unknown,unknown][unknown]",
         true},
        {"more problems than recorded",
         {{longer, startup}},
         {3, 1, 1, 0},
         &english,
         L"[unknown,unknown,unknown][unknown]",
         true},
        {"more categories than recorded",
         {{extensions, startup, startup}},
         {3, 1, 1, 0},
         &english,
         L"[unknown,unknown,unknown][unknown]",
         true},
        {"one word for fixed and failed, all fixed",
         {{oneWordExtensions, oneWordStartup}},
         {3, 0, 1, 0},
         &oneWord,
         L"[fixed,fixed,skipped][fixed]",
         false},
        {"one word for fixed and failed, all failed",
         {{oneWordExtensions, oneWordStartup}},
         {0, 3, 1, 0},
         &oneWord,
         L"[failed,failed,skipped][failed]",
         false},
        {"one word for fixed and failed, mixed",
         {{oneWordExtensions, oneWordStartup}},
         {2, 1, 1, 0},
         &oneWord,
         L"[unknown,unknown,skipped][unknown]",
         true},
    };
    for (const TCase& item : cases) {
        std::wstring warning;
        const auto outcomes = host::MatchOutcomes(plan, item.log, *item.texts, item.counts, warning);
        EXPECT_EQ(Names(outcomes), item.expected) << item.name;
        EXPECT_EQ(!warning.empty(), item.warns) << item.name << ": warning \"" << warning << "\"";
    }
}

TEST(CleanOutcomes, TheLastCleanOfAReportIsParsed)
{
    const std::string report =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<report><info user=\"u\"/>"
        "<cleanLog><categories><category name=\"Old\"/></categories></cleanLog>"
        "<cleanLog><categories><category name=\"File Extentions\"><problems>"
        "<problem key=\"HKEY_CURRENT_USER\\T&amp;x\" value=\"a&#9;b\" description=\"d\" status=\"Fixed\"/>"
        "<problem key=\"K\" value=\"\" description=\"d\"/>"
        "</problems></category><category name=\"\u00dcbrig\"><problems/></category></categories>"
        "<summary problemsFixed=\"1\"/></cleanLog></report>";
    host::TCleanLog log;
    std::wstring error;
    ASSERT_TRUE(host::ParseCleanLog(report, log, error)) << error;
    ASSERT_EQ(log.categories.size(), 2u);
    EXPECT_EQ(log.categories[0].name, L"File Extentions");
    ASSERT_EQ(log.categories[0].problems.size(), 2u);
    EXPECT_EQ(log.categories[0].problems[0].key, L"HKEY_CURRENT_USER\\T&x");
    EXPECT_EQ(log.categories[0].problems[0].value, L"a\tb");
    EXPECT_EQ(log.categories[0].problems[0].status, std::optional<std::wstring>(L"Fixed"));
    EXPECT_FALSE(log.categories[0].problems[1].status.has_value()) << "a problem without a status";
    EXPECT_EQ(log.categories[1].name, L"\u00dcbrig");
    EXPECT_TRUE(log.categories[1].problems.empty());

    struct TCase {
        std::string bytes;
        const wchar_t* reason;
    };
    const TCase refused[] = {
        {"", L"not well-formed"},
        {"<report><cleanLog><categories>", L"not well-formed"},
        {"<report><info/><scanLog/></report>", L"holds no clean"},
        {"<?xml version=\"1.0\"?><!DOCTYPE report [<!ENTITY a \"aaaa\">]><report><cleanLog/></report>",
         L"document type"},
    };
    for (const TCase& item : refused) {
        EXPECT_FALSE(host::ParseCleanLog(item.bytes, log, error)) << item.bytes;
        EXPECT_NE(error.find(item.reason), std::wstring::npos) << item.bytes << ": " << error;
    }
}

// Runs a task to its end on this thread, as the host does.
host::TaskOutcome RunToEnd(IRegistryCleanerManager* root, IEngineTask* task, BYTE finished)
{
    return host::RunTask(root, task, finished, {});
}

// Removes a backup session of the test's own when the test ends.
class TSessionGuard {
public:
    TSessionGuard(IBackvault* backup, std::wstring id) : backup_(backup), id_(std::move(id)) {}
    ~TSessionGuard()
    {
        if (!id_.empty()) {
            backup_->DeleteSession(id_.c_str());
        }
    }
    TSessionGuard(const TSessionGuard&) = delete;
    TSessionGuard& operator=(const TSessionGuard&) = delete;
    const std::wstring& id() const { return id_; }

private:
    IBackvault* backup_;
    std::wstring id_;
};

bool Under(const std::wstring& key, const std::wstring& parent)
{
    return key.size() >= parent.size() &&
           CompareStringOrdinal(key.c_str(), static_cast<int>(parent.size()), parent.c_str(),
                                static_cast<int>(parent.size()), TRUE) == CSTR_EQUAL &&
           (key.size() == parent.size() || key[parent.size()] == L'\\');
}

// Dead Open-with entries of a test's own extension: an application that is not registered,
// a ProgID without a class key, and a user choice of such a ProgID. A value the category
// accepts keeps the extension key from being emptied and removed, with its parents, by the
// fixes.
struct TPlantedExtension {
    TPlantedExtension()
    {
        key.SetString({}, L"TidyhiveKeep", L"kept");
        key.SetString(L"OpenWithList", L"a", L"tidyhive-gone-" + NewGuidText() + L".exe");
        key.SetString(L"OpenWithList", L"MRUList", L"a");
        key.SetString(L"OpenWithProgids", progId, L"");
        key.SetString(L"UserChoice", L"Progid", L"TidyhiveGone.Choice" + NewGuidText());
    }
    TEnsuredKey parent{HKEY_CURRENT_USER, kFileExts,
                       KEY_WOW64_64KEY};  // first in, last out: after the key is gone
    TTestKey key{L".tidyhive", false, HKEY_CURRENT_USER, kFileExts};
    const std::wstring progId = L"TidyhiveGone.ProgId" + NewGuidText();
};

// Cleans the planted problems (all but the user's choice, left to see a skip) through the
// root, everything else the scan finds staying marked to skip, and checks each planted
// problem's outcome line.
void CleanPlantedProblems(const TRootOwner& root, const std::wstring& fixedWords,
                          const std::wstring& skippedWords)
{
    TPlantedExtension planted;
    const std::wstring extension = planted.key.FullPath();
    root->GetCategories()->Clear();
    ASSERT_NE(root->GetCategories()->AddCategory(rctFileExts), nullptr);
    ASSERT_EQ(RunToEnd(root.get(), root->GetScanManager(), ekScanFinished), host::TaskOutcome::Finished);

    IDetectedProblemKeysCollection* problems = root->GetDetectedKeys(rctFileExts);
    for (LONG i = 0; i < problems->GetCount(); ++i) {
        IDetectedProblemKey* problem = problems->GetItem(i);
        const bool ours = Under(Take(problem->GetKeyPath()), extension);
        problem->SetStatus(ours && Take(problem->GetValueName()) != L"Progid" ? psFix : psSkip);
    }
    const host::TCleanPlan plan = host::RecordCleanPlan(root.get());
    ASSERT_EQ(plan.size(), 1u);

    IBackvault* backup = root->GetBackupLibrary();
    const std::vector<std::wstring> sessionsBefore = host::SessionIds(backup);
    const std::wstring reportFile = host::ReportFileName();
    ASSERT_FALSE(reportFile.empty());
    const std::string reportBefore = host::ReadReportBytes(reportFile);
    ICleanTask* clean = root->GetCleanerManager();
    ASSERT_EQ(RunToEnd(root.get(), clean, ekCleanFinished), host::TaskOutcome::Finished);
    TSessionGuard session(backup, host::NewCleanSession(backup, sessionsBefore));
    EXPECT_FALSE(session.id().empty()) << "the clean kept no new session";
    EXPECT_EQ(problems->GetCount(), 0) << "the clean consumed the problems";

    std::wstring warning;
    const auto outcomes =
        host::ReadCleanOutcomes(reportFile, reportBefore, plan, host::CountsOf(clean), warning);
    EXPECT_TRUE(warning.empty()) << warning;
    ASSERT_EQ(outcomes.size(), 1u);
    ASSERT_EQ(outcomes[0].size(), plan[0].problems.size());

    struct TExpected {
        std::wstring key;
        std::wstring value;
        std::wstring outcome;
        std::wstring words;  // on the console, in English whatever the engine's language
        size_t seen = 0;
    };
    TExpected expected[] = {
        {extension + L"\\OpenWithList", L"a", L"fixed", fixedWords},
        {extension + L"\\OpenWithProgids", planted.progId, L"fixed", fixedWords},
        {extension + L"\\UserChoice", L"Progid", L"skipped", skippedWords},
    };
    for (size_t i = 0; i < plan[0].problems.size(); ++i) {
        const host::TProblemRecord& problem = plan[0].problems[i];
        const std::wstring line = host::OutcomeJson(problem, outcomes[0][i]);
        if (!Under(problem.key, extension)) {
            EXPECT_EQ(outcomes[0][i], TCleanOutcome::Skipped) << line;
            continue;
        }
        const auto match =
            std::find_if(std::begin(expected), std::end(expected), [&](const TExpected& entry) {
                return entry.key == problem.key && entry.value == problem.value;
            });
        ASSERT_NE(match, std::end(expected)) << "a problem the test did not plant: " << line;
        ++match->seen;
        EXPECT_NE(line.find(L"\"outcome\": \"" + match->outcome + L"\""), std::wstring::npos) << line;
        EXPECT_NE(line.find(L"\"category\": \"rctFileExts\""), std::wstring::npos) << line;
        const std::wstring console = host::OutcomeLine(problem, outcomes[0][i]);
        EXPECT_EQ(console, match->words + L"\trctFileExts\t" + problem.key + L"\t" + problem.value)
            << console;
    }
    for (const TExpected& entry : expected) {
        EXPECT_GE(entry.seen, 1u) << "no outcome for " << entry.key << " " << entry.value << "; outcomes "
                                  << Names(outcomes);
    }
    EXPECT_FALSE(planted.key.ValueExists(L"OpenWithList", L"a"));
    EXPECT_FALSE(planted.key.ValueExists(L"OpenWithProgids", planted.progId));
    EXPECT_TRUE(planted.key.ValueExists(L"UserChoice", L"Progid")) << "the skipped problem is left alone";
    EXPECT_TRUE(planted.key.ValueExists({}, L"TidyhiveKeep"));
}

// The localiser's language switched for the test, and back at its end.
class TLanguageGuard {
public:
    TLanguageGuard(const std::wstring& folder, const std::wstring& language)
    {
        HMODULE module = LoadLibraryW(L"Lingmoor.dll");
        const auto getInstance =
            module ? reinterpret_cast<GetInstanceFn>(GetProcAddress(module, kGetInstanceExport)) : nullptr;
        IUnknown* instance = getInstance ? getInstance(kLocalizerInstanceId, 0) : nullptr;
        if (!instance ||
            FAILED(instance->QueryInterface(IID_ILocalizer, reinterpret_cast<void**>(&localizer_)))) {
            throw std::runtime_error("the localiser is not available");
        }
        instance->Release();
        BSTR text = nullptr;
        localizer_->GetLanguageFolder(&text);
        folder_ = Take(text);
        text = nullptr;
        localizer_->GetLanguage(&text);
        language_ = Take(text);
        localizer_->SetLanguageFolder(folder.c_str());
        localizer_->SetLanguage(language.c_str());
    }
    ~TLanguageGuard()
    {
        localizer_->SetLanguageFolder(folder_.c_str());
        localizer_->SetLanguage(language_.c_str());
        localizer_->Release();
    }
    TLanguageGuard(const TLanguageGuard&) = delete;
    TLanguageGuard& operator=(const TLanguageGuard&) = delete;
    ILocalizer* operator->() const { return localizer_; }

private:
    ILocalizer* localizer_ = nullptr;
    std::wstring folder_;
    std::wstring language_;
};

TEST(CleanOutcomes, ARealCleanOfPlantedEntriesReportsEachProblemsOutcome)
{
    TEngineLibrary library;
    TRootOwner root(library.CreateRoot());
    CleanPlantedProblems(root, L"Fixed", L"Skipped");
}

TEST(CleanOutcomes, OutcomesAreTheSameWhateverTheEnginesLanguage)
{
    TEngineLibrary library;
    TRootOwner root(library.CreateRoot());  // registers the engine's texts
    TTestFolder folder;
    // Skipping and ignoring share their words, the fixed text holds a tab, and the category
    // has another name in the report.
    folder.AddFile(L"XTH.lng", "CC_KEY_STATUS_FIXED=Erledigt\\t(gesichert)\n"
                               "CC_KEY_STATUS_FAILTOFIX=Nicht erledigt!\n"
                               "CC_KEY_STATUS_SKIPPED=Belassen\n"
                               "CC_KEY_STATUS_IGNORED=Belassen\n"
                               "CS_FILEEXT_NAME=Dateiendungen \u00fc\n");
    TLanguageGuard language(folder.Path(), L"XTH");
    BSTR problem = nullptr;
    ASSERT_EQ(language->GetLoadProblem(&problem), S_FALSE) << Take(problem);
    EXPECT_EQ(host::EngineOutcomeTexts().fixed, L"Erledigt\t(gesichert)");
    ASSERT_NE(root->GetCategories()->AddCategory(rctFileExts), nullptr);
    EXPECT_EQ(Take(root->GetCategories()->GetItem(0)->GetName()), L"Dateiendungen \u00fc");
    CleanPlantedProblems(root, L"Fixed", L"Skipped");
}

TEST(CleanOutcomes, ADryRunListsThePlantedProblemsAndChangesNothing)
{
    TPlantedExtension planted;
    std::string output;
    const int code = RunCaptured(
        L"\"" + ExecutableFolder() + L"tidyhive.exe\" clean --category rctFileExts --dry-run --json", output);
    const std::wstring text = FromUtf8(output);
    EXPECT_EQ(code, 0) << text;
    const std::wstring extension = planted.key.FullPath();
    const std::pair<std::wstring, std::wstring> problems[] = {
        {extension + L"\\OpenWithList", L"a"},
        {extension + L"\\OpenWithProgids", planted.progId},
        {extension + L"\\UserChoice", L"Progid"},
    };
    for (const auto& [key, value] : problems) {
        const std::wstring fields =
            L"\"key\": " + host::JsonString(key) + L", \"value\": " + host::JsonString(value);
        const size_t at = text.find(fields);
        ASSERT_NE(at, std::wstring::npos) << fields << "\n" << text;
        const std::wstring line = text.substr(at, text.find(L'\n', at) - at);
        EXPECT_NE(line.find(L"\"outcome\": \"would fix\""), std::wstring::npos) << line;
    }
    EXPECT_NE(text.find(L"\"dryRun\": true"), std::wstring::npos) << text;
    EXPECT_TRUE(planted.key.ValueExists(L"OpenWithList", L"a"));
    EXPECT_TRUE(planted.key.ValueExists(L"OpenWithProgids", planted.progId));
    EXPECT_TRUE(planted.key.ValueExists(L"UserChoice", L"Progid"));
}

}  // namespace
}  // namespace tidyhive::testing

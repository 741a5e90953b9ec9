// Detected problems: statuses, the statistics lists, the fix through the algorithm, and
// the collection under concurrent use.
#include "scan/DetectedProblemKeys.h"

#include "services/Text.h"
#include "tests/support/TestDebugLog.h"
#include "validation/ValidationAlgorithm.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tidyhive {
namespace {

using testing::TCapturedDebugLog;

struct TCounts {
    LONG fix, skip, ignore, total;
    bool operator==(const TCounts&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TCounts& c)
{
    return out << "{fix " << c.fix << ", skip " << c.skip << ", ignore " << c.ignore << ", total " << c.total
               << "}";
}

TCounts CountsOf(TDetectedProblemKeysCollection& collection)
{
    IDetectedProblemKeysStatistics* statistics = collection.GetStatistics();
    return {statistics->GetKeysToFix()->GetCount(), statistics->GetKeysToSkip()->GetCount(),
            statistics->GetKeysToIgnore()->GetCount(), statistics->GetTotalCount()};
}

// Every problem whose status is 0, 1 or 2 is in exactly the list of its status; any other
// problem is in none.
void ExpectConsistent(TDetectedProblemKeysCollection& collection)
{
    TDetectedProblemKeysStatistics& statistics = *collection.Statistics();
    TKeysCollection* lists[] = {&statistics.KeysToSkip(), &statistics.KeysToFix(),
                                &statistics.KeysToIgnore()};
    LONG listed = 0;
    for (LONG index = 0; index < collection.Count(); ++index) {
        TDetectedProblemKey* key = collection.Items(index);
        const TProblemKeyStatus status = key->Status();
        for (int list = 0; list < 3; ++list) {
            EXPECT_EQ(lists[list]->Contains(key), list == status)
                << "problem " << index << " with status " << int(status) << " in list " << list;
        }
        listed += status <= ksIgnore ? 1 : 0;
    }
    EXPECT_EQ(statistics.GetTotalCount(), listed);
}

std::wstring Text(BSTR owned)
{
    const TBstr text(owned);
    return text.Str();
}

TEST(DetectedProblemKeysTest, ANewProblemIsMarkedForFixingAndListedToFix)
{
    TDetectedProblemKeysCollection collection(rctFonts);
    TDetectedProblemKey* key = collection.AddNew();
    EXPECT_EQ(key->GetStatus(), ksFix);
    EXPECT_EQ(key->Owner(), &collection);
    EXPECT_EQ(collection.GetStatistics()->GetKeysToFix()->GetItem(0), key);
    EXPECT_EQ(CountsOf(collection), (TCounts{1, 0, 0, 1}));
    EXPECT_EQ(collection.GetStatistics()->GetTotalCount(), collection.GetCount());
}

TEST(DetectedProblemKeysTest, StatusChangesMoveTheProblemBetweenTheLists)
{
    TDetectedProblemKeysCollection collection(rctClasses);
    collection.AddNew();
    TDetectedProblemKey* key = collection.AddNew();
    struct TCase {
        BYTE status;
        TCounts expected;
    };
    const TCase cases[] = {
        {2, {1, 0, 1, 2}},  // to ignore
        {2, {1, 0, 1, 2}},  // again: nothing changes
        {0, {1, 1, 0, 2}},  // to skip
        {5, {1, 0, 0, 1}},  // no list: the total is one less than the count
        {1, {2, 0, 0, 2}},  // back to fix
    };
    for (const TCase& c : cases) {
        key->SetStatus(c.status);
        EXPECT_EQ(key->GetStatus(), c.status);
        EXPECT_EQ(CountsOf(collection), c.expected) << "after SetStatus(" << int(c.status) << ")";
        EXPECT_EQ(collection.GetCount(), 2);
        ExpectConsistent(collection);
    }
}

TEST(DetectedProblemKeysTest, SetAllStatusesMarksEveryProblem)
{
    TDetectedProblemKeysCollection collection(rctStartup);
    for (int index = 0; index < 3; ++index) {
        collection.AddNew();
    }
    collection.Items(1)->SetStatus(ksIgnore);
    collection.SetAllStatuses(ksSkip);
    EXPECT_EQ(CountsOf(collection), (TCounts{0, 3, 0, 3}));
    ExpectConsistent(collection);
}

TEST(DetectedProblemKeysTest, EmptyingTheCollectionEmptiesTheListsButKeepsTheFixCounters)
{
    TDetectedProblemKeysCollection collection(rctFonts);
    for (int index = 0; index < 4; ++index) {
        collection.AddNew()->SetStatus(static_cast<BYTE>(index % 3));
    }
    TDetectedProblemKeysStatistics& statistics = *collection.Statistics();
    statistics.IncFixed();
    statistics.IncFixed();
    statistics.IncFailed();
    collection.Clear();
    EXPECT_EQ(collection.GetCount(), 0);
    EXPECT_EQ(CountsOf(collection), (TCounts{0, 0, 0, 0}));
    EXPECT_EQ(statistics.GetFixedCount(), 2);
    EXPECT_EQ(statistics.GetFailedCount(), 1);
}

TEST(DetectedProblemKeysTest, DeletingAndRemovingTakeTheProblemOutOfItsList)
{
    TDetectedProblemKeysCollection collection(rctFonts);
    TDetectedProblemKey* first = collection.AddNew();
    TDetectedProblemKey* second = collection.AddNew();
    second->SetStatus(ksIgnore);
    collection.AddNew()->SetStatus(ksSkip);

    collection.Delete(-1);
    collection.Delete(3);
    EXPECT_EQ(CountsOf(collection), (TCounts{1, 1, 1, 3})) << "out-of-range deletes changed something";

    collection.Delete(0);
    EXPECT_FALSE(collection.Statistics()->KeysToFix().Contains(first));
    EXPECT_EQ(CountsOf(collection), (TCounts{0, 1, 1, 2}));
    collection.Remove(second);
    EXPECT_EQ(CountsOf(collection), (TCounts{0, 1, 0, 1}));
    EXPECT_EQ(collection.GetCount(), 1);
    ExpectConsistent(collection);
}

TEST(DetectedProblemKeysTest, AnAddedProblemIsListedUnderTheStatusItAlreadyHas)
{
    TDetectedProblemKeysCollection collection(rctFonts);
    auto* key = new TDetectedProblemKey();  // the collection takes ownership
    key->SetStatus(ksIgnore);
    collection.Add(key);
    EXPECT_EQ(key->Owner(), &collection);
    EXPECT_EQ(CountsOf(collection), (TCounts{0, 0, 1, 1}));
}

TEST(DetectedProblemKeysTest, ItemsOutOfRangeAreEmptyResults)
{
    TDetectedProblemKeysCollection collection(rctFonts);
    collection.AddNew();
    for (LONG index : {-1L, 1L, 1000L}) {
        EXPECT_EQ(collection.GetItem(index), nullptr) << index;
        EXPECT_EQ(collection.GetStatistics()->GetKeysToFix()->GetItem(index), nullptr) << index;
    }
}

TEST(DetectedProblemKeysTest, TheCollectionAnswersBothCollectionInterfaces)
{
    TDetectedProblemKeysCollection collection(rctFonts);
    collection.AddNew();
    void* asProblems = nullptr;
    void* asKeys = nullptr;
    ASSERT_EQ(collection.QueryInterface(IID_IDetectedProblemKeysCollection, &asProblems), S_OK);
    ASSERT_EQ(collection.QueryInterface(IID_IKeysCollection, &asKeys), S_OK);
    EXPECT_EQ(static_cast<IDetectedProblemKeysCollection*>(asProblems)->GetCount(), 1);
    EXPECT_EQ(static_cast<IKeysCollection*>(asKeys)->GetCount(), 1);
    void* other = nullptr;
    EXPECT_EQ(collection.QueryInterface(IID_IEngineTask, &other), E_NOINTERFACE);
}

TEST(DetectedProblemKeysTest, TheProblemTellsItsEntryAndCategory)
{
    TDetectedProblemKeysCollection collection(rctFonts);
    TDetectedProblemKey* key = collection.AddNew();
    key->SetKeyPath(L"HKEY_LOCAL_MACHINE\\Software\\Fonts");
    key->SetValueName(L"Arial (TrueType)");
    key->SetData(L"arial.ttf");
    EXPECT_EQ(Text(key->GetKeyPath()), L"HKEY_LOCAL_MACHINE\\Software\\Fonts");
    EXPECT_EQ(Text(key->GetValueName()), L"Arial (TrueType)");
    EXPECT_EQ(Text(key->GetData()), L"arial.ttf");
    EXPECT_EQ(key->GetCategoryType(), 3);
    EXPECT_EQ(key->GetAlgorithm(), nullptr);

    TDetectedProblemKey orphan;
    EXPECT_EQ(orphan.GetCategoryType(), rctUndefined);
}

// Records what the problem hands it; the fix answers as told or raises.
class TRecordingAlgorithm : public TValidationAlgorithm {
public:
    bool IsValid(const std::wstring&, const std::wstring&, const std::wstring&) override { return false; }
    bool FIX(const std::wstring& key, const std::wstring& value, const std::wstring& data) override
    {
        seen = key + L"|" + value + L"|" + data;
        viewDuringFix = GetUse64BitView();
        redirectionOffDuringFix = GetDisableFsRedirection();
        if (raise) {
            throw std::runtime_error("registry gone");
        }
        return answer;
    }
    std::wstring seen;
    bool viewDuringFix = false;
    bool redirectionOffDuringFix = false;
    bool answer = true;
    bool raise = false;
};

TEST(DetectedProblemKeysTest, FixWithoutAnAlgorithmLogsTheEntryAndFails)
{
    TCapturedDebugLog log;
    TDetectedProblemKeysCollection collection(rctFonts);
    TDetectedProblemKey* key = collection.AddNew();
    key->SetKeyPath(L"HKEY_CURRENT_USER\\Software\\X");
    key->SetValueName(L"v");
    key->SetData(L"d");
    EXPECT_EQ(key->Fix(), FALSE);
    const std::vector<std::wstring> expected = {L"TDetectedProblemKey.Fix.Start",
                                                L"Class TDetectedProblemKey",
                                                L"Key HKEY_CURRENT_USER\\Software\\X",
                                                L"Value v",
                                                L"Data d",
                                                L"TDetectedProblemKey.Fix"};
    EXPECT_EQ(log.Messages(), expected);
    EXPECT_EQ(key->GetStatus(), ksFix) << "Fix must not change the status";
}

TEST(DetectedProblemKeysTest, FixReappliesTheScanFlagsAndRunsTheAlgorithmsTemplate)
{
    TRecordingAlgorithm algorithm;
    TDetectedProblemKeysCollection collection(rctFonts);
    TDetectedProblemKey* key = collection.AddNew();
    key->SetKeyPath(L"HKEY_CURRENT_USER\\Software\\X");
    key->SetValueName(L"v");
    key->SetData(L"d");
    key->Algorithm = &algorithm;
    key->Use64BitView = true;
    key->DisableFsRedirection = true;
    EXPECT_EQ(key->GetAlgorithm(), static_cast<IValidationAlgorithm*>(&algorithm));

    EXPECT_EQ(key->Fix(), TRUE);
    EXPECT_EQ(algorithm.seen, L"HKEY_CURRENT_USER\\Software\\X|v|d");
    EXPECT_EQ(algorithm.viewDuringFix, OsHasTwoRegistryViews());
    EXPECT_EQ(algorithm.redirectionOffDuringFix, OsHasTwoRegistryViews());

    key->Use64BitView = false;
    algorithm.answer = false;
    EXPECT_EQ(key->Fix(), FALSE);
    EXPECT_FALSE(algorithm.viewDuringFix);

    // The cleaner's form raises what the algorithm raises; the host's form answers false.
    algorithm.raise = true;
    EXPECT_THROW(key->FixProblem(), std::runtime_error);
    EXPECT_EQ(key->Fix(), FALSE);
    EXPECT_EQ(collection.Statistics()->GetFixedCount(), 0) << "Fix must not touch the counters";
}

TEST(DetectedProblemKeysConcurrencyTest, ReadersNeverSeeAProblemHalfwayBetweenLists)
{
    constexpr LONG kProblems = 200;
    TDetectedProblemKeysCollection collection(rctClasses);
    for (LONG index = 0; index < kProblems; ++index) {
        collection.AddNew()->SetKeyPath(L"HKEY_CURRENT_USER\\Software\\P" + std::to_wstring(index));
    }
    std::atomic<bool> done{false};
    std::atomic<long> wrongTotals{0}, wrongStatuses{0}, reads{0};
    std::thread writer([&] {
        // Moves problems until the readers have looked often enough (or time is up).
        std::mt19937 random(7);
        const DWORD start = GetTickCount();
        while (reads.load() < 20000 && GetTickCount() - start < 10000) {
            collection.Items(static_cast<LONG>(random() % kProblems))
                ->SetStatus(static_cast<BYTE>(random() % 3));
        }
        done = true;
    });
    const auto reader = [&](unsigned seed) {
        std::mt19937 random(seed);
        IDetectedProblemKeysStatistics* statistics = collection.GetStatistics();
        while (!done.load()) {
            if (statistics->GetTotalCount() != kProblems) {
                ++wrongTotals;
            }
            const BYTE status = collection.GetItem(static_cast<LONG>(random() % kProblems))->GetStatus();
            if (status > ksIgnore) {
                ++wrongStatuses;
            }
            IKeysCollection* lists[] = {statistics->GetKeysToFix(), statistics->GetKeysToSkip(),
                                        statistics->GetKeysToIgnore()};
            IKeysCollection* list = lists[random() % 3];
            if (IDetectedProblemKey* item = list->GetItem(static_cast<LONG>(random() % kProblems))) {
                TBstr path(item->GetKeyPath());
                if (!StartsWithText(path.Str(), L"HKEY_CURRENT_USER\\Software\\P")) {
                    ++wrongStatuses;
                }
            }
            ++reads;
        }
    };
    std::thread first(reader, 1u);
    std::thread second(reader, 2u);
    writer.join();
    first.join();
    second.join();
    EXPECT_EQ(wrongTotals.load(), 0) << "of " << reads.load() << " reads";
    EXPECT_EQ(wrongStatuses.load(), 0);
    EXPECT_GE(reads.load(), 20000);
    ExpectConsistent(collection);
}

TEST(DetectedProblemKeysConcurrencyTest, SetAllStatusesIsSafeWhileATaskExtendsAndEmptiesTheCollection)
{
    TDetectedProblemKeysCollection collection(rctClasses);
    std::atomic<bool> done{false};
    std::atomic<long> walks{0};
    std::thread task([&] {
        const DWORD start = GetTickCount();
        for (int round = 0; round < 300 || (walks.load() < 200 && GetTickCount() - start < 10000); ++round) {
            for (int index = 0; index < 50; ++index) {
                collection.AddNew();
            }
            if (round % 3 != 2) {
                collection.Clear();
            }
        }
        done = true;
    });
    std::thread host([&] {
        BYTE status = 0;
        while (!done.load()) {
            collection.SetAllStatuses(status);
            status = static_cast<BYTE>((status + 1) % 4);
            ++walks;
        }
    });
    task.join();
    host.join();
    EXPECT_GE(walks.load(), 200);
    ExpectConsistent(collection);
}

}  // namespace
}  // namespace tidyhive

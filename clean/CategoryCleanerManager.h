// The clean task: moves problems marked for ignoring into the user's ignore lists, then
// fixes the problems marked for fixing inside one backup session, category by category,
// writing each outcome and a summary into the report.
#pragma once

#include "engine/CategoryCollection.h"
#include "scan/Task.h"

#include <atomic>

namespace tidyhive {

class TDetectedProblemKeysCollection;
class TIgnoreListCollection;

class TCategoryCleanerManager : public TInterfacedTask<ICleanTask> {
public:
    // Raises "Category collection was not specified." without a collection.
    explicit TCategoryCleanerManager(TCategoryCollection* collection);
    ~TCategoryCleanerManager() override;

    // ICleanTask
    LONG STDMETHODCALLTYPE GetProblemsFixed() override { return fixed_; }
    LONG STDMETHODCALLTYPE GetFailedToFix() override { return failed_; }
    LONG STDMETHODCALLTYPE GetProblemsSkipped() override { return skipped_; }
    LONG STDMETHODCALLTYPE GetProblemsIgnored() override { return ignored_; }
    TCategoryType STDMETHODCALLTYPE GetCurrentCategoryType() override;
    void STDMETHODCALLTYPE MoveIgnoredToIgnoreLists(BOOL clearProblems) override;
    void STDMETHODCALLTYPE Stop() override;

    void SetIgnoreLists(TIgnoreListCollection* lists) { ignoreLists_ = lists; }
    // The root resets the counters when a scan starts.
    void ResetCounters();
    // The session identifier of the last clean (empty before the first).
    std::wstring LastSessionId() const;

protected:
    void Prepare() override;
    void Execute(LONG param) override;
    void DoStarted() override;
    void DoFinished() override;

private:
    void MoveIgnored(bool clearProblems);
    void CleanupDetectedKeys(TDetectedProblemKeysCollection& problems);
    void CleanupDetectedKey(TDetectedProblemKeysCollection& problems, LONG index);
    bool CleanupKey(TDetectedProblemKeysCollection& problems, LONG index);
    void LogSummary(const SYSTEMTIME& start, const SYSTEMTIME& finish);
    void SetCurrentCategoryType(TCategoryType type);

    TCategoryCollection* collection_;
    TIgnoreListCollection* ignoreLists_ = nullptr;
    std::atomic<LONG> fixed_{0};
    std::atomic<LONG> failed_{0};
    std::atomic<LONG> skipped_{0};
    std::atomic<LONG> ignored_{0};
    TCategoryType currentCategoryType_ = rctUndefined;  // under the task lock
    std::wstring lastSessionId_;                        // under the task lock
};

}  // namespace tidyhive

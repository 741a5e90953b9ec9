// The scan task and the root's task arbitration, driven through the export as a host does,
// with the host's message loop on this thread.
#include "tests/support/EngineLibrary.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

#include <vector>

namespace tidyhive {
namespace {

using testing::PumpUntil;
using testing::TEngineLibrary;
using testing::TRootOwner;

class TRecordingListener : public IEventListener {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    void STDMETHODCALLTYPE HandleEvent(BYTE kind) override
    {
        kinds.push_back(kind);
        threads.push_back(GetCurrentThreadId());
    }
    std::vector<BYTE> kinds;
    std::vector<DWORD> threads;
};

class ScanTaskTest : public ::testing::Test {
protected:
    void SetUp() override { root->GetEventManager()->Subscribe(&listener, 0xFF); }
    void TearDown() override { root->GetEventManager()->Unsubscribe(&listener); }

    TEngineLibrary library;
    TRootOwner root{library.CreateRoot()};
    TRecordingListener listener;
};

TEST_F(ScanTaskTest, EmptyScanFinishesOnTheHostThreadAndReportsDone)
{
    IScanTask* scan = root->GetScanManager();
    ASSERT_NE(scan, nullptr);
    scan->Start();
    ASSERT_TRUE(PumpUntil([&] { return listener.kinds.size() >= 2; }));
    EXPECT_EQ(listener.kinds, (std::vector<BYTE>{ekScanStarted, ekScanFinished}));
    EXPECT_EQ(listener.threads.back(), GetCurrentThreadId()) << "the finish is handed to the host's thread";
    EXPECT_EQ(root->GetRunningTask(), rtNone);
    EXPECT_EQ(testing::Take(scan->GetCurrentKey()), L"Done scanning");
    EXPECT_EQ(scan->GetCurrentCategory(), nullptr);
    EXPECT_EQ(scan->GetProblemsFound(), 0);
    EXPECT_EQ(scan->GetCategoriesCount(), 0);
    EXPECT_NE(root->GetCategories()->AddCategory(rctFonts), nullptr) << "membership is free again";
}

TEST_F(ScanTaskTest, StoppedScanDeliversOnlyTheStartAndLocksMembershipMeanwhile)
{
    ICategoryCollection* categories = root->GetCategories();
    categories->AddCategory(rctFonts);
    IScanTask* scan = root->GetScanManager();
    scan->Start();
    scan->Pause();
    EXPECT_EQ(root->GetRunningTask(), rtScan);
    EXPECT_EQ(categories->AddCategory(rctStartup), nullptr);
    categories->RemoveCategory(rctFonts);
    categories->Clear();
    EXPECT_EQ(categories->GetCount(), 1) << "a running task fixes the membership";

    scan->Stop();
    PumpUntil([] { return false; }, 200);
    EXPECT_EQ(listener.kinds, (std::vector<BYTE>{ekScanStarted}));
    EXPECT_EQ(root->GetRunningTask(), rtNone);
    EXPECT_NE(categories->AddCategory(rctStartup), nullptr);
}

TEST_F(ScanTaskTest, ScanTaskAnswersTheTaskInterfaceIdentifier)
{
    IScanTask* scan = root->GetScanManager();
    void* object = nullptr;
    EXPECT_EQ(scan->QueryInterface(IID_IEngineTask, &object), S_OK);
    EXPECT_EQ(object, static_cast<IEngineTask*>(scan));
    EXPECT_NE(root->GetScanManager(), nullptr);
    TRootOwner other(library.CreateRoot());
    EXPECT_NE(other->GetScanManager(), scan) << "each root has its own tasks";
}

TEST_F(ScanTaskTest, CleanDoesNotStartWhileTheScanRuns)
{
    root->GetCategories()->AddCategory(rctFonts);
    IScanTask* scan = root->GetScanManager();
    scan->Start();
    scan->Pause();
    root->GetCleanerManager()->Start();
    EXPECT_EQ(root->GetRunningTask(), rtScan);
    scan->Stop();
    EXPECT_EQ(root->GetRunningTask(), rtNone);
}

TEST_F(ScanTaskTest, CleanWithNothingToFixStillClosesItsSessionAndFinishes)
{
    ICleanTask* clean = root->GetCleanerManager();
    ASSERT_NE(clean, nullptr);
    IBackvault* backup = root->GetBackupLibrary();
    ASSERT_NE(backup, nullptr);
    // Its session goes to a folder of the test's own, removed afterwards.
    const testing::TTestFolder storage;
    ASSERT_HRESULT_SUCCEEDED(backup->SetStorageFolder(storage.Path().c_str()));
    struct TDefaultStorage {
        IBackvault* backup;
        ~TDefaultStorage() { backup->SetStorageFolder(nullptr); }
    } defaultStorage{backup};
    clean->Start();
    ASSERT_TRUE(PumpUntil([&] { return listener.kinds.size() >= 2; }));
    EXPECT_EQ(listener.kinds, (std::vector<BYTE>{ekCleanStarted, ekCleanFinished}));
    EXPECT_EQ(root->GetRunningTask(), rtNone);
    EXPECT_EQ(clean->GetProblemsFixed(), 0);
    EXPECT_EQ(clean->GetFailedToFix(), 0);
    EXPECT_EQ(clean->GetCurrentCategoryType(), rctUndefined);
    EXPECT_FALSE(root->GetBackupLibrary()->IsSessionOpen());
}

}  // namespace
}  // namespace tidyhive

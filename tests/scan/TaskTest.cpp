// The worker-thread task: start, pause, resume and stop through the worker's message queue,
// the error path, and the finish hand-over to the host's thread.
#include "scan/Task.h"

#include "tests/support/TestDebugLog.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>

namespace tidyhive {
namespace {

using testing::TCapturedDebugLog;

// Serves the calling thread's messages (sent and posted), as a host's loop does, until
// done() holds or the time is up.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000)
{
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done()) {
            return true;
        }
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
        MsgWaitForMultipleObjectsEx(0, nullptr, 2, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

void PumpFor(DWORD milliseconds)
{
    PumpUntil([] { return false; }, milliseconds);
}

// Ends the test process when a step hangs, naming the step: a hang must fail here rather
// than stall the whole suite until its time limit.
class TWatchdog {
public:
    TWatchdog(DWORD timeoutMs, std::string step)
        : state_{TKernelHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr)), timeoutMs, std::move(step)}
    {
        thread_.Reset(CreateThread(nullptr, 0, &Run, &state_, 0, nullptr));
    }
    ~TWatchdog()
    {
        SetEvent(state_.done.Get());
        WaitForSingleObject(thread_.Get(), INFINITE);
    }
    TWatchdog(const TWatchdog&) = delete;
    TWatchdog& operator=(const TWatchdog&) = delete;

private:
    struct TState {
        TKernelHandle done;
        DWORD timeoutMs;
        std::string step;
    };
    static DWORD WINAPI Run(LPVOID parameter)
    {
        auto* state = static_cast<TState*>(parameter);
        if (WaitForSingleObject(state->done.Get(), state->timeoutMs) == WAIT_TIMEOUT) {
            std::fprintf(stderr, "HANG: %s did not end within %lu ms\n", state->step.c_str(),
                         static_cast<unsigned long>(state->timeoutMs));
            std::fflush(stderr);
            TerminateProcess(GetCurrentProcess(), 3);
        }
        return 0;
    }
    TState state_;
    TKernelHandle thread_;
};

size_t ThreadsOfThisProcess()
{
    const TKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    size_t count = 0;
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more;
         more = Thread32Next(snapshot.Get(), &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) {
            ++count;
        }
    }
    return count;
}

// A task whose work is a controllable test body. By default Execute loops through
// checkpoints until `release` is set (or runMs has passed, when set).
class TTestTask : public TTask {
public:
    TTestTask()
    {
        OnStarted = [this](TTask*) { ++started; };
        OnFinished = [this](TTask*) {
            ++finished;
            finishedOnThread = GetCurrentThreadId();
        };
        OnStopped = [this](TTask*) { ++stopped; };
    }
    ~TTestTask() override { Stop(); }

    using TTask::SetMaxProgress;
    using TTask::SetProgress;

    std::function<void()> prepareHook;
    std::function<void(LONG)> executeHook;
    std::atomic<bool> release{false};
    std::atomic<LONG> runMs{0};
    std::atomic<LONG> iterations{0};
    std::atomic<LONG> lastParam{-1};
    std::atomic<bool> unwound{false};
    std::atomic<int> started{0}, finished{0}, stopped{0}, doStarted{0}, doFinished{0};
    std::atomic<DWORD> finishedOnThread{0};
    std::atomic<DWORD> workerThread{0};

protected:
    void Prepare() override
    {
        workerThread = GetCurrentThreadId();
        if (prepareHook) {
            prepareHook();
        }
    }
    void Execute(LONG param) override
    {
        lastParam = param;
        if (executeHook) {
            executeHook(param);
            return;
        }
        struct TUnwindMark {
            std::atomic<bool>& flag;
            ~TUnwindMark() { flag = true; }
        } mark{unwound};
        const DWORD start = GetTickCount();
        while (!release.load()) {
            CheckThreadMessages();
            ++iterations;
            if (runMs.load() > 0 && GetTickCount() - start >= static_cast<DWORD>(runMs.load())) {
                break;
            }
            Sleep(1);
        }
    }
    void DoStarted() override { ++doStarted; }
    void DoFinished() override { ++doFinished; }
};

// The worker loops on: its iteration count keeps growing.
bool WorkerAdvances(TTestTask& task)
{
    const LONG before = task.iterations.load();
    return PumpUntil([&] { return task.iterations.load() > before + 2; }, 5000);
}

// The worker is blocked at a checkpoint: no iteration for a while.
bool WorkerHoldsStill(TTestTask& task)
{
    PumpFor(30);
    const LONG before = task.iterations.load();
    PumpFor(150);
    return task.iterations.load() == before;
}

class TaskTest : public ::testing::Test {
protected:
    TCapturedDebugLog log;
};

TEST_F(TaskTest, StopOnATaskNeverStartedDoesNothing)
{
    TTestTask task;
    task.Stop();
    EXPECT_EQ(task.State(), tsIdle);
    EXPECT_EQ(task.stopped.load(), 0);
    EXPECT_EQ(task.Worker(), nullptr);
    // Pause and Resume without a worker are refused as quietly.
    task.Pause();
    task.Resume();
    EXPECT_EQ(task.State(), tsIdle);
}

TEST_F(TaskTest, StartRunsTheBodyOnAWorkerAndReportsStartAndFinish)
{
    TWatchdog dog(20000, "start and finish");
    TTestTask task;
    task.runMs = 20;
    task.Start(42);
    EXPECT_EQ(task.started.load(), 1);
    EXPECT_EQ(task.doStarted.load(), 1);
    ASSERT_TRUE(PumpUntil([&] { return task.State() == tsFinished; })) << "state " << int(task.State());
    EXPECT_EQ(task.finished.load(), 1);
    EXPECT_EQ(task.doFinished.load(), 1);
    EXPECT_EQ(task.stopped.load(), 0);
    EXPECT_EQ(task.lastParam.load(), 42);
    EXPECT_NE(task.workerThread.load(), GetCurrentThreadId());
    EXPECT_EQ(task.finishedOnThread.load(), GetCurrentThreadId());
    EXPECT_TRUE(task.unwound.load());
}

TEST_F(TaskTest, StopDuringAPauseEndsTheWorkerWithStoppedAndNotFinished)
{
    TWatchdog dog(20000, "stop during a pause");
    TTestTask task;
    task.Start();
    ASSERT_TRUE(WorkerAdvances(task));
    task.Pause();
    EXPECT_EQ(task.State(), tsPaused);
    ASSERT_TRUE(WorkerHoldsStill(task)) << "the worker went on after Pause";
    task.Stop();
    PumpFor(50);  // a late finished hand-over would run now
    EXPECT_EQ(task.State(), tsFinished);
    EXPECT_EQ(task.stopped.load(), 1);
    EXPECT_EQ(task.finished.load(), 0);
    EXPECT_EQ(task.doFinished.load(), 0);
    EXPECT_EQ(task.Worker(), nullptr);
    EXPECT_TRUE(task.unwound.load()) << "the stop did not unwind the body through its clean-up";
    EXPECT_EQ(log.Count(L"Aborting thread execution by user request"), 1u) << log.Text();
    EXPECT_EQ(log.Count(L"Thread received WM_STOP message, aborting"), 1u) << log.Text();
    // A second Stop finds no worker: no second event.
    task.Stop();
    EXPECT_EQ(task.stopped.load(), 1);
}

TEST_F(TaskTest, AnErrorInsidePrepareOrExecuteEndsLikeACompletedRunWithOneLogLine)
{
    struct TCase {
        const char* name;
        bool inPrepare;
    };
    for (const TCase& c : {TCase{"Prepare", true}, TCase{"Execute", false}}) {
        SCOPED_TRACE(c.name);
        TWatchdog dog(20000, std::string("error inside ") + c.name);
        TCapturedDebugLog caseLog;
        TTestTask task;
        const auto fail = [] { throw std::runtime_error("disk on fire"); };
        if (c.inPrepare) {
            task.prepareHook = fail;
        } else {
            task.executeHook = [&](LONG) { fail(); };
        }
        task.Start();
        ASSERT_TRUE(PumpUntil([&] { return task.State() == tsFinished; })) << "state " << int(task.State());
        EXPECT_EQ(task.finished.load(), 1);
        EXPECT_EQ(task.doFinished.load(), 1);
        EXPECT_EQ(task.stopped.load(), 0);
        EXPECT_EQ(caseLog.Count(L"WorkingThread - Execute - disk on fire"), 1u) << caseLog.Text();
    }
}

TEST_F(TaskTest, ASecondStartWhileRunningOrPausedDoesNothing)
{
    TWatchdog dog(20000, "second start");
    TTestTask task;
    task.Start();
    ASSERT_TRUE(WorkerAdvances(task));
    const TWorkingThread* first = task.Worker();
    const DWORD firstThread = first->ThreadId();
    task.Start();
    EXPECT_EQ(task.Worker(), first);
    EXPECT_EQ(task.Worker()->ThreadId(), firstThread);
    task.Pause();
    task.Start();
    EXPECT_EQ(task.Worker(), first);
    EXPECT_EQ(task.State(), tsPaused);
    EXPECT_EQ(task.started.load(), 1);
    EXPECT_EQ(task.doStarted.load(), 1);
    task.Resume();
    EXPECT_TRUE(WorkerAdvances(task));
    task.Stop();
}

TEST_F(TaskTest, OnCanStartCanRefuseAStart)
{
    TTestTask task;
    task.OnCanStart = [](TTask*) { return false; };
    task.Start();
    EXPECT_EQ(task.Worker(), nullptr);
    EXPECT_EQ(task.started.load(), 0);
    EXPECT_EQ(task.State(), tsIdle);
}

TEST_F(TaskTest, RestartAfterFinishingMakesANewWorkerAndPrepareSetsTheCountersAfresh)
{
    TWatchdog dog(20000, "restart after finishing");
    TTestTask task;
    int run = 0;
    task.prepareHook = [&] {
        ++run;
        task.SetMaxProgress(100 * run);
        task.SetProgress(0);
    };
    task.executeHook = [&](LONG) { task.SetProgress(10 * run); };
    task.Start();
    ASSERT_TRUE(PumpUntil([&] { return task.State() == tsFinished; }));
    EXPECT_EQ(task.GetMaxProgress(), 100);
    EXPECT_EQ(task.GetProgress(), 10);
    const DWORD firstThread = task.workerThread.load();

    task.Start();
    ASSERT_TRUE(PumpUntil([&] { return task.State() == tsFinished && task.finished.load() == 2; }));
    EXPECT_EQ(task.GetMaxProgress(), 200);
    EXPECT_EQ(task.GetProgress(), 20);
    EXPECT_NE(task.workerThread.load(), firstThread);
    EXPECT_EQ(task.started.load(), 2);
    EXPECT_EQ(task.stopped.load(), 0);
}

TEST_F(TaskTest, PriorityChangesReachTheRunningWorkerAtOnce)
{
    TWatchdog dog(20000, "priority changes");
    TTestTask task;
    EXPECT_EQ(task.GetPriority(), 0);
    task.Start();
    ASSERT_TRUE(WorkerAdvances(task));
    const HANDLE worker = task.Worker()->Handle();
    EXPECT_EQ(GetThreadPriority(worker), THREAD_PRIORITY_BELOW_NORMAL);

    struct TCase {
        BYTE value;
        int expected;
    };
    const TCase cases[] = {
        {2, THREAD_PRIORITY_ABOVE_NORMAL},
        {7, THREAD_PRIORITY_ABOVE_NORMAL},  // unknown values change nothing
        {1, THREAD_PRIORITY_NORMAL},
        {0, THREAD_PRIORITY_BELOW_NORMAL},
    };
    for (const TCase& c : cases) {
        task.SetPriority(c.value);
        EXPECT_EQ(task.GetPriority(), c.value);
        EXPECT_EQ(GetThreadPriority(worker), c.expected) << "after SetPriority(" << int(c.value) << ")";
    }
    task.Stop();

    // Set while no run goes on, it takes effect at the next Start.
    task.SetPriority(2);
    task.Start();
    EXPECT_EQ(GetThreadPriority(task.Worker()->Handle()), THREAD_PRIORITY_ABOVE_NORMAL);
    task.Stop();
}

TEST_F(TaskTest, ResumeWhenNotPausedDoesNothing)
{
    TWatchdog dog(20000, "resume when not paused");
    TTestTask task;
    task.Start();
    ASSERT_TRUE(WorkerAdvances(task));
    task.Resume();
    EXPECT_EQ(task.State(), tsRunning);
    // No stray resume waits in the queue: a later pause still holds the worker.
    task.Pause();
    EXPECT_TRUE(WorkerHoldsStill(task));
    task.Stop();
}

TEST_F(TaskTest, APauseRequestedDuringPrepareHoldsAtTheFirstCheckpointAndStaysResumable)
{
    TWatchdog dog(20000, "pause during Prepare");
    TTestTask task;
    const TKernelHandle inPrepare(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const TKernelHandle leavePrepare(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    task.prepareHook = [&] {
        SetEvent(inPrepare.Get());
        WaitForSingleObject(leavePrepare.Get(), 10000);
    };
    task.Start();
    ASSERT_EQ(WaitForSingleObject(inPrepare.Get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(task.State(), tsPreparing);
    task.Pause();
    EXPECT_EQ(task.State(), tsPaused);
    SetEvent(leavePrepare.Get());
    EXPECT_TRUE(WorkerHoldsStill(task)) << "the pause requested during Prepare was lost";
    EXPECT_EQ(task.State(), tsPaused) << "Prepare's end overwrote the pause";
    task.Resume();
    EXPECT_EQ(task.State(), tsRunning);
    EXPECT_TRUE(WorkerAdvances(task));
    task.release = true;
    EXPECT_TRUE(PumpUntil([&] { return task.State() == tsFinished; }));
    EXPECT_EQ(task.finished.load(), 1);
}

TEST_F(TaskTest, RapidPauseAndResumeNeverStrandTheWorkerInAPause)
{
    TWatchdog dog(30000, "rapid pause and resume");
    TTestTask task;
    task.Start();
    ASSERT_TRUE(WorkerAdvances(task));
    // Each resume comes while the worker is entering or sitting in its pause; a resume it
    // sleeps through leaves it paused while the task reports running.
    for (int round = 0; round < 300; ++round) {
        task.Pause();
        Sleep(round % 3);
        task.Resume();
        ASSERT_EQ(task.State(), tsRunning) << "round " << round;
        ASSERT_TRUE(WorkerAdvances(task)) << "round " << round << ": the worker slept through a resume";
    }
    task.release = true;
    EXPECT_TRUE(PumpUntil([&] { return task.State() == tsFinished; }));
}

TEST_F(TaskTest, CommandsRightAfterStartAreNotLost)
{
    TWatchdog dog(20000, "commands right after start");
    {
        TTestTask task;
        task.Start();
        task.Pause();  // before the worker passed a single checkpoint
        EXPECT_EQ(task.State(), tsPaused);
        EXPECT_TRUE(WorkerHoldsStill(task));
        task.Resume();
        EXPECT_TRUE(WorkerAdvances(task));
        task.Stop();
    }
    {
        TTestTask task;  // never ends by itself: only a delivered stop ends it
        task.Start();
        task.Stop();
        EXPECT_EQ(task.stopped.load(), 1);
        EXPECT_EQ(task.State(), tsFinished);
    }
}

TEST_F(TaskTest, StopServesAPendingFinishHandOverInsteadOfDeadlocking)
{
    TWatchdog dog(20000, "stop while the hand-over waits");
    TTestTask task;
    task.executeHook = [](LONG) {};
    task.Start();
    // This thread does not pump: the worker ends its body and waits in its hand-over.
    const TKernelHandle thread(OpenThread(SYNCHRONIZE, FALSE, task.Worker()->ThreadId()));
    Sleep(200);
    EXPECT_EQ(WaitForSingleObject(thread.Get(), 0), WAIT_TIMEOUT)
        << "the worker did not wait for the hand-over";
    EXPECT_NE(task.State(), tsFinished);
    task.Stop();
    EXPECT_EQ(task.stopped.load(), 1);
    EXPECT_EQ(task.finished.load(), 0) << "the stopped run still reported a normal finish";
    EXPECT_EQ(WaitForSingleObject(thread.Get(), 0), WAIT_OBJECT_0);
}

TEST_F(TaskTest, TheFinishedHandlerMayStopOrRestartTheTask)
{
    TWatchdog dog(20000, "stop or restart inside OnFinished");
    {
        TTestTask task;
        task.runMs = 5;
        task.OnFinished = [&](TTask* sender) {
            ++task.finished;
            sender->Stop();
        };
        task.Start();
        EXPECT_TRUE(PumpUntil([&] { return task.stopped.load() == 1; }));
        EXPECT_EQ(task.finished.load(), 1);
        EXPECT_EQ(task.State(), tsFinished);
    }
    {
        TTestTask task;
        task.runMs = 5;
        task.OnFinished = [&](TTask* sender) {
            if (++task.finished == 1) {
                sender->Start();
            }
        };
        task.Start();
        EXPECT_TRUE(PumpUntil([&] { return task.finished.load() == 2; }));
        EXPECT_EQ(task.started.load(), 2);
        EXPECT_EQ(task.State(), tsFinished);
    }
}

// Ends a host's message loop after a while, so that a lost hand-over fails the test.
struct TQuitLater {
    DWORD thread;
    TKernelHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};

    static DWORD WINAPI Run(LPVOID parameter)
    {
        auto* quit = static_cast<TQuitLater*>(parameter);
        if (WaitForSingleObject(quit->done.Get(), 15000) == WAIT_TIMEOUT) {
            PostThreadMessageW(quit->thread, WM_QUIT, 0, 0);
        }
        return 0;
    }
};

// A host: creates the task on its main thread, starts it and runs an ordinary message loop
// until the finished handler ends it.
TEST(TaskHostTest, TheFinishedHandOverRunsOnTheHostThreadInsideItsMessageLoop)
{
    const DWORD hostThread = GetCurrentThreadId();
    TTestTask task;
    task.runMs = 30;
    DWORD finishedOn = 0;
    bool workerWaited = false;
    task.OnFinished = [&](TTask* sender) {
        finishedOn = GetCurrentThreadId();
        workerWaited = sender->Worker() && sender->Worker()->IsRunning();
        PostQuitMessage(0);
    };
    task.Start();

    TQuitLater quit{hostThread};
    const TKernelHandle timer(CreateThread(nullptr, 0, &TQuitLater::Run, &quit, 0, nullptr));
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    SetEvent(quit.done.Get());
    WaitForSingleObject(timer.Get(), INFINITE);

    EXPECT_EQ(finishedOn, hostThread) << "the finish hand-over did not run on the host's thread";
    EXPECT_TRUE(workerWaited) << "the worker did not wait for its hand-over";
    EXPECT_EQ(task.State(), tsFinished);
}

class TCleanLikeTask : public TInterfacedTask<ICleanTask> {
public:
    ~TCleanLikeTask() override { Stop(); }
    LONG STDMETHODCALLTYPE GetProblemsFixed() override { return 0; }
    LONG STDMETHODCALLTYPE GetFailedToFix() override { return 0; }
    LONG STDMETHODCALLTYPE GetProblemsSkipped() override { return 0; }
    LONG STDMETHODCALLTYPE GetProblemsIgnored() override { return 0; }
    TCategoryType STDMETHODCALLTYPE GetCurrentCategoryType() override { return rctUndefined; }
    void STDMETHODCALLTYPE MoveIgnoredToIgnoreLists(BOOL) override {}
    LONG STDMETHODCALLTYPE GetMaxProgress() override { return 77; }
    std::atomic<int> executed{0};

protected:
    void Execute(LONG) override { ++executed; }
};

TEST(InterfacedTaskTest, TheContinuedInterfaceReachesTheTaskAndItsOverrides)
{
    TWatchdog dog(20000, "continued interface");
    TCleanLikeTask task;
    ICleanTask* clean = task.AsInterface();
    void* queried = nullptr;
    ASSERT_EQ(clean->QueryInterface(IID_IEngineTask, &queried), S_OK);
    EXPECT_EQ(queried, static_cast<void*>(clean));
    EXPECT_EQ(clean->GetMaxProgress(), 77);
    clean->SetPriority(2);
    EXPECT_EQ(task.GetPriority(), 2);
    clean->Start();
    EXPECT_TRUE(PumpUntil([&] { return task.State() == tsFinished; }));
    EXPECT_EQ(task.executed.load(), 1);
}

TEST(TaskStressTest, ManyRandomStartPauseResumeStopSequencesEndCleanly)
{
    {
        TTestTask warmUp;  // the first worker may bring the platform's own helper threads
        warmUp.runMs = 1;
        warmUp.Start();
        PumpUntil([&] { return warmUp.State() == tsFinished; });
    }
    PumpFor(100);
    const size_t threadsBefore = ThreadsOfThisProcess();

    const unsigned seed = GetTickCount();
    std::mt19937 random(seed);
    const auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
    TTestTask task;
    int naturalEnds = 0;
    for (int sequence = 0; sequence < 200; ++sequence) {
        std::string actions = "seed " + std::to_string(seed) + " sequence " + std::to_string(sequence) + ":";
        TWatchdog dog(15000, actions);
        task.runMs = static_cast<LONG>(1 + random() % 6);
        const int endsBefore = task.finished.load() + task.stopped.load();
        task.Start();
        const int steps = static_cast<int>(random() % 5);
        for (int step = 0; step < steps; ++step) {
            switch (random() % 5) {
            case 0:
                task.Pause();
                actions += " pause";
                break;
            case 1:
                task.Resume();
                actions += " resume";
                break;
            case 2:
                task.SetPriority(static_cast<BYTE>(random() % 4));
                actions += " priority";
                break;
            case 3:
                task.Start();  // refused while the run goes on
                actions += " start";
                break;
            default:
                Sleep(random() % 3);
                actions += " sleep";
                break;
            }
        }
        if (chance(70)) {
            task.Stop();
            ASSERT_EQ(task.Worker(), nullptr) << actions;
        } else {
            task.Resume();
            ASSERT_TRUE(PumpUntil([&] { return task.State() == tsFinished; }, 10000))
                << actions << " did not finish, state " << int(task.State());
            ++naturalEnds;
        }
        ASSERT_EQ(task.State(), tsFinished) << actions;
        ASSERT_GE(task.finished.load() + task.stopped.load(), endsBefore + 1)
            << actions << " reported no end";
        ASSERT_EQ(task.started.load(), sequence + 1) << actions;
    }
    task.Stop();
    EXPECT_EQ(task.Worker(), nullptr);
    EXPECT_TRUE(PumpUntil([&] { return ThreadsOfThisProcess() <= threadsBefore; }, 5000))
        << "threads before " << threadsBefore << ", after " << ThreadsOfThisProcess() << " (seed " << seed
        << ")";
    std::printf("stress: seed %u, %d of 200 runs ended by themselves\n", seed, naturalEnds);
}

}  // namespace
}  // namespace tidyhive

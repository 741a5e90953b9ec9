// The worker-thread task model shared by the scan and the clean: a task owns one worker
// thread per run, carries its state and progress, and obeys pause, resume and stop that
// travel as messages to the worker's own thread message queue.
#pragma once

#include "engine/CommonInterfacedObject.h"
#include "services/KernelHandle.h"
#include "services/Lock.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>

namespace tidyhive {

using TTaskState = BYTE; // tsIdle .. tsDestroying (Tidyhive.h)

// Commands posted to a worker's thread message queue.
inline constexpr UINT WM_PAUSE = WM_USER + 1;
inline constexpr UINT WM_RESUME = WM_USER + 2;
inline constexpr UINT WM_STOP = WM_USER + 3;

// Raised by CheckThreadMessages when the task is stopped. It unwinds the task's code up to
// the thread body, which ends quietly. Deliberately not a std::exception, so that code that
// logs an ordinary error and goes on cannot swallow a stop; code on a worker that catches
// everything (catch (...)) must rethrow it.
class EAbortTask {};

// The worker checkpoint: obeys the commands queued for the calling worker thread. Returns at
// once when none is queued; blocks while paused until resumed; raises EAbortTask on stop.
void CheckThreadMessages();

class TTask;

// One run of a task: a thread created suspended, with the body to run on it and the finish
// hand-over to run on the host's thread afterwards.
class TWorkingThread {
public:
    using TExecuteMethod = std::function<void(LONG param)>;
    using TFinishMethod = std::function<void()>;

    // finishWindow receives the finish hand-over (see THandOverWindow); without one the
    // hand-over runs on the worker itself. Throws std::runtime_error when no thread can be made.
    explicit TWorkingThread(HWND finishWindow);
    // Marks the thread terminated and waits for its end. While waiting, messages sent to the
    // calling thread are served, so a hand-over that the worker is waiting on runs (it does
    // nothing once terminated) instead of deadlocking. Called from inside this run's own
    // hand-over, it cannot wait (the worker waits for that very call): it lets the thread
    // end by itself.
    ~TWorkingThread();
    TWorkingThread(const TWorkingThread &) = delete;
    TWorkingThread &operator=(const TWorkingThread &) = delete;

    TExecuteMethod OnExecute; // run on the worker
    TFinishMethod OnFinish;   // run on the host's thread, unless the thread was terminated
    LONG Param = 0;           // handed to OnExecute

    // Starts the suspended thread with the three fields above.
    void Resume();
    // Called by the body once commands may be posted to it; Resume's caller may then return.
    void SignalReady();
    // Waits until the body signalled readiness or the thread ended.
    void WaitUntilReady() const;

    // The thread has not ended yet (its exit code is STILL_ACTIVE).
    bool IsRunning() const;
    void Terminate();
    bool Terminated() const;
    bool PostCommand(UINT command) const;

    HANDLE Handle() const { return thread_.Get(); }
    DWORD ThreadId() const { return threadId_; }

    struct TContext; // shared by the owner and the running thread

private:
    static DWORD WINAPI ThreadProc(LPVOID parameter);

    std::shared_ptr<TContext> context_;
    TKernelHandle thread_;
    DWORD threadId_ = 0;
    bool resumed_ = false;
};

// A hidden message-only window on the thread that creates it. A worker sends its finish
// hand-over here and waits until it has run on that thread (the host's message loop, or a
// Stop waiting for the worker, serves it).
class THandOverWindow {
public:
    THandOverWindow();
    ~THandOverWindow();
    THandOverWindow(const THandOverWindow &) = delete;
    THandOverWindow &operator=(const THandOverWindow &) = delete;

    // Null when the window could not be created; hand-overs then run on the worker.
    HWND Handle() const { return window_; }
    DWORD OwnerThreadId() const { return ownerThread_; }

private:
    HWND window_ = nullptr;
    DWORD ownerThread_ = 0;
};

// Base of the scan and the clean task. The IEngineTask methods are its virtual operations;
// each catches at the boundary, and a descendant that overrides one does the same (or calls
// the base inside its own guard). A descendant's destructor calls Stop itself, since the
// base destructor can reach only the base's Stop.
class TTask : public TCommonInterfacedObject<IEngineTask> {
public:
    using TTaskEvent = std::function<void(TTask *sender)>;
    using TCanStartEvent = std::function<bool(TTask *sender)>;

    // Creates the finish hand-over window on the calling thread, which must be the host's
    // thread that runs the message loop.
    TTask();
    ~TTask() override;

    // Events; set them before the first Start.
    TTaskEvent OnStarted;      // host's thread, after the worker was started
    TTaskEvent OnFinished;     // host's thread, when the worker ended by itself
    TTaskEvent OnStopped;      // host's thread, after Stop ended the worker
    TCanStartEvent OnCanStart; // asked by Start; false refuses the start

    // IEngineTask
    void STDMETHODCALLTYPE Start() override;
    void STDMETHODCALLTYPE Pause() override;
    void STDMETHODCALLTYPE Resume() override;
    void STDMETHODCALLTYPE Stop() override;
    LONG STDMETHODCALLTYPE GetMaxProgress() override;
    LONG STDMETHODCALLTYPE GetProgress() override;
    BYTE STDMETHODCALLTYPE GetPriority() override;
    void STDMETHODCALLTYPE SetPriority(BYTE value) override;

    // Starts a run with Param handed to Execute. Refused silently while a run is going on
    // or when OnCanStart says no. Returns once commands can be posted to the new worker.
    virtual void Start(LONG param);

    TTaskState State() const { return state_.load(); }

    // The task's re-entrant lock, around every read or write of shared counters.
    void Lock() { lock_.Lock(); }
    void Unlock() { lock_.Unlock(); }

    // The current worker (none before the first Start and after Stop); for inspection.
    const TWorkingThread *Worker() const { return worker_.get(); }

protected:
    // Worker thread: reset counters and compute the max progress.
    virtual void Prepare() {}
    // Worker thread: the work. Pass CheckThreadMessages often.
    virtual void Execute(LONG /*param*/) {}
    // Host's thread: raise the task's own started and finished events.
    virtual void DoStarted() {}
    virtual void DoFinished() {}

    void SetMaxProgress(LONG value);
    void SetProgress(LONG value) { progress_.store(value); }
    void IncProgress(LONG delta = 1) { progress_.fetch_add(delta); }

    TLock &TaskLock() { return lock_; }

private:
    void ThreadBody(TWorkingThread &worker, LONG param);
    void FinishHandOver();
    void StopRun();

    THandOverWindow handOverWindow_;
    std::unique_ptr<TWorkingThread> worker_;
    std::atomic<TTaskState> state_{tsIdle};
    TLock lock_;
    LONG maxProgress_ = 0; // under lock_
    std::atomic<LONG> progress_{0};
    std::atomic<BYTE> priority_{0};
};

// A task that answers a continuation of IEngineTask (IScanTask, ICleanTask): the continued
// interface's eight common slots reach the task's own virtual operations, so a descendant's
// override is what the host reaches through either table.
template <class Interface> class TInterfacedTask : public TTask, public Interface {
public:
    using TTask::Start;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (!object) {
            return E_POINTER;
        }
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, InterfaceId<Interface>::value)) {
            *object = static_cast<Interface *>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    void STDMETHODCALLTYPE Start() override { TTask::Start(); }
    void STDMETHODCALLTYPE Pause() override { TTask::Pause(); }
    void STDMETHODCALLTYPE Resume() override { TTask::Resume(); }
    void STDMETHODCALLTYPE Stop() override { TTask::Stop(); }
    LONG STDMETHODCALLTYPE GetMaxProgress() override { return TTask::GetMaxProgress(); }
    LONG STDMETHODCALLTYPE GetProgress() override { return TTask::GetProgress(); }
    BYTE STDMETHODCALLTYPE GetPriority() override { return TTask::GetPriority(); }
    void STDMETHODCALLTYPE SetPriority(BYTE value) override { TTask::SetPriority(value); }

    Interface *AsInterface() { return static_cast<Interface *>(this); }
};

} // namespace tidyhive

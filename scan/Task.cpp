#include "scan/Task.h"

#include "engine/BoundaryGuard.h"
#include "services/DebugLog.h"
#include "services/Text.h"

#include <objbase.h>

#include <mutex>
#include <stdexcept>
#include <string>

namespace tidyhive {

struct TWorkingThread::TContext {
    TExecuteMethod onExecute;
    TFinishMethod onFinish;
    LONG param = 0;
    HWND finishWindow = nullptr;
    TKernelHandle ready{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<bool> terminated{false};
    // The thread running this run's hand-over right now, 0 when none does.
    std::atomic<DWORD> handOverThread{0};
    // Commands already in the worker's queue; raised only after each is posted.
    std::atomic<unsigned> commandsPosted{0};
};

namespace {

constexpr UINT kHandOverMessage = WM_APP + 0x2E1;
constexpr LRESULT kHandOverDone = 0x7D1;
constexpr wchar_t kHandOverClass[] = L"TidyhiveTaskHandOver";

// Thread messages only: messages posted to the thread, none addressed to a window.
const HWND kThreadMessages = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));

void RunFinish(TWorkingThread::TContext& context)
{
    if (context.terminated.load() || !context.onFinish) {
        return;  // a Stop took over: it reports the end with OnStopped
    }
    context.handOverThread.store(GetCurrentThreadId());
    try {
        context.onFinish();
    } catch (const std::exception& error) {
        DebugLog::Failure(L"TWorkingThread", L"Execute", Utf8ToWide(error.what()));
    } catch (...) {
        DebugLog::Failure(L"TWorkingThread", L"Execute", L"unknown error");
    }
    context.handOverThread.store(0);
}

LRESULT CALLBACK HandOverWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kHandOverMessage) {
        // The sending worker keeps the context alive until this returns.
        RunFinish(*reinterpret_cast<TWorkingThread::TContext*>(lParam));
        return kHandOverDone;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

const int kModuleAnchor = 0;

HINSTANCE ThisModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&kModuleAnchor), &module);
    return module;
}

// The window class lives while hand-over windows exist: a library that is unloaded must
// not leave a class behind that points into its old code.
std::mutex gClassMutex;
int gWindowCount = 0;

void HandOff(TWorkingThread::TContext& context)
{
    if (context.terminated.load()) {
        return;
    }
    LRESULT result = 0;
    if (context.finishWindow) {
        result = SendMessageW(context.finishWindow, kHandOverMessage, 0, reinterpret_cast<LPARAM>(&context));
    }
    if (result != kHandOverDone) {
        // No window, or its thread has gone: finishing here beats never finishing.
        DebugLog::Log(L"TWorkingThread.Finish on the worker thread");
        RunFinish(context);
    }
}

// Waits for a handle while serving messages sent to this thread (and only those).
void WaitServingSentMessages(HANDLE handle)
{
    for (;;) {
        const DWORD result =
            MsgWaitForMultipleObjectsEx(1, &handle, INFINITE, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
        if (result == WAIT_OBJECT_0) {
            return;
        }
        if (result == WAIT_OBJECT_0 + 1) {
            MSG message;
            PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            continue;
        }
        WaitForSingleObject(handle, INFINITE);
        return;
    }
}

int ThreadPriorityOf(BYTE priority, bool& known)
{
    known = true;
    switch (priority) {
    case 0:
        return THREAD_PRIORITY_BELOW_NORMAL;
    case 1:
        return THREAD_PRIORITY_NORMAL;
    case 2:
        return THREAD_PRIORITY_ABOVE_NORMAL;
    default:
        known = false;
        return THREAD_PRIORITY_NORMAL;
    }
}

void ApplyPriority(HANDLE thread, BYTE priority)
{
    bool known = false;
    const int value = ThreadPriorityOf(priority, known);
    if (known && thread) {
        SetThreadPriority(thread, value);
    }
}

[[noreturn]] void AbortOnStop()
{
    DebugLog::Log(L"Thread received WM_STOP message, aborting");
    throw EAbortTask();
}

class TComApartment {
public:
    TComApartment() : initialized_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~TComApartment()
    {
        if (initialized_) {
            CoUninitialize();
        }
    }
    TComApartment(const TComApartment&) = delete;
    TComApartment& operator=(const TComApartment&) = delete;

private:
    bool initialized_;
};

// The worker's count of posted commands and how many of them its checkpoint has seen.
// Commands reach a worker only through PostCommand, so the checkpoint looks at the queue
// (a round trip to the window system) only when a new one has arrived. Threads that are no
// worker get no commands at all.
thread_local const std::atomic<unsigned>* tCommandsPosted = nullptr;
thread_local unsigned tCommandsSeen = 0;

}  // namespace

void CheckThreadMessages()
{
    if (!tCommandsPosted) {
        return;
    }
    const unsigned posted = tCommandsPosted->load(std::memory_order_acquire);
    if (posted == tCommandsSeen) {
        return;
    }
    tCommandsSeen = posted;
    MSG message;
    if (PeekMessageW(&message, kThreadMessages, WM_STOP, WM_STOP, PM_REMOVE)) {
        AbortOnStop();
    }
    if (!PeekMessageW(&message, kThreadMessages, WM_PAUSE, WM_PAUSE, PM_REMOVE)) {
        return;
    }
    for (;;) {
        // One look at both commands before each wait: WaitMessage wakes only for messages that
        // arrived after the last look at the queue, so a second look (for the other command)
        // could mark a resume arriving in between as seen, and the worker would sleep through it.
        if (PeekMessageW(&message, kThreadMessages, WM_RESUME, WM_STOP, PM_REMOVE)) {
            if (message.message == WM_STOP) {
                AbortOnStop();
            }
            return;
        }
        WaitMessage();
    }
}

// --- TWorkingThread --------------------------------------------------------------------

TWorkingThread::TWorkingThread(HWND finishWindow) : context_(std::make_shared<TContext>())
{
    context_->finishWindow = finishWindow;
    if (!context_->ready) {
        throw std::runtime_error("cannot create the worker's ready event");
    }
    auto* parameter = new std::shared_ptr<TContext>(context_);
    thread_.Reset(CreateThread(nullptr, 0, &ThreadProc, parameter, CREATE_SUSPENDED, &threadId_));
    if (!thread_) {
        delete parameter;
        throw std::runtime_error("cannot create the worker thread: error " + std::to_string(GetLastError()));
    }
}

TWorkingThread::~TWorkingThread()
{
    Terminate();
    if (!resumed_) {
        ResumeThread(thread_.Get());  // it sees the mark and ends without running the body
    }
    if (context_->handOverThread.load() == GetCurrentThreadId()) {
        return;  // called from this run's hand-over: the worker ends as soon as it returns
    }
    WaitServingSentMessages(thread_.Get());
}

void TWorkingThread::Resume()
{
    if (resumed_) {
        return;
    }
    context_->onExecute = OnExecute;
    context_->onFinish = OnFinish;
    context_->param = Param;
    resumed_ = true;
    ResumeThread(thread_.Get());
}

void TWorkingThread::SignalReady()
{
    SetEvent(context_->ready.Get());
}

void TWorkingThread::WaitUntilReady() const
{
    const HANDLE handles[] = {context_->ready.Get(), thread_.Get()};
    WaitForMultipleObjects(2, handles, FALSE, INFINITE);
}

bool TWorkingThread::IsRunning() const
{
    DWORD code = 0;
    return GetExitCodeThread(thread_.Get(), &code) && code == STILL_ACTIVE;
}

void TWorkingThread::Terminate()
{
    context_->terminated.store(true);
}

bool TWorkingThread::Terminated() const
{
    return context_->terminated.load();
}

bool TWorkingThread::PostCommand(UINT command) const
{
    if (!PostThreadMessageW(threadId_, command, 0, 0)) {
        return false;
    }
    context_->commandsPosted.fetch_add(1, std::memory_order_release);
    return true;
}

DWORD WINAPI TWorkingThread::ThreadProc(LPVOID parameter)
{
    const std::unique_ptr<std::shared_ptr<TContext>> holder(
        static_cast<std::shared_ptr<TContext>*>(parameter));
    TContext& context = **holder;
    tCommandsPosted = &context.commandsPosted;
    tCommandsSeen = 0;
    // The queue exists from here on, before anyone learns that the worker is ready.
    MSG message;
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    if (!context.terminated.load()) {
        const TComApartment apartment;
        bool failed = false;
        std::wstring error;
        try {
            if (context.onExecute) {
                context.onExecute(context.param);
            }
        } catch (const EAbortTask&) {
            // stopped: ends quietly
        } catch (const std::exception& exception) {
            failed = true;
            error = Utf8ToWide(exception.what());
        } catch (...) {
            failed = true;
            error = L"unknown error";
        }
        SetEvent(context.ready.Get());
        // Logged before the hand-over, so that the line is there when the host hears "finished".
        if (failed) {
            DebugLog::Failure(L"TWorkingThread", L"Execute", error);
        }
        HandOff(context);
    }
    SetEvent(context.ready.Get());
    return 0;
}

// --- THandOverWindow -------------------------------------------------------------------

THandOverWindow::THandOverWindow() : ownerThread_(GetCurrentThreadId())
{
    const std::lock_guard guard(gClassMutex);
    const HINSTANCE module = ThisModule();
    if (gWindowCount == 0) {
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = &HandOverWindowProc;
        windowClass.hInstance = module;
        windowClass.lpszClassName = kHandOverClass;
        if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
            DebugLog::LogFmt(L"TTask - CreateHandOverWindow - RegisterClass failed: %lu", GetLastError());
            return;
        }
    }
    window_ = CreateWindowExW(0, kHandOverClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);
    if (!window_) {
        DebugLog::LogFmt(L"TTask - CreateHandOverWindow - CreateWindow failed: %lu", GetLastError());
        if (gWindowCount == 0) {
            UnregisterClassW(kHandOverClass, module);
        }
        return;
    }
    ++gWindowCount;
}

THandOverWindow::~THandOverWindow()
{
    if (!window_) {
        return;
    }
    const std::lock_guard guard(gClassMutex);
    if (!DestroyWindow(window_)) {
        // Only the owning thread may destroy it; ask that thread to.
        PostMessageW(window_, WM_CLOSE, 0, 0);
    }
    if (--gWindowCount == 0) {
        UnregisterClassW(kHandOverClass, ThisModule());  // fails harmlessly while a window remains
    }
}

// --- TTask -----------------------------------------------------------------------------

TTask::TTask() = default;

TTask::~TTask()
{
    state_.store(tsDestroying);
    TTask::Stop();
}

void STDMETHODCALLTYPE TTask::Start()
{
    GuardedVoid(L"Task - Start", [&] { Start(0); });
}

void TTask::Start(LONG param)
{
    if (state_.load() == tsFinished && worker_) {
        worker_.reset();
    }
    if (worker_) {
        return;
    }
    if (OnCanStart && !OnCanStart(this)) {
        return;
    }
    state_.store(tsIdle);
    auto worker = std::make_unique<TWorkingThread>(handOverWindow_.Handle());
    TWorkingThread* const run = worker.get();
    worker->OnExecute = [this, run](LONG value) { ThreadBody(*run, value); };
    worker->OnFinish = [this] { FinishHandOver(); };
    worker->Param = param;
    ApplyPriority(worker->Handle(), priority_.load());
    worker_ = std::move(worker);
    worker_->Resume();
    // Commands posted from now on reach the worker's queue, and a Pause is accepted.
    worker_->WaitUntilReady();
    if (OnStarted) {
        OnStarted(this);
    }
    DoStarted();
}

void TTask::ThreadBody(TWorkingThread& worker, LONG param)
{
    state_.store(tsPreparing);
    worker.SignalReady();
    Prepare();
    // A pause requested during Prepare keeps tsPaused: its command waits at the first
    // checkpoint, and Resume still finds the task paused.
    TTaskState expected = tsPreparing;
    state_.compare_exchange_strong(expected, tsRunning);
    Execute(param);
}

void TTask::FinishHandOver()
{
    state_.store(tsFinished);
    if (OnFinished) {
        OnFinished(this);
    }
    DoFinished();
}

void STDMETHODCALLTYPE TTask::Pause()
{
    GuardedVoid(L"Task - Pause", [&] {
        if (!worker_) {
            return;
        }
        TTaskState current = state_.load();
        while (current == tsPreparing || current == tsRunning) {
            if (state_.compare_exchange_weak(current, tsPaused)) {
                worker_->PostCommand(WM_PAUSE);
                return;
            }
        }
    });
}

void STDMETHODCALLTYPE TTask::Resume()
{
    GuardedVoid(L"Task - Resume", [&] {
        if (!worker_ || state_.load() != tsPaused) {
            return;
        }
        worker_->PostCommand(WM_RESUME);
        if (worker_->IsRunning()) {
            TTaskState expected = tsPaused;
            state_.compare_exchange_strong(expected, tsRunning);
        }
    });
}

void STDMETHODCALLTYPE TTask::Stop()
{
    GuardedVoid(L"Task - Stop", [&] { StopRun(); });
}

void TTask::StopRun()
{
    if (!worker_) {
        return;
    }
    if (worker_->IsRunning()) {
        DebugLog::Log(L"Aborting thread execution by user request");
        worker_->PostCommand(WM_STOP);
    }
    worker_.reset();
    state_.store(tsFinished);
    if (OnStopped) {
        OnStopped(this);
    }
}

LONG STDMETHODCALLTYPE TTask::GetMaxProgress()
{
    return Guarded<LONG>(L"Task - GetMaxProgress", 0, [&] {
        const TLockGuard guard(lock_);
        return maxProgress_;
    });
}

LONG STDMETHODCALLTYPE TTask::GetProgress()
{
    return progress_.load();
}

BYTE STDMETHODCALLTYPE TTask::GetPriority()
{
    return priority_.load();
}

void STDMETHODCALLTYPE TTask::SetPriority(BYTE value)
{
    GuardedVoid(L"Task - SetPriority", [&] {
        priority_.store(value);
        const TTaskState state = state_.load();
        if (worker_ && state != tsIdle && state != tsFinished && state != tsDestroying) {
            ApplyPriority(worker_->Handle(), value);
        }
    });
}

void TTask::SetMaxProgress(LONG value)
{
    const TLockGuard guard(lock_);
    maxProgress_ = value;
}

}  // namespace tidyhive

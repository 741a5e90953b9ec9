#include "host/TaskRunner.h"

#include "host/Console.h"

#include <atomic>

namespace tidyhive::host {
namespace {

std::atomic<bool> gInterrupted{false};

BOOL WINAPI OnConsoleControl(DWORD event)
{
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        gInterrupted = true;
        return TRUE;
    }
    return FALSE;
}

// Hears the one event that says the task ended by itself.
class TFinishListener : public IEventListener {
public:
    explicit TFinishListener(BYTE kind) : kind_(kind) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (!object) {
            return E_POINTER;
        }
        *object = IsEqualIID(iid, IID_IUnknown) ? this : nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    void STDMETHODCALLTYPE HandleEvent(BYTE kind) override
    {
        if (kind == kind_) {
            finished = true;
        }
    }
    std::atomic<bool> finished{false};

private:
    BYTE kind_;
};

void PumpMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

TaskOutcome RunTask(IRegistryCleanerManager* root, IEngineTask* task, BYTE finishedEvent,
                    const std::function<std::wstring()>& progressLine)
{
    TFinishListener listener(finishedEvent);
    IEventManager* events = root->GetEventManager();
    events->Subscribe(&listener, EventBit(finishedEvent));
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    gInterrupted = false;

    const bool showProgress = progressLine && StdoutIsTerminal();
    size_t shown = 0;
    TaskOutcome outcome = TaskOutcome::Finished;
    task->Start();
    if (root->GetRunningTask() == rtNone && !listener.finished) {
        outcome = TaskOutcome::NotStarted;
    }
    DWORD lastShown = 0;
    while (outcome == TaskOutcome::Finished && !listener.finished) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        PumpMessages();
        if (gInterrupted) {
            task->Stop();
            outcome = TaskOutcome::Interrupted;
            break;
        }
        if (root->GetRunningTask() == rtNone) {
            PumpMessages();
            break;
        }
        if (showProgress && GetTickCount() - lastShown >= 250) {
            lastShown = GetTickCount();
            std::wstring line = progressLine();
            const size_t length = line.size();
            if (length < shown) {
                line.append(shown - length, L' ');
            }
            shown = length;
            Out(L"\r" + line);
        }
    }
    if (showProgress && shown > 0) {
        Out(L"\r" + std::wstring(shown, L' ') + L"\r");
    }
    events->Unsubscribe(&listener);
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    return outcome;
}

std::wstring JsonString(const std::wstring& text)
{
    std::wstring result = L"\"";
    for (wchar_t c : text) {
        switch (c) {
        case L'"':
            result += L"\\\"";
            break;
        case L'\\':
            result += L"\\\\";
            break;
        case L'\n':
            result += L"\\n";
            break;
        case L'\r':
            result += L"\\r";
            break;
        case L'\t':
            result += L"\\t";
            break;
        default:
            if (c < 0x20) {
                wchar_t escape[8];
                wsprintfW(escape, L"\\u%04x", static_cast<unsigned>(c));
                result += escape;
            } else {
                result += c;
            }
        }
    }
    return result + L"\"";
}

}  // namespace tidyhive::host

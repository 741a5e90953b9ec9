#include "categories/TaskScheduler.h"

#include "services/ComPtr.h"

#include <windows.h>
#include <mstask.h>
#include <objbase.h>
#include <objidl.h>

namespace tidyhive {
namespace {

constexpr CLSID kClsidTaskScheduler = {
    0x148BD52A, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
constexpr IID kIidTaskScheduler = {
    0x148BD527, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
constexpr IID kIidTask = {0x148BD524, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
constexpr IID kIidPersistFile = {
    0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// COM for the calling thread for one call; a thread that has COM already keeps it as it is.
class TComScope {
public:
    TComScope() : initialized_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~TComScope()
    {
        if (initialized_) {
            CoUninitialize();
        }
    }
    TComScope(const TComScope&) = delete;
    TComScope& operator=(const TComScope&) = delete;

private:
    bool initialized_;
};

TComPtr<ITaskScheduler> CreateScheduler()
{
    ITaskScheduler* scheduler = nullptr;
    if (FAILED(CoCreateInstance(kClsidTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, kIidTaskScheduler,
                                reinterpret_cast<void**>(&scheduler)))) {
        return {};
    }
    return TComPtr<ITaskScheduler>::Adopt(scheduler);
}

// Some schedulers open a task by its listed name ("x.job") only without the extension.
std::wstring BareName(const std::wstring& task)
{
    const size_t length = task.size();
    if (length > 4 && _wcsicmp(task.c_str() + length - 4, L".job") == 0) {
        return task.substr(0, length - 4);
    }
    return task;
}

TComPtr<ITask> Activate(ITaskScheduler* scheduler, const std::wstring& task)
{
    for (const std::wstring& name : {task, BareName(task)}) {
        IUnknown* unknown = nullptr;
        if (SUCCEEDED(scheduler->Activate(name.c_str(), kIidTask, &unknown)) && unknown) {
            return TComPtr<ITask>::Adopt(static_cast<ITask*>(unknown));
        }
    }
    return {};
}

std::wstring TakeText(LPWSTR text)
{
    std::wstring result = text ? text : L"";
    CoTaskMemFree(text);
    return result;
}

}  // namespace

bool TMsTaskScheduler::EnumerateTasks(std::vector<std::wstring>& names)
{
    names.clear();
    const TComScope com;
    TComPtr<ITaskScheduler> scheduler = CreateScheduler();
    if (!scheduler) {
        return false;
    }
    IEnumWorkItems* rawItems = nullptr;
    if (scheduler->Enum(&rawItems) != S_OK || !rawItems) {
        return false;
    }
    const TComPtr<IEnumWorkItems> items = TComPtr<IEnumWorkItems>::Adopt(rawItems);
    // In modest batches: one request for every name at once makes some schedulers reserve
    // room for four billion of them.
    for (;;) {
        LPWSTR* batch = nullptr;
        ULONG fetched = 0;
        const HRESULT result = items->Next(64, &batch, &fetched);
        if (FAILED(result)) {
            break;
        }
        for (ULONG index = 0; batch && index < fetched; ++index) {
            names.push_back(TakeText(batch[index]));
        }
        CoTaskMemFree(batch);
        if (result != S_OK || fetched == 0) {
            break;
        }
    }
    return true;
}

bool TMsTaskScheduler::GetApplicationName(const std::wstring& task, std::wstring& program)
{
    program.clear();
    const TComScope com;
    TComPtr<ITaskScheduler> scheduler = CreateScheduler();
    if (!scheduler) {
        return false;
    }
    TComPtr<ITask> item = Activate(scheduler.Get(), task);
    LPWSTR name = nullptr;
    if (!item || FAILED(item->GetApplicationName(&name))) {
        return false;
    }
    program = TakeText(name);
    return true;
}

std::wstring TMsTaskScheduler::GetJobFileName(const std::wstring& task)
{
    const TComScope com;
    TComPtr<ITaskScheduler> scheduler = CreateScheduler();
    if (!scheduler) {
        return {};
    }
    TComPtr<ITask> item = Activate(scheduler.Get(), task);
    if (!item) {
        return {};
    }
    IPersistFile* rawFile = nullptr;
    if (FAILED(item->QueryInterface(kIidPersistFile, reinterpret_cast<void**>(&rawFile))) || !rawFile) {
        return {};
    }
    const TComPtr<IPersistFile> file = TComPtr<IPersistFile>::Adopt(rawFile);
    LPOLESTR fileName = nullptr;
    if (FAILED(file->GetCurFile(&fileName))) {
        CoTaskMemFree(fileName);
        return {};
    }
    return TakeText(fileName);
}

bool TMsTaskScheduler::DeleteTask(const std::wstring& task)
{
    const TComScope com;
    TComPtr<ITaskScheduler> scheduler = CreateScheduler();
    if (!scheduler) {
        return false;
    }
    for (const std::wstring& name : {task, BareName(task)}) {
        const HRESULT result = scheduler->Delete(name.c_str());
        if (result == S_OK) {
            return true;
        }
        if (result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) && !Activate(scheduler.Get(), task)) {
            return true;  // gone already
        }
    }
    return false;
}

std::shared_ptr<TTaskScheduler> CreateTaskScheduler()
{
    return std::make_shared<TMsTaskScheduler>();
}

}  // namespace tidyhive

#include "tests/support/PlantedTask.h"

#include "tests/support/TestRegistry.h"

#include <objbase.h>
#include <objidl.h>

namespace tidyhive::testing {
namespace {

constexpr CLSID kClsidTaskScheduler = {
    0x148BD52A, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
constexpr IID kIidTaskScheduler = {
    0x148BD527, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
constexpr CLSID kClsidTask = {0x148BD520, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
constexpr IID kIidTask = {0x148BD524, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
constexpr IID kIidPersistFile = {0x0000010B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

TComPtr<ITask> Open(ITaskScheduler* scheduler, const std::wstring& name)
{
    IUnknown* unknown = nullptr;
    if (!scheduler || FAILED(scheduler->Activate(name.c_str(), kIidTask, &unknown)) || !unknown) {
        return {};
    }
    return TComPtr<ITask>::Adopt(static_cast<ITask*>(unknown));
}

}  // namespace

TPlantedTask::TPlantedTask(const std::wstring& program, const std::wstring& prefix)
    : name_(prefix + L"-" + NewGuidText())
{
    ITaskScheduler* scheduler = nullptr;
    if (FAILED(CoCreateInstance(kClsidTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, kIidTaskScheduler,
                                reinterpret_cast<void**>(&scheduler)))) {
        return;
    }
    scheduler_ = TComPtr<ITaskScheduler>::Adopt(scheduler);
    IUnknown* unknown = nullptr;
    if (FAILED(scheduler_->NewWorkItem(name_.c_str(), kClsidTask, kIidTask, &unknown)) || !unknown) {
        return;
    }
    const TComPtr<ITask> task = TComPtr<ITask>::Adopt(static_cast<ITask*>(unknown));
    planted_ = Save(task.Get(), program);
}

TPlantedTask::~TPlantedTask()
{
    if (scheduler_) {
        scheduler_->Delete(name_.c_str());
    }
}

bool TPlantedTask::Save(ITask* task, const std::wstring& program)
{
    if (FAILED(task->SetApplicationName(program.c_str()))) {
        return false;
    }
    IPersistFile* rawFile = nullptr;
    if (FAILED(task->QueryInterface(kIidPersistFile, reinterpret_cast<void**>(&rawFile))) || !rawFile) {
        return false;
    }
    const TComPtr<IPersistFile> file = TComPtr<IPersistFile>::Adopt(rawFile);
    if (FAILED(file->Save(nullptr, TRUE))) {
        return false;
    }
    LPOLESTR current = nullptr;
    if (SUCCEEDED(file->GetCurFile(&current)) && current) {
        jobFile_ = current;
    }
    CoTaskMemFree(current);
    return true;
}

bool TPlantedTask::SetProgram(const std::wstring& program)
{
    const TComPtr<ITask> task = Open(scheduler_.Get(), name_);
    return task && Save(task.Get(), program);
}

bool TPlantedTask::Program(std::wstring& program) const
{
    program.clear();
    const TComPtr<ITask> task = Open(scheduler_.Get(), name_);
    LPWSTR text = nullptr;
    if (!task || FAILED(task->GetApplicationName(&text))) {
        return false;
    }
    program = text ? text : L"";
    CoTaskMemFree(text);
    return true;
}

}  // namespace tidyhive::testing

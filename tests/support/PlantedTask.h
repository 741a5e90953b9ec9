// A task of a test's own in the platform's Task Scheduler 1.0, deleted again at the end.
// The calling thread must have COM.
#pragma once

#include "services/ComPtr.h"

#include <windows.h>
#include <mstask.h>

#include <string>

namespace tidyhive::testing {

class TPlantedTask {
public:
    // A task named "<prefix>-<GUID>" that runs program.
    explicit TPlantedTask(const std::wstring& program, const std::wstring& prefix = L"tidyhive-test");
    ~TPlantedTask();
    TPlantedTask(const TPlantedTask&) = delete;
    TPlantedTask& operator=(const TPlantedTask&) = delete;

    // False when the platform has no scheduler or the task could not be saved.
    bool Planted() const { return planted_; }
    // Without the ".job" extension.
    const std::wstring& Name() const { return name_; }
    // The file that holds the task, as the scheduler names it; empty when unknown.
    const std::wstring& JobFile() const { return jobFile_; }

    // Saves the task again with another program.
    bool SetProgram(const std::wstring& program);
    // The program the scheduler answers for the task now; false when it cannot be opened.
    bool Program(std::wstring& program) const;

private:
    bool Save(ITask* task, const std::wstring& program);

    std::wstring name_;
    std::wstring jobFile_;
    TComPtr<ITaskScheduler> scheduler_;
    bool planted_ = false;
};

}  // namespace tidyhive::testing

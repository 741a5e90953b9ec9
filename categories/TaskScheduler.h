// The legacy Windows Task Scheduler (1.0) as the startup category needs it: list the tasks,
// read a task's program and its .job file, delete a task. TTaskScheduler is the seam; the
// platform stands behind TMsTaskScheduler.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace tidyhive {

class TTaskScheduler {
public:
    virtual ~TTaskScheduler() = default;

    // The task names as the scheduler lists them (with their ".job" extension). False when
    // there is no scheduler or it cannot list its tasks.
    virtual bool EnumerateTasks(std::vector<std::wstring>& names) = 0;
    // The task's program path; false when the task cannot be opened.
    virtual bool GetApplicationName(const std::wstring& task, std::wstring& program) = 0;
    // The file that holds the task; empty when it cannot be found out.
    virtual std::wstring GetJobFileName(const std::wstring& task) = 0;
    // Deletes the task; true when it is gone (also when it was gone already).
    virtual bool DeleteTask(const std::wstring& task) = 0;
};

// Over ITaskScheduler. Every call creates the scheduler object on the calling thread (the
// scan and clean workers each initialise COM for themselves), so no interface pointer is
// shared between threads. Without the platform's scheduler every call answers failure.
class TMsTaskScheduler : public TTaskScheduler {
public:
    bool EnumerateTasks(std::vector<std::wstring>& names) override;
    bool GetApplicationName(const std::wstring& task, std::wstring& program) override;
    std::wstring GetJobFileName(const std::wstring& task) override;
    bool DeleteTask(const std::wstring& task) override;
};

// The scheduler the engine uses unless it is given another.
std::shared_ptr<TTaskScheduler> CreateTaskScheduler();

}  // namespace tidyhive

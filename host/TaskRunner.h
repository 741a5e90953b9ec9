// Runs an engine task from the console: pumps the host's messages (the engine hands its
// finish notification to this thread), shows progress, and stops the task on Ctrl+C.
#pragma once

#include "tidyhive/Tidyhive.h"

#include <functional>
#include <string>

namespace tidyhive::host {

enum class TaskOutcome { Finished, Interrupted, NotStarted };

// Starts the task and waits for it. progressLine, when given and output is a terminal,
// is shown on one line, refreshed a few times a second.
TaskOutcome RunTask(IRegistryCleanerManager* root, IEngineTask* task, BYTE finishedEvent,
                    const std::function<std::wstring()>& progressLine);

// JSON string literal of a text.
std::wstring JsonString(const std::wstring& text);

}  // namespace tidyhive::host

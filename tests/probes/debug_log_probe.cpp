// Child process for the debug-log tests: writes a trace line, an error line and an unbalanced
// unlock, so that a test can see where and how a real host's log comes out.
#include "services/DebugLog.h"
#include "services/Lock.h"

int main()
{
    tidyhive::DebugLog::Log(L"Probe trace");
    tidyhive::DebugLog::LogError(L"Probe error");
    tidyhive::TLock lock;
    lock.Unlock();
    return tidyhive::DebugLog::Enabled() ? 1 : 0;
}

#include "services/Lock.h"

#include "services/DebugLog.h"

namespace tidyhive {

void TLock::Lock()
{
    EnterCriticalSection(&section_);
    ++count_;
}

void TLock::Unlock()
{
    // Only the owner may look at the count: a thread that does not hold the section sees it
    // as not held by itself.
    const bool owned =
        section_.OwningThread == reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(GetCurrentThreadId()));
    if (!owned || count_ <= 0) {
        DebugLog::Log(L"Call to Unlock without previous Lock");
        return;
    }
    --count_;
    LeaveCriticalSection(&section_);
}

}  // namespace tidyhive

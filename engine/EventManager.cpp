#include "engine/EventManager.h"

#include "engine/BoundaryGuard.h"

#include <algorithm>

namespace tidyhive {

TEventManager& TEventManager::Instance()
{
    static TEventManager* manager = new TEventManager();  // shared by every root until the process ends
    return *manager;
}

BOOL STDMETHODCALLTYPE TEventManager::Subscribe(IEventListener* listener, BYTE events)
{
    return Guarded<BOOL>(L"EventManager - Subscribe", FALSE, [&]() -> BOOL {
        std::lock_guard guard(mutex_);
        const bool present = std::any_of(subscriptions_.begin(), subscriptions_.end(),
                                         [&](const Subscription& s) { return s.listener == listener; });
        if (present || !listener) {
            return FALSE;
        }
        subscriptions_.push_back({listener, events});
        return TRUE;
    });
}

void STDMETHODCALLTYPE TEventManager::Unsubscribe(IEventListener* listener)
{
    std::lock_guard guard(mutex_);
    std::erase_if(subscriptions_, [&](const Subscription& s) { return s.listener == listener; });
}

void TEventManager::FireEvent(BYTE kind)
{
    if (kind > 7) {
        return;
    }
    std::vector<Subscription> snapshot;
    {
        std::lock_guard guard(mutex_);
        snapshot = subscriptions_;
    }
    for (const Subscription& subscription : snapshot) {
        if ((subscription.events & EventBit(kind)) == 0) {
            continue;
        }
        {
            // A listener unsubscribed by an earlier one in this round is not called.
            std::lock_guard guard(mutex_);
            const bool still = std::any_of(subscriptions_.begin(), subscriptions_.end(), [&](const Subscription& s) {
                return s.listener == subscription.listener;
            });
            if (!still) {
                continue;
            }
        }
        GuardedVoid(L"EventManager - FireEvent", [&] { subscription.listener->HandleEvent(kind); });
    }
}

}  // namespace tidyhive

// Delivers scan and clean start and finish events to the host's listeners.
#pragma once

#include "engine/CommonInterfacedObject.h"

#include <mutex>
#include <vector>

namespace tidyhive {

class TEventManager : public TCommonInterfacedObject<IEventManager> {
public:
    static TEventManager& Instance();

    BOOL STDMETHODCALLTYPE Subscribe(IEventListener* listener, BYTE events) override;
    void STDMETHODCALLTYPE Unsubscribe(IEventListener* listener) override;

    // Calls every listener subscribed to the kind. Delivery walks a copy of the
    // subscriptions, so a listener may subscribe or unsubscribe from inside HandleEvent;
    // a listener that raises does not stop the delivery to the others.
    void FireEvent(BYTE kind);

private:
    struct Subscription {
        IEventListener* listener;
        BYTE events;
    };
    std::mutex mutex_;
    std::vector<Subscription> subscriptions_;
};

}  // namespace tidyhive

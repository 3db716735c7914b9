// The calling thread's window message queue, which the settle wait keeps serving.
#pragma once

#include <cstdint>

namespace qmx {

class MessagePump {
public:
    virtual ~MessagePump() = default;
    // Dispatches every message queued for the calling thread. The handlers may call back
    // into the component.
    virtual void dispatch_pending() = 0;
    // Sleeps until a message arrives for the calling thread or the time is up.
    virtual void wait(std::int64_t timeout_ms) = 0;
};

} // namespace qmx

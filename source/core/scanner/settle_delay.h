// The settle wait between scanner conversations.
#pragma once

#include "core/platform/clock.h"
#include "core/platform/message_pump.h"

namespace qmx {

// Waits until the whole-second time of day has advanced by two seconds (between one and
// two seconds of real time), dispatching the calling thread's window messages meanwhile.
// The first test comes before the first dispatch. Between tests it sleeps until a message
// arrives or the next second begins, so the wait costs next to no processor time. The
// wait spans midnight unchanged, and a wall clock set back cannot stretch it past two
// seconds of monotonic time.
void SettleDelay(Clock& clock, MessagePump& pump);

} // namespace qmx

// Everything a Clicker reaches outside itself.
#pragma once

#include "platform/clock.h"
#include "platform/directory.h"
#include "platform/message_pump.h"
#include "scanner/csp2.h"

namespace qmx {

struct Platform {
    Csp2& scanner;
    Clock& clock;
    MessagePump& pump;
    Directory& directory;
};

} // namespace qmx

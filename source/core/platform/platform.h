// Everything a Clicker reaches outside itself.
#pragma once

#include "core/platform/clock.h"
#include "core/platform/directory.h"
#include "core/platform/message_pump.h"
#include "core/scanner/csp2.h"

namespace qmx {

struct Platform {
    Csp2& scanner;
    Clock& clock;
    MessagePump& pump;
    Directory& directory;
};

} // namespace qmx

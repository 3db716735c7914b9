// Reads scenario files and state files: one directive per line.
#pragma once

#include "simulator/scenario.h"

#include <optional>
#include <string>
#include <string_view>

namespace qmx::sim {

// A state file allows only what a scanner keeps: clock, clock-lost, barcode, packet, param.
enum class FileKind { scenario, state };

struct ParseOutcome {
    std::optional<Scenario> scenario; // empty when the text has an error
    std::string error;                // "line N: reason"
};

// Whatever the text does not set is as in a new Scenario: port 3, the default identity,
// the PC clock, nothing stored, no faults.
ParseOutcome parse_scenario(std::string_view text, FileKind kind = FileKind::scenario);

} // namespace qmx::sim

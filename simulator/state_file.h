// The scanner's state as a file: what it stores, its clock offset, whether the clock is
// lost, and its parameter table, in the directives of a scenario file.
#pragma once

#include "simulator/scanner.h"

#include <optional>
#include <string>
#include <string_view>

namespace qmx::sim {

std::string format_state(const ScannerState& state);

struct StateOutcome {
    std::optional<ScannerState> state; // empty when the text has an error
    std::string error;                 // "line N: reason"
};

StateOutcome parse_state(std::string_view text);

} // namespace qmx::sim

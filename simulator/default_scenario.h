// The built-in scenarios.
#pragma once

#include "simulator/scenario.h"

namespace qmx::sim {

// Code types of the default scenario; the numbers are the simulator's own.
namespace code_type {
inline constexpr std::uint8_t ean_13 = 10;
inline constexpr std::uint8_t code_128 = 20;
inline constexpr std::uint8_t code_39 = 30;
} // namespace code_type

// A scanner on port 3 with six barcodes and a clock that runs with the PC clock.
Scenario default_scenario();

// A scanner that answers on no port: what a scenario that cannot be read gives.
Scenario answers_nowhere();

} // namespace qmx::sim

#include "simulator/default_scenario.h"

namespace qmx::sim {

namespace {

Barcode barcode(std::uint8_t type, CivilTime scanned, std::string text, bool seconds_recorded = true)
{
    return Barcode{type, scanned, seconds_recorded, std::move(text)};
}

} // namespace

Scenario default_scenario()
{
    Scenario s;
    s.entries = {
        barcode(code_type::ean_13, {2026, 11, 30, 8, 12, 5}, "2001234567893"),
        barcode(code_type::code_128, {2026, 11, 30, 8, 13, 41}, "QMX-2026-0042"),
        barcode(code_type::code_39, {2026, 12, 2, 14, 2, 17}, "SHELF-A17"),
        barcode(code_type::ean_13, {2026, 12, 4, 10, 47, 0}, "2900001234566", false),
        barcode(code_type::code_128, {2026, 12, 7, 16, 30, 52}, "lot:7731/b"),
        barcode(code_type::ean_13, {2026, 12, 7, 16, 31, 9}, "2047110003581"),
    };
    return s;
}

Scenario answers_nowhere()
{
    Scenario s;
    s.port.reset();
    return s;
}

} // namespace qmx::sim

#include "simulator/state_file.h"

#include "simulator/call_log.h"
#include "simulator/scenario_parser.h"

namespace qmx::sim {

namespace {

std::string two_digits(int value)
{
    return std::string{static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

std::string barcode_line(const Barcode& b)
{
    const CivilTime& t = b.scanned;
    std::string line = "barcode " + std::to_string(b.code_type) + " " + std::to_string(t.year) + "-" +
                       two_digits(t.month) + "-" + two_digits(t.day) + " " + two_digits(t.hour) + ":" +
                       two_digits(t.minute) + ":" + (b.seconds_recorded ? two_digits(t.second) : "--");
    if (!b.text.empty())
        line += " " + b.text;
    return line;
}

} // namespace

std::string format_state(const ScannerState& state)
{
    std::string out = "# State of the simulated scanner, rewritten on every change.\n";
    out += "clock offset " + std::to_string(state.clock_offset_seconds) + "\n";
    if (state.clock_lost)
        out += "clock-lost\n";
    for (const auto& [id, value] : state.params)
        out += "param " + std::to_string(id) + " " + std::to_string(value) + "\n";
    for (const StoredEntry& entry : state.entries) {
        if (const auto* barcode = std::get_if<Barcode>(&entry))
            out += barcode_line(*barcode) + "\n";
        else
            out += "packet " + hex_bytes(std::get<RawPacket>(entry).bytes) + "\n";
    }
    return out;
}

StateOutcome parse_state(std::string_view text)
{
    ParseOutcome parsed = parse_scenario(text, FileKind::state);
    if (!parsed.scenario)
        return {std::nullopt, parsed.error};
    Scenario& s = *parsed.scenario;
    return {ScannerState{std::move(s.entries), s.clock.offset_seconds, s.clock_lost, std::move(s.params)}, {}};
}

} // namespace qmx::sim

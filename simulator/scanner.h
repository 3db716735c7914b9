// The simulated scanner: the fifteen library entries over a scenario, with the open-port
// state machine, the stored packets, the running clock and the parameter table.
//
// Buffers come as spans over the caller's memory (empty for a null pointer) with the size
// the caller announced; nothing is written past the smaller of the two. An entry that
// fails writes nothing.
#pragma once

#include "core/platform/clock.h"
#include "simulator/call_log.h"
#include "simulator/scenario.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qmx::sim {

// Results other than success; documented in the simulator's README.
enum class Failure : std::int32_t {
    no_answer = -1,     // csp2Init: nobody answers on that port
    not_open = -2,      // the entry needs an open port and none is
    no_packet = -3,     // csp2GetPacket: no packet of that number
    buffer_short = -4,  // a buffer is missing or smaller than what the entry writes
    invalid_clock = -5, // csp2SetTime: not a calendar time
    refused = -6,       // csp2SetParam: the scenario refuses that parameter
    internal = -7,      // csp2.dll: the call failed inside the library
};

// What the scanner keeps between host runs.
struct ScannerState {
    std::vector<StoredEntry> entries;
    std::int64_t clock_offset_seconds = 0; // scanner clock minus PC clock
    bool clock_lost = false;
    std::map<std::int32_t, std::uint8_t> params;

    friend bool operator==(const ScannerState&, const ScannerState&) = default;
};

class Scanner {
public:
    // pc_clock supplies the PC's local time, from which the scanner clock runs.
    Scanner(Scenario scenario, Clock& pc_clock);

    void set_log(CallLog* log) { log_ = log; }
    // Called after every change of the state, e.g. to save it.
    void on_change(std::function<void(const ScannerState&)> saver) { saver_ = std::move(saver); }
    void restore_state(ScannerState state) { state_ = std::move(state); }

    const ScannerState& state() const { return state_; }
    std::optional<std::int32_t> open_port() const { return open_port_; }

    std::int32_t init(std::int32_t port);
    std::int32_t read_data();
    std::int32_t get_system_status();
    std::int32_t get_device_id(std::span<std::uint8_t> id, std::int32_t size);
    std::int32_t get_packet(std::span<std::uint8_t> packet, std::int32_t number, std::int32_t size);
    std::int32_t time_stamp_to_text(std::span<const std::uint8_t> stamp, std::span<std::uint8_t> text, std::int32_t size);
    std::int32_t wake_up();
    std::int32_t get_time(std::span<std::uint8_t> clock);
    std::int32_t set_time(std::span<std::uint8_t> clock);
    std::int32_t power_down();
    std::int32_t clear_data();
    std::int32_t set_defaults();
    std::int32_t interrogate();
    std::int32_t set_param(std::int32_t id, std::span<const std::uint8_t> value, std::int32_t size);
    std::int32_t restore();

private:
    std::int32_t logged(std::string line, std::int32_t result);
    // Counts the call; the scenario's result for it when a `fail` directive covers it.
    std::optional<std::int32_t> fault(const char* entry);
    std::int32_t simple(const char* entry);
    std::optional<std::vector<std::uint8_t>> packet(std::int32_t number) const;
    std::int64_t pc_seconds();
    void changed();

    Scenario scenario_;
    Clock& pc_clock_;
    ScannerState state_;
    std::optional<std::int32_t> open_port_;
    std::map<std::string, std::int32_t, std::less<>> calls_; // by entry name
    CallLog* log_ = nullptr;
    std::function<void(const ScannerState&)> saver_;
};

} // namespace qmx::sim

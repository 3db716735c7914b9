// What a simulated scanner is: where it answers, what it holds, and the faults it is
// asked to show. A scenario file describes one; the default scenario is built in.
#pragma once

#include "simulator/calendar.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace qmx::sim {

// Barcodes longer than this would not fit in a packet whose length byte counts the
// code type, the barcode and the four time-stamp bytes.
inline constexpr std::size_t max_barcode_length = 250;
inline constexpr std::size_t max_raw_packet_length = 500;
// A time-stamp text replacement, with the zero after it, fits the component's 30 bytes.
inline constexpr std::size_t max_stamp_text_length = 29;

struct Barcode {
    std::uint8_t code_type = 0;
    CivilTime scanned;
    bool seconds_recorded = true;
    std::string text; // bytes, as the scanner read them

    friend bool operator==(const Barcode&, const Barcode&) = default;
};

// A packet given byte for byte, delivered as it is whatever its length byte says.
struct RawPacket {
    std::vector<std::uint8_t> bytes;

    friend bool operator==(const RawPacket&, const RawPacket&) = default;
};

using StoredEntry = std::variant<Barcode, RawPacket>;

// Where the scanner's clock starts: with the PC clock, at a given time, or a fixed number
// of seconds away from the PC clock. From there it runs with the PC clock.
struct ClockStart {
    enum class Kind { pc, at, offset };
    Kind kind = Kind::pc;
    CivilTime at;
    std::int64_t offset_seconds = 0;

    friend bool operator==(const ClockStart&, const ClockStart&) = default;
};

// An entry that answers `result` from its `from`-th call on (counting from 1), doing
// nothing else.
struct EntryFault {
    std::int32_t result = 0;
    std::int32_t from = 1;

    friend bool operator==(const EntryFault&, const EntryFault&) = default;
};

using Identity = std::array<std::uint8_t, 8>;
inline constexpr Identity default_identity = {0x00, 0x12, 0x6B, 0x3F, 0xA2, 0x19, 0x04, 0xC7};

struct Scenario {
    std::optional<std::int32_t> port = 3; // none: the scanner answers nowhere
    Identity identity = default_identity;
    ClockStart clock;
    bool clock_lost = false;
    std::vector<StoredEntry> entries;
    std::map<std::int32_t, std::uint8_t> params; // the table that csp2SetDefaults restores
    std::set<std::int32_t> refused_params;

    // Faults
    std::map<std::int32_t, std::int32_t> init_results;      // by port
    std::map<std::int32_t, std::int32_t> read_data_results; // by port
    std::map<std::int32_t, std::int32_t> status_results;    // by port
    std::optional<std::int32_t> count;                      // what csp2ReadData reports
    bool deliver_beyond_stored = false;                     // packets up to that count exist
    std::optional<std::int32_t> packets_fail_from;
    bool identity_untouched = false;
    std::optional<std::string> stamp_text;
    bool stamp_text_untouched = false;
    std::map<std::string, EntryFault> entry_faults; // by entry name
    // Barcodes scanned while the host works: each is stored once csp2ReadData has been
    // called the given number of times, so the next download sees it.
    std::vector<std::pair<std::int32_t, Barcode>> scans_after_reads;
};

} // namespace qmx::sim

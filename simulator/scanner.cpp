#include "simulator/scanner.h"

#include "simulator/packet.h"
#include "simulator/time_stamp.h"

#include <algorithm>

namespace qmx::sim {

namespace {

constexpr std::size_t identity_length = 8;
constexpr std::size_t clock_length = 6;
constexpr std::uint8_t clock_lost_seconds = 255;

constexpr std::int32_t fail(Failure f)
{
    return static_cast<std::int32_t>(f);
}

// The bytes an entry may write: the announced size, but never past the buffer.
std::size_t room(std::span<const std::uint8_t> buffer, std::int32_t size)
{
    return size <= 0 ? 0 : std::min(buffer.size(), static_cast<std::size_t>(size));
}

std::string with_args(const char* entry, const std::string& args)
{
    return std::string(entry) + " " + args;
}

} // namespace

Scanner::Scanner(Scenario scenario, Clock& pc_clock) : scenario_(std::move(scenario)), pc_clock_(pc_clock)
{
    state_.entries = scenario_.entries;
    state_.params = scenario_.params;
    state_.clock_lost = scenario_.clock_lost;
    switch (scenario_.clock.kind) {
    case ClockStart::Kind::pc:
        break;
    case ClockStart::Kind::offset:
        state_.clock_offset_seconds = scenario_.clock.offset_seconds;
        break;
    case ClockStart::Kind::at:
        state_.clock_offset_seconds = seconds_since_2000(scenario_.clock.at) - pc_seconds();
        break;
    }
}

std::int64_t Scanner::pc_seconds()
{
    const LocalTime now = pc_clock_.local_time();
    return seconds_since_2000({now.year, now.month, now.day, now.hour, now.minute, now.second});
}

std::int32_t Scanner::logged(std::string line, std::int32_t result)
{
    if (log_)
        log_->write(line + " -> " + std::to_string(result));
    return result;
}

void Scanner::changed()
{
    if (saver_)
        saver_(state_);
}

std::optional<std::int32_t> Scanner::fault(const char* entry)
{
    const std::int32_t call = ++calls_[entry];
    auto it = scenario_.entry_faults.find(entry);
    if (it == scenario_.entry_faults.end() || call < it->second.from)
        return std::nullopt;
    return it->second.result;
}

// Init releases whatever port is open, then opens the one asked for if it answers.
std::int32_t Scanner::init(std::int32_t port)
{
    if (auto f = fault("csp2Init"))
        return logged(with_args("csp2Init", std::to_string(port)), *f);
    open_port_.reset();
    std::int32_t result = scenario_.port == port ? 0 : fail(Failure::no_answer);
    if (auto it = scenario_.init_results.find(port); it != scenario_.init_results.end())
        result = it->second;
    if (result == 0)
        open_port_ = port;
    return logged(with_args("csp2Init", std::to_string(port)), result);
}

std::int32_t Scanner::read_data()
{
    if (auto f = fault("csp2ReadData"))
        return logged("csp2ReadData", *f);
    const std::int32_t call = calls_.find("csp2ReadData")->second;
    for (const auto& [reads, barcode] : scenario_.scans_after_reads) {
        if (reads == call - 1) {
            state_.entries.emplace_back(barcode);
            changed();
        }
    }
    std::int32_t result = fail(Failure::not_open);
    if (open_port_) {
        result = static_cast<std::int32_t>(state_.entries.size());
        if (scenario_.count)
            result = *scenario_.count;
        if (auto it = scenario_.read_data_results.find(*open_port_); it != scenario_.read_data_results.end())
            result = it->second;
    }
    return logged("csp2ReadData", result);
}

std::int32_t Scanner::get_system_status()
{
    if (auto f = fault("csp2GetSystemStatus"))
        return logged("csp2GetSystemStatus", *f);
    std::int32_t result = fail(Failure::not_open);
    if (open_port_) {
        auto it = scenario_.status_results.find(*open_port_);
        result = it == scenario_.status_results.end() ? 0 : it->second;
    }
    return logged("csp2GetSystemStatus", result);
}

// Eight identity bytes, and a zero after them when the buffer has room for it.
std::int32_t Scanner::get_device_id(std::span<std::uint8_t> id, std::int32_t size)
{
    if (auto f = fault("csp2GetDeviceId"))
        return logged(with_args("csp2GetDeviceId", std::to_string(size)), *f);
    std::int32_t result = 0;
    const std::size_t n = room(id, size);
    if (!open_port_) {
        result = fail(Failure::not_open);
    } else if (scenario_.identity_untouched) {
        result = 0;
    } else if (n < identity_length) {
        result = fail(Failure::buffer_short);
    } else {
        std::copy(scenario_.identity.begin(), scenario_.identity.end(), id.begin());
        if (n > identity_length)
            id[identity_length] = 0;
    }
    return logged(with_args("csp2GetDeviceId", std::to_string(size)), result);
}

std::optional<std::vector<std::uint8_t>> Scanner::packet(std::int32_t number) const
{
    if (number < 0 || (scenario_.packets_fail_from && number >= *scenario_.packets_fail_from))
        return std::nullopt;
    const auto index = static_cast<std::size_t>(number);
    if (index < state_.entries.size())
        return packet_bytes(state_.entries[index]);
    if (scenario_.count && scenario_.deliver_beyond_stored && number < *scenario_.count)
        return packet_bytes(extra_barcode(number));
    return std::nullopt;
}

// The packet's length on success.
std::int32_t Scanner::get_packet(std::span<std::uint8_t> buffer, std::int32_t number, std::int32_t size)
{
    if (auto f = fault("csp2GetPacket"))
        return logged(with_args("csp2GetPacket", std::to_string(number) + " " + std::to_string(size)), *f);
    std::int32_t result = fail(Failure::not_open);
    if (open_port_) {
        std::optional<std::vector<std::uint8_t>> bytes = packet(number);
        if (!bytes) {
            result = fail(Failure::no_packet);
        } else if (bytes->size() > room(buffer, size)) {
            result = fail(Failure::buffer_short);
        } else {
            std::copy(bytes->begin(), bytes->end(), buffer.begin());
            result = static_cast<std::int32_t>(bytes->size());
        }
    }
    return logged(with_args("csp2GetPacket", std::to_string(number) + " " + std::to_string(size)), result);
}

// A conversion: it needs no open port.
std::int32_t Scanner::time_stamp_to_text(std::span<const std::uint8_t> stamp, std::span<std::uint8_t> text,
                                         std::int32_t size)
{
    std::int32_t result = 0;
    const std::string args = hex_bytes(stamp) + " " + std::to_string(size);
    if (auto f = fault("csp2TimeStamp2Str"))
        return logged(with_args("csp2TimeStamp2Str", args), *f);
    if (scenario_.stamp_text_untouched)
        return logged(with_args("csp2TimeStamp2Str", args), result);
    if (stamp.size() < 4)
        return logged(with_args("csp2TimeStamp2Str", args), fail(Failure::buffer_short));

    std::string rendered = scenario_.stamp_text.value_or(time_stamp_text({stamp[0], stamp[1], stamp[2], stamp[3]}));
    if (rendered.size() + 1 > room(text, size)) {
        result = fail(Failure::buffer_short);
    } else {
        std::copy(rendered.begin(), rendered.end(), text.begin());
        text[rendered.size()] = 0;
    }
    return logged(with_args("csp2TimeStamp2Str", args), result);
}

std::int32_t Scanner::simple(const char* entry)
{
    if (auto f = fault(entry))
        return logged(entry, *f);
    return logged(entry, open_port_ ? 0 : fail(Failure::not_open));
}

std::int32_t Scanner::wake_up()
{
    return simple("csp2WakeUp");
}

std::int32_t Scanner::power_down()
{
    return simple("csp2PowerDown");
}

std::int32_t Scanner::interrogate()
{
    return simple("csp2Interrogate");
}

// Seconds, minutes, hours, day, month, two-digit year; seconds 255 while the clock is lost.
std::int32_t Scanner::get_time(std::span<std::uint8_t> clock)
{
    if (auto f = fault("csp2GetTime"))
        return logged("csp2GetTime", *f);
    std::int32_t result = 0;
    if (!open_port_) {
        result = fail(Failure::not_open);
    } else if (clock.size() < clock_length) {
        result = fail(Failure::buffer_short);
    } else {
        const CivilTime now = civil_from_seconds(pc_seconds() + state_.clock_offset_seconds);
        clock[0] = state_.clock_lost ? clock_lost_seconds : static_cast<std::uint8_t>(now.second);
        clock[1] = static_cast<std::uint8_t>(now.minute);
        clock[2] = static_cast<std::uint8_t>(now.hour);
        clock[3] = static_cast<std::uint8_t>(now.day);
        clock[4] = static_cast<std::uint8_t>(now.month);
        clock[5] = static_cast<std::uint8_t>((now.year % 100 + 100) % 100);
    }
    return logged("csp2GetTime", result);
}

std::int32_t Scanner::set_time(std::span<std::uint8_t> clock)
{
    const std::span<std::uint8_t> given = clock.first(std::min(clock.size(), clock_length));
    const std::string args = decimal_bytes(given);
    if (auto f = fault("csp2SetTime"))
        return logged(with_args("csp2SetTime", args), *f);
    if (!open_port_)
        return logged(with_args("csp2SetTime", args), fail(Failure::not_open));
    if (given.size() < clock_length)
        return logged(with_args("csp2SetTime", args), fail(Failure::buffer_short));

    const CivilTime wanted{2000 + clock[5], clock[4], clock[3], clock[2], clock[1], clock[0]};
    if (clock[5] > 99 || !is_valid(wanted))
        return logged(with_args("csp2SetTime", args), fail(Failure::invalid_clock));
    state_.clock_offset_seconds = seconds_since_2000(wanted) - pc_seconds();
    state_.clock_lost = false;
    changed();
    return logged(with_args("csp2SetTime", args), 0);
}

std::int32_t Scanner::clear_data()
{
    if (auto f = fault("csp2ClearData"))
        return logged("csp2ClearData", *f);
    if (!open_port_)
        return logged("csp2ClearData", fail(Failure::not_open));
    state_.entries.clear();
    changed();
    return logged("csp2ClearData", 0);
}

// Works with no port open: the table lives in the library as much as in the scanner.
std::int32_t Scanner::set_defaults()
{
    if (auto f = fault("csp2SetDefaults"))
        return logged("csp2SetDefaults", *f);
    state_.params = scenario_.params;
    changed();
    return logged("csp2SetDefaults", 0);
}

// The value is the first byte; the log shows the whole buffer the entry is given.
std::int32_t Scanner::set_param(std::int32_t id, std::span<const std::uint8_t> value, std::int32_t size)
{
    if (auto f = fault("csp2SetParam"))
        return logged(with_args("csp2SetParam", std::to_string(id) + " " + hex_bytes(value) + " " + std::to_string(size)),
                      *f);
    std::int32_t result = 0;
    if (!open_port_) {
        result = fail(Failure::not_open);
    } else if (value.empty() || size < 1) {
        result = fail(Failure::buffer_short);
    } else if (scenario_.refused_params.contains(id)) {
        result = fail(Failure::refused);
    } else {
        state_.params[id] = value[0];
        changed();
    }
    return logged(with_args("csp2SetParam", std::to_string(id) + " " + hex_bytes(value) + " " + std::to_string(size)),
                  result);
}

std::int32_t Scanner::restore()
{
    if (auto f = fault("csp2Restore"))
        return logged("csp2Restore", *f);
    open_port_.reset();
    return logged("csp2Restore", 0);
}

} // namespace qmx::sim

// Test doubles for everything a Clicker reaches outside itself: a scanner library that
// records every call and answers from a script, a clock that moves only while the
// component waits, a message pump, and a directory listing. Shared by the tests, the
// fuzzers and the benchmarks, so they depend on no test framework.
#pragma once

#include "core/platform/platform.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace qmx::test {

// One line per library call ("Init(3)", "GetPacket(0,500)") and one "SettleDelay" for
// each settle wait, in order.
using CallLog = std::vector<std::string>;

// One sequence of calls followed by another.
inline CallLog operator+(CallLog a, const CallLog& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A barcode that a scripted scanner holds, and the text its time stamp renders as.
struct HeldBarcode {
    std::uint8_t code_type;
    std::string barcode;
    std::string stamp_text;
};

// The time-stamp bytes of packet n carry n, so the rendering can find its text.
TimeStampBytes stamp_of(std::int32_t number);
// A packet as the library leaves it: L, code type, barcode, 4 time-stamp bytes.
void fill_packet(PacketBuffer& packet, std::uint8_t code_type, const std::string& barcode, const TimeStampBytes& stamp);
// The library's rendering of a time stamp: the text and one zero character; what follows stays.
void render(TimeStampText& text, const std::string& stamp);

class RecordingCsp2 final : public Csp2 {
public:
    explicit RecordingCsp2(CallLog& log) : log_(log) {}

    // Scripted answers; the defaults are those of a port with no scanner.
    std::function<std::int32_t(std::int32_t)> init = [](std::int32_t) { return -1; };
    std::function<std::int32_t()> read_data = [] { return 0; };
    std::function<std::int32_t()> system_status = [] { return 0; };
    std::function<std::int32_t(DeviceIdBuffer&)> device_id = [](DeviceIdBuffer&) { return 0; };
    std::function<std::int32_t(PacketBuffer&, std::int32_t)> packet = [](PacketBuffer&, std::int32_t) { return -1; };
    std::function<std::int32_t(const TimeStampBytes&, TimeStampText&)> time_stamp =
        [](const TimeStampBytes&, TimeStampText&) { return 0; };
    std::function<std::int32_t(ClockBytes&)> get_time = [](ClockBytes&) { return 0; };
    std::function<std::int32_t(std::int32_t, const ParamBuffer&)> set_param = [](std::int32_t, const ParamBuffer&) { return 0; };
    // Called after every call has been logged, e.g. to call back into the component.
    std::function<void(const std::string&)> after_call;

    // The scanner answers on this port only: Init 0 there, -1 elsewhere.
    void scanner_on_port(std::int32_t port);
    // The scanner reports `count` (by default the number held), delivers the held
    // barcodes and refuses a packet beyond them with a negative result.
    void hold(std::vector<HeldBarcode> barcodes, std::int32_t count = -1);
    std::vector<HeldBarcode> held;

    // What the component handed over.
    std::vector<ClockBytes> set_times;
    std::vector<std::pair<std::int32_t, ParamBuffer>> set_params;
    std::vector<std::int32_t> sizes; // every size argument, in order

    QMX_CSP2_OVERRIDES;

private:
    std::int32_t logged(std::string call, std::int32_t result);
    CallLog& log_;
};

// Time moves only when the component sleeps in the pump, as it would on a real machine.
class FakeClock final : public Clock {
public:
    FakeClock(); // 8 December 2026, 09:05:03.000
    void set(int year, int month, int day, int hour, int minute, int second, int millisecond = 0);
    void advance_ms(std::int64_t ms);

    LocalTime local_time() override;
    std::int64_t monotonic_ms() override { return monotonic_ms_; }

    int readings = 0;

private:
    std::int64_t wall_ms_ = 0; // since 30 December 1899
    std::int64_t monotonic_ms_ = 1'000'000;
};

// Sleeping moves the clock by the time asked for. With a log, each settle wait is one
// "SettleDelay" line among the library calls.
class FakePump final : public MessagePump {
public:
    FakePump(CallLog& log, FakeClock& clock) : log_(&log), clock_(clock) {}
    explicit FakePump(FakeClock& clock) : clock_(clock) {}
    void dispatch_pending() override;
    void wait(std::int64_t timeout_ms) override;

    // Runs once per dispatch, as a host's message handler would.
    std::function<void()> on_dispatch;
    // Runs before each sleep with the time asked for.
    std::function<void(std::int64_t)> on_wait;
    int dispatches = 0;
    std::int64_t waited_ms = 0;

private:
    void mark();
    CallLog* log_ = nullptr;
    FakeClock& clock_;
};

// No pattern has any file unless counts says otherwise.
class FakeDirectory final : public Directory {
public:
    std::map<std::u16string, std::int64_t> counts; // pattern -> number of names
    std::vector<std::u16string> patterns;          // what was asked for
    std::unique_ptr<FileNames> list(std::u16string_view pattern) override;
};

struct FakePlatform {
    CallLog log;
    RecordingCsp2 scanner{log};
    FakeClock clock;
    FakePump pump{log, clock};
    FakeDirectory directory;

    Platform platform() { return Platform{scanner, clock, pump, directory}; }
};

} // namespace qmx::test

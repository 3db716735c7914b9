#include "support/fake_platform.h"

#include "core/automation/date.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace qmx::test {

namespace {

constexpr std::int64_t ms_per_day = 86'400'000;

template <std::size_t N>
std::string bytes_of(const std::array<std::uint8_t, N>& bytes)
{
    std::ostringstream out;
    for (std::size_t i = 0; i < N; ++i)
        out << (i ? "," : "") << int(bytes[i]);
    return out.str();
}

} // namespace

TimeStampBytes stamp_of(std::int32_t number)
{
    return {static_cast<std::uint8_t>(number & 0xFF), static_cast<std::uint8_t>(number >> 8), 0xA5, 0x5A};
}

void fill_packet(PacketBuffer& p, std::uint8_t code_type, const std::string& barcode, const TimeStampBytes& stamp)
{
    p[0] = static_cast<std::uint8_t>(barcode.size() + 5);
    p[1] = code_type;
    std::copy(barcode.begin(), barcode.end(), p.begin() + 2);
    std::copy(stamp.begin(), stamp.end(), p.begin() + 2 + static_cast<std::ptrdiff_t>(barcode.size()));
}

void render(TimeStampText& text, const std::string& stamp)
{
    std::copy(stamp.begin(), stamp.end(), text.begin());
    if (stamp.size() < text.size())
        text[stamp.size()] = 0;
}

void RecordingCsp2::scanner_on_port(std::int32_t port)
{
    init = [port](std::int32_t p) { return p == port ? 0 : -1; };
}

void RecordingCsp2::hold(std::vector<HeldBarcode> barcodes, std::int32_t count)
{
    held = std::move(barcodes);
    const std::int32_t reported = count < 0 ? static_cast<std::int32_t>(held.size()) : count;
    read_data = [reported] { return reported; };
    packet = [this](PacketBuffer& p, std::int32_t number) {
        if (number >= static_cast<std::int32_t>(held.size()))
            return -1;
        const HeldBarcode& h = held[static_cast<std::size_t>(number)];
        fill_packet(p, h.code_type, h.barcode, stamp_of(number));
        return 0;
    };
    time_stamp = [this](const TimeStampBytes& stamp, TimeStampText& text) {
        render(text, held.at(static_cast<std::size_t>(stamp[0] | stamp[1] << 8)).stamp_text);
        return 0;
    };
}

std::int32_t RecordingCsp2::logged(std::string call, std::int32_t result)
{
    log_.push_back(call);
    if (after_call)
        after_call(call);
    return result;
}

std::int32_t RecordingCsp2::csp2Init(std::int32_t port)
{
    return logged("Init(" + std::to_string(port) + ")", init(port));
}

std::int32_t RecordingCsp2::csp2ReadData()
{
    return logged("ReadData", read_data());
}

std::int32_t RecordingCsp2::csp2GetSystemStatus()
{
    return logged("GetSystemStatus", system_status());
}

std::int32_t RecordingCsp2::csp2GetDeviceId(DeviceIdBuffer& id, std::int32_t size)
{
    sizes.push_back(size);
    return logged("GetDeviceId", device_id(id));
}

std::int32_t RecordingCsp2::csp2GetPacket(PacketBuffer& buffer, std::int32_t number, std::int32_t size)
{
    sizes.push_back(size);
    return logged("GetPacket(" + std::to_string(number) + ")", packet(buffer, number));
}

std::int32_t RecordingCsp2::csp2TimeStamp2Str(const TimeStampBytes& stamp, TimeStampText& text, std::int32_t size)
{
    sizes.push_back(size);
    return logged("TimeStamp2Str(" + bytes_of(stamp) + ")", time_stamp(stamp, text));
}

std::int32_t RecordingCsp2::csp2WakeUp()
{
    return logged("WakeUp", 0);
}

std::int32_t RecordingCsp2::csp2GetTime(ClockBytes& clock)
{
    return logged("GetTime", get_time(clock));
}

std::int32_t RecordingCsp2::csp2SetTime(ClockBytes& clock)
{
    set_times.push_back(clock);
    return logged("SetTime(" + bytes_of(clock) + ")", 0);
}

std::int32_t RecordingCsp2::csp2PowerDown()
{
    return logged("PowerDown", 0);
}

std::int32_t RecordingCsp2::csp2ClearData()
{
    return logged("ClearData", 0);
}

std::int32_t RecordingCsp2::csp2SetDefaults()
{
    return logged("SetDefaults", 0);
}

std::int32_t RecordingCsp2::csp2Interrogate()
{
    return logged("Interrogate", 0);
}

std::int32_t RecordingCsp2::csp2SetParam(std::int32_t param, ParamBuffer& value, std::int32_t size)
{
    sizes.push_back(size);
    set_params.emplace_back(param, value);
    return logged("SetParam(" + std::to_string(param) + "," + std::to_string(value[0]) + ")", set_param(param, value));
}

std::int32_t RecordingCsp2::csp2Restore()
{
    return logged("Restore", 0);
}

FakeClock::FakeClock()
{
    set(2026, 12, 8, 9, 5, 3);
}

void FakeClock::set(int year, int month, int day, int hour, int minute, int second, int millisecond)
{
    wall_ms_ = day_number(year, month, day) * ms_per_day + ((hour * 60LL + minute) * 60 + second) * 1000 + millisecond;
}

void FakeClock::advance_ms(std::int64_t ms)
{
    wall_ms_ += ms;
    monotonic_ms_ += ms;
}

LocalTime FakeClock::local_time()
{
    ++readings;
    std::int64_t days = wall_ms_ / ms_per_day;
    std::int64_t ms = wall_ms_ % ms_per_day;
    CivilDateTime date = civil_from_date(static_cast<double>(days));
    return LocalTime{date.year, date.month, date.day, static_cast<int>(ms / 3'600'000),
                     static_cast<int>(ms / 60'000 % 60), static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000)};
}

void FakePump::mark()
{
    if (log_ && (log_->empty() || log_->back() != "SettleDelay"))
        log_->push_back("SettleDelay");
}

void FakePump::dispatch_pending()
{
    mark();
    ++dispatches;
    if (on_dispatch)
        on_dispatch();
}

void FakePump::wait(std::int64_t timeout_ms)
{
    mark();
    if (on_wait)
        on_wait(timeout_ms);
    waited_ms += timeout_ms;
    clock_.advance_ms(timeout_ms);
}

namespace {

class CountedNames final : public FileNames {
public:
    explicit CountedNames(std::int64_t count) : left_(count) {}
    std::u16string next() override
    {
        if (left_ <= 0)
            return {};
        --left_;
        return u"file" + std::u16string(1, static_cast<char16_t>(u'a' + left_ % 26)) + u".txt";
    }

private:
    std::int64_t left_;
};

} // namespace

std::unique_ptr<FileNames> FakeDirectory::list(std::u16string_view pattern)
{
    patterns.emplace_back(pattern);
    auto found = counts.find(std::u16string(pattern));
    return std::make_unique<CountedNames>(found == counts.end() ? 0 : found->second);
}

} // namespace qmx::test

// The simulated scanner behind the component's scanner-link interface, for native use.
#pragma once

#include "core/scanner/csp2.h"
#include "simulator/scanner.h"

namespace qmx::sim {

class SimulatedCsp2 final : public Csp2 {
public:
    explicit SimulatedCsp2(Scanner& scanner) : scanner_(scanner) {}

    std::int32_t csp2Init(std::int32_t port) override { return scanner_.init(port); }
    std::int32_t csp2ReadData() override { return scanner_.read_data(); }
    std::int32_t csp2GetSystemStatus() override { return scanner_.get_system_status(); }
    std::int32_t csp2GetDeviceId(DeviceIdBuffer& id, std::int32_t size) override
    {
        return scanner_.get_device_id(id, size);
    }
    std::int32_t csp2GetPacket(PacketBuffer& packet, std::int32_t number, std::int32_t size) override
    {
        return scanner_.get_packet(packet, number, size);
    }
    std::int32_t csp2TimeStamp2Str(const TimeStampBytes& stamp, TimeStampText& text, std::int32_t size) override
    {
        return scanner_.time_stamp_to_text(stamp, text, size);
    }
    std::int32_t csp2WakeUp() override { return scanner_.wake_up(); }
    std::int32_t csp2GetTime(ClockBytes& clock) override { return scanner_.get_time(clock); }
    std::int32_t csp2SetTime(ClockBytes& clock) override { return scanner_.set_time(clock); }
    std::int32_t csp2PowerDown() override { return scanner_.power_down(); }
    std::int32_t csp2ClearData() override { return scanner_.clear_data(); }
    std::int32_t csp2SetDefaults() override { return scanner_.set_defaults(); }
    std::int32_t csp2Interrogate() override { return scanner_.interrogate(); }
    std::int32_t csp2SetParam(std::int32_t param, ParamBuffer& value, std::int32_t size) override
    {
        return scanner_.set_param(param, value, size);
    }
    std::int32_t csp2Restore() override { return scanner_.restore(); }

private:
    Scanner& scanner_;
};

} // namespace qmx::sim

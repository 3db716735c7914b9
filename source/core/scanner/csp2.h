// The entries of the scanner library that the component calls, under their own names,
// with the buffer sizes it hands over. Everything that talks to the scanner goes
// through this interface: the Windows binding to csp2.DLL, the simulator and the
// test fakes implement it.
#pragma once

#include <array>
#include <cstdint>

namespace qmx {

using DeviceIdBuffer = std::array<std::uint8_t, 9>;
using PacketBuffer = std::array<std::uint8_t, 500>;
using TimeStampBytes = std::array<std::uint8_t, 4>;
using TimeStampText = std::array<std::uint8_t, 30>;
using ClockBytes = std::array<std::uint8_t, 6>;
using ParamBuffer = std::array<std::uint8_t, 10>;

class Csp2 {
public:
    virtual ~Csp2() = default;

    virtual std::int32_t csp2Init(std::int32_t port) = 0;
    virtual std::int32_t csp2ReadData() = 0;
    virtual std::int32_t csp2GetSystemStatus() = 0;
    virtual std::int32_t csp2GetDeviceId(DeviceIdBuffer& id, std::int32_t size) = 0;
    virtual std::int32_t csp2GetPacket(PacketBuffer& packet, std::int32_t number, std::int32_t size) = 0;
    virtual std::int32_t csp2TimeStamp2Str(const TimeStampBytes& stamp, TimeStampText& text, std::int32_t size) = 0;
    virtual std::int32_t csp2WakeUp() = 0;
    virtual std::int32_t csp2GetTime(ClockBytes& clock) = 0;
    // The library may change the bytes it is given; the caller does not read them again.
    virtual std::int32_t csp2SetTime(ClockBytes& clock) = 0;
    virtual std::int32_t csp2PowerDown() = 0;
    virtual std::int32_t csp2ClearData() = 0;
    virtual std::int32_t csp2SetDefaults() = 0;
    virtual std::int32_t csp2Interrogate() = 0;
    virtual std::int32_t csp2SetParam(std::int32_t param, ParamBuffer& value, std::int32_t size) = 0;
    virtual std::int32_t csp2Restore() = 0;
};

// What a class implementing Csp2 declares: every entry, overridden, in the interface's order.
#define QMX_CSP2_OVERRIDES                                                                                  \
    std::int32_t csp2Init(std::int32_t port) override;                                                      \
    std::int32_t csp2ReadData() override;                                                                   \
    std::int32_t csp2GetSystemStatus() override;                                                            \
    std::int32_t csp2GetDeviceId(DeviceIdBuffer& id, std::int32_t size) override;                           \
    std::int32_t csp2GetPacket(PacketBuffer& packet, std::int32_t number, std::int32_t size) override;      \
    std::int32_t csp2TimeStamp2Str(const TimeStampBytes& stamp, TimeStampText& text, std::int32_t size) override; \
    std::int32_t csp2WakeUp() override;                                                                     \
    std::int32_t csp2GetTime(ClockBytes& clock) override;                                                   \
    std::int32_t csp2SetTime(ClockBytes& clock) override;                                                   \
    std::int32_t csp2PowerDown() override;                                                                  \
    std::int32_t csp2ClearData() override;                                                                  \
    std::int32_t csp2SetDefaults() override;                                                                \
    std::int32_t csp2Interrogate() override;                                                                \
    std::int32_t csp2SetParam(std::int32_t param, ParamBuffer& value, std::int32_t size) override;          \
    std::int32_t csp2Restore() override

} // namespace qmx

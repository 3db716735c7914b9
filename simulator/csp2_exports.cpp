// csp2.dll: the fifteen entries over one simulated scanner per process. The environment
// is read at the first call, never while the loader holds its lock. The lock is the
// system's own, which needs no thread-local storage; the DLL stays loaded from its first
// load on (pin_module), so a host may load and free it over and over.
#include "windows/csp2_exports.h"
#include "windows/pin_module.h"
#include "simulator/session.h"

#include <iostream>
#include <optional>
#include <span>
#include <windows.h>

namespace {

using qmx::sim::Scanner;

constexpr std::size_t clock_length = 6;
constexpr std::size_t stamp_length = 4;
constexpr std::size_t param_buffer_length = 10; // the parameter buffer the contract hands over

// A path from the environment; a Unix path ("/...") is taken on Wine's root drive.
std::optional<std::filesystem::path> path_from(const wchar_t* name)
{
    DWORD length = GetEnvironmentVariableW(name, nullptr, 0);
    if (length <= 1)
        return std::nullopt;
    std::wstring value(length, L'\0');
    length = GetEnvironmentVariableW(name, value.data(), length);
    value.resize(length);
    if (value.empty())
        return std::nullopt;
    if (value.front() == L'/') {
        for (wchar_t& c : value)
            c = c == L'/' ? L'\\' : c;
        value.insert(0, L"Z:");
    }
    return std::filesystem::path(value);
}

// The PC clock the scanner's own clock runs against; the simulator keeps its own, apart
// from the component's.
class PcClock final : public qmx::Clock {
public:
    qmx::LocalTime local_time() override
    {
        SYSTEMTIME now;
        GetLocalTime(&now);
        return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
    }
    std::int64_t monotonic_ms() override { return static_cast<std::int64_t>(GetTickCount64()); }
};

SRWLOCK lock = SRWLOCK_INIT;
PcClock pc_clock;
std::optional<qmx::sim::Session> session; // made at the first call

class Hold {
public:
    Hold() { AcquireSRWLockExclusive(&lock); }
    ~Hold() { ReleaseSRWLockExclusive(&lock); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
};

Scanner& scanner()
{
    if (!session)
        session.emplace(qmx::sim::SessionFiles{path_from(L"QMX_SIM_SCENARIO"), path_from(L"QMX_SIM_LOG"),
                                               path_from(L"QMX_SIM_STATE")},
                        pc_clock, std::cerr);
    return session->scanner();
}

// Runs an entry on the scanner; nothing that goes wrong inside reaches the host.
template <typename Call>
long guarded(Call call)
{
    Hold hold;
    try {
        return call(scanner());
    } catch (...) {
        return static_cast<long>(qmx::sim::Failure::internal);
    }
}

template <typename Byte>
std::span<Byte> bytes(Byte* data, long size)
{
    return data && size > 0 ? std::span<Byte>(data, static_cast<std::size_t>(size)) : std::span<Byte>();
}

std::span<std::uint8_t> writable(char* data, long size)
{
    return bytes(reinterpret_cast<std::uint8_t*>(data), size);
}

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    return reason == DLL_PROCESS_ATTACH ? qmx::pin_module(instance) : TRUE;
}

long CSP2_API csp2Init(long port)
{
    return guarded([&](Scanner& s) { return s.init(port); });
}

long CSP2_API csp2ReadData(void)
{
    return guarded([](Scanner& s) { return s.read_data(); });
}

long CSP2_API csp2GetSystemStatus(void)
{
    return guarded([](Scanner& s) { return s.get_system_status(); });
}

long CSP2_API csp2GetDeviceId(char* id, long size)
{
    return guarded([&](Scanner& s) { return s.get_device_id(writable(id, size), size); });
}

long CSP2_API csp2GetPacket(char* packet, long number, long size)
{
    return guarded([&](Scanner& s) { return s.get_packet(writable(packet, size), number, size); });
}

long CSP2_API csp2TimeStamp2Str(unsigned char* stamp, char* text, long size)
{
    return guarded([&](Scanner& s) {
        return s.time_stamp_to_text(bytes<const std::uint8_t>(stamp, stamp_length), writable(text, size), size);
    });
}

long CSP2_API csp2WakeUp(void)
{
    return guarded([](Scanner& s) { return s.wake_up(); });
}

long CSP2_API csp2GetTime(unsigned char* clock)
{
    return guarded([&](Scanner& s) { return s.get_time(bytes(clock, clock_length)); });
}

long CSP2_API csp2SetTime(unsigned char* clock)
{
    return guarded([&](Scanner& s) { return s.set_time(bytes(clock, clock_length)); });
}

long CSP2_API csp2PowerDown(void)
{
    return guarded([](Scanner& s) { return s.power_down(); });
}

long CSP2_API csp2ClearData(void)
{
    return guarded([](Scanner& s) { return s.clear_data(); });
}

long CSP2_API csp2SetDefaults(void)
{
    return guarded([](Scanner& s) { return s.set_defaults(); });
}

long CSP2_API csp2Interrogate(void)
{
    return guarded([](Scanner& s) { return s.interrogate(); });
}

long CSP2_API csp2SetParam(long param, char* value, long size)
{
    return guarded([&](Scanner& s) {
        return s.set_param(param, bytes<const std::uint8_t>(reinterpret_cast<std::uint8_t*>(value), param_buffer_length),
                           size);
    });
}

long CSP2_API csp2Restore(void)
{
    return guarded([](Scanner& s) { return s.restore(); });
}

// Not a scanner library entry: a new scanner, made from the environment at the next call.
// The component keeps the library loaded for the life of the process, so a test that
// wants a fresh scanner asks for one.
void CSP2_API qmxSimRestart(void)
{
    Hold hold;
    session.reset();
}
}

#include "windows/traced_csp2.h"

#include "core/automation/error.h"

namespace qmx {

namespace {

std::wstring number(std::int32_t value)
{
    return std::to_wstring(value);
}

template <std::size_t N>
std::wstring hex(const std::array<std::uint8_t, N>& bytes, std::size_t count = N)
{
    static constexpr wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring out;
    for (std::size_t i = 0; i < count && i < N; ++i) {
        if (i)
            out += L' ';
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
    }
    return out;
}

template <std::size_t N>
std::wstring decimal(const std::array<std::uint8_t, N>& bytes)
{
    std::wstring out;
    for (std::uint8_t b : bytes) {
        if (!out.empty())
            out += L' ';
        out += std::to_wstring(b);
    }
    return out;
}

} // namespace

void TracedCsp2::note(std::wstring_view text)
{
    summarise();
    std::wstring line = L"QMXClicker: ";
    line += text;
    line += L'\n';
    write_(line.c_str());
}

void TracedCsp2::summarise()
{
    if (!packets_ && !stamps_)
        return;
    std::wstring text = L"packet loop: csp2GetPacket " + number(packets_) + L" calls, csp2TimeStamp2Str " +
                        number(stamps_) + L" calls, " +
                        (first_failure_.empty() ? std::wstring(L"no failure") : L"first failure " + first_failure_);
    packets_ = stamps_ = 0;
    first_failure_.clear();
    note(text);
}

template <typename Call, typename After>
std::int32_t TracedCsp2::traced(const std::wstring& text, Call call, After after)
{
    std::int32_t result;
    try {
        result = call();
    } catch (const AutomationError& error) { // the binding failed: 53 or 453
        note(text + L" -> error " + number(error.code()));
        throw;
    }
    note(text + L" -> " + number(result) + after());
    return result;
}

template <typename Call>
std::int32_t TracedCsp2::traced(const std::wstring& text, Call call)
{
    return traced(text, call, [] { return std::wstring(); });
}

template <typename Call, typename Text>
std::int32_t TracedCsp2::counted(int& calls, Call call, bool (*failed)(std::int32_t), Text text)
{
    ++calls;
    std::int32_t result;
    try {
        result = call();
    } catch (const AutomationError& error) {
        if (first_failure_.empty())
            first_failure_ = text() + L" -> error " + number(error.code());
        throw;
    }
    if (failed(result) && first_failure_.empty())
        first_failure_ = text() + L" -> " + number(result);
    return result;
}

std::int32_t TracedCsp2::csp2Init(std::int32_t port)
{
    return traced(L"csp2Init(" + number(port) + L")", [&] { return library_.csp2Init(port); });
}

std::int32_t TracedCsp2::csp2ReadData()
{
    return traced(L"csp2ReadData()", [&] { return library_.csp2ReadData(); });
}

std::int32_t TracedCsp2::csp2GetSystemStatus()
{
    return traced(L"csp2GetSystemStatus()", [&] { return library_.csp2GetSystemStatus(); });
}

std::int32_t TracedCsp2::csp2GetDeviceId(DeviceIdBuffer& id, std::int32_t size)
{
    return traced(
        L"csp2GetDeviceId(" + number(size) + L")", [&] { return library_.csp2GetDeviceId(id, size); },
        [&] { return L" id " + hex(id); });
}

std::int32_t TracedCsp2::csp2GetPacket(PacketBuffer& packet, std::int32_t index, std::int32_t size)
{
    return counted(
        packets_, [&] { return library_.csp2GetPacket(packet, index, size); },
        [](std::int32_t result) { return result < 0; },
        [&] { return L"csp2GetPacket(" + number(index) + L", " + number(size) + L")"; });
}

std::int32_t TracedCsp2::csp2TimeStamp2Str(const TimeStampBytes& stamp, TimeStampText& text, std::int32_t size)
{
    return counted(
        stamps_, [&] { return library_.csp2TimeStamp2Str(stamp, text, size); },
        [](std::int32_t result) { return result != 0; },
        [&] { return L"csp2TimeStamp2Str(" + hex(stamp) + L", " + number(size) + L")"; });
}

std::int32_t TracedCsp2::csp2WakeUp()
{
    return traced(L"csp2WakeUp()", [&] { return library_.csp2WakeUp(); });
}

std::int32_t TracedCsp2::csp2GetTime(ClockBytes& clock)
{
    return traced(
        L"csp2GetTime()", [&] { return library_.csp2GetTime(clock); }, [&] { return L" clock " + decimal(clock); });
}

std::int32_t TracedCsp2::csp2SetTime(ClockBytes& clock)
{
    return traced(L"csp2SetTime(" + decimal(clock) + L")", [&] { return library_.csp2SetTime(clock); });
}

std::int32_t TracedCsp2::csp2PowerDown()
{
    return traced(L"csp2PowerDown()", [&] { return library_.csp2PowerDown(); });
}

std::int32_t TracedCsp2::csp2ClearData()
{
    return traced(L"csp2ClearData()", [&] { return library_.csp2ClearData(); });
}

std::int32_t TracedCsp2::csp2SetDefaults()
{
    return traced(L"csp2SetDefaults()", [&] { return library_.csp2SetDefaults(); });
}

std::int32_t TracedCsp2::csp2Interrogate()
{
    return traced(L"csp2Interrogate()", [&] { return library_.csp2Interrogate(); });
}

std::int32_t TracedCsp2::csp2SetParam(std::int32_t param, ParamBuffer& value, std::int32_t size)
{
    return traced(L"csp2SetParam(" + number(param) + L", " + hex(value, 2) + L", " + number(size) + L")",
                  [&] { return library_.csp2SetParam(param, value, size); });
}

std::int32_t TracedCsp2::csp2Restore()
{
    return traced(L"csp2Restore()", [&] { return library_.csp2Restore(); });
}

} // namespace qmx

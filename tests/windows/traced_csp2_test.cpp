// The library calls in the debug output: a line for each call with its arguments and
// result, and for the packet loop one summary with its first failure.
#include "core/clicker.h"
#include "windows/traced_csp2.h"
#include "support/fake_platform.h"
#include "support/matchers.h"

#include <gtest/gtest.h>

namespace qmx {
namespace {

std::vector<std::wstring> lines;

void WINAPI capture(const wchar_t* line)
{
    lines.emplace_back(line);
}

TEST(TracedCsp2, ALineForEachCallAndOneForThePacketLoop)
{
    test::FakePlatform fake;
    fake.scanner.scanner_on_port(3);
    fake.scanner.read_data = [] { return 4; };
    fake.scanner.packet = [](PacketBuffer& packet, std::int32_t number) {
        const std::uint8_t two_letters[] = {7, 10, 'A', 'B', 0x4C, 0xDB, 0x68, 0x69};
        std::copy(std::begin(two_letters), std::end(two_letters), packet.begin());
        return number < 2 ? 8 : -3;
    };
    fake.scanner.time_stamp = [](const TimeStampBytes&, TimeStampText& text) {
        const char stamp[] = "05/20/26 13:45:12";
        std::copy(std::begin(stamp), std::end(stamp), text.begin());
        return 0;
    };
    fake.scanner.after_call = [](const std::string& call) {
        if (call == "WakeUp")
            raise_entry_not_found(u"csp2WakeUp", u"csp2.DLL");
    };
    lines.clear();
    TracedCsp2 traced(fake.scanner, capture);
    Clicker clicker(Platform{traced, fake.clock, fake.pump, fake.directory});
    clicker.put_startport(Variant::from_short(3));

    EXPECT_AUTOMATION_ERROR(clicker.open_clicker(), 453);
    traced.note(L"open_clicker -> 0x800A01C5");
    EXPECT_EQ(lines, (std::vector<std::wstring>{
                         L"QMXClicker: csp2Init(3) -> 0\n",
                         L"QMXClicker: csp2ReadData() -> 4\n",
                         L"QMXClicker: csp2GetSystemStatus() -> 0\n",
                         L"QMXClicker: csp2GetDeviceId(9) -> 0 id 00 00 00 00 00 00 00 00 00\n",
                         L"QMXClicker: packet loop: csp2GetPacket 3 calls, csp2TimeStamp2Str 2 calls, "
                         L"first failure csp2GetPacket(2, 500) -> -3\n",
                         L"QMXClicker: csp2WakeUp() -> error 453\n",
                         L"QMXClicker: open_clicker -> 0x800A01C5\n",
                     }));
}

} // namespace
} // namespace qmx

// What the component's own work costs, natively: whole downloads, the upload string,
// one scan time, a parameter run. The scanner is a script that hands out prepared
// packets, and the settle wait's clock moves only when the wait sleeps, so neither the
// library nor the two seconds of a real wait are in the figures.
#include "core/clicker.h"
#include "core/download/scan_time.h"
#include "core/download/upload_string.h"
#include "support/fake_platform.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace qmx {
namespace {

// A scanner on port 0 holding `count` barcodes, each packet and time-stamp text made
// once, up front.
class ScriptedScanner final : public Csp2 {
public:
    explicit ScriptedScanner(int count) : count_(count)
    {
        for (int i = 0; i < count; ++i) {
            char barcode[16];
            std::snprintf(barcode, sizeof barcode, "%012d", 400000000 + i * 37);
            PacketBuffer p{};
            const std::size_t length = std::strlen(barcode);
            p[0] = static_cast<std::uint8_t>(length + 5);
            p[1] = static_cast<std::uint8_t>(i % 40);
            std::memcpy(&p[2], barcode, length);
            p[2 + length] = static_cast<std::uint8_t>(i);      // the time stamp names the text
            p[3 + length] = static_cast<std::uint8_t>(i >> 8);
            packets_.push_back(p);

            char stamp[31] = {};
            std::snprintf(stamp, sizeof stamp, "%02d/%02d/%02d %02d:%02d:%02d", i % 12 + 1, i % 28 + 1, 5 + i % 20,
                          i % 24, i % 60, i % 10 == 0 ? 63 : (i * 7) % 60); // 63 is repaired to 00
            TimeStampText text{};
            std::memcpy(text.data(), stamp, std::strlen(stamp));
            texts_.push_back(text);
        }
    }

    std::int32_t csp2Init(std::int32_t port) override { return port == 0 ? 0 : -1; }
    std::int32_t csp2ReadData() override { return count_; }
    std::int32_t csp2GetSystemStatus() override { return 0; }
    std::int32_t csp2GetDeviceId(DeviceIdBuffer& id, std::int32_t) override
    {
        id = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0};
        return 0;
    }
    std::int32_t csp2GetPacket(PacketBuffer& packet, std::int32_t number, std::int32_t) override
    {
        if (number < 0 || number >= count_)
            return -1;
        const PacketBuffer& p = packets_[static_cast<std::size_t>(number)];
        std::memcpy(packet.data(), p.data(), static_cast<std::size_t>(p[0]) + 1);
        return 0;
    }
    std::int32_t csp2TimeStamp2Str(const TimeStampBytes& stamp, TimeStampText& text, std::int32_t) override
    {
        text = texts_[static_cast<std::size_t>(stamp[0] | stamp[1] << 8)];
        return 0;
    }
    std::int32_t csp2WakeUp() override { return 0; }
    std::int32_t csp2GetTime(ClockBytes& clock) override
    {
        clock = {45, 30, 14, 20, 5, 5};
        return 0;
    }
    std::int32_t csp2SetTime(ClockBytes&) override { return 0; }
    std::int32_t csp2PowerDown() override { return 0; }
    std::int32_t csp2ClearData() override { return 0; }
    std::int32_t csp2SetDefaults() override { return 0; }
    std::int32_t csp2Interrogate() override { return 0; }
    std::int32_t csp2SetParam(std::int32_t, ParamBuffer&, std::int32_t) override { return 0; }
    std::int32_t csp2Restore() override { return 0; }

private:
    int count_;
    std::vector<PacketBuffer> packets_;
    std::vector<TimeStampText> texts_;
};

struct Bench {
    explicit Bench(int count) : scanner(count) { clicker.put_startport(Variant::from_short(0)); }
    ScriptedScanner scanner;
    test::FakeClock clock; // moves only when the settle wait sleeps
    test::FakePump pump{clock};
    test::FakeDirectory directory;
    Clicker clicker{Platform{scanner, clock, pump, directory}};
};

void check(bool ok, benchmark::State& state, const char* what)
{
    if (!ok)
        state.SkipWithError(what);
}

void BM_Download(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    Bench b(count);
    for (auto _ : state)
        b.clicker.open_clicker();
    check(b.clicker.get_num_barcodes() == count && b.clicker.get_open_ok() == variant_true, state, "download failed");
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_Download)->Arg(50)->Arg(500);

void BM_UploadString(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    Bench b(count);
    b.clicker.open_clicker();
    std::size_t length = 0;
    for (auto _ : state) {
        std::u16string text = BuildUploadString(b.clicker.fields());
        length = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    check(length == upload_header_length + upload_record_length * static_cast<std::size_t>(count), state,
          "upload string of the wrong length");
}
BENCHMARK(BM_UploadString)->Arg(500);

void BM_Alldata(benchmark::State& state)
{
    Bench b(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        Variant text = b.clicker.get_alldata();
        benchmark::DoNotOptimize(&text);
    }
}
BENCHMARK(BM_Alldata)->Arg(500);

void BM_ParseScanTime(benchmark::State& state)
{
    TimeStampText original{};
    const char stamp[] = "05/20/05 13:45:63"; // with the seconds repair
    std::memcpy(original.data(), stamp, sizeof stamp - 1);
    Date date = 0;
    for (auto _ : state) {
        TimeStampText text = original;
        date = ParseScanTime(text);
        benchmark::DoNotOptimize(date);
    }
    check(date == date_from_civil({2005, 5, 20, 13, 45, 0}), state, "wrong scan time");
}
BENCHMARK(BM_ParseScanTime);

void BM_ResetParams(benchmark::State& state)
{
    const int entries = static_cast<int>(state.range(0));
    Bench b(0);
    std::u16string list = entries < 10 ? u"0" : u"";
    for (char c : std::to_string(entries))
        list += static_cast<char16_t>(c);
    for (int i = 1; i <= entries; ++i) {
        char entry[8];
        std::snprintf(entry, sizeof entry, "%02d%02d", i % 100, (i * 7) % 100);
        for (const char* c = entry; *c; ++c)
            list += static_cast<char16_t>(*c);
    }
    b.clicker.put_newparams(Variant::from_text(list));
    for (auto _ : state)
        b.clicker.reset_params();
    state.SetItemsProcessed(state.iterations() * entries);
}
BENCHMARK(BM_ResetParams)->Arg(99);

} // namespace
} // namespace qmx

BENCHMARK_MAIN();

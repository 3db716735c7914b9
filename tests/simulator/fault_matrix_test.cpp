// Every library entry failing at every call of every conversation that makes it: the
// member ends as it should (an error only where a result is examined), keeps what was
// downloaded before, and the object downloads normally again once the library recovers.
#include "core/automation/error.h"
#include "core/clicker.h"
#include "core/download/upload_string.h"
#include "core/scanner/csp2_entries.h"
#include "lines_log.h"
#include "simulator/default_scenario.h"
#include "simulator/scenario_parser.h"
#include "simulator/simulated_csp2.h"
#include "support/fake_platform.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace qmx::sim {
namespace {

constexpr std::int32_t failed = -7;
constexpr std::int64_t clock_offset = 3600; // the scanner clock until a member sets it

// The library the object talks to, switched between scanners between members.
class Relay final : public Csp2 {
public:
    Csp2* to = nullptr;
    std::int32_t csp2Init(std::int32_t port) override { return to->csp2Init(port); }
    std::int32_t csp2ReadData() override { return to->csp2ReadData(); }
    std::int32_t csp2GetSystemStatus() override { return to->csp2GetSystemStatus(); }
    std::int32_t csp2GetDeviceId(DeviceIdBuffer& id, std::int32_t size) override { return to->csp2GetDeviceId(id, size); }
    std::int32_t csp2GetPacket(PacketBuffer& p, std::int32_t n, std::int32_t size) override { return to->csp2GetPacket(p, n, size); }
    std::int32_t csp2TimeStamp2Str(const TimeStampBytes& s, TimeStampText& t, std::int32_t size) override
    {
        return to->csp2TimeStamp2Str(s, t, size);
    }
    std::int32_t csp2WakeUp() override { return to->csp2WakeUp(); }
    std::int32_t csp2GetTime(ClockBytes& clock) override { return to->csp2GetTime(clock); }
    std::int32_t csp2SetTime(ClockBytes& clock) override { return to->csp2SetTime(clock); }
    std::int32_t csp2PowerDown() override { return to->csp2PowerDown(); }
    std::int32_t csp2ClearData() override { return to->csp2ClearData(); }
    std::int32_t csp2SetDefaults() override { return to->csp2SetDefaults(); }
    std::int32_t csp2Interrogate() override { return to->csp2Interrogate(); }
    std::int32_t csp2SetParam(std::int32_t id, ParamBuffer& v, std::int32_t size) override { return to->csp2SetParam(id, v, size); }
    std::int32_t csp2Restore() override { return to->csp2Restore(); }
};

// A scanner of its own behind the library, with its call log.
struct Library {
    Library(Scenario scenario, Clock& clock) : scanner(std::move(scenario), clock) { scanner.set_log(&log); }
    Scanner scanner;
    SimulatedCsp2 csp2{scanner};
    test::LinesLog log;

    // How often each entry was called.
    std::map<std::string, int> calls() const
    {
        std::map<std::string, int> n;
        for (const std::string& line : log.lines)
            ++n[line.substr(0, line.find(' '))];
        return n;
    }
};

struct Conversation {
    const char* name;
    std::function<void(Clicker&)> prepare; // before the download that comes first
    std::function<void(Clicker&)> run;
};

// What the object shows: the upload string of its fields, open_ok, comport and the
// six entries the scanner holds.
struct Shown {
    std::u16string upload;
    VariantBool open_ok;
    std::int16_t comport;
    std::vector<std::u16string> barcodes;
    std::vector<Date> times;
};

Shown shown(const Clicker& c)
{
    Shown s{BuildUploadString(c.fields()), c.get_open_ok(), c.get_comport(), {}, {}};
    for (int k = 1; k <= 6; ++k) {
        s.barcodes.push_back(c.fields().barcodes.at(k));
        s.times.push_back(c.fields().scan_times.at(k));
    }
    return s;
}

std::u16string without_clock(std::u16string upload)
{
    return upload.replace(19, 13, 13, u'*');
}

class FaultMatrix : public ::testing::Test {
protected:
    test::FakeClock clock;
    test::FakePump pump{clock};
    test::FakeDirectory directory;
    Relay relay;

    std::unique_ptr<Library> library(const std::string& extra = "")
    {
        Scenario s = default_scenario();
        s.clock = {ClockStart::Kind::offset, {}, clock_offset};
        if (!extra.empty())
            s.entry_faults = parse_scenario(extra).scenario.value().entry_faults;
        return std::make_unique<Library>(std::move(s), clock);
    }

    // Every entry at every call position of the conversation, each on a new object that
    // first downloaded the scanner cleanly; `check` judges the outcome.
    void walk(const Conversation& c,
              const std::function<void(std::string_view entry, int position, int error, const Clicker&,
                                       const Shown& before, const Library&)>& check)
    {
        std::map<std::string, int> made;
        {
            auto clean = library();
            relay.to = &clean->csp2;
            Clicker clicker(Platform{relay, clock, pump, directory});
            c.prepare(clicker);
            clicker.get_alldata();
            clean->log.lines.clear();
            c.run(clicker);
            made = clean->calls();
        }
        int cases = 0;
        for (const auto& [entry, count] : made) {
            for (int position = 1; position <= count; ++position, ++cases) {
                SCOPED_TRACE(std::string(c.name) + ": " + entry + " fails from call " + std::to_string(position));
                auto before_library = library();
                relay.to = &before_library->csp2;
                Clicker clicker(Platform{relay, clock, pump, directory});
                c.prepare(clicker);
                const std::u16string first = clicker.get_alldata().text_value();
                const Shown before = shown(clicker);

                auto faulty = library("fail " + entry + " " + std::to_string(failed) + " from " + std::to_string(position));
                relay.to = &faulty->csp2;
                int error = 0;
                try {
                    c.run(clicker);
                } catch (const AutomationError& e) {
                    error = e.code();
                }
                check(entry, position, error, clicker, before, *faulty);

                // The library recovers: the same object downloads everything again.
                auto recovered = library();
                relay.to = &recovered->csp2;
                clicker.put_startport(Variant());
                EXPECT_EQ(without_clock(clicker.get_alldata().text_value()), without_clock(first));
                EXPECT_EQ(clicker.get_open_ok(), variant_true);
            }
        }
        EXPECT_GE(cases, 3);
    }
};

const Conversation download{"alldata", [](Clicker&) {}, [](Clicker& c) { c.get_alldata(); }};

TEST_F(FaultMatrix, Download)
{
    walk(download, [](std::string_view entry, int position, int error, const Clicker& c, const Shown& before,
                      const Library& library) {
        const ClickerFields& f = c.fields();
        const bool no_scanner = entry == "csp2Init" || entry == "csp2GetSystemStatus";
        // Only the time-stamp text of the first packet is examined: all zero, it is no date.
        EXPECT_EQ(error, entry == "csp2TimeStamp2Str" && position == 1 ? 5 : 0);
        if (no_scanner) {
            EXPECT_EQ(c.get_comport(), 999);
            EXPECT_EQ(c.get_open_ok(), variant_false);
            EXPECT_EQ(shown(c).upload, before.upload) << "nothing downloaded before is lost";
            return;
        }
        EXPECT_EQ(c.get_comport(), 3);
        EXPECT_EQ(f.serial_hex, entry == "csp2GetDeviceId" ? u"0000000000000000" : u"00126B3FA21904C7");
        EXPECT_EQ(f.barcode_count, entry == "csp2ReadData" ? failed : 6);
        if (error) {
            EXPECT_TRUE(library.scanner.open_port()) << "an error leaves the port open";
            return;
        }
        const Shown now = shown(c);
        if (entry == "csp2GetTime")
            EXPECT_EQ(now.upload.substr(19, 13), u"H000000000000") << "the clock buffer stays zero";
        else
            EXPECT_EQ(now.upload.substr(19, 1), u"H");
        for (int k = 1; k <= 6; ++k) {
            const std::size_t i = static_cast<std::size_t>(k - 1);
            if (entry == "csp2ReadData") {
                // No packet is read: the tables keep the earlier download.
                EXPECT_EQ(now.barcodes[i], before.barcodes[i]);
                EXPECT_EQ(now.times[i], before.times[i]);
            } else if (entry == "csp2GetPacket" && k >= position) {
                EXPECT_EQ(now.barcodes[i], u"") << "an entry the download did not reach reads as never written";
                EXPECT_EQ(f.code_types.at(k).type(), Variant::Type::Empty);
                EXPECT_EQ(now.times[i], 0.0);
            } else if (entry == "csp2TimeStamp2Str" && k >= position) {
                // The text of the previous packet is still in the buffer and read again.
                EXPECT_EQ(now.barcodes[i], before.barcodes[i]);
                EXPECT_EQ(now.times[i], before.times[static_cast<std::size_t>(position - 2)]);
            } else {
                EXPECT_EQ(now.barcodes[i], before.barcodes[i]) << k;
                EXPECT_EQ(now.times[i], before.times[i]) << k;
                EXPECT_EQ(now.upload.substr(36 + 32 * i, 32), before.upload.substr(36 + 32 * i, 32)) << k;
            }
        }
    });
}

// Members that download nothing keep everything downloaded before; only these change.
void expect_kept(const Clicker& c, const Shown& before, bool clock_read)
{
    const Shown now = shown(c);
    EXPECT_EQ(clock_read ? without_clock(now.upload) : now.upload, clock_read ? without_clock(before.upload) : before.upload);
    EXPECT_EQ(now.comport, before.comport);
}

TEST_F(FaultMatrix, EmptyScannerWithAndWithoutANewClock)
{
    for (const char16_t* text : {u"", u"301514071226"}) {
        const Conversation empty{"EmptyScanner",
                                 [text](Clicker& c) {
                                     c.put_startport(Variant::from_short(3));
                                     c.put_pnewdatetime(text);
                                 },
                                 [](Clicker& c) { c.EmptyScanner(); }};
        walk(empty, [&](std::string_view entry, int, int error, const Clicker& c, const Shown& before,
                        const Library& library) {
            EXPECT_EQ(error, 0) << "no result but csp2Init's is examined";
            expect_kept(c, before, false);
            EXPECT_EQ(c.get_open_ok(), entry == "csp2Init" ? variant_false : variant_true);
            const bool cleared = entry != "csp2Init" && entry != "csp2ClearData";
            EXPECT_EQ(library.scanner.state().entries.empty(), cleared);
            const bool clock_set = *text && entry != "csp2Init" && entry != "csp2SetTime";
            EXPECT_EQ(library.scanner.state().clock_offset_seconds != clock_offset, clock_set);
        });
    }
}

TEST_F(FaultMatrix, ResetParamsAndEveryParameterConversation)
{
    for (const char16_t* list : {u"00", u"021005220112"}) {
        const Conversation reset{"reset_params",
                                 [list](Clicker& c) {
                                     c.put_startport(Variant::from_short(3));
                                     c.put_newparams(Variant::from_text(list));
                                 },
                                 [](Clicker& c) { c.reset_params(); }};
        walk(reset, [&](std::string_view entry, int position, int error, const Clicker& c, const Shown& before,
                        const Library& library) {
            EXPECT_EQ(error, 0) << "csp2SetParam's answer is ignored, no other is examined";
            expect_kept(c, before, false);
            EXPECT_EQ(c.get_open_ok(), entry == "csp2Init" && position == 1 ? variant_false : variant_true);
            // Each parameter is its own conversation: a failed csp2Init or csp2SetParam loses
            // that parameter and no other; every other entry's failure loses none.
            std::map<std::int32_t, std::uint8_t> params;
            if (list[1] == u'2') {
                if (entry == "csp2Init")
                    params = position == 3 ? decltype(params){{10, 5}} : decltype(params){};
                else if (entry == "csp2SetParam")
                    params = position == 2 ? decltype(params){{10, 5}} : decltype(params){};
                else
                    params = {{10, 5}, {22, 1}};
            }
            EXPECT_EQ(library.scanner.state().params, params);
        });
    }
}

TEST_F(FaultMatrix, GetdateAndSetdate)
{
    const Conversation get{"getdate", [](Clicker& c) { c.put_startport(Variant::from_short(3)); },
                           [](Clicker& c) { c.getdate(); }};
    walk(get, [](std::string_view entry, int, int error, const Clicker& c, const Shown& before, const Library&) {
        EXPECT_EQ(error, 0);
        expect_kept(c, before, true);
        const bool unread = entry == "csp2Init" || entry == "csp2GetTime";
        EXPECT_EQ(shown(c).upload.substr(19, 13), unread ? u"H000000000000" : before.upload.substr(19, 13));
    });
    const Conversation set{"setdate", [](Clicker& c) { c.put_startport(Variant::from_short(3)); },
                           [](Clicker& c) { c.setdate(); }};
    walk(set, [](std::string_view entry, int, int error, const Clicker& c, const Shown& before, const Library& library) {
        EXPECT_EQ(error, 0);
        expect_kept(c, before, false);
        EXPECT_EQ(c.get_open_ok(), variant_true);
        const bool clock_set = entry != "csp2Init" && entry != "csp2SetTime";
        EXPECT_EQ(library.scanner.state().clock_offset_seconds != clock_offset, clock_set) << "set to the PC clock";
    });
}

} // namespace
} // namespace qmx::sim

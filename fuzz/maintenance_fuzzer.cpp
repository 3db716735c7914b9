// The texts a host hands the maintenance members, of any length and any characters: the
// clock text through pnewdatetime and EmptyScanner, and the parameter list through
// newparams and reset_params. The library calls that come out are checked, one by one,
// against the calls the texts ask for.
#include "core/automation/numbers.h"
#include "core/automation/text.h"
#include "core/clicker.h"
#include "support/field_reference.h"
#include "fuzz_support.h"

#include <string>
#include <vector>

namespace qmx::fuzz {
namespace {

struct SetParamCall {
    std::int32_t id;
    ParamBuffer buffer;
    std::int32_t size;
};

// The scanner library: csp2Init and csp2SetParam answer from the fuzzer, the rest 0.
class FuzzedScanner final : public Csp2 {
public:
    FuzzedScanner(Input& in, std::string& trace) : in_(in), trace_(trace) {}

    void begin()
    {
        inits.clear();
        set_times.clear();
        set_params.clear();
        port_open = false;
        trace_.clear();
    }

    std::vector<std::int32_t> inits;
    std::vector<ClockBytes> set_times;
    std::vector<SetParamCall> set_params;
    std::vector<std::int32_t> init_answers; // what each csp2Init answered
    bool port_open = false;

    std::int32_t csp2Init(std::int32_t port) override
    {
        trace_ += 'I';
        inits.push_back(port);
        const std::uint8_t b = in_.byte();
        const std::int32_t result = b < 128 ? -b : b;
        init_answers.push_back(result);
        if (result == 0) {
            FUZZ_CHECK(!port_open);
            port_open = true;
        }
        return result;
    }
    std::int32_t csp2WakeUp() override { return call('W'); }
    std::int32_t csp2SetTime(ClockBytes& clock) override
    {
        set_times.push_back(clock);
        clock.fill(0xA5); // the library may change the bytes; nobody reads them again
        return call('Z');
    }
    std::int32_t csp2PowerDown() override { return call('O'); }
    std::int32_t csp2ClearData() override { return call('C'); }
    std::int32_t csp2SetDefaults() override
    {
        FUZZ_CHECK(!port_open); // called while no port is open
        return call('F');
    }
    std::int32_t csp2Interrogate() override { return call('Q'); }
    std::int32_t csp2SetParam(std::int32_t id, ParamBuffer& buffer, std::int32_t size) override
    {
        trace_ += 'M';
        set_params.push_back({id, buffer, size});
        return in_.byte() % 3 == 0 ? 0 : static_cast<std::int8_t>(in_.byte() | 1);
    }
    std::int32_t csp2Restore() override
    {
        port_open = false;
        return call('X');
    }

    // Calls that clearing and programming never make.
    std::int32_t csp2ReadData() override { return never(); }
    std::int32_t csp2GetSystemStatus() override { return never(); }
    std::int32_t csp2GetDeviceId(DeviceIdBuffer&, std::int32_t) override { return never(); }
    std::int32_t csp2GetPacket(PacketBuffer&, std::int32_t, std::int32_t) override { return never(); }
    std::int32_t csp2TimeStamp2Str(const TimeStampBytes&, TimeStampText&, std::int32_t) override { return never(); }
    std::int32_t csp2GetTime(ClockBytes&) override { return never(); }

private:
    std::int32_t call(char letter)
    {
        trace_ += letter;
        return 0;
    }
    [[noreturn]] std::int32_t never() { fail(__FILE__, __LINE__, "maintenance called a download entry"); }

    Input& in_;
    std::string& trace_;
};

// Characters 2k-1 and 2k of a text, clipped to it.
std::u16string_view pair(std::u16string_view text, std::size_t first)
{
    return first < text.size() ? text.substr(first, 2) : std::u16string_view();
}

bool is_byte(double value)
{
    return value >= 0 && value <= 255;
}

// The calls and the outcome that EmptyScanner must produce, built from the texts alone.
struct Expected {
    std::string trace;
    std::optional<int> error;
    std::vector<ClockBytes> set_times;
};

// `init_answers` are what csp2Init answered, in order.
void expect_empty_scanner(Expected& e, const Variant& startport, const std::u16string& clock_text,
                          const std::vector<std::int32_t>& init_answers, std::size_t& init_index)
{
    if (startport.is_empty())
        return;
    try {
        (void)startport.to_long();
    } catch (const AutomationError& error) {
        e.error = error.code();
        return;
    }
    e.trace += 'I';
    if (init_index >= init_answers.size() || init_answers[init_index++] != 0)
        return; // refused: nothing more, not even a release
    if (!clock_text.empty()) {
        ClockBytes clock{};
        for (std::size_t k = 0; k < 6; ++k) {
            const double value = test::reference_field_number(pair(clock_text, 2 * k));
            if (!is_byte(value)) {
                e.error = 5; // after csp2Init, before anything else
                return;
            }
            clock[k] = static_cast<std::uint8_t>(value);
        }
        e.set_times.push_back(clock);
        e.trace += "~WZO";
    }
    e.trace += "~CX";
}

Variant startport_of(Input& in)
{
    switch (in.byte() % 4) {
    case 0: return Variant();
    case 1: return Variant::from_short(static_cast<std::int8_t>(in.byte()));
    case 2: return any_variant(in);
    default: return Variant::from_text(in.text());
    }
}

} // namespace
void fuzz_one(Input& in)
{
    std::string trace;
    FuzzPlatform fake(trace);
    FuzzedScanner scanner(in, trace);
    Clicker clicker(fake.platform(scanner));

    const Variant startport = startport_of(in);
    clicker.put_startport(startport);
    const std::u16string clock_text = in.text();
    clicker.put_pnewdatetime(clock_text);
    FUZZ_CHECK(clicker.fields().new_datetime == clock_text); // stored as given

    // newparams: a failed put leaves the list as it was.
    clicker.put_newparams(Variant::from_text(u"00"));
    const std::uint8_t list_kind = in.byte() % 3;
    const Variant list = list_kind == 0 ? Variant::from_text(in.text()) : list_kind == 1 ? any_variant(in)
                                                                                         : Variant();
    std::optional<std::u16string> list_text;
    try {
        list_text = list.to_text();
    } catch (const AutomationError&) {
    }
    const std::optional<int> put_error = run_member({13, 94}, [&] { clicker.put_newparams(list); });
    FUZZ_CHECK(put_error.has_value() == !list_text.has_value());
    const std::u16string param_list = list_text.value_or(u"00");
    FUZZ_CHECK(clicker.fields().param_list == param_list);
    // The longest lists come from whatever input is left.
    if (list_kind == 2 && !in.exhausted()) {
        const std::u16string rest = in.rest_as_text();
        clicker.put_newparams(Variant::from_text(rest.substr(0, rest.size() / 2)));
    }
    const std::u16string params = clicker.fields().param_list;

    // EmptyScanner, then reset_params, each checked call by call.
    for (int member = 0; member < 2; ++member) {
        scanner.begin();
        scanner.init_answers.clear();
        const std::optional<int> error = run_member({5, 6, 13, 94}, [&] {
            if (member == 0)
                clicker.EmptyScanner();
            else
                clicker.reset_params();
        });
        trace_member(member == 0 ? "EmptyScanner" : "reset_params", trace, error);

        Expected e;
        std::size_t init_index = 0;
        std::vector<SetParamCall> expected_params;
        expect_empty_scanner(e, startport, clock_text, scanner.init_answers, init_index);
        if (member == 1 && !startport.is_empty() && !e.error) {
            e.trace += 'F';
            const std::u16string count_text(mid(params, 1, 2));
            const std::optional<double> count = parse_number(count_text);
            if (!count) {
                e.error = 13;
            } else {
                const std::int32_t port = startport.to_long();
                for (std::int32_t i = 1; i <= to_int16(*count); ++i) {
                    const double id = test::reference_field_number(pair(params, 4 * static_cast<std::size_t>(i) - 2));
                    const double value = test::reference_field_number(pair(params, 4 * static_cast<std::size_t>(i)));
                    e.trace += "~IWQ";
                    FUZZ_CHECK(init_index < scanner.inits.size() && scanner.inits[init_index++] == port);
                    if (!is_byte(value)) {
                        e.error = 5;
                        break;
                    }
                    ParamBuffer buffer;
                    buffer.fill(' ');
                    buffer[0] = static_cast<std::uint8_t>(value);
                    buffer[1] = 0;
                    expected_params.push_back({static_cast<std::int32_t>(id), buffer, 2});
                    e.trace += "MOX";
                }
            }
        }

        FUZZ_CHECK(trace == e.trace);
        FUZZ_CHECK(error == e.error);
        FUZZ_CHECK(scanner.set_times == e.set_times);
        FUZZ_CHECK(scanner.set_params.size() == expected_params.size());
        for (std::size_t i = 0; i < expected_params.size(); ++i) {
            FUZZ_CHECK(scanner.set_params[i].id == expected_params[i].id);
            FUZZ_CHECK(scanner.set_params[i].buffer == expected_params[i].buffer);
            FUZZ_CHECK(scanner.set_params[i].size == 2);
        }
        if (!startport.is_empty() && !e.error)
            FUZZ_CHECK(scanner.inits.empty() || scanner.inits[0] == startport.to_long());
        // A member that succeeded left no port open.
        if (!error)
            FUZZ_CHECK(!scanner.port_open);

        // The texts are read, never changed; the download fields are not touched.
        const ClickerFields& f = clicker.fields();
        FUZZ_CHECK(f.new_datetime == clock_text && f.param_list == params);
        FUZZ_CHECK(f.port_no == 0 && f.barcode_count == 0 && f.serial_hex.empty());
    }
}

} // namespace qmx::fuzz

// A whole download, open_clicker and then alldata, with every answer of the scanner
// library taken from the fuzzer: init, count and status results of each probe, identity
// bytes, packets of any length and content, time-stamp texts of any 30 bytes with or
// without a zero, clock bytes. What the component reports is checked against what the
// library handed it.
#include "core/clicker.h"
#include "core/download/upload_string.h"
#include "fuzz_support.h"
#include "upload_check.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace qmx::fuzz {
namespace {

struct Probe {
    std::int32_t port = 0;
    std::int32_t init = -1;
    std::optional<std::int32_t> count;  // csp2ReadData, when the port opened
    std::optional<std::int32_t> status; // csp2GetSystemStatus, after the count
    bool answered() const { return init == 0 && status && *status == 0; }
};

struct Packet {
    std::uint8_t length = 0;
    std::uint8_t code_type = 0;
    std::size_t barcode_at = 0; // bytes 3 to L - 3, when L is 5 or more, in barcode_chars
    std::size_t barcode_size = 0;
    TimeStampBytes stamp{};
};

// The scanner library, answering from the fuzzer's bytes. Each call is one letter in
// the trace; the port it opened is tracked to prove that no second one opens meanwhile.
class FuzzedScanner final : public Csp2 {
public:
    FuzzedScanner(Input& in, std::string& trace) : in_(in), trace_(trace) { probes.reserve(17); }

    // A new member: forget what the last one was handed. A member that failed may have
    // left its port open, as it is allowed to.
    void begin()
    {
        probes.clear();
        packets.clear();
        barcode_chars.clear();
        id.reset();
        clock.reset();
        port_open = false;
        trace_.clear();
    }

    std::vector<Probe> probes;
    std::vector<Packet> packets;
    std::u16string barcode_chars; // the packets' barcodes one after another: no text each
    std::optional<DeviceIdBuffer> id;
    std::optional<ClockBytes> clock;
    bool port_open = false;

    std::int32_t csp2Init(std::int32_t port) override
    {
        trace_ += 'I';
        // 0 opens; 1-127 answer negative, 128-255 positive: both refuse.
        const std::uint8_t b = in_.byte();
        const std::int32_t result = b < 128 ? -b : b;
        probes.push_back({port, result, {}, {}});
        if (result == 0) {
            FUZZ_CHECK(!port_open); // at most one port open at a time
            port_open = true;
        }
        return result;
    }

    std::int32_t csp2ReadData() override
    {
        trace_ += 'R';
        FUZZ_CHECK(port_open && !probes.empty() && !probes.back().count);
        // Small counts from one byte; 0xF0 and above take any 32-bit count.
        const std::uint8_t b = in_.byte();
        const std::int32_t count = b < 0xF0 ? b : in_.i32();
        probes.back().count = count;
        return count;
    }

    std::int32_t csp2GetSystemStatus() override
    {
        trace_ += 'S';
        FUZZ_CHECK(port_open && !probes.empty() && probes.back().count && !probes.back().status);
        const std::int32_t status = in_.byte();
        probes.back().status = status;
        return status;
    }

    std::int32_t csp2GetDeviceId(DeviceIdBuffer& buffer, std::int32_t size) override
    {
        trace_ += 'D';
        FUZZ_CHECK(port_open && size == 9);
        for (std::uint8_t b : buffer)
            FUZZ_CHECK(b == 0); // handed over zero-filled
        if (in_.byte() & 1)
            in_.fill(buffer, buffer.size());
        id = buffer;
        return static_cast<std::int8_t>(in_.byte());
    }

    std::int32_t csp2GetPacket(PacketBuffer& buffer, std::int32_t number, std::int32_t size) override
    {
        trace_ += 'P';
        FUZZ_CHECK(port_open && size == 500);
        FUZZ_CHECK(number == static_cast<std::int32_t>(packets.size())); // 0, 1, 2, ... in order
        if (in_.exhausted())
            return -1;
        const std::uint8_t r = in_.byte();
        if (r == 0xFF)
            return -1;
        if (r == 0xFE)
            return INT32_MIN;
        // Overwrite the first n bytes; the rest stays from the packet before.
        in_.fill(buffer, in_.byte());
        Packet p;
        p.length = buffer[0];
        p.code_type = buffer[1];
        if (p.length >= 5) {
            p.barcode_at = barcode_chars.size();
            p.barcode_size = p.length - 5u;
            barcode_chars.resize(p.barcode_at + p.barcode_size);
            std::copy(buffer.begin() + 2, buffer.begin() + (p.length - 3), barcode_chars.begin() + p.barcode_at);
        }
        if (p.length >= 3)
            std::copy_n(buffer.begin() + (p.length - 3), 4, p.stamp.begin());
        packets.push_back(p);
        return r == 0xFD ? INT32_MAX : r;
    }

    std::int32_t csp2TimeStamp2Str(const TimeStampBytes& stamp, TimeStampText& text, std::int32_t size) override
    {
        trace_ += 'T';
        FUZZ_CHECK(port_open && size == 30 && !packets.empty());
        // The four bytes at L - 2 to L + 1 of the packet just fetched.
        FUZZ_CHECK(stamp == packets.back().stamp);
        switch (in_.byte() % 4) {
        case 0: break; // left as the packet before left it
        case 1: {      // up to 30 characters, a zero after a shorter text
            const std::size_t n = in_.byte() % 31;
            in_.fill(text, n);
            if (n < text.size())
                text[n] = 0;
            break;
        }
        case 2: { // what a library would render from the stamp, seconds up to 63:
                  // "mm/dd/yy hh:nn:ss", written without printf, which the sanitizer makes costly
            const unsigned parts[6] = {stamp[0] % 14u, stamp[1] % 33u, stamp[2] % 100u,
                                       stamp[3] % 25u, stamp[3] * 7u % 61u, stamp[3] * 13u % 64u};
            text.fill(0);
            for (std::size_t p = 0; p < 6; ++p) {
                text[p * 3] = static_cast<std::uint8_t>('0' + parts[p] / 10);
                text[p * 3 + 1] = static_cast<std::uint8_t>('0' + parts[p] % 10);
                if (p < 5)
                    text[p * 3 + 2] = p < 2 ? '/' : p == 2 ? ' ' : ':';
            }
            break;
        }
        default: in_.fill(text, text.size()); // any 30 bytes
        }
        return 0;
    }

    std::u16string_view barcode(const Packet& p) const { return {barcode_chars.data() + p.barcode_at, p.barcode_size}; }

    std::int32_t csp2WakeUp() override { return call('W'); }

    std::int32_t csp2GetTime(ClockBytes& buffer) override
    {
        trace_ += 'G';
        FUZZ_CHECK(port_open);
        for (std::uint8_t b : buffer)
            FUZZ_CHECK(b == 0);
        if (in_.byte() & 1)
            in_.fill(buffer, buffer.size());
        clock = buffer;
        return 0;
    }

    std::int32_t csp2PowerDown() override { return call('O'); }

    std::int32_t csp2Restore() override
    {
        trace_ += 'X';
        port_open = false;
        return 0;
    }

    // Calls a download never makes.
    std::int32_t csp2SetTime(ClockBytes&) override { return never(); }
    std::int32_t csp2ClearData() override { return never(); }
    std::int32_t csp2SetDefaults() override { return never(); }
    std::int32_t csp2Interrogate() override { return never(); }
    std::int32_t csp2SetParam(std::int32_t, ParamBuffer&, std::int32_t) override { return never(); }

private:
    std::int32_t call(char letter)
    {
        trace_ += letter;
        return static_cast<std::int8_t>(in_.byte());
    }
    [[noreturn]] std::int32_t never() { fail(__FILE__, __LINE__, "a download called a maintenance entry"); }

    Input& in_;
    std::string& trace_;
};

bool fits_short(std::int32_t v)
{
    return v >= -32768 && v <= 32767;
}

// The clock text of six clock bytes, and its flag, read independently.
std::u16string clock_text_of(const ClockBytes& clock, char16_t& flag)
{
    flag = u'H';
    std::u16string text;
    for (std::size_t k = 0; k < 6; ++k) {
        if (k == 0 && clock[k] == 255) {
            flag = u'L';
            text += u"00";
            continue;
        }
        std::string digits = std::to_string(clock[k]);
        if (digits.size() < 2)
            digits.insert(0, "0");
        text += static_cast<char16_t>(digits[0]);
        text += static_cast<char16_t>(digits[1]);
    }
    return text;
}

std::u16string hex_of(const DeviceIdBuffer& id)
{
    static const char16_t digits[] = u"0123456789ABCDEF";
    std::u16string hex;
    for (std::size_t k = 0; k < 8; ++k) {
        hex += digits[id[k] >> 4];
        hex += digits[id[k] & 15];
    }
    return hex;
}

// Equal texts, compared as bytes: the library's own compare goes a character at a time,
// each one checked by the sanitizer.
bool same_text(std::u16string_view a, std::u16string_view b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0);
}

// Entry k as a new object holds it: no barcode, code type Empty, scan time 0.
bool new_entry(const ClickerFields& f, int k)
{
    return f.code_types.at(k).is_empty() && f.barcodes.at(k).empty() && f.scan_times.at(k) == 0;
}

// The fields a member may not change, as they were before it. Entries past the last one
// that differs from a new object's are not copied but compare as a new object's, and the
// entries copied keep a code type as its number and their barcodes in one text: a copy of
// all 500 entries, a heap block per code type, cost more than the download itself.
struct Before {
    explicit Before(const ClickerFields& f)
        : barcode_count(f.barcode_count), serial_hex(f.serial_hex), clock_digits(f.clock_digits),
          clock_flag(f.clock_flag)
    {
        while (written > 0 && new_entry(f, written))
            --written;
        std::size_t chars = 0;
        for (int k = 1; k <= written; ++k)
            chars += f.barcodes.at(k).size();
        barcode_chars.reserve(chars);
        entries.resize(static_cast<std::size_t>(written));
        for (int k = 1; k <= written; ++k) {
            Entry& e = entries[static_cast<std::size_t>(k - 1)];
            const Variant& code = f.code_types.at(k);
            e.code_type = code.type();
            if (e.code_type == Variant::Type::Short)
                e.code = code.short_value();
            else if (e.code_type != Variant::Type::Empty)
                e.other_code = code; // no number: compared as the Variant itself
            e.barcode_at = barcode_chars.size();
            barcode_chars += f.barcodes.at(k);
            e.scan_time = f.scan_times.at(k);
        }
    }

    struct Entry {
        Variant::Type code_type = Variant::Type::Empty;
        std::int16_t code = 0;
        Variant other_code;
        std::size_t barcode_at = 0;
        Date scan_time = 0;
    };

    std::u16string_view barcode(std::size_t i) const
    {
        const std::size_t end = i + 1 < entries.size() ? entries[i + 1].barcode_at : barcode_chars.size();
        return std::u16string_view(barcode_chars).substr(entries[i].barcode_at, end - entries[i].barcode_at);
    }

    std::int16_t barcode_count;
    std::u16string serial_hex;
    FixedText<12> clock_digits;
    FixedText<1> clock_flag;
    int written = table_entries; // entries 1 to `written` are copied
    std::vector<Entry> entries;
    std::u16string barcode_chars;
};

bool same_entry(const Before& a, const ClickerFields& b, int k)
{
    if (k > a.written)
        return new_entry(b, k);
    const auto i = static_cast<std::size_t>(k - 1);
    const Before::Entry& ea = a.entries[i];
    const Variant& cb = b.code_types.at(k);
    bool same_code;
    if (ea.code_type == Variant::Type::Short)
        same_code = cb.type() == Variant::Type::Short && ea.code == cb.short_value();
    else if (ea.code_type == Variant::Type::Empty)
        same_code = cb.is_empty();
    else
        same_code = ea.other_code.type() == cb.type() && ea.other_code.short_value() == cb.short_value();
    return same_code && same_text(a.barcode(i), b.barcodes.at(k)) && ea.scan_time == b.scan_times.at(k);
}

Variant startport_of(Input& in)
{
    switch (in.byte() % 4) {
    case 0: return Variant();
    case 1: return Variant::from_short(static_cast<std::int8_t>(in.byte()));
    case 2: return any_variant(in);
    default: return Variant::from_long(in.i32());
    }
}

// What one open_clicker (alone, or inside alldata) must have done, read from what the
// library was asked and answered. `error` is the automation error the member ended with.
void check_download(const Variant& startport, const Before& before, const ClickerFields& after,
                    const FuzzedScanner& scanner, const std::string& trace, std::optional<int> error)
{
    // The tables keep their 500 entries whatever happens.
    static_assert(decltype(after.barcodes)::size() == 500 && decltype(after.code_types)::size() == 500 &&
                  decltype(after.scan_times)::size() == 500);

    // The remembered port first, then 0, 1, ..., 15 up to the first that answers.
    std::optional<std::int32_t> remembered;
    if (!startport.is_empty()) {
        try {
            remembered = startport.to_long();
        } catch (const AutomationError& e) {
            // Fails before any library call, after open_ok and comport were reset.
            FUZZ_CHECK(error && *error == e.code() && trace.empty());
            FUZZ_CHECK(after.is_open == variant_false && after.port_no == 999);
            FUZZ_CHECK(after.barcode_count == before.barcode_count && after.serial_hex == before.serial_hex);
            return;
        }
    }
    const std::vector<Probe>& probes = scanner.probes;
    std::size_t next = 0;
    std::int32_t expected_port = 0;
    bool search_started = !remembered;
    for (const Probe& p : probes) {
        if (!search_started && next == 0) {
            FUZZ_CHECK(p.port == *remembered);
        } else {
            FUZZ_CHECK(p.port == expected_port && expected_port <= 15);
            ++expected_port;
        }
        search_started = true;
        ++next;
        if (p.answered())
            FUZZ_CHECK(next == probes.size()); // the first port that answers ends the search
        if (p.count && !fits_short(*p.count))
            FUZZ_CHECK(error && *error == 6 && next == probes.size() && trace.back() == 'R');
    }

    // The count of the last port that opened, or the earlier one when none did.
    std::optional<std::int32_t> last_count;
    for (const Probe& p : probes)
        if (p.count)
            last_count = p.count;
    if (last_count && fits_short(*last_count))
        FUZZ_CHECK(after.barcode_count == *last_count);
    if (!last_count)
        FUZZ_CHECK(after.barcode_count == before.barcode_count);

    const bool found = !probes.empty() && probes.back().answered();
    const bool ends_with_clock = trace.size() >= 5 && trace.compare(trace.size() - 5, 5, "~WGOX") == 0;
    const std::size_t waits = static_cast<std::size_t>(std::count(trace.begin(), trace.end(), '~'));

    if (!found) {
        // No scanner: not an error, unless a count overflowed. Nothing but the probes.
        FUZZ_CHECK(!error || *error == 6);
        FUZZ_CHECK(probes.size() == (remembered ? 17u : 16u) || error);
        FUZZ_CHECK(trace.find_first_not_of("IRSX") == std::string::npos);
        FUZZ_CHECK(after.is_open == variant_false && after.port_no == 999);
        FUZZ_CHECK(!scanner.port_open || error);
        FUZZ_CHECK(after.serial_hex == before.serial_hex);
        FUZZ_CHECK(after.clock_digits.view() == before.clock_digits.view());
        FUZZ_CHECK(after.clock_flag.view() == before.clock_flag.view());
        for (int k = 1; k <= 500; ++k)
            FUZZ_CHECK(same_entry(before, after, k));
        return;
    }

    const bool found_remembered = remembered && probes.size() == 1;
    if (!error || *error != 6 || trace.back() != 'S') {
        FUZZ_CHECK(after.port_no == (found_remembered ? startport.to_short() : probes.back().port));
        FUZZ_CHECK(after.is_open == variant_true);
    } else {
        // The remembered port answered but does not fit comport: overflow, port open.
        FUZZ_CHECK(found_remembered && !fits_short(*remembered) && scanner.port_open);
        return;
    }
    FUZZ_CHECK(scanner.id.has_value());
    FUZZ_CHECK(after.serial_hex == hex_of(*scanner.id));

    // Each packet that arrived filled its entry before anything could fail.
    const std::int32_t count = after.barcode_count;
    for (std::size_t i = 0; i < scanner.packets.size(); ++i) {
        const Packet& p = scanner.packets[i];
        const int k = static_cast<int>(i) + 1;
        if (k > 500) {
            FUZZ_CHECK(error && *error == 9 && i + 1 == scanner.packets.size()); // no entry 501
            break;
        }
        FUZZ_CHECK(after.code_types.at(k).short_value() == p.code_type);
        if (p.length < 5) { // no room for the time stamp and a barcode
            FUZZ_CHECK(error && *error == 5 && i + 1 == scanner.packets.size());
            break;
        }
        FUZZ_CHECK(same_text(after.barcodes.at(k), scanner.barcode(p)));
        const bool last = i + 1 == scanner.packets.size();
        if (!last || !error) {
            // A scan time the two-digit year window can give, or the fallback.
            const CivilDateTime t = civil_from_date(after.scan_times.at(k));
            FUZZ_CHECK(after.scan_times.at(k) == 36892.0 || (t.year >= 1930 && t.year <= 2029));
        }
    }
    FUZZ_CHECK(static_cast<std::int64_t>(scanner.packets.size()) <= std::max(count, 0));
    // Entries past the count are never touched.
    for (int k = std::max(count, 0) + 1; k <= 500; ++k)
        FUZZ_CHECK(same_entry(before, after, k));

    if (error) {
        // The packet stage failed: no wait, no clock, the port left open.
        FUZZ_CHECK(*error == 5 || *error == 9 || *error == 13);
        FUZZ_CHECK(waits == 0 && trace.find('G') == std::string::npos && scanner.port_open);
        FUZZ_CHECK(after.clock_digits.view() == before.clock_digits.view());
        return;
    }
    // One wait after the packets, then exactly the clock reading, and the port released.
    FUZZ_CHECK(waits == 1 && ends_with_clock && !scanner.port_open);
    FUZZ_CHECK(scanner.clock.has_value());
    char16_t flag;
    FUZZ_CHECK(after.clock_digits.view() == clock_text_of(*scanner.clock, flag));
    FUZZ_CHECK(after.clock_flag.view() == std::u16string_view(&flag, 1));
}

} // namespace
void fuzz_one(Input& in)
{
    std::string trace;
    trace.reserve(256); // a letter per library call: grown a step at a time, a heap block each
    FuzzPlatform fake(trace);
    FuzzedScanner scanner(in, trace);
    Clicker clicker(fake.platform(scanner));
    const Variant startport = startport_of(in);
    clicker.put_startport(startport);

    // open_clicker, then alldata, which downloads afresh and formats what it got.
    for (int round = 0; round < 2; ++round) {
        const Before before(clicker.fields());
        scanner.begin();
        std::u16string text;
        const std::optional<int> error = run_member({5, 6, 9, 13, 94}, [&] {
            if (round == 0)
                clicker.open_clicker();
            else
                text = clicker.get_alldata().text_value();
        });
        trace_member(round == 0 ? "open_clicker" : "alldata", trace, error);
        const ClickerFields& after = clicker.fields();
        std::optional<int> download_error = error;
        if (round == 1 && error && *error == 9 && scanner.packets.size() <= 500) {
            // The download itself ended well; the count is above 500, so formatting
            // entry 501 is out of range.
            FUZZ_CHECK(after.barcode_count > 500);
            download_error.reset();
        }
        check_download(startport, before, after, scanner, trace, download_error);
        if (round == 1 && !error) {
            FUZZ_CHECK(text == BuildUploadString(after));
            check_upload_string(after, text);
        }
    }
}

} // namespace qmx::fuzz

#include "simulator/scenario_parser.h"

#include "core/scanner/csp2_entries.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <stdexcept>

namespace qmx::sim {

namespace {

struct Invalid : std::runtime_error {
    using std::runtime_error::runtime_error;
};

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && is_blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string quoted(std::string_view s)
{
    return "'" + std::string(s) + "'";
}

// The words of one directive line, taken from the left.
class Words {
public:
    explicit Words(std::string_view line) : rest_(trimmed(line)) {}

    bool at_end() const { return rest_.empty(); }

    std::string_view next(const char* what)
    {
        if (rest_.empty())
            throw Invalid(std::string("missing ") + what);
        std::size_t end = 0;
        while (end < rest_.size() && !is_blank(rest_[end]))
            ++end;
        std::string_view word = rest_.substr(0, end);
        rest_ = trimmed(rest_.substr(end));
        return word;
    }

    // Everything left on the line, trimmed; may be empty.
    std::string_view rest()
    {
        std::string_view r = rest_;
        rest_ = {};
        return r;
    }

    void expect_end() const
    {
        if (!rest_.empty())
            throw Invalid("unexpected " + quoted(rest_));
    }

private:
    std::string_view rest_;
};

std::int64_t parse_integer(std::string_view word, std::int64_t low, std::int64_t high, const char* what)
{
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size())
        throw Invalid(std::string(what) + " " + quoted(word) + " is not a whole number");
    if (value < low || value > high)
        throw Invalid(std::string(what) + " " + quoted(word) + " is outside " + std::to_string(low) + " to " +
                      std::to_string(high));
    return value;
}

std::int32_t parse_int32(std::string_view word, const char* what)
{
    return static_cast<std::int32_t>(parse_integer(word, std::numeric_limits<std::int32_t>::min(),
                                                   std::numeric_limits<std::int32_t>::max(), what));
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Hexadecimal bytes, two digits each, with blanks allowed between bytes.
std::vector<std::uint8_t> parse_hex(std::string_view text, const char* what)
{
    std::vector<std::uint8_t> bytes;
    std::size_t i = 0;
    while (i < text.size()) {
        if (is_blank(text[i])) {
            ++i;
            continue;
        }
        if (i + 1 >= text.size() || hex_digit(text[i]) < 0 || hex_digit(text[i + 1]) < 0)
            throw Invalid(std::string(what) + ": expected two hexadecimal digits per byte at " +
                          quoted(text.substr(i)));
        bytes.push_back(static_cast<std::uint8_t>(hex_digit(text[i]) * 16 + hex_digit(text[i + 1])));
        i += 2;
    }
    return bytes;
}

// "YYYY-MM-DD"
void parse_date(std::string_view word, CivilTime& t, int first_year, int last_year)
{
    if (word.size() != 10 || word[4] != '-' || word[7] != '-')
        throw Invalid("date " + quoted(word) + " is not YYYY-MM-DD");
    t.year = static_cast<int>(parse_integer(word.substr(0, 4), first_year, last_year, "year"));
    t.month = static_cast<int>(parse_integer(word.substr(5, 2), 1, 12, "month"));
    t.day = static_cast<int>(parse_integer(word.substr(8, 2), 1, 31, "day"));
    if (t.day > days_in_month(t.year, t.month))
        throw Invalid("date " + quoted(word) + " does not exist");
}

// "hh:mm:ss", or "hh:mm:--" where that is allowed; returns whether seconds were given.
bool parse_time(std::string_view word, CivilTime& t, bool seconds_may_be_missing)
{
    if (word.size() != 8 || word[2] != ':' || word[5] != ':')
        throw Invalid("time " + quoted(word) + " is not hh:mm:ss");
    t.hour = static_cast<int>(parse_integer(word.substr(0, 2), 0, 23, "hour"));
    t.minute = static_cast<int>(parse_integer(word.substr(3, 2), 0, 59, "minute"));
    if (seconds_may_be_missing && word.substr(6) == "--") {
        t.second = 0;
        return false;
    }
    t.second = static_cast<int>(parse_integer(word.substr(6, 2), 0, 59, "second"));
    return true;
}

void parse_clock(Words& w, FileKind kind, ClockStart& clock)
{
    std::string_view first = w.next("clock: pc, offset SECONDS, or YYYY-MM-DD hh:mm:ss");
    if (kind == FileKind::state && first != "offset")
        throw Invalid("a state file keeps the clock as 'clock offset SECONDS'");
    if (first == "pc") {
        clock = ClockStart{};
    } else if (first == "offset") {
        clock = ClockStart{ClockStart::Kind::offset, {}, parse_integer(w.next("offset seconds"), -(std::int64_t{1} << 40),
                                                                       std::int64_t{1} << 40, "offset")};
    } else {
        ClockStart start{ClockStart::Kind::at, {}, 0};
        // A clock set through csp2SetTime has a two-digit year, 2000 to 2099.
        parse_date(first, start.at, 2000, 2099);
        parse_time(w.next("time"), start.at, false);
        clock = start;
    }
}

Barcode parse_barcode(Words& w)
{
    Barcode b;
    b.code_type = static_cast<std::uint8_t>(parse_integer(w.next("code type"), 0, 255, "code type"));
    // The time stamp holds the year in six bits from 2000.
    parse_date(w.next("scan date"), b.scanned, 2000, 2063);
    b.seconds_recorded = parse_time(w.next("scan time"), b.scanned, true);
    b.text = std::string(w.rest());
    if (b.text.size() > max_barcode_length)
        throw Invalid("barcode of " + std::to_string(b.text.size()) + " bytes; at most " +
                      std::to_string(max_barcode_length) + " fit in a packet");
    return b;
}

RawPacket parse_packet(Words& w)
{
    RawPacket p{parse_hex(w.rest(), "packet")};
    if (p.bytes.empty() || p.bytes.size() > max_raw_packet_length)
        throw Invalid("packet of " + std::to_string(p.bytes.size()) + " bytes; it takes 1 to " +
                      std::to_string(max_raw_packet_length));
    return p;
}

void parse_port_result(Words& w, std::map<std::int32_t, std::int32_t>& results)
{
    std::int32_t port = parse_int32(w.next("port"), "port");
    results[port] = parse_int32(w.next("result"), "result");
}

bool allowed_in_state(std::string_view directive)
{
    return directive == "clock" || directive == "clock-lost" || directive == "barcode" || directive == "packet" ||
           directive == "param";
}

void parse_line(std::string_view line, FileKind kind, Scenario& s)
{
    Words w(line);
    const std::string_view directive = w.next("directive");
    if (kind == FileKind::state && !allowed_in_state(directive))
        throw Invalid(quoted(directive) + " does not belong in a state file");

    if (directive == "port") {
        std::string_view port = w.next("port");
        s.port = port == "none" ? std::nullopt : std::optional(parse_int32(port, "port"));
    } else if (directive == "identity") {
        std::vector<std::uint8_t> bytes = parse_hex(w.rest(), "identity");
        if (bytes.size() != s.identity.size())
            throw Invalid("identity of " + std::to_string(bytes.size()) + " bytes; it takes 8");
        std::copy(bytes.begin(), bytes.end(), s.identity.begin());
    } else if (directive == "identity-untouched") {
        s.identity_untouched = true;
    } else if (directive == "clock") {
        parse_clock(w, kind, s.clock);
    } else if (directive == "clock-lost") {
        s.clock_lost = true;
    } else if (directive == "barcode") {
        s.entries.emplace_back(parse_barcode(w));
    } else if (directive == "packet") {
        s.entries.emplace_back(parse_packet(w));
    } else if (directive == "param") {
        std::int32_t id = parse_int32(w.next("parameter id"), "parameter id");
        s.params[id] = static_cast<std::uint8_t>(parse_integer(w.next("value"), 0, 255, "value"));
    } else if (directive == "refuse-param") {
        s.refused_params.insert(parse_int32(w.next("parameter id"), "parameter id"));
    } else if (directive == "init") {
        parse_port_result(w, s.init_results);
    } else if (directive == "read-data") {
        parse_port_result(w, s.read_data_results);
    } else if (directive == "status") {
        parse_port_result(w, s.status_results);
    } else if (directive == "count") {
        s.count = parse_int32(w.next("count"), "count");
        s.deliver_beyond_stored = false;
        if (!w.at_end()) {
            std::string_view word = w.next("deliver");
            if (word != "deliver")
                throw Invalid("expected 'deliver' or nothing after the count, not " + quoted(word));
            s.deliver_beyond_stored = true;
        }
    } else if (directive == "packets-fail-from") {
        s.packets_fail_from = static_cast<std::int32_t>(
            parse_integer(w.next("packet number"), 0, std::numeric_limits<std::int32_t>::max(), "packet number"));
    } else if (directive == "stamp-text") {
        std::string_view text = w.rest();
        if (text.empty() || text.size() > max_stamp_text_length)
            throw Invalid("time-stamp text of " + std::to_string(text.size()) + " bytes; it takes 1 to " +
                          std::to_string(max_stamp_text_length));
        s.stamp_text = std::string(text);
    } else if (directive == "fail") {
        // fail ENTRY RESULT from N
        std::string_view entry = w.next("entry");
        if (std::find(csp2_entry_names.begin(), csp2_entry_names.end(), entry) == csp2_entry_names.end())
            throw Invalid("unknown entry " + quoted(entry));
        EntryFault fault;
        fault.result = parse_int32(w.next("result"), "result");
        std::string_view word = w.next("'from'");
        if (word != "from")
            throw Invalid("expected 'from', not " + quoted(word));
        fault.from = static_cast<std::int32_t>(
            parse_integer(w.next("call number"), 1, std::numeric_limits<std::int32_t>::max(), "call number"));
        s.entry_faults[std::string(entry)] = fault;
    } else if (directive == "scan-after-read") {
        const auto reads = static_cast<std::int32_t>(
            parse_integer(w.next("read count"), 1, std::numeric_limits<std::int32_t>::max(), "read count"));
        s.scans_after_reads.emplace_back(reads, parse_barcode(w));
    } else if (directive == "stamp-text-untouched") {
        s.stamp_text_untouched = true;
    } else {
        throw Invalid("unknown directive " + quoted(directive));
    }
    w.expect_end();
}

} // namespace

ParseOutcome parse_scenario(std::string_view text, FileKind kind)
{
    Scenario s;
    int number = 0;
    while (!text.empty()) {
        ++number;
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        std::string_view content = trimmed(line);
        if (content.empty() || content.front() == '#')
            continue;
        try {
            parse_line(content, kind, s);
        } catch (const Invalid& e) {
            return {std::nullopt, "line " + std::to_string(number) + ": " + e.what()};
        }
    }
    return {std::move(s), {}};
}

} // namespace qmx::sim

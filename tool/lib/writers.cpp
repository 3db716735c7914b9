#include "lib/writers.h"

#include "lib/text.h"

#include <cstdio>

namespace qmx::tool {

namespace {

// RFC 4180: a field with the separator, a quote or a line break goes in quotes, its
// quotes doubled.
std::string csv_field(const std::string& text, char separator)
{
    if (text.find_first_of(std::string{separator, '"', '\r', '\n'}) == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

// For the table: control characters would move a console's cursor.
std::string readable(const std::wstring& text)
{
    std::wstring shown;
    for (wchar_t c : text) {
        if (c < 0x20 || c == 0x7F) {
            wchar_t escape[8];
            std::swprintf(escape, 8, L"\\x%02X", static_cast<unsigned>(c));
            shown += escape;
        } else {
            shown += c;
        }
    }
    return utf8(shown);
}

std::string code_type_text(const Entry& e)
{
    return e.code_type ? std::to_string(*e.code_type) : std::string();
}

std::string table(const Download& d)
{
    const std::optional<double> clock = scanner_clock(d);
    std::string out;
    out += "Port:      " + std::to_string(d.port) + "\r\n";
    out += "Scanner:   " + utf8(d.identity) + "\r\n";
    if (clock)
        out += "Clock:     " + utf8(iso_time(*clock, L' ')) + " (" + utf8(clock_difference(*clock, d.downloaded_at)) + ")\r\n";
    else
        out += "Clock:     not set (" + utf8(d.clock_digits) + ")\r\n";
    out += "Barcodes:  " + std::to_string(d.entries.size()) + "\r\n";
    if (d.entries.empty())
        return out;
    out += "\r\nentry  type  scanned at           barcode\r\n";
    for (const Entry& e : d.entries) {
        char line[64];
        std::snprintf(line, sizeof line, "%5d  %4s  %-19s  ", e.number, code_type_text(e).c_str(),
                      utf8(iso_time(e.scanned, L' ')).c_str());
        out += line + readable(e.barcode) + "\r\n";
    }
    return out;
}

std::string json(const Download& d)
{
    const std::optional<double> clock = scanner_clock(d);
    std::string out = "{\r\n";
    out += "  \"port\": " + std::to_string(d.port) + ",\r\n";
    out += "  \"scanner\": " + json_string(utf8(d.identity)) + ",\r\n";
    out += "  \"clock\": " + (clock ? json_string(utf8(iso_time(*clock))) : std::string("null")) + ",\r\n";
    out += "  \"clock_digits\": " + json_string(utf8(d.clock_digits)) + ",\r\n";
    out += "  \"downloaded_at\": " + json_string(utf8(iso_time(d.downloaded_at))) + ",\r\n";
    out += "  \"count\": " + std::to_string(d.entries.size()) + ",\r\n";
    out += "  \"barcodes\": [";
    const char* separator = "\r\n";
    for (const Entry& e : d.entries) {
        out += separator;
        out += "    {\"entry\": " + std::to_string(e.number) + ", \"barcode\": " + json_string(utf8(e.barcode)) +
               ", \"code_type\": " + (e.code_type ? std::to_string(*e.code_type) : std::string("null")) +
               ", \"scanned_at\": " + json_string(utf8(iso_time(e.scanned))) + "}";
        separator = ",\r\n";
    }
    out += d.entries.empty() ? "]\r\n" : "\r\n  ]\r\n";
    return out + "}\r\n";
}

} // namespace

std::string json_string(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                out += escape;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + '"';
}

std::optional<Format> format_named(std::wstring_view name)
{
    for (Format f : {Format::table, Format::csv, Format::json, Format::upload})
        if (name == format_name(f))
            return f;
    return std::nullopt;
}

const wchar_t* format_name(Format format)
{
    switch (format) {
    case Format::table: return L"table";
    case Format::csv: return L"csv";
    case Format::json: return L"json";
    case Format::upload: return L"upload";
    }
    return L"";
}

std::string csv_header(char separator)
{
    std::string line;
    for (const char* name : {"entry", "barcode", "code_type", "scanned_at", "scanner", "downloaded_at"}) {
        if (!line.empty())
            line += separator;
        line += name;
    }
    return line + "\r\n";
}

std::string csv_rows(const Download& d, const WriteOptions& options)
{
    const char separator = options.separator;
    const std::string scanner = csv_field(utf8(d.identity), separator);
    const std::string downloaded = utf8(iso_time(d.downloaded_at));
    std::string out;
    for (const Entry& e : d.entries) {
        out += std::to_string(e.number) + separator + csv_field(utf8(e.barcode), separator) + separator +
               code_type_text(e) + separator + utf8(iso_time(e.scanned)) + separator + scanner + separator +
               downloaded + "\r\n";
    }
    return out;
}

std::string render(const Download& d, const WriteOptions& options)
{
    switch (options.format) {
    case Format::table: return table(d);
    case Format::csv: return csv_header(options.separator) + csv_rows(d, options);
    case Format::json: return json(d);
    case Format::upload: return utf8(d.upload);
    }
    return {};
}

} // namespace qmx::tool

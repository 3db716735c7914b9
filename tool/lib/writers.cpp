#include "lib/writers.h"

#include "lib/text.h"
#include "lib/xlsx.h"

#include <cstdio>
#include <cwchar>
#include <string_view>

namespace qmx::tool {

namespace {

// A field a spreadsheet would evaluate gets an apostrophe in front (CSV injection);
// then RFC 4180: a field with the separator, a quote or a line break goes in quotes, its
// quotes doubled.
std::string csv_field(const std::wstring& text, const WriteOptions& options)
{
    std::string field = utf8(options.visible ? visible(text) : text);
    if (!options.exact && !field.empty() && std::string_view("=+-@\t\r").find(field[0]) != std::string_view::npos)
        field.insert(0, 1, '\'');
    if (field.find_first_of(std::string{options.separator, '"', '\r', '\n'}) == std::string::npos)
        return field;
    std::string quoted = "\"";
    for (char c : field) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
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
    out += "Scanner:   " + utf8(visible(d.identity)) + "\r\n";
    if (clock)
        out += "Clock:     " + utf8(iso_time(*clock, L' ')) + " (" + utf8(clock_difference(*clock, d.downloaded_at)) + ")\r\n";
    else
        out += "Clock:     not set (" + utf8(visible(d.clock_digits)) + ")\r\n";
    out += "Barcodes:  " + std::to_string(d.entries.size()) + "\r\n";
    if (d.entries.empty())
        return out;
    out += "\r\nentry  type  scanned at           barcode\r\n";
    for (const Entry& e : d.entries) {
        char line[64];
        std::snprintf(line, sizeof line, "%5d  %4s  %-19s  ", e.number, code_type_text(e).c_str(),
                      utf8(iso_time(e.scanned, L' ')).c_str());
        out += line + utf8(visible(e.barcode)) + "\r\n";
    }
    return out;
}

std::string json(const Download& d)
{
    const std::optional<double> clock = scanner_clock(d);
    std::string out = "{\r\n";
    out += "  \"port\": " + std::to_string(d.port) + ",\r\n";
    out += "  \"scanner\": " + json_string(d.identity) + ",\r\n";
    out += "  \"clock\": " + (clock ? json_string(iso_time(*clock)) : std::string("null")) + ",\r\n";
    out += "  \"clock_digits\": " + json_string(d.clock_digits) + ",\r\n";
    out += "  \"downloaded_at\": " + json_string(iso_time(d.downloaded_at)) + ",\r\n";
    out += "  \"count\": " + std::to_string(d.entries.size()) + ",\r\n";
    out += json_barcodes(d, false);
    return out + "}\r\n";
}

} // namespace

// Every control character escaped (C1 too), so the document is safe on a console and
// still reads back to the same text.
std::string json_string(std::wstring_view text)
{
    std::wstring out = L"\"";
    for (wchar_t c : text) {
        switch (c) {
        case L'"': out += L"\\\""; break;
        case L'\\': out += L"\\\\"; break;
        case L'\n': out += L"\\n"; break;
        case L'\r': out += L"\\r"; break;
        case L'\t': out += L"\\t"; break;
        default:
            if (is_control(c)) {
                wchar_t escape[8];
                std::swprintf(escape, 8, L"\\u%04x", static_cast<unsigned>(c));
                out += escape;
            } else {
                out += c;
            }
        }
    }
    return utf8(out + L'"');
}

std::string json_barcodes(const Download& d, bool with_dates)
{
    std::string out = "  \"barcodes\": [";
    const char* separator = "\r\n";
    for (const Entry& e : d.entries) {
        out += separator;
        out += "    {\"entry\": " + std::to_string(e.number) + ", \"barcode\": " + json_string(e.barcode) +
               ", \"code_type\": " + (e.code_type ? std::to_string(*e.code_type) : std::string("null")) +
               ", \"scanned_at\": " + json_string(iso_time(e.scanned));
        if (with_dates) {
            char date[32];
            std::snprintf(date, sizeof date, "%.17g", e.scanned);
            out += std::string(", \"scanned\": ") + date;
        }
        out += "}";
        separator = ",\r\n";
    }
    return out + (d.entries.empty() ? "]\r\n" : "\r\n  ]\r\n");
}

std::optional<Format> format_named(std::wstring_view name)
{
    for (Format f : {Format::table, Format::csv, Format::json, Format::upload, Format::xlsx})
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
    case Format::xlsx: return L"xlsx";
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

bool shows_visibly(Format format, bool to_console)
{
    return format == Format::table || (to_console && (format == Format::csv || format == Format::upload));
}

std::string csv_rows(const Download& d, const WriteOptions& options)
{
    const char separator = options.separator;
    const std::string scanner = csv_field(d.identity, options);
    const std::string downloaded = utf8(iso_time(d.downloaded_at));
    std::string out;
    for (const Entry& e : d.entries) {
        out += std::to_string(e.number) + separator + csv_field(e.barcode, options) + separator +
               code_type_text(e) + separator + utf8(iso_time(e.scanned)) + separator + scanner + separator +
               downloaded + "\r\n";
    }
    return out;
}

std::string csv_rows(const Download& d, char separator)
{
    return csv_rows(d, WriteOptions{Format::csv, separator});
}

std::string render(const Download& d, const WriteOptions& options)
{
    switch (options.format) {
    case Format::table: return table(d);
    case Format::csv: return csv_header(options.separator) + csv_rows(d, options);
    case Format::json: return json(d);
    case Format::upload: return utf8(options.visible ? visible(d.upload) : d.upload);
    case Format::xlsx: return workbook(d);
    }
    return {};
}

} // namespace qmx::tool

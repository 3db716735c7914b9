#include "lib/archive.h"

#include "lib/component.h"
#include "lib/json_reader.h"
#include "lib/output_file.h"
#include "lib/settings.h"
#include "lib/system.h"
#include "lib/text.h"
#include "lib/writers.h"

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>

namespace qmx::tool {

namespace {

std::string number_text(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string visit_json(const std::wstring& id, const Download& d, const std::wstring& command,
                       const std::wstring& output)
{
    auto text = [](const std::wstring& t) { return json_string(t); };
    std::string out = "{\r\n  \"archive\": 1,\r\n";
    out += "  \"id\": " + text(id) + ",\r\n";
    out += "  \"command\": " + text(command) + ",\r\n";
    out += "  \"output\": " + text(output) + ",\r\n";
    out += "  \"port\": " + std::to_string(d.port) + ",\r\n";
    out += "  \"scanner\": " + text(d.identity) + ",\r\n";
    out += "  \"clock_digits\": " + text(d.clock_digits) + ",\r\n";
    out += std::string("  \"clock_valid\": ") + (d.clock_valid ? "true" : "false") + ",\r\n";
    out += "  \"downloaded_at\": " + text(iso_time(d.downloaded_at)) + ",\r\n";
    out += "  \"downloaded\": " + number_text(d.downloaded_at) + ",\r\n";
    out += "  \"upload\": " + text(d.upload) + ",\r\n";
    out += "  \"count\": " + std::to_string(d.reported) + ",\r\n";
    out += json_barcodes(d, true);
    return out + "}\r\n";
}

std::wstring wide(const JsonValue* v)
{
    return v && v->kind == JsonValue::Kind::string ? from_utf8(v->text) : std::wstring();
}

double number(const JsonValue* v)
{
    return v && v->kind == JsonValue::Kind::number ? v->number : 0;
}

std::optional<ArchivedVisit> read_visit(const std::wstring& path)
{
    std::optional<std::string> bytes;
    try {
        bytes = read_file(path);
    } catch (const ToolError&) {
        return std::nullopt;
    }
    const std::optional<JsonValue> json = bytes ? parse_json(*bytes) : std::nullopt;
    const JsonValue* barcodes = json ? json->find("barcodes") : nullptr;
    if (!json || number(json->find("archive")) != 1 || !barcodes || barcodes->kind != JsonValue::Kind::array)
        return std::nullopt;
    ArchivedVisit v;
    v.path = path;
    v.id = wide(json->find("id"));
    v.command = wide(json->find("command"));
    v.output = wide(json->find("output"));
    Download& d = v.download;
    d.found = true;
    d.port = static_cast<int>(number(json->find("port")));
    d.identity = wide(json->find("scanner"));
    d.clock_digits = wide(json->find("clock_digits"));
    const JsonValue* valid = json->find("clock_valid");
    d.clock_valid = valid && valid->boolean;
    d.downloaded_at = number(json->find("downloaded"));
    d.upload = wide(json->find("upload"));
    d.reported = static_cast<int>(number(json->find("count")));
    for (const JsonValue& item : barcodes->items) {
        Entry e;
        e.number = static_cast<int>(number(item.find("entry")));
        e.barcode = wide(item.find("barcode"));
        const JsonValue* type = item.find("code_type");
        if (type && type->kind == JsonValue::Kind::number)
            e.code_type = static_cast<int>(type->number);
        e.scanned = number(item.find("scanned"));
        d.entries.push_back(std::move(e));
    }
    return v;
}

// Visit ids sort by time: YYYYMMDD-hhmmss-mmm-IDENTITY.
std::optional<double> time_of_id(const std::wstring& id)
{
    int year, month, day, hour, minute, second, milli;
    if (std::swscanf(id.c_str(), L"%4d%2d%2d-%2d%2d%2d-%3d", &year, &month, &day, &hour, &minute, &second, &milli) != 7)
        return std::nullopt;
    return make_date(year, month, day, hour, minute, second);
}

std::vector<std::wstring> visit_ids(const std::wstring& folder)
{
    std::vector<std::wstring> ids;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*.json").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return ids;
    do {
        const std::wstring name = found.cFileName;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name.size() > 5 && time_of_id(name))
            ids.push_back(name.substr(0, name.size() - 5));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::wstring identity_for_name(const std::wstring& identity)
{
    std::wstring out;
    for (wchar_t c : identity)
        out += (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') ? c : L'_';
    return out.empty() ? L"unknown" : out;
}

} // namespace

std::wstring archive_folder()
{
    // The shell's folder lookup costs milliseconds; it does not change while a tool runs.
    static const std::wstring known = [] {
        wchar_t* local = nullptr;
        std::wstring folder;
        if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &local)) && local)
            folder = std::wstring(local) + L"\\QMXClicker\\archive";
        CoTaskMemFree(local);
        return folder;
    }();
    if (known.empty())
        throw ToolError{Outcome::output, L"the archive has no folder: the user's local application data folder is "
                                         L"unknown; nothing cleared"};
    return known;
}

std::wstring archive_visit(const Download& d, const std::wstring& command, const std::wstring& output)
{
    const std::wstring folder = archive_folder();
    create_folders(folder);
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t stamp[32];
    std::swprintf(stamp, 32, L"%04u%02u%02u-%02u%02u%02u-%03u-", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond, now.wMilliseconds);
    std::wstring id = stamp + identity_for_name(d.identity);
    for (int k = 2; file_exists(folder + L"\\" + id + L".json"); ++k)
        id = stamp + identity_for_name(d.identity) + L"-" + std::to_wstring(k);
    const std::wstring path = folder + L"\\" + id + L".json";
    const std::string content = visit_json(id, d, command, output);
    write_durably(path, content);
    if (read_file(path) != content)
        throw ToolError{Outcome::output, L"the archive file " + path + L" does not read back as written; nothing cleared"};

    // Pruning is housekeeping: the new visit is safe, and a failure here loses nothing.
    const unsigned days = std::max<unsigned long>(archive_days_floor, read_setting(archive_days_setting).value_or(0));
    const unsigned visits = std::max<unsigned long>(archive_visits_floor, read_setting(archive_visits_setting).value_or(0));
    for (const std::wstring& old : visits_to_prune(visit_ids(folder), local_now(), days, visits))
        DeleteFileW((folder + L"\\" + old + L".json").c_str());
    return path;
}

std::vector<std::wstring> visits_to_prune(const std::vector<std::wstring>& ids, double now, unsigned keep_days,
                                          unsigned keep_visits)
{
    std::vector<std::wstring> prune;
    if (ids.size() <= keep_visits)
        return prune;
    for (std::size_t k = 0; k < ids.size() - keep_visits; ++k) {
        const std::optional<double> when = time_of_id(ids[k]);
        if (when && now - *when > keep_days)
            prune.push_back(ids[k]);
    }
    return prune;
}

std::vector<ArchivedVisit> archived_visits()
{
    const std::wstring folder = archive_folder();
    std::vector<ArchivedVisit> visits;
    for (const std::wstring& id : visit_ids(folder))
        if (std::optional<ArchivedVisit> v = read_visit(folder + L"\\" + id + L".json"))
            visits.push_back(std::move(*v));
    return visits;
}

ArchivedVisit archived_visit(const std::wstring& id)
{
    const std::wstring folder = archive_folder();
    const bool plain = !id.empty() && id.find_first_of(L"\\/:*?\"<>|") == std::wstring::npos;
    std::optional<ArchivedVisit> v = plain ? read_visit(folder + L"\\" + id + L".json") : std::nullopt;
    if (!v)
        throw ToolError{Outcome::usage, L"the archive holds no visit '" + id + L"' (qmxclicker archive lists them)"};
    return *v;
}

} // namespace qmx::tool

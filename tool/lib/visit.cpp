#include "lib/visit.h"

#include "lib/archive.h"
#include "lib/output_file.h"
#include "lib/output_name.h"
#include "lib/settings.h"
#include "lib/system.h"
#include "lib/text.h"

#include <cmath>

namespace qmx::tool {

namespace {

std::wstring on_port(int port)
{
    return L"port " + std::to_wstring(port);
}

std::wstring barcodes(std::size_t n)
{
    return std::to_wstring(n) + (n == 1 ? L" barcode" : L" barcodes");
}

std::string content_for(const Download& d, const Target& target, const std::wstring& path)
{
    if (!target.append)
        return render(d, target.options);
    const std::string header = csv_header(target.options.separator);
    std::optional<std::string> old = read_file(path);
    if (!old || old->empty())
        return header + csv_rows(d, target.options);
    if (old->compare(0, header.size(), header) != 0)
        throw ToolError{Outcome::output, path + L" does not begin with the header " +
                                             from_utf8(header.substr(0, header.size() - 2)) +
                                             L"; rows are appended only to a file of the same columns"};
    if (old->back() != '\n')
        *old += "\r\n";
    return *old + csv_rows(d, target.options);
}

} // namespace

std::optional<int> port_to_try(std::optional<int> given)
{
    if (given)
        return given;
    if (const auto remembered = read_setting(last_port_setting); remembered && *remembered <= 32767)
        return static_cast<int>(*remembered);
    return std::nullopt;
}

Download find_scanner(Component& component, std::optional<int> port, const Progress& progress)
{
    progress(port ? L"downloading, trying " + on_port(*port) + L" first ..." : L"downloading, searching ports 0 to 15 ...");
    Download d = component.download(port);
    if (!d.found)
        throw ToolError{Outcome::no_scanner, L"no scanner answered on ports 0 to 15" +
                                                 (port && (*port < 0 || *port > 15) ? L" or " + on_port(*port) : L"")};
    write_setting(last_port_setting, static_cast<unsigned long>(d.port));
    progress(L"found the scanner on " + on_port(d.port) + L": " + barcodes(d.entries.size()));
    return d;
}

void require_contents(const Download& d)
{
    if (!d.contents_reported())
        throw ToolError{Outcome::changed, L"the scanner did not report its contents (it answered " +
                                              std::to_wstring(d.reported) + L" for its count); nothing cleared"};
    if (!d.complete())
        throw ToolError{Outcome::changed, L"the scanner announced " + barcodes(d.entries.size()) +
                                              L" but did not deliver them all; nothing cleared, run again"};
}

std::wstring save(const Download& d, const Target& target)
{
    const std::wstring path = expand_output_name(target.path, d);
    create_folders(folder_of(path));
    FileLock lock(path, target.wait_seconds);
    if (target.keep_existing && !target.append && file_exists(path))
        throw ToolError{Outcome::usage, path + L" exists already, and a visit that clears never replaces a file: "
                                               L"add to it with --append (CSV), or give a new name (e.g. with {date} "
                                               L"and {time}); nothing cleared"};
    const std::string content = content_for(d, target, path);
    write_durably(path, content);
    if (read_file(path) != content)
        throw ToolError{Outcome::output, path + L" does not read back as written"};
    return path;
}

std::wstring archive_and_clear(Component& component, const Download& first, const Clearing& how,
                               const std::wstring& output, const Progress& progress)
{
    require_contents(first);
    progress(L"checking: downloading again from " + on_port(first.port) + L" ...");
    const Download second = component.download(first.port);
    if (!second.found || second.port != first.port || !first.same_contents(second))
        throw ToolError{Outcome::changed, L"the scanner's contents changed between two downloads; nothing cleared, "
                                          L"run again" +
                                              (output.empty() ? L"" : L" (" + output + L" holds the first download)")};
    const std::wstring archived = archive_visit(second, how.command, output);
    progress(L"archived " + barcodes(second.entries.size()) + L" in " + archived);
    // A barcode scanned from here until the clear cannot be seen by any download.
    if (how.parameters) {
        progress(L"programming the scanner on " + on_port(first.port) +
                 L" (it clears first; keep the scanner still until this is done) ...");
        component.program(first.port, *how.parameters);
    } else {
        progress(L"clearing the scanner on " + on_port(first.port) +
                 (how.clock_text.empty() ? L"" : L" and setting its clock") +
                 L" (keep the scanner still until this is done) ...");
        component.empty_scanner(first.port, how.clock_text);
    }
    progress(L"confirming: downloading from " + on_port(first.port) + L" ...");
    const Download after = component.download(first.port);
    if (!after.found || after.port != first.port)
        throw ToolError{Outcome::not_cleared, L"the scanner no longer answers on " + on_port(first.port) +
                                                  L"; whether it was cleared is not known (its barcodes are in " +
                                                  archived + L")"};
    if (!after.contents_reported() || !after.entries.empty())
        throw ToolError{Outcome::not_cleared, L"the clear did not take: the scanner still holds " +
                                                  (after.contents_reported() ? barcodes(after.entries.size())
                                                                             : std::wstring(L"an unknown count")) +
                                                  L" (what it held is in " + archived + L")"};
    progress(L"the scanner is empty");
    return archived;
}

Saved save_and_clear(Component& component, std::optional<int> port, const Target& target, const Clearing& how,
                     const Progress& progress, const Download* shown)
{
    Saved saved{find_scanner(component, port, progress), {}, {}};
    const Download& first = saved.download;
    if (shown && (first.port != shown->port || !first.same_contents(*shown)))
        throw ToolError{Outcome::changed, L"the scanner no longer holds what was shown (it now has " +
                                              barcodes(first.entries.size()) + L"); nothing saved or cleared"};
    require_contents(first);
    saved.path = save(first, target);
    progress(L"saved " + barcodes(first.entries.size()) + L" to " + saved.path);
    saved.archive = archive_and_clear(component, first, how, saved.path, progress);
    return saved;
}

Download set_clock_and_check(Component& component, const Download& d, const Progress& progress)
{
    progress(L"setting the clock of the scanner on " + on_port(d.port) + L" ...");
    component.set_clock(d.port);
    Download after = component.download(d.port);
    const std::optional<double> clock = scanner_clock(after);
    if (!after.found || !clock || std::abs(*clock - after.downloaded_at) * 86400.0 > 5)
        throw ToolError{Outcome::not_cleared, L"the scanner's clock did not take the PC's time (it reads " +
                                                  (clock ? iso_time(*clock, L' ') : std::wstring(L"no valid time")) +
                                                  L")"};
    progress(L"the scanner's clock reads " + iso_time(*clock, L' ') + L", " +
             clock_difference(*clock, after.downloaded_at));
    return after;
}

} // namespace qmx::tool

#include "lib/visit.h"

#include "lib/output_file.h"
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

std::string content_for(const Download& d, const Target& target)
{
    if (!target.append)
        return render(d, target.options);
    const std::string header = csv_header(target.options.separator);
    std::optional<std::string> old = read_file(target.path);
    if (!old || old->empty())
        return header + csv_rows(d, target.options.separator);
    if (old->compare(0, header.size(), header) != 0)
        throw ToolError{Outcome::output, target.path + L" does not begin with the header " +
                                             from_utf8(header.substr(0, header.size() - 2)) +
                                             L"; rows are appended only to a file of the same columns"};
    if (old->back() != '\n')
        *old += "\r\n";
    return *old + csv_rows(d, target.options.separator);
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

void save(const Download& d, const Target& target)
{
    const std::string content = content_for(d, target);
    write_durably(target.path, content);
    if (read_file(target.path) != content)
        throw ToolError{Outcome::output, target.path + L" does not read back as written"};
}

Download save_and_clear(Component& component, std::optional<int> port, const Target& target, bool set_clock,
                        const Progress& progress, const Download* shown)
{
    Download first = find_scanner(component, port, progress);
    if (shown && (first.port != shown->port || !first.same_contents(*shown)))
        throw ToolError{Outcome::changed, L"the scanner no longer holds what was shown (it now has " +
                                              barcodes(first.entries.size()) + L"); nothing saved or cleared"};
    if (!first.complete())
        throw ToolError{Outcome::changed, L"the scanner announced " + barcodes(first.entries.size()) +
                                              L" but did not deliver them all; nothing cleared, run again"};
    save(first, target);
    progress(L"saved " + barcodes(first.entries.size()) + L" to " + target.path);
    progress(L"checking: downloading again from " + on_port(first.port) + L" ...");
    const Download second = component.download(first.port);
    if (!second.found || second.port != first.port || !first.same_contents(second))
        throw ToolError{Outcome::changed, L"the scanner's contents changed between two downloads; nothing cleared, "
                                          L"run again (" + target.path + L" holds the first download)"};
    clear_and_confirm(component, first, set_clock ? clock_text(local_now()) : std::wstring(), progress);
    return first;
}

void clear_and_confirm(Component& component, const Download& d, const std::wstring& clock_text,
                       const Progress& progress)
{
    progress(L"clearing the scanner on " + on_port(d.port) + (clock_text.empty() ? L"" : L" and setting its clock") +
             L" ...");
    component.empty_scanner(d.port, clock_text);
    progress(L"confirming: downloading from " + on_port(d.port) + L" ...");
    const Download after = component.download(d.port);
    if (!after.found || after.port != d.port)
        throw ToolError{Outcome::not_cleared, L"the scanner no longer answers on " + on_port(d.port) +
                                                  L"; whether it was cleared is not known"};
    if (!after.entries.empty())
        throw ToolError{Outcome::not_cleared, L"the clear did not take: the scanner still holds " +
                                                  barcodes(after.entries.size())};
    progress(L"the scanner is empty");
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

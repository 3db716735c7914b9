// A visit to the scanner as the tools make it: find it (the remembered port first), save
// what it holds, and clear it only when what was saved is what it still holds and that is
// in the archive. The console tool and the window run the same procedures.
#pragma once

#include "lib/component.h"
#include "lib/writers.h"

#include <functional>
#include <optional>
#include <string>

namespace qmx::tool {

// What the visit is doing, for a console line or a status bar.
using Progress = std::function<void(const std::wstring&)>;

// How long a visit waits for another one holding the scanner or the output file.
inline constexpr unsigned default_wait_seconds = 60;

struct Target {
    std::wstring path; // may hold {date}, {time} and {scanner}
    WriteOptions options;
    bool append = false;        // CSV only: rows added to the file, one header
    bool keep_existing = false; // refuse to replace a file that exists (a visit that clears)
    unsigned wait_seconds = default_wait_seconds;
};

// What erases the scanner: EmptyScanner (setting the clock from clock_text when it is not
// empty), or programming a parameter list, which clears first.
struct Clearing {
    std::wstring command; // as the archive records it: "download --clear", "clear", "params", ...
    std::wstring clock_text;
    std::optional<std::wstring> parameters;
};

// The port to try first: the one given, else the one where a scanner last answered.
std::optional<int> port_to_try(std::optional<int> given);

// Downloads, remembering the port where the scanner answered. ToolError no_scanner when
// none answered on ports 0 to 15.
Download find_scanner(Component& component, std::optional<int> port, const Progress& progress);

// ToolError changed unless the download says exactly what the scanner holds.
void require_contents(const Download& d);

// Writes the download durably, holding the file's lock from the read of an --append file
// to the rename, and reads the file back. Returns the path written (placeholders
// expanded, missing folders made). ToolError output, usage (an existing file kept), busy.
std::wstring save(const Download& d, const Target& target);

// Downloads again from first's port and compares, writes that download to the archive,
// clears as `how` says and confirms the scanner is empty. Nothing is cleared unless the
// archive holds what the scanner held. Returns the archive file.
std::wstring archive_and_clear(Component& component, const Download& first, const Clearing& how,
                               const std::wstring& output, const Progress& progress);

struct Saved {
    Download download;
    std::wstring path;    // the output file
    std::wstring archive; // the archive file
};

// Download, save, then archive_and_clear. Any failure before the clear leaves the scanner
// untouched and the file either complete or as it was. With shown (what a person saw and
// agreed to clear), a scanner that now holds anything else is left untouched too.
Saved save_and_clear(Component& component, std::optional<int> port, const Target& target, const Clearing& how,
                     const Progress& progress, const Download* shown = nullptr);

// Sets the clock of the scanner found on d.port from the PC's and downloads again to read
// it back; ToolError not_cleared when it does not read the PC's time. Returns that download.
Download set_clock_and_check(Component& component, const Download& d, const Progress& progress);

} // namespace qmx::tool

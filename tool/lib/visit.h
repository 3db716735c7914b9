// A visit to the scanner as the tools make it: find it (the remembered port first), save
// what it holds, and clear it only when what was saved is what it still holds. The console
// tool and the window run the same procedures.
#pragma once

#include "lib/component.h"
#include "lib/writers.h"

#include <functional>
#include <optional>
#include <string>

namespace qmx::tool {

// What the visit is doing, for a console line or a status bar.
using Progress = std::function<void(const std::wstring&)>;

struct Target {
    std::wstring path;
    WriteOptions options;
    bool append = false; // CSV only: rows added to the file, one header
};

// The port to try first: the one given, else the one where a scanner last answered.
std::optional<int> port_to_try(std::optional<int> given);

// Downloads, remembering the port where the scanner answered. ToolError no_scanner when
// none answered on ports 0 to 15.
Download find_scanner(Component& component, std::optional<int> port, const Progress& progress);

// Writes the download durably and reads the file back. ToolError output.
void save(const Download& d, const Target& target);

// Download, save, download again from the port found and compare, clear that port (with
// the PC's clock when set_clock), and confirm the scanner is empty. Any failure before the
// clear leaves the scanner untouched and the file either complete or as it was. Returns
// what was saved. With shown (what a person saw and agreed to clear), a scanner that now
// holds anything else is left untouched too.
Download save_and_clear(Component& component, std::optional<int> port, const Target& target, bool set_clock,
                        const Progress& progress, const Download* shown = nullptr);

// Clears the scanner found on d.port, then confirms it holds nothing. ToolError not_cleared.
void clear_and_confirm(Component& component, const Download& d, const std::wstring& clock_text,
                       const Progress& progress);

// Sets the clock of the scanner found on d.port from the PC's and downloads again to read
// it back; ToolError not_cleared when it does not read the PC's time. Returns that download.
Download set_clock_and_check(Component& component, const Download& d, const Progress& progress);

} // namespace qmx::tool

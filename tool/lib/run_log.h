// The tools' record of their runs: one line per command in a per-user log, so that an
// administrator who finds a failed evening reads why in one place. The log keeps its last
// megabyte or so: when a line would take it over the limit, it becomes NAME.1 (replacing
// the one before) and a new log begins. Several processes may append at once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qmx::tool {

struct RunRecord {
    double time = 0;          // the PC's local time, automation DATE
    std::wstring command_line;
    std::wstring scanner;     // identity; empty when none answered
    int port = 0;             // 0: none
    std::optional<int> barcodes;
    std::wstring output;      // the file written, if any
    std::wstring archive;     // the archive file written, if any
    int exit_code = 0;
    std::wstring message;     // the error or the summary the user saw
    friend bool operator==(const RunRecord&, const RunRecord&) = default;
};

inline constexpr std::uint64_t run_log_limit = 1024 * 1024;

// %LOCALAPPDATA%\QMXClicker\qmxclicker.log, or empty when the folder cannot be found.
std::wstring default_run_log();

// The record as one line of the log (UTF-8, no line break): fields separated by tabs, in
// the order of RunRecord; tabs and line breaks inside a field become blanks. And back:
// nothing for a line that is not one (a line cut short by a full disk, say).
std::string format_run(const RunRecord& r);
std::optional<RunRecord> parse_run(const std::string& line);

// Appends the record to the log at path, creating its folder; rotates first when the log
// would pass the limit. Returns an empty text, or why the line could not be written:
// the log never changes the outcome of the run it records.
std::wstring append_run(const std::wstring& path, const RunRecord& r, std::uint64_t limit = run_log_limit);

// The last count runs, oldest first, from NAME.1 and NAME.
std::vector<RunRecord> last_runs(const std::wstring& path, std::size_t count);

} // namespace qmx::tool

// The per-user archive: every download a clear is about to erase, kept before the clear,
// one JSON file per visit under %LOCALAPPDATA%\QMXClicker\archive, so that nothing a tool
// erases is ever lost, also what `clear --yes` lets go.
#pragma once

#include "lib/download.h"

#include <string>
#include <vector>

namespace qmx::tool {

struct ArchivedVisit {
    std::wstring id;      // the file's name without .json: 20261210-031500-123-00126B3FA21904C7
    std::wstring path;
    std::wstring command; // what cleared the scanner: "download --clear", "clear", "params", ...
    std::wstring output;  // where the same barcodes were saved, if anywhere
    Download download;
};

std::wstring archive_folder();

// Writes the visit durably (its rename on the disk) and then prunes old visits. Returns
// the file. ToolError{Outcome::output} when it cannot be written: then nothing may be cleared.
std::wstring archive_visit(const Download& d, const std::wstring& command, const std::wstring& output);

// Every archived visit, oldest first; files that do not read as a visit are left out.
std::vector<ArchivedVisit> archived_visits();
// ToolError{Outcome::usage} when there is no such visit.
ArchivedVisit archived_visit(const std::wstring& id);

// Which files to delete: every visit beyond the newest `keep_visits`, unless it is younger
// than `keep_days` days. `ids` sorted oldest first; `now` an automation DATE.
std::vector<std::wstring> visits_to_prune(const std::vector<std::wstring>& ids, double now, unsigned keep_days,
                                          unsigned keep_visits);

// Retention settings (HKCU\Software\QMXClicker): these may only raise the floor.
inline constexpr wchar_t archive_days_setting[] = L"ArchiveDays";
inline constexpr wchar_t archive_visits_setting[] = L"ArchiveVisits";
inline constexpr unsigned archive_days_floor = 90;
inline constexpr unsigned archive_visits_floor = 100;

} // namespace qmx::tool

// One simulated scanner as a host process sees it: the scenario read from its file (or
// the default), the call log, and the state file that carries it from run to run.
#pragma once

#include "core/platform/clock.h"
#include "simulator/call_log.h"
#include "simulator/scanner.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>

namespace qmx::sim {

struct SessionFiles {
    std::optional<std::filesystem::path> scenario; // none: the default scenario
    std::optional<std::filesystem::path> log;      // none: no call log
    std::optional<std::filesystem::path> state;    // none: nothing kept between runs
};

class Session {
public:
    // Problems with the files go to `errors` (and to the call log as "# " lines). A
    // scenario that cannot be read gives a scanner that answers nowhere and keeps no state.
    Session(const SessionFiles& files, Clock& pc_clock, std::ostream& errors);

    Scanner& scanner() { return *scanner_; }

private:
    void report(const std::string& message);
    void save(const ScannerState& state);

    std::ostream& errors_;
    std::optional<std::filesystem::path> state_path_;
    std::unique_ptr<FileCallLog> log_;
    std::unique_ptr<Scanner> scanner_;
    bool save_failed_ = false;
};

} // namespace qmx::sim

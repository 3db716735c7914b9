#include "simulator/session.h"

#include "simulator/default_scenario.h"
#include "simulator/scenario_parser.h"
#include "simulator/state_file.h"

#include <fstream>
#include <random>
#include <sstream>

namespace qmx::sim {

namespace {

namespace fs = std::filesystem;

std::string shown(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::optional<std::string> read_file(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad())
        return std::nullopt;
    return content.str();
}

} // namespace

Session::Session(const SessionFiles& files, Clock& pc_clock, std::ostream& errors) : errors_(errors)
{
    if (files.log)
        log_ = std::make_unique<FileCallLog>(*files.log, errors);

    std::optional<Scenario> scenario;
    if (!files.scenario) {
        scenario = default_scenario();
    } else if (std::optional<std::string> text = read_file(*files.scenario); !text) {
        report("cannot read the scenario file " + shown(*files.scenario) + "; the scanner answers on no port");
    } else {
        ParseOutcome parsed = parse_scenario(*text);
        if (!parsed.scenario)
            report(shown(*files.scenario) + ": " + parsed.error + "; the scanner answers on no port");
        scenario = std::move(parsed.scenario);
    }

    const bool usable = scenario.has_value();
    scanner_ = std::make_unique<Scanner>(usable ? std::move(*scenario) : answers_nowhere(), pc_clock);
    scanner_->set_log(log_.get());
    // A broken scenario must not overwrite what an earlier run kept.
    if (!usable || !files.state)
        return;

    state_path_ = files.state;
    std::error_code ignored;
    if (std::filesystem::exists(*state_path_, ignored)) {
        std::optional<std::string> text = read_file(*state_path_);
        StateOutcome loaded = text ? parse_state(*text) : StateOutcome{std::nullopt, "cannot be read"};
        if (loaded.state)
            scanner_->restore_state(std::move(*loaded.state));
        else
            report(shown(*state_path_) + ": " + loaded.error + "; starting from the scenario instead");
    }
    scanner_->on_change([this](const ScannerState& state) { save(state); });
}

void Session::report(const std::string& message)
{
    errors_ << message_prefix << message << std::endl;
    if (log_)
        log_->write("# " + message);
}

// A device's memory never shows half a write: the new state goes to a file of its own in
// the same folder and is renamed over the old one, so a process killed at any moment
// leaves either the old state or the new one (and at worst a stray *.tmp beside them).
void Session::save(const ScannerState& state)
{
    const fs::path& path = *state_path_;
    std::ostringstream suffix;
    suffix << '.' << std::hex << std::random_device{}() << ".tmp";
    fs::path temporary = path;
    temporary += suffix.str();
    bool written = false;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << format_state(state);
        out.flush();
        written = static_cast<bool>(out);
    }
    std::error_code error;
    if (written)
        fs::rename(temporary, path, error);
    const bool failed = !written || error;
    if (failed)
        fs::remove(temporary, error);
    if (failed && !save_failed_)
        report("cannot write the state file " + shown(path));
    save_failed_ = failed;
}

} // namespace qmx::sim

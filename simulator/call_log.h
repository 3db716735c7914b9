// Where the scanner reports each call: one line per call, "<entry> <args...> -> <result>".
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

namespace qmx::sim {

// How the simulator's messages on standard error begin.
inline constexpr std::string_view message_prefix = "qmx csp2 simulator: ";

class CallLog {
public:
    virtual ~CallLog() = default;
    virtual void write(std::string_view line) = 0;
};

// Appends each line and its line feed to a file, opened afresh for every line so that a
// reader sees it at once and nothing stays locked between calls. The first line that
// cannot be written is reported to `errors`.
class FileCallLog final : public CallLog {
public:
    FileCallLog(std::filesystem::path path, std::ostream& errors) : path_(std::move(path)), errors_(errors) {}
    void write(std::string_view line) override;

private:
    std::filesystem::path path_;
    std::ostream& errors_;
    bool failed_ = false;
};

// Argument formats of the log lines.
std::string hex_bytes(std::span<const std::uint8_t> bytes);     // "05 00 20"; "null" when none
std::string decimal_bytes(std::span<const std::uint8_t> bytes); // "30 15 14"; "null" when none

} // namespace qmx::sim

// A call log kept in memory.
#pragma once

#include "simulator/call_log.h"

#include <string>
#include <vector>

namespace qmx::test {

class LinesLog final : public sim::CallLog {
public:
    void write(std::string_view line) override { lines.emplace_back(line); }
    std::vector<std::string> lines;
};

} // namespace qmx::test

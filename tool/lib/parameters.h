// The parameter list text of newparams, checked before anything reaches the scanner: a
// count of two digits, then per entry an id and a value of two characters each. The
// component reads any text leniently (a missing entry is sent as id 0, value 0), so the
// tools refuse whatever it would read otherwise than it looks.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qmx::tool {

struct Parameter {
    int id = 0;
    int value = 0;
};

// The entries, or ToolError{Outcome::usage} saying what is wrong and where. Line breaks
// at the end (a file's last line) are dropped.
std::vector<Parameter> check_parameter_list(std::wstring_view text);

} // namespace qmx::tool

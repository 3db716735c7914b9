// Files written so that they are either complete or untouched: the new content goes to a
// temporary file in the same folder, is flushed to the disk, and then replaces the target.
#pragma once

#include <optional>
#include <string>

namespace qmx::tool {

// Throws ToolError{Outcome::output} naming the file and the system's reason.
void write_durably(const std::wstring& path, const std::string& bytes);
// The file's bytes; nothing when it does not exist. Throws ToolError{Outcome::output}.
std::optional<std::string> read_file(const std::wstring& path);

} // namespace qmx::tool

// What the tools remember per user, under HKCU\Software\QMXClicker: the port where a
// scanner last answered, and the window's size. The component itself keeps nothing.
#pragma once

#include <optional>
#include <string>

namespace qmx::tool {

std::optional<unsigned long> read_setting(const wchar_t* name);
void write_setting(const wchar_t* name, unsigned long value); // a failure is not the user's problem

inline constexpr wchar_t last_port_setting[] = L"LastPort";
// The window's size in pixels at 96 dots per inch, restored size when it is closed maximised.
inline constexpr wchar_t window_width_setting[] = L"WindowWidth";
inline constexpr wchar_t window_height_setting[] = L"WindowHeight";
// The file type last chosen in the window's Save dialog: 1 workbook, 2 CSV, 3 JSON.
inline constexpr wchar_t save_type_setting[] = L"SaveType";

} // namespace qmx::tool

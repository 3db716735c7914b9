// The fifteen entries of csp2.DLL that the component calls, in one list: the binding binds
// by these names, the build makes the .def files and the export checks from it (the
// number is the bytes of arguments, the i686 __stdcall decoration), and tests compare
// against it. Keep one entry per line: CMake reads this file.
#pragma once

#include <array>
#include <string_view>

#define QMX_CSP2_ENTRIES(X) \
    X(csp2Init, 4) \
    X(csp2ReadData, 0) \
    X(csp2GetSystemStatus, 0) \
    X(csp2GetDeviceId, 8) \
    X(csp2GetPacket, 12) \
    X(csp2TimeStamp2Str, 12) \
    X(csp2WakeUp, 0) \
    X(csp2GetTime, 4) \
    X(csp2SetTime, 4) \
    X(csp2PowerDown, 0) \
    X(csp2ClearData, 0) \
    X(csp2SetDefaults, 0) \
    X(csp2Interrogate, 0) \
    X(csp2SetParam, 12) \
    X(csp2Restore, 0)

namespace qmx {

#define QMX_CSP2_ENTRY_ENUM(name, bytes) name,
enum class Csp2Entry : int { QMX_CSP2_ENTRIES(QMX_CSP2_ENTRY_ENUM) };
#undef QMX_CSP2_ENTRY_ENUM

#define QMX_CSP2_ENTRY_NAME(name, bytes) #name,
inline constexpr std::array<std::string_view, 15> csp2_entry_names{QMX_CSP2_ENTRIES(QMX_CSP2_ENTRY_NAME)};
#undef QMX_CSP2_ENTRY_NAME

constexpr std::string_view csp2_entry_name(Csp2Entry entry)
{
    return csp2_entry_names[static_cast<std::size_t>(entry)];
}

} // namespace qmx

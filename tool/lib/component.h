// The component as the tools use it: one QMXClicker.Clicker, reached through _Clicker only,
// exactly as any host reaches it. Every failure becomes a ToolError with the exit code the
// tools report it with.
#pragma once

#include "com/QMXClicker_h.h"
#include "com/com_ptr.h"
#include "lib/download.h"

#include <optional>
#include <string>

namespace qmx::tool {

// The exit codes of qmxclicker.exe; the window reports the same outcomes in words.
enum class Outcome {
    done = 0,
    no_scanner = 1,
    usage = 2,
    component = 3,   // an automation error from the component, or the class cannot be created
    output = 4,      // the output could not be written; the scanner was not touched
    changed = 5,     // the scanner's contents changed between downloads; nothing cleared
    not_cleared = 6, // the clear (or clock setting) was not confirmed
    busy = 7,        // another visit holds the scanner or the output file; nothing touched
};

struct ToolError {
    Outcome outcome;
    std::wstring message;
    long number = 0; // the component's error number, for Outcome::component
};

// Activates, on the calling thread, the activation context made from the tool's own
// manifest resource that names the QMXClicker assembly. Where no QMXClicker.dll stands
// beside the program that context cannot be made, and the registered class is used.
class ManifestScope {
public:
    ManifestScope();
    ~ManifestScope();
    ManifestScope(const ManifestScope&) = delete;
    ManifestScope& operator=(const ManifestScope&) = delete;
    // Whether the assembly beside the program was found.
    static bool available();

private:
    unsigned long cookie_ = 0;
    bool active_ = false;
};

class Component {
public:
    // Creates the class on the calling thread, which must be in a single-threaded apartment.
    Component();

    // Sets startport (Empty for none) and reads alldata, then every entry.
    Download download(std::optional<int> start_port);
    // Sets startport to the port and calls EmptyScanner, setting the clock from clock_text
    // (SSMMHHDDMMYY) when it is not empty.
    void empty_scanner(int port, const std::wstring& clock_text);
    // setdate on the port.
    void set_clock(int port);
    // newparams and reset_params on the port; reset_params clears the scanner first.
    void program(int port, const std::wstring& parameter_list);
    std::wstring hello();

private:
    void put_port(std::optional<int> port);
    // Throws the failure as a ToolError; a failed member may leave the port open, which
    // would keep the scanner from the next visit, so the port is released first.
    void check(HRESULT hr, const wchar_t* member);

    ComPtr<_Clicker> clicker_;
};

// Where the process loaded a module from; empty when it is not loaded.
std::wstring loaded_module_path(const wchar_t* name);

} // namespace qmx::tool

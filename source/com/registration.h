// Self-registration of the server, pointed at registry roots given by the caller:
// regsvr32 passes the machine's or the user's Software\Classes, tests pass keys of their own.
#pragma once

#include <string>
#include <windows.h>

namespace qmx::registration {

// A Classes key as one registry view sees it; the view goes with every key opened below it.
struct Classes {
    HKEY key = nullptr;
    REGSAM view = 0; // KEY_WOW64_64KEY or KEY_WOW64_32KEY, or 0 for the process's own view
};

// The registry calls that change something, apart so that tests can make any one of them fail.
struct RegistryWrites {
    decltype(&RegCreateKeyExW) create_key = RegCreateKeyExW;
    decltype(&RegSetValueExW) set_value = RegSetValueExW;
    decltype(&RegDeleteValueW) delete_value = RegDeleteValueW;
    decltype(&RegDeleteTreeW) delete_tree = RegDeleteTreeW;
    decltype(&RegDeleteKeyExW) delete_key = RegDeleteKeyExW;
};

struct Target {
    // The view of this DLL's bitness: the in-process server and the type library.
    Classes own;
    // The other bitness' view (none when key is null): what its clients need to create the
    // class in the system surrogate and to marshal _Clicker.
    Classes other;
    RegistryWrites writes;
};

// Registers the server at path; on failure puts back every key and value as it was.
HRESULT install(const Target& target, const std::wstring& path);
// Removes this build's entries, and the class's keys in each view where no other build is
// registered; keys already gone are not a failure.
HRESULT uninstall(const Target& target);

// HKEY_LOCAL_MACHINE's or HKEY_CURRENT_USER's Software\Classes, and under WOW64 its 64-bit view too.
class SystemTarget {
public:
    explicit SystemTarget(HKEY hive);
    ~SystemTarget();
    SystemTarget(const SystemTarget&) = delete;
    SystemTarget& operator=(const SystemTarget&) = delete;

    HRESULT status() const { return status_; }
    const Target& target() const { return target_; }

private:
    Target target_;
    HRESULT status_ = S_OK;
};

} // namespace qmx::registration

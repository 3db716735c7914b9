#include "lib/settings.h"

#include <windows.h>

namespace qmx::tool {

namespace {
constexpr wchar_t key[] = L"Software\\QMXClicker";
}

std::optional<unsigned long> read_setting(const wchar_t* name)
{
    DWORD value = 0, size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

void write_setting(const wchar_t* name, unsigned long value)
{
    HKEY k = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) != ERROR_SUCCESS)
        return;
    const DWORD data = value;
    RegSetValueExW(k, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
    RegCloseKey(k);
}

} // namespace qmx::tool

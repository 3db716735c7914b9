// The few system facts the tools need: module paths, error texts, the PC's clock.
#pragma once

#include <windows.h>

#include <string>

namespace qmx::tool {

std::wstring module_path(HMODULE module); // the program itself for nullptr
std::wstring folder_of(const std::wstring& path);
std::wstring hex(HRESULT hr);             // 0x80040154
std::wstring system_message(DWORD code);  // the system's text, without its line break
double local_now();                       // automation DATE

} // namespace qmx::tool

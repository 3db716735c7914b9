// What the DLL keeps for the whole process: its own handle and path, and the counts that
// decide whether it may be unloaded.
#pragma once

#include <string>
#include <windows.h>

namespace qmx::module {

void set_instance(HINSTANCE instance);
std::wstring path(); // full path of QMXClicker.dll

void object_created();
void object_destroyed();
void lock(bool on);
bool can_unload();

} // namespace qmx::module

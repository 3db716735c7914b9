#include "com/module.h"

#include "windows/platform.h"

namespace qmx::module {

namespace {

HINSTANCE the_instance = nullptr;
LONG objects = 0;
LONG locks = 0;

} // namespace

void set_instance(HINSTANCE instance)
{
    the_instance = instance;
}

std::wstring path()
{
    return module_file_name(the_instance);
}

void object_created()
{
    InterlockedIncrement(&objects);
}

void object_destroyed()
{
    InterlockedDecrement(&objects);
}

void lock(bool on)
{
    if (on)
        InterlockedIncrement(&locks);
    else
        InterlockedDecrement(&locks);
}

bool can_unload()
{
    return InterlockedCompareExchange(&objects, 0, 0) == 0 && InterlockedCompareExchange(&locks, 0, 0) == 0;
}

} // namespace qmx::module

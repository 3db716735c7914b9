#include "component/module.h"

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

HINSTANCE instance()
{
    return the_instance;
}

std::wstring path()
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(the_instance, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring folder()
{
    std::wstring full = path();
    std::size_t slash = full.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : full.substr(0, slash);
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

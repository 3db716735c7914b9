// What the system surrogate costs a host against the same class in process, measured in
// one run: creating (and releasing) an object, and a simple property call (comport).
// scripts/bench registers the server for the surrogate first. Wine starts a new surrogate
// process for every creation, so few are timed. Prints
// "first_surrogate_ms create_inproc_us create_surrogate_us call_inproc_us call_surrogate_us".
#include "com/QMXClicker_h.h"

#include <cstdio>
#include <windows.h>

namespace {

double now_us()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return now.QuadPart * 1e6 / frequency.QuadPart;
}

_Clicker* create(DWORD context)
{
    _Clicker* clicker = nullptr;
    if (FAILED(CoCreateInstance(CLSID_Clicker, nullptr, context, IID__Clicker, reinterpret_cast<void**>(&clicker))))
        return nullptr;
    return clicker;
}

// Microseconds per creation and release, over count objects.
double creation_us(DWORD context, int count)
{
    const double start = now_us();
    for (int i = 0; i < count; ++i) {
        _Clicker* clicker = create(context);
        if (!clicker)
            return -1;
        clicker->Release();
    }
    return (now_us() - start) / count;
}

double call_us(_Clicker* clicker, int count)
{
    short port = 0;
    const double start = now_us();
    for (int i = 0; i < count; ++i)
        if (FAILED(clicker->get_comport(&port)))
            return -1;
    return (now_us() - start) / count;
}

} // namespace

int main()
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); // as a form or a script host
    // The first of each: the DLL loaded, the surrogate process started.
    _Clicker* in_process = create(CLSCTX_INPROC_SERVER);
    const double start = now_us();
    _Clicker* surrogate = create(CLSCTX_LOCAL_SERVER);
    const double first_surrogate_ms = (now_us() - start) / 1000;
    if (!in_process || !surrogate) {
        std::fprintf(stderr, "cannot create the class %s\n", in_process ? "in the surrogate" : "in process");
        return 2;
    }
    const double call_inproc = call_us(in_process, 200000);
    const double call_surrogate = call_us(surrogate, 2000);
    const double create_inproc = creation_us(CLSCTX_INPROC_SERVER, 2000);
    const double create_surrogate = creation_us(CLSCTX_LOCAL_SERVER, 5);
    std::printf("%.1f %.3f %.1f %.4f %.1f\n", first_surrogate_ms, create_inproc, create_surrogate, call_inproc,
                call_surrogate);
    in_process->Release();
    surrogate->Release();
    CoUninitialize();
    return create_inproc < 0 || create_surrogate < 0 || call_inproc < 0 || call_surrogate < 0 ? 2 : 0;
}

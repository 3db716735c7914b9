// The processor share of a host during open_clicker: the settle wait must sleep, not spin.
// Loads the server beside this program's folder and prints "cpu_ms wall_ms share_percent"
// over five downloads from the simulated scanner.
#include "com/QMXClicker_h.h"
#include "timing.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <windows.h>

namespace {

// Under Wine the process's own Linux accounting is the honest figure: /proc/self/stat
// through drive Z:, utime and stime in clock ticks of 10 ms. Elsewhere GetProcessTimes.
double linux_cpu_ms()
{
    FILE* stat = _wfopen(L"Z:\\proc\\self\\stat", L"r");
    if (!stat)
        return -1;
    char line[1024] = {};
    size_t length = fread(line, 1, sizeof line - 1, stat);
    fclose(stat);
    line[length] = 0;
    const char* fields = strrchr(line, ')'); // the command name may hold blanks
    unsigned long long utime = 0, stime = 0;
    if (!fields || sscanf(fields + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime) != 2)
        return -1;
    return (utime + stime) * 10.0;
}

double cpu_ms()
{
    const double linux_ms = linux_cpu_ms();
    if (linux_ms >= 0)
        return linux_ms;
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return qmx::bench::cpu_ms(kernel, user);
}

using qmx::bench::wall_ms;

std::wstring server_path()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    folder = folder.substr(0, folder.find_last_of(L"\\/"));
    return folder.substr(0, folder.find_last_of(L"\\/")) + L"\\QMXClicker.dll";
}

} // namespace

int main()
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HMODULE server = LoadLibraryW(server_path().c_str());
    if (!server) {
        std::fprintf(stderr, "cannot load %ls\n", server_path().c_str());
        return 2;
    }
    auto get_class_object = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void (*)()>(GetProcAddress(server, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    _Clicker* clicker = nullptr;
    if (FAILED(get_class_object(CLSID_Clicker, IID_IClassFactory, reinterpret_cast<void**>(&factory))) ||
        FAILED(factory->CreateInstance(nullptr, IID__Clicker, reinterpret_cast<void**>(&clicker)))) {
        std::fprintf(stderr, "cannot create a Clicker\n");
        return 2;
    }
    VARIANT port;
    VariantInit(&port);
    V_VT(&port) = VT_I2;
    V_I2(&port) = 3;
    clicker->put_startport(&port);
    clicker->open_clicker(); // the library is loaded and warm before anything is measured

    // Five downloads in a row, so that the 10 ms ticks of the accounting add up.
    const double cpu0 = cpu_ms(), wall0 = wall_ms();
    for (int run = 0; run < 5; ++run) {
        if (FAILED(clicker->open_clicker())) {
            std::fprintf(stderr, "open_clicker failed\n");
            return 2;
        }
    }
    const double cpu = cpu_ms() - cpu0, wall = wall_ms() - wall0;
    std::printf("%.1f %.1f %.2f\n", cpu, wall, wall > 0 ? cpu / wall * 100 : 0.0);
    clicker->Release();
    factory->Release();
    CoUninitialize();
    return 0;
}

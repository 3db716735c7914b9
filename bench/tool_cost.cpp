// What the tools' safe visit costs beyond a bare host's: a host's alldata + EmptyScanner
// against save_and_clear (the procedure of qmxclicker download --clear), both in this
// process on the simulated scanner holding 500 barcodes; and writing 500 entries as CSV and
// JSON; what the archive adds to the visit (writing one visit of 500 entries) and what its
// two locks cost, with the disk's own cost of one durable write of as many bytes beside it.
// Prints "host_wall_ms tool_wall_ms host_cpu_ms tool_cpu_ms host_waits tool_waits csv_ms
// json_ms save_ms archive_ms lock_ms flush_ms", or a line starting "impossible" and exit 1
// when a reading cannot be true.
#include "lib/archive.h"
#include "lib/component.h"
#include "lib/output_file.h"
#include "lib/visit.h"
#include "lib/writers.h"
#include "timing.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>
#include <windows.h>

namespace {

double thread_cpu_ms()
{
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    return qmx::bench::cpu_ms(kernel, user);
}

using qmx::bench::wall_ms;

// Settle waits so far: one per download (csp2ReadData) and one per clear.
int waits_in(const std::string& log)
{
    std::ifstream in(log);
    int n = 0;
    for (std::string line; std::getline(in, line);)
        n += line.rfind("csp2ReadData", 0) == 0 || line.rfind("csp2ClearData", 0) == 0;
    return n;
}

typedef void(__stdcall* Restart)();

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: tool_cost WORK_FOLDER_UNIX WORK_FOLDER_WINDOWS\n");
        return 2;
    }
    const std::string unix_folder = argv[1], folder = argv[2];
    std::remove((unix_folder + "/calls.log").c_str());
    {
        std::ofstream scenario(unix_folder + "/scenario.txt");
        for (int k = 0; k < 500; ++k)
            scenario << "barcode 20 2026-11-30 08:12:05 ENTRY-" << k << "\n";
    }
    SetEnvironmentVariableA("QMX_SIM_SCENARIO", (folder + "\\scenario.txt").c_str());
    SetEnvironmentVariableA("QMX_SIM_LOG", (folder + "\\calls.log").c_str());
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    double save_ms = 0, archive_ms = 0, lock_ms = 0, flush_ms = 0, host_wall = 0, tool_wall = 0, host_cpu = 0, tool_cpu = 0, csv_ms = 0, json_ms = 0;
    int host_waits = 0, tool_waits = 0;
    try {
        using namespace qmx::tool;
        Component component;
        const std::wstring clear_log(folder.begin(), folder.end());
        // A first download loads the libraries and the type information; then a fresh
        // scanner with the same 500 barcodes for each measurement.
        component.download(3);
        const HMODULE csp2 = GetModuleHandleW(L"csp2.DLL");
        const auto restart = csp2 ? reinterpret_cast<Restart>(GetProcAddress(csp2, "qmxSimRestart")) : nullptr;
        if (!restart) {
            std::printf("impossible: csp2.DLL is not the simulated scanner\n");
            return 1;
        }
        restart();
        const int before = waits_in(unix_folder + "/calls.log");
        // The bare host: alldata, then EmptyScanner on the port it reported.
        _Clicker* host = nullptr;
        if (FAILED(CoCreateInstance(CLSID_Clicker, nullptr, CLSCTX_INPROC_SERVER, IID__Clicker,
                                    reinterpret_cast<void**>(&host)))) {
            std::printf("impossible: QMXClicker.Clicker is not registered\n");
            return 1;
        }
        VARIANT port, data;
        VariantInit(&data);
        V_VT(&port) = VT_I4;
        V_I4(&port) = 3;
        short count = 0;
        double w = wall_ms(), c = thread_cpu_ms();
        host->put_startport(&port);
        host->get_alldata(&data);
        host->EmptyScanner();
        host_wall = wall_ms() - w;
        host_cpu = thread_cpu_ms() - c;
        host->get_num_barcodes(&count);
        VariantClear(&data);
        host->Release();
        host_waits = waits_in(unix_folder + "/calls.log") - before;
        if (count != 500) {
            std::printf("impossible: no simulated scanner with 500 barcodes (%d)\n", count);
            return 1;
        }
        restart();
        Target target{std::wstring(clear_log) + L"\\visit.csv", WriteOptions{Format::csv, ','}, false};
        w = wall_ms();
        c = thread_cpu_ms();
        const Download saved =
            save_and_clear(component, 3, target, Clearing{L"bench", L"", {}}, [](const std::wstring&) {}).download;
        tool_wall = wall_ms() - w;
        tool_cpu = thread_cpu_ms() - c;
        tool_waits = waits_in(unix_folder + "/calls.log") - host_waits - before;
        // The visit's own work on the file: render, durable write, read back.
        w = wall_ms();
        save(saved, target);
        save_ms = wall_ms() - w;

        // Median of 21 of each: an archived visit, and taking both locks of a visit.
        std::vector<double> archive_times, lock_times, flush_times;
        const std::string bytes(render(saved, WriteOptions{Format::json, ','}).size() + 40 * 500, 'x');
        for (int run = 0; run < 21; ++run) {
            w = wall_ms();
            DeleteFileW(archive_visit(saved, L"bench", L"").c_str());
            archive_times.push_back(wall_ms() - w);
            w = wall_ms();
            write_durably(target.path + L".flush", bytes);
            flush_times.push_back(wall_ms() - w);
            w = wall_ms();
            {
                ScannerLock scanner(0);
                FileLock file(target.path, 0);
            }
            lock_times.push_back(wall_ms() - w);
        }
        std::nth_element(archive_times.begin(), archive_times.begin() + 10, archive_times.end());
        std::nth_element(lock_times.begin(), lock_times.begin() + 10, lock_times.end());
        std::nth_element(flush_times.begin(), flush_times.begin() + 10, flush_times.end());
        archive_ms = archive_times[10];
        flush_ms = flush_times[10];
        lock_ms = lock_times[10];

        // Median of 21 renderings of each.
        for (Format f : {Format::csv, Format::json}) {
            std::vector<double> times;
            for (int run = 0; run < 21; ++run) {
                w = wall_ms();
                const std::string text = render(saved, WriteOptions{f, ','});
                times.push_back(wall_ms() - w);
                if (text.size() < 500 * 20) {
                    std::printf("impossible: %zu bytes for 500 entries\n", text.size());
                    return 1;
                }
            }
            std::nth_element(times.begin(), times.begin() + 10, times.end());
            (f == Format::csv ? csv_ms : json_ms) = times[10];
        }
    } catch (const qmx::tool::ToolError& e) {
        std::printf("impossible: the visit failed: %ls\n", e.message.c_str());
        return 1;
    }
    // The visit makes strictly more calls and waits than the bare host.
    if (save_ms <= 0 || host_wall <= 0 || tool_wall <= host_wall || tool_cpu < host_cpu || host_cpu < 0 || tool_waits <= host_waits ||
        csv_ms <= 0 || json_ms <= 0 || archive_ms <= 0 || lock_ms < 0 || flush_ms <= 0) {
        std::printf("impossible: host %.0f ms / %.1f ms cpu / %d waits, tool %.0f ms / %.1f ms cpu / %d waits\n",
                    host_wall, host_cpu, host_waits, tool_wall, tool_cpu, tool_waits);
        return 1;
    }
    std::printf("%.0f %.0f %.1f %.1f %d %d %.3f %.3f %.3f %.3f %.3f %.3f\n", host_wall, tool_wall, host_cpu, tool_cpu,
                host_waits, tool_waits, csv_ms, json_ms, save_ms, archive_ms, lock_ms, flush_ms);
    CoUninitialize();
    return 0;
}

// qmxclicker.exe: the scanner from the command line. Data goes to standard output (or the
// file named), messages to standard error; the exit code says how the visit ended.
#include "lib/component.h"
#include "lib/output_file.h"
#include "lib/parameters.h"
#include "lib/settings.h"
#include "lib/system.h"
#include "lib/text.h"
#include "lib/visit.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace qmx::tool {
namespace {

constexpr wchar_t usage_text[] =
    L"Usage:\n"
    L"  qmxclicker download [--port N] [--format table|csv|json|upload] [--separator C]\n"
    L"                      [--output FILE [--append]] [--clear [--set-clock]]\n"
    L"  qmxclicker clear    [--port N] [--set-clock | --clock SSMMHHDDMMYY] [--yes]\n"
    L"  qmxclicker setclock [--port N]\n"
    L"  qmxclicker params   [--port N] (TEXT | --file FILE) [--yes | --output FILE ...]\n"
    L"  qmxclicker info\n"
    L"  qmxclicker --help | --version\n"
    L"\n"
    L"  download   reads everything the scanner holds; with --clear it saves it to FILE,\n"
    L"             downloads again to compare, and only then clears the scanner\n"
    L"  clear      erases the scanner's barcodes without saving them (asks first)\n"
    L"  setclock   sets the scanner's clock from the PC's\n"
    L"  params     programs parameters (a count of two digits, then per entry an id and\n"
    L"             a value of two digits each, e.g. 0210052201); this clears the scanner,\n"
    L"             so its barcodes are saved first unless --yes lets them go\n"
    L"  info       the component, its registration, csp2.DLL and the scanner\n"
    L"\n"
    L"  --port N       the port to try first (default: where a scanner last answered)\n"
    L"  --format F     table (default), csv, json, or upload (alldata as it is)\n"
    L"  --separator C  the CSV separator (default ','; ';' suits some spreadsheets)\n"
    L"  --output FILE  write FILE instead of standard output; --append adds CSV rows\n"
    L"  --quiet        print errors only\n"
    L"\n"
    L"Exit codes: 0 done, 1 no scanner, 2 usage, 3 error from the component, 4 output not\n"
    L"written (scanner untouched), 5 contents changed (nothing cleared), 6 clear not confirmed.\n";

bool is_console(HANDLE h)
{
    DWORD mode = 0;
    return GetConsoleMode(h, &mode) != 0;
}

// UTF-8 to a file or pipe; wide characters to a console, which shows them whatever its
// code page.
void write(DWORD which, const std::string& text)
{
    const HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE || text.empty())
        return;
    DWORD done = 0;
    if (is_console(h)) {
        const std::wstring wide = from_utf8(text);
        WriteConsoleW(h, wide.data(), static_cast<DWORD>(wide.size()), &done, nullptr);
    } else {
        WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
    }
}

void message(const std::wstring& text)
{
    write(STD_ERROR_HANDLE, utf8(text) + "\r\n");
}

struct Options {
    std::wstring command;
    std::optional<int> port;
    WriteOptions write;
    std::wstring output, file, text, clock;
    bool append = false, clear = false, set_clock = false, yes = false, quiet = false, format_given = false;
};

[[noreturn]] void usage_error(const std::wstring& why)
{
    throw ToolError{Outcome::usage, why + L" (qmxclicker --help lists the commands)"};
}

int number(const std::wstring& text, const wchar_t* option, int low, int high)
{
    wchar_t* end = nullptr;
    const long value = std::wcstol(text.c_str(), &end, 10);
    if (text.empty() || *end != 0 || value < low || value > high)
        usage_error(std::wstring(option) + L" takes a number from " + std::to_wstring(low) + L" to " +
                    std::to_wstring(high) + L", not '" + text + L"'");
    return static_cast<int>(value);
}

Options parse(const std::vector<std::wstring>& args)
{
    Options o;
    if (args.empty())
        usage_error(L"no command given");
    o.command = args[0];
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::wstring& a = args[i];
        auto value = [&]() -> const std::wstring& {
            if (i + 1 >= args.size())
                usage_error(a + L" needs a value");
            return args[++i];
        };
        if (a == L"--port")
            o.port = number(value(), L"--port", 0, 32767);
        else if (a == L"--format") {
            const auto f = format_named(value());
            if (!f)
                usage_error(L"--format is table, csv, json or upload, not '" + args[i] + L"'");
            o.write.format = *f;
            o.format_given = true;
        } else if (a == L"--separator") {
            const std::wstring& s = value();
            const std::wstring allowed = L",;|\t";
            if (s == L"tab")
                o.write.separator = '\t';
            else if (s.size() == 1 && allowed.find(s[0]) != std::wstring::npos)
                o.write.separator = static_cast<char>(s[0]);
            else
                usage_error(L"--separator is one of , ; | or tab, not '" + s + L"'");
        } else if (a == L"--output")
            o.output = value();
        else if (a == L"--file")
            o.file = value();
        else if (a == L"--clock")
            o.clock = value();
        else if (a == L"--append")
            o.append = true;
        else if (a == L"--clear")
            o.clear = true;
        else if (a == L"--set-clock")
            o.set_clock = true;
        else if (a == L"--yes")
            o.yes = true;
        else if (a == L"--quiet")
            o.quiet = true;
        else if (a.rfind(L"--", 0) == 0 || o.command != L"params" || !o.text.empty())
            usage_error(L"'" + a + L"' is not an option of " + o.command);
        else
            o.text = a;
    }
    if (o.append && (o.output.empty() || o.write.format != Format::csv))
        usage_error(L"--append adds CSV rows to a file: it needs --format csv and --output FILE");
    if (!o.clock.empty() && o.set_clock)
        usage_error(L"--clock and --set-clock both set the clock: give one");
    return o;
}

// Asks on the console; without one nobody can be asked, and the answer is no.
bool confirmed(const std::wstring& question)
{
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    if (!is_console(in))
        return false;
    write(STD_ERROR_HANDLE, utf8(question + L" [y/N] "));
    wchar_t answer[16] = {};
    DWORD got = 0;
    if (!ReadConsoleW(in, answer, 15, &got, nullptr))
        return false;
    return got > 0 && (answer[0] == L'y' || answer[0] == L'Y');
}

Target target_of(const Options& o)
{
    return Target{o.output, o.write, o.append};
}

int run_download(const Options& o, const Progress& progress)
{
    if (o.set_clock && !o.clear)
        usage_error(L"--set-clock goes with --clear");
    Component component;
    const std::optional<int> port = port_to_try(o.port);
    if (o.clear) {
        if (o.output.empty())
            usage_error(L"--clear clears the scanner only after its barcodes are saved: give --output FILE");
        const Download saved = save_and_clear(component, port, target_of(o), o.set_clock, progress);
        progress(L"done: " + std::to_wstring(saved.entries.size()) + L" barcodes saved in " + o.output +
                 L", the scanner is empty");
        return 0;
    }
    Download d = find_scanner(component, port, progress);
    const bool complete = d.complete();
    std::erase_if(d.entries, [](const Entry& e) { return !e.code_type; });
    if (o.output.empty()) {
        std::string text = render(d, o.write);
        if (o.write.format == Format::upload && is_console(GetStdHandle(STD_OUTPUT_HANDLE)))
            text += "\r\n";
        write(STD_OUTPUT_HANDLE, text);
    } else {
        save(d, target_of(o));
        progress(L"saved " + std::to_wstring(d.entries.size()) + L" barcodes to " + o.output);
    }
    if (!complete)
        throw ToolError{Outcome::changed, L"the scanner did not deliver every barcode it announced; what it "
                                          L"delivered is written, run again"};
    return 0;
}

int run_clear(const Options& o, const Progress& progress)
{
    std::wstring clock;
    if (!o.clock.empty()) {
        if (!read_clock_text(o.clock))
            usage_error(L"--clock takes twelve digits SSMMHHDDMMYY of a real time, not '" + o.clock + L"'");
        clock = o.clock;
    }
    Component component;
    const Download d = find_scanner(component, port_to_try(o.port), progress);
    if (!o.yes && !d.entries.empty()) {
        const std::wstring question = L"Erase the " + std::to_wstring(d.entries.size()) +
                                      L" barcodes on the scanner on port " + std::to_wstring(d.port) +
                                      L" without saving them?";
        if (!is_console(GetStdHandle(STD_INPUT_HANDLE)))
            usage_error(L"clear erases the scanner's barcodes; with nobody at a console to ask, give --yes");
        if (!confirmed(question)) {
            progress(L"nothing cleared");
            return 0;
        }
    }
    if (o.set_clock)
        clock = clock_text(local_now());
    clear_and_confirm(component, d, clock, progress);
    return 0;
}

int run_setclock(const Options& o, const Progress& progress)
{
    Component component;
    const Download d = find_scanner(component, port_to_try(o.port), progress);
    set_clock_and_check(component, d, progress);
    return 0;
}

int run_params(const Options& o, const Progress& progress)
{
    if (o.text.empty() == o.file.empty())
        usage_error(L"params takes the parameter list either as TEXT or with --file FILE");
    std::wstring text = o.text;
    if (!o.file.empty()) {
        const std::optional<std::string> bytes = read_file(o.file);
        if (!bytes)
            usage_error(L"no such file: " + o.file);
        text = from_utf8(*bytes);
    }
    const std::vector<Parameter> entries = check_parameter_list(text);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r'))
        text.pop_back();
    std::wstring plan = L"programming " + std::to_wstring(entries.size()) + L" parameters:";
    for (const Parameter& p : entries)
        plan += L" " + std::to_wstring(p.id) + L"=" + std::to_wstring(p.value);
    progress(plan);
    progress(L"programming clears the scanner first");

    Component component;
    Download d;
    if (o.yes) {
        d = find_scanner(component, port_to_try(o.port), progress);
    } else {
        if (o.output.empty()) {
            d = find_scanner(component, port_to_try(o.port), progress);
            if (!d.entries.empty())
                usage_error(L"the scanner holds " + std::to_wstring(d.entries.size()) +
                            L" barcodes: give --output FILE to save them first, or --yes to let them go");
        } else {
            d = save_and_clear(component, port_to_try(o.port), target_of(o), false, progress);
        }
    }
    progress(L"programming the scanner on port " + std::to_wstring(d.port) + L" ...");
    component.program(d.port, text);
    progress(L"done (the scanner does not report whether it accepted each setting)");
    return 0;
}

std::wstring registered_server(HKEY root)
{
    wchar_t clsid[40];
    StringFromGUID2(CLSID_Clicker, clsid, 40);
    const std::wstring key = std::wstring(L"Software\\Classes\\CLSID\\") + clsid + L"\\InprocServer32";
    wchar_t path[MAX_PATH * 2] = {};
    DWORD size = sizeof path;
    if (RegGetValueW(root, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path, &size) != ERROR_SUCCESS)
        return L"";
    return path;
}

// The version resource of a module the process has loaded: its fixed part follows the
// signature 0xFEEF04BD.
std::wstring file_version(const wchar_t* module_name)
{
    const HMODULE module = GetModuleHandleW(module_name);
    const HRSRC found = module ? FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16)) : nullptr;
    const HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const auto* bytes = static_cast<const unsigned char*>(loaded ? LockResource(loaded) : nullptr);
    const DWORD size = found ? SizeofResource(module, found) : 0;
    for (DWORD at = 0; bytes && at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
        VS_FIXEDFILEINFO info;
        std::memcpy(&info, bytes + at, sizeof info);
        if (info.dwSignature == 0xFEEF04BD)
            return std::to_wstring(HIWORD(info.dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(info.dwFileVersionMS)) +
                   L"." + std::to_wstring(HIWORD(info.dwFileVersionLS)) + L"." +
                   std::to_wstring(LOWORD(info.dwFileVersionLS));
    }
    return L"unknown";
}

int run_info(const Options& o, const Progress& progress)
{
    auto line = [](const wchar_t* label, const std::wstring& text) {
        wchar_t padded[16];
        std::swprintf(padded, 16, L"%-12ls", label);
        write(STD_OUTPUT_HANDLE, utf8(padded + text) + "\r\n");
    };
    const std::wstring machine = registered_server(HKEY_LOCAL_MACHINE), user = registered_server(HKEY_CURRENT_USER);
    line(L"registered", (machine.empty() ? L"not per machine" : L"per machine: " + machine) + L"; " +
                            (user.empty() ? L"not per user" : L"per user: " + user));
    line(L"manifest", ManifestScope::available() ? L"QMXClicker.dll beside this program is used without registration"
                                                 : L"no QMXClicker.dll beside this program");
    Component component;
    line(L"component", L"QMXClicker.Clicker, hello \"" + component.hello() + L"\"");
    const std::wstring server = loaded_module_path(L"QMXClicker.dll");
    if (server.empty()) {
        line(L"loaded from", L"another process (the system surrogate)");
    } else {
        line(L"loaded from", server);
        line(L"version", file_version(L"QMXClicker.dll"));
    }
    int status = 0;
    std::wstring scanner;
    try {
        const Download d = find_scanner(component, port_to_try(o.port), progress);
        scanner = L"answers on port " + std::to_wstring(d.port) + L": " + d.identity + L", " +
                  std::to_wstring(d.entries.size()) + L" barcodes";
    } catch (const ToolError& e) {
        scanner = e.message;
        status = static_cast<int>(e.outcome);
    }
    const std::wstring csp2 = loaded_module_path(L"csp2.DLL");
    if (!csp2.empty()) {
        line(L"csp2.DLL", csp2);
    } else if (!server.empty()) {
        wchar_t system[MAX_PATH] = {};
        GetSystemDirectoryW(system, MAX_PATH);
        line(L"csp2.DLL", L"not loaded; looked for in " + folder_of(server) + L", then " +
                              folder_of(module_path(nullptr)) + L" and " + system);
    }
    line(L"scanner", scanner);
    return status;
}

int run(const std::vector<std::wstring>& args)
{
    if (!args.empty() && (args[0] == L"--help" || args[0] == L"-h" || args[0] == L"help")) {
        write(STD_OUTPUT_HANDLE, utf8(usage_text));
        return 0;
    }
    if (!args.empty() && args[0] == L"--version") {
        write(STD_OUTPUT_HANDLE, "qmxclicker " QMX_VERSION "\r\n");
        return 0;
    }
    const Options o = parse(args);
    const Progress progress = [&](const std::wstring& text) {
        if (!o.quiet)
            message(text);
    };
    if (o.command == L"download")
        return run_download(o, progress);
    if (o.command == L"clear")
        return run_clear(o, progress);
    if (o.command == L"setclock")
        return run_setclock(o, progress);
    if (o.command == L"params")
        return run_params(o, progress);
    if (o.command == L"info")
        return run_info(o, progress);
    usage_error(L"unknown command '" + o.command + L"'");
}

} // namespace
} // namespace qmx::tool

int wmain(int argc, wchar_t** argv)
{
    using namespace qmx::tool;
    const std::vector<std::wstring> args(argv + 1, argv + argc);
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int status = 0;
    try {
        status = run(args);
    } catch (const ToolError& e) {
        message(e.message);
        status = static_cast<int>(e.outcome);
    }
    if (SUCCEEDED(init))
        CoUninitialize();
    return status;
}

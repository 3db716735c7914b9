// qmxclicker.exe: the scanner from the command line. Data goes to standard output (or the
// file named), messages to standard error; the exit code says how the visit ended.
#include "lib/archive.h"
#include "lib/component.h"
#include "lib/output_file.h"
#include "lib/output_name.h"
#include "lib/parameters.h"
#include "lib/run_log.h"
#include "lib/schedule.h"
#include "lib/settings.h"
#include "lib/system.h"
#include "lib/text.h"
#include "lib/visit.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace qmx::tool {
namespace {

constexpr wchar_t usage_text[] =
    L"Usage:\n"
    L"  qmxclicker download [--port N] [--format F] [--separator C] [--exact] [--output FILE [--append]]\n"
    L"                      [--clear [--set-clock]]\n"
    L"  qmxclicker clear    [--port N] [--set-clock | --clock SSMMHHDDMMYY] [--yes]\n"
    L"  qmxclicker setclock [--port N]\n"
    L"  qmxclicker params   (TEXT | --file FILE) [--port N] [--yes | --output FILE [--format F]\n"
    L"                      [--separator C] [--append]]\n"
    L"  qmxclicker archive  [list | show ID [--format F] [--separator C] [--output FILE]]\n"
    L"  qmxclicker info     [--port N]\n"
    L"  qmxclicker log      [--count N]\n"
    L"  qmxclicker schedule (--daily HH:MM | --at-logon) [--name NAME] -- VISIT...\n"
    L"  qmxclicker schedule --list | --remove NAME\n"
    L"  qmxclicker [COMMAND] --help | --version\n"
    L"\n"
    L"  download   reads everything the scanner holds; with --clear it saves it to FILE,\n"
    L"             downloads again to compare, archives it, and only then clears the scanner\n"
    L"  clear      erases the scanner's barcodes without saving them to a file (asks first);\n"
    L"             they are kept in the archive\n"
    L"  setclock   sets the scanner's clock from the PC's\n"
    L"  params     programs parameters (a count of two digits, then per entry an id and\n"
    L"             a value of two digits each, e.g. 0210052201); this clears the scanner,\n"
    L"             so its barcodes are saved first unless --yes lets them go (to the archive)\n"
    L"  archive    lists the visits kept before each clear; show ID writes one out again\n"
    L"  info       the component, its registration, csp2.DLL and the scanner\n"
    L"  log        the last runs of the tools (time, command, scanner, files, exit, message)\n"
    L"  schedule   a Task Scheduler task of this user that runs VISIT with this program,\n"
    L"             e.g. schedule --daily 18:00 -- download --output C:\\Scans\\b-{date}.csv --clear\n"
    L"\n"
    L"  --port N       the port to try first (default: where a scanner last answered)\n"
    L"  --format F     table (default), csv, json, upload (alldata as it is), or xlsx (a\n"
    L"                 workbook, to a file); with --output, the extension (.csv .json .xlsx)\n"
    L"  --separator C  the CSV separator (default ','; ';' suits some spreadsheets)\n"
    L"  --exact        CSV with every byte as scanned; by default a field that a spreadsheet\n"
    L"                 would run as a formula (= + - @ first) gets a leading apostrophe\n"
    L"  --output FILE  write FILE instead of standard output; {date}, {time} and {scanner} in\n"
    L"                 its name become the visit's; missing folders are made; with --clear an\n"
    L"                 existing FILE is kept: --append adds CSV rows to it\n"
    L"  --quiet        print errors only\n"
    L"  --wait S       wait up to S seconds (default 60) for another visit using the scanner\n"
    L"                 or the output file\n"
    L"  --log FILE     the run log to append to (default %LOCALAPPDATA%\\QMXClicker\\qmxclicker.log)\n"
    L"\n"
    L"Exit codes: 0 done, 1 no scanner, 2 refused (usage; the scanner's memory untouched),\n"
    L"3 error from the component, 4 output or archive not written (nothing cleared),\n"
    L"5 contents changed or not reported (nothing cleared), 6 clear not confirmed,\n"
    L"7 another visit is using the scanner or the file (nothing done).\n";

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

// What this run did, for the run log: filled as the visit goes.
RunRecord record;

// The log is read elsewhere, later: a file by its full name.
std::wstring full_path(const std::wstring& path)
{
    wchar_t full[MAX_PATH * 4];
    const DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH * 4, full, nullptr);
    return n > 0 && n < MAX_PATH * 4 ? std::wstring(full, n) : path;
}

void record_download(const Download& d)
{
    record.scanner = d.identity;
    record.port = d.port;
    record.barcodes = static_cast<int>(d.entries.size());
}

// A download on standard output: on a console, no control character of a barcode reaches
// the terminal raw (it could retitle or clear it); to a file or pipe, the format's bytes.
void print(const Download& d, WriteOptions options)
{
    const bool console = is_console(GetStdHandle(STD_OUTPUT_HANDLE));
    options.visible = shows_visibly(options.format, console);
    std::string text = render(d, options);
    if (options.format == Format::upload && console)
        text += "\r\n";
    write(STD_OUTPUT_HANDLE, text);
}

// Each command names the options it takes; any other is refused, never ignored.
enum Option : unsigned {
    opt_port = 1u << 0,
    opt_format = 1u << 1,
    opt_separator = 1u << 2,
    opt_output = 1u << 3,
    opt_append = 1u << 4,
    opt_clear = 1u << 5,
    opt_set_clock = 1u << 6,
    opt_clock = 1u << 7,
    opt_yes = 1u << 8,
    opt_file = 1u << 9,
    opt_exact = 1u << 10,
    opt_daily = 1u << 11,
    opt_at_logon = 1u << 12,
    opt_list = 1u << 13,
    opt_remove = 1u << 14,
    opt_name = 1u << 15,
    opt_count = 1u << 16,
};

struct OptionName {
    const wchar_t* name;
    Option option;
    bool takes_value;
};

constexpr OptionName option_names[] = {
    {L"--port", opt_port, true},        {L"--format", opt_format, true}, {L"--separator", opt_separator, true},
    {L"--output", opt_output, true},    {L"--append", opt_append, false}, {L"--clear", opt_clear, false},
    {L"--set-clock", opt_set_clock, false}, {L"--clock", opt_clock, true}, {L"--yes", opt_yes, false},
    {L"--file", opt_file, true},     {L"--exact", opt_exact, false},
    {L"--daily", opt_daily, true},   {L"--at-logon", opt_at_logon, false}, {L"--list", opt_list, false},
    {L"--remove", opt_remove, true}, {L"--name", opt_name, true},         {L"--count", opt_count, true},
};

struct Options {
    std::wstring command;
    std::vector<std::wstring> words; // what follows the command that is no option
    unsigned given = 0;
    std::optional<int> port;
    WriteOptions write;
    std::wstring output, file, clock, daily, remove, name, log;
    std::vector<std::wstring> visit; // schedule: the command line after --
    int count = 20;
    bool quiet = false, help = false, version = false;
    unsigned wait = default_wait_seconds;
    bool has(Option o) const { return (given & o) != 0; }
};

struct Command {
    const wchar_t* name;
    unsigned options;
    std::size_t words; // how many plain words at most (params' TEXT, archive's list/show ID)
    int (*run)(const Options&, const Progress&);
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

std::wstring option_list(unsigned options)
{
    std::wstring list;
    for (const OptionName& o : option_names)
        if (options & o.option)
            list += (list.empty() ? L"" : L", ") + std::wstring(o.name);
    return list.empty() ? L"none" : list;
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

Target target_of(const Options& o, bool clearing)
{
    return Target{o.output, o.write, o.has(opt_append), clearing, o.wait};
}

std::wstring barcodes(std::size_t n)
{
    return std::to_wstring(n) + (n == 1 ? L" barcode" : L" barcodes");
}

int run_download(const Options& o, const Progress& progress)
{
    if (o.has(opt_set_clock) && !o.has(opt_clear))
        usage_error(L"--set-clock goes with --clear");
    if (o.has(opt_clear) && o.output.empty())
        usage_error(L"--clear clears the scanner only after its barcodes are saved: give --output FILE");
    ScannerLock lock(o.wait, progress);
    Component component;
    const std::optional<int> port = port_to_try(o.port);
    if (o.has(opt_clear)) {
        const Clearing how{L"download --clear", o.has(opt_set_clock) ? clock_text(local_now()) : std::wstring(), {}};
        const Saved saved = save_and_clear(component, port, target_of(o, true), how, progress);
        record_download(saved.download);
        record.output = full_path(saved.path);
        record.archive = saved.archive;
        progress(L"done: " + barcodes(saved.download.entries.size()) + L" saved in " + saved.path +
                 L", the scanner is empty");
        return 0;
    }
    Download d = find_scanner(component, port, progress);
    record_download(d);
    if (!d.contents_reported())
        require_contents(d);
    const bool complete = d.complete();
    std::erase_if(d.entries, [](const Entry& e) { return !e.code_type; });
    if (o.output.empty()) {
        print(d, o.write);
    } else {
        const std::wstring path = save(d, target_of(o, false));
        record.output = full_path(path);
        progress(L"saved " + barcodes(d.entries.size()) + L" to " + path);
    }
    if (!complete)
        throw ToolError{Outcome::changed, L"the scanner did not deliver every barcode it announced; what it "
                                          L"delivered is written, run again"};
    return 0;
}

// The barcodes a clear would erase, asked about on a console (never on a reading that
// does not say what the scanner holds: require_contents refuses that first).
bool agreed_to_erase(const Download& d, const wchar_t* what)
{
    if (d.entries.empty())
        return true;
    if (!is_console(GetStdHandle(STD_INPUT_HANDLE)))
        usage_error(std::wstring(what) + L" erases the scanner's " + barcodes(d.entries.size()) +
                    L"; with nobody at a console to ask, give --yes");
    const std::wstring question = L"Erase the " + barcodes(d.entries.size()) + L" on the scanner on port " +
                                  std::to_wstring(d.port) + L" (they are kept in the archive only)?";
    return confirmed(question);
}

int run_clear(const Options& o, const Progress& progress)
{
    std::wstring clock;
    if (o.has(opt_clock)) {
        if (o.has(opt_set_clock))
            usage_error(L"--clock and --set-clock both set the clock: give one");
        if (!read_clock_text(o.clock))
            usage_error(L"--clock takes twelve digits SSMMHHDDMMYY of a real time, not '" + o.clock + L"'");
        clock = o.clock;
    }
    ScannerLock lock(o.wait, progress);
    Component component;
    const Download d = find_scanner(component, port_to_try(o.port), progress);
    record_download(d);
    require_contents(d);
    if (!o.has(opt_yes) && !agreed_to_erase(d, L"clear")) {
        progress(L"nothing cleared");
        return 0;
    }
    if (o.has(opt_set_clock))
        clock = clock_text(local_now());
    record.archive = archive_and_clear(component, d, Clearing{L"clear", clock, {}}, L"", progress);
    return 0;
}

int run_setclock(const Options& o, const Progress& progress)
{
    ScannerLock lock(o.wait, progress);
    Component component;
    const Download d = find_scanner(component, port_to_try(o.port), progress);
    record_download(d);
    set_clock_and_check(component, d, progress);
    return 0;
}

int run_params(const Options& o, const Progress& progress)
{
    const std::wstring given = o.words.empty() ? L"" : o.words[0];
    if (given.empty() == o.file.empty())
        usage_error(L"params takes the parameter list either as TEXT or with --file FILE");
    if (o.has(opt_yes) && !o.output.empty())
        usage_error(L"--yes lets the barcodes go and --output saves them: give one");
    std::wstring text = given;
    if (!o.file.empty()) {
        const std::optional<std::string> bytes = read_file(o.file);
        if (!bytes)
            usage_error(L"no such file: " + o.file);
        text = decode_text_file(*bytes, o.file);
    }
    const std::vector<Parameter> entries = check_parameter_list(text);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r'))
        text.pop_back();
    std::wstring plan = L"programming " + std::to_wstring(entries.size()) + L" parameters:";
    for (const Parameter& p : entries)
        plan += L" " + std::to_wstring(p.id) + L"=" + std::to_wstring(p.value);
    progress(plan);
    progress(L"programming clears the scanner first");

    ScannerLock lock(o.wait, progress);
    Component component;
    const Clearing how{L"params", L"", text};
    if (!o.output.empty()) {
        const Saved saved = save_and_clear(component, port_to_try(o.port), target_of(o, true), how, progress);
        record_download(saved.download);
        record.output = full_path(saved.path);
        record.archive = saved.archive;
    } else {
        const Download d = find_scanner(component, port_to_try(o.port), progress);
        record_download(d);
        require_contents(d);
        if (!o.has(opt_yes) && !d.entries.empty())
            usage_error(L"the scanner holds " + barcodes(d.entries.size()) +
                        L": give --output FILE to save them first, or --yes to let them go (to the archive)");
        record.archive = archive_and_clear(component, d, how, L"", progress);
    }
    progress(L"done (the scanner does not report whether it accepted each setting)");
    return 0;
}

int run_archive(const Options& o, const Progress& progress)
{
    const std::wstring verb = o.words.empty() ? L"list" : o.words[0];
    if (verb == L"list") {
        if (o.words.size() > 1 || o.given != 0)
            usage_error(L"archive list takes no more words or options");
        const std::vector<ArchivedVisit> visits = archived_visits();
        std::string out = "id                                       downloaded at        scanner           "
                          "count  command           output\r\n";
        for (const ArchivedVisit& v : visits) {
            char line[160];
            std::snprintf(line, sizeof line, "%-40s %-19s  %-16s  %5zu  %-16s  ", utf8(v.id).c_str(),
                          utf8(iso_time(v.download.downloaded_at, L' ')).c_str(), utf8(v.download.identity).c_str(),
                          v.download.entries.size(), utf8(v.command).c_str());
            out += line + utf8(v.output.empty() ? L"-" : v.output) + "\r\n";
        }
        write(STD_OUTPUT_HANDLE, out);
        progress(std::to_wstring(visits.size()) + L" visits in " + archive_folder());
        return 0;
    }
    if (verb != L"show" || o.words.size() != 2)
        usage_error(L"archive takes 'list' or 'show ID'");
    const ArchivedVisit v = archived_visit(o.words[1]);
    if (o.output.empty()) {
        print(v.download, o.write);
        return 0;
    }
    const std::wstring path = save(v.download, target_of(o, false));
    progress(L"wrote " + barcodes(v.download.entries.size()) + L" of visit " + v.id + L" to " + path);
    return 0;
}

int run_info(const Options& o, const Progress& progress);

std::wstring run_log_of(const Options& o)
{
    return o.log.empty() ? default_run_log() : o.log;
}

int run_log(const Options& o, const Progress& progress)
{
    const std::wstring path = run_log_of(o);
    std::string out;
    for (const RunRecord& r : last_runs(path, static_cast<std::size_t>(o.count)))
        out += utf8(iso_time(r.time, L' ') + L"  exit " + std::to_wstring(r.exit_code) + L"  " + r.command_line +
                    (r.scanner.empty() ? L"" : L"\r\n    scanner " + r.scanner + L" on port " + std::to_wstring(r.port)) +
                    (r.barcodes ? L", " + barcodes(static_cast<std::size_t>(*r.barcodes)) : L"") +
                    (r.output.empty() ? L"" : L"\r\n    output  " + r.output) +
                    (r.archive.empty() ? L"" : L"\r\n    archive " + r.archive) +
                    (r.message.empty() ? L"" : L"\r\n    " + visible(r.message))) +
               "\r\n";
    write(STD_OUTPUT_HANDLE, out);
    progress(L"the log is " + path);
    return 0;
}

const Command* command_named(const std::wstring& name);
Options parse(const std::vector<std::wstring>& args, const Command*& command);

int run_schedule(const Options& o, const Progress& progress)
{
    const int actions = o.has(opt_daily) + o.has(opt_at_logon) + o.has(opt_list) + o.has(opt_remove);
    if (actions != 1)
        usage_error(L"schedule takes one of --daily HH:MM, --at-logon, --list and --remove NAME");
    const std::unique_ptr<TaskService> service = system_task_service();
    if (o.has(opt_list)) {
        if (!o.visit.empty() || o.has(opt_name))
            usage_error(L"schedule --list takes nothing more");
        std::string out;
        for (const ScheduledTask& t : service->list())
            out += utf8(t.name + L"\r\n    " + (t.trigger.empty() ? L"(no trigger stored)" : t.trigger) +
                        (t.enabled ? L"" : L", disabled") + (t.next_run.empty() ? L"" : L", next " + t.next_run) +
                        L"\r\n    " + t.program + L" " + t.arguments) +
                   "\r\n";
        write(STD_OUTPUT_HANDLE, out);
        return 0;
    }
    if (o.has(opt_remove)) {
        if (!o.visit.empty())
            usage_error(L"schedule --remove takes no command line");
        const std::wstring name = o.remove.rfind(task_prefix, 0) == 0 ? o.remove : task_prefix + o.remove;
        service->remove(name);
        progress(L"removed the task " + name);
        return 0;
    }
    // The visit's command line, checked by the rules it will run by, before a task exists.
    if (o.visit.empty())
        usage_error(L"schedule needs the visit after --, e.g. schedule --daily 18:00 -- download --output "
                    L"C:\\Scans\\barcodes-{date}.csv --clear");
    const Command* visit_command = nullptr;
    const Options visit = parse(o.visit, visit_command);
    if (!visit_command || visit.help || visit.version)
        usage_error(L"schedule runs a visit: download, clear, setclock or params");
    const std::wstring what = visit_command->name;
    if (what == L"schedule" || what == L"log" || what == L"archive" || what == L"info")
        usage_error(L"schedule runs a visit: download, clear, setclock or params, not " + what);
    if ((what == L"clear" && !visit.has(opt_yes)) ||
        (what == L"params" && !visit.has(opt_yes) && visit.output.empty()))
        usage_error(L"a scheduled " + what + L" has nobody to ask: give --yes" +
                    (what == L"params" ? L" or --output FILE" : L""));
    if (!visit.output.empty() && !(visit.output.size() > 2 && (visit.output[1] == L':' || visit.output.rfind(L"\\\\", 0) == 0)))
        usage_error(L"a scheduled visit's --output needs a full path (it starts in the tool's folder): " + visit.output);
    int hour = 0, minute = 0;
    if (o.has(opt_daily)) {
        const auto time = read_time_of_day(o.daily);
        if (!time)
            usage_error(L"--daily takes a time of day HH:MM, not '" + o.daily + L"'");
        hour = time->first;
        minute = time->second;
    }
    const TaskDefinition task =
        make_task(o.visit, o.has(opt_daily) ? TaskTrigger::daily : TaskTrigger::logon, hour, minute, o.name);
    service->create(task);
    if (!service->find(task.name))
        throw ToolError{Outcome::component, L"the Task Scheduler took the task " + task.name + L" but does not find it"};
    progress(L"scheduled \"" + task.name + L"\": " + task.program + L" " + task.arguments +
             (o.has(opt_daily) ? L", daily at " + o.daily : L", at logon of " + task.user));
    return 0;
}

constexpr Command commands[] = {
    {L"download", opt_port | opt_format | opt_separator | opt_exact | opt_output | opt_append | opt_clear | opt_set_clock, 0,
     run_download},
    {L"clear", opt_port | opt_set_clock | opt_clock | opt_yes, 0, run_clear},
    {L"setclock", opt_port, 0, run_setclock},
    {L"params", opt_port | opt_yes | opt_file | opt_output | opt_format | opt_separator | opt_exact | opt_append, 1,
     run_params},
    {L"archive", opt_format | opt_separator | opt_exact | opt_output, 2, run_archive},
    {L"info", opt_port, 0, run_info},
    {L"log", opt_count, 0, run_log},
    {L"schedule", opt_daily | opt_at_logon | opt_list | opt_remove | opt_name, 0, run_schedule},
};

const Command* command_named(const std::wstring& name)
{
    for (const Command& c : commands)
        if (name == c.name)
            return &c;
    return nullptr;
}

// Options may stand anywhere; --quiet, --help, --version and --wait go with every command.
Options parse(const std::vector<std::wstring>& args, const Command*& command)
{
    Options o;
    command = nullptr;
    std::vector<std::pair<const OptionName*, std::wstring>> given;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::wstring& a = args[i];
        auto value = [&]() -> const std::wstring& {
            if (i + 1 >= args.size())
                usage_error(a + L" needs a value");
            return args[++i];
        };
        if (a == L"--quiet")
            o.quiet = true;
        else if (a == L"--help" || a == L"-h")
            o.help = true;
        else if (a == L"--version")
            o.version = true;
        else if (a == L"--wait")
            o.wait = static_cast<unsigned>(number(value(), L"--wait", 0, 86400));
        else if (a == L"--log")
            o.log = value();
        else if (a.rfind(L"--", 0) == 0) {
            const OptionName* known = nullptr;
            for (const OptionName& n : option_names)
                if (a == n.name)
                    known = &n;
            if (!known)
                usage_error(L"there is no option " + a);
            given.emplace_back(known, known->takes_value ? value() : std::wstring());
        } else if (o.command.empty()) {
            o.command = a == L"help" ? (o.help = true, L"") : a;
        } else {
            o.words.push_back(a);
        }
    }
    if (o.help || o.version)
        return o;
    if (o.command.empty())
        usage_error(L"no command given");
    command = command_named(o.command);
    if (!command)
        usage_error(L"unknown command '" + o.command + L"'");
    if (o.words.size() > command->words)
        usage_error(L"'" + o.words[command->words] + L"' is not an option of " + o.command);
    for (const auto& [name, text] : given) {
        if (!(command->options & name->option))
            usage_error(o.command + L" does not take " + name->name + L"; its options are " +
                        option_list(command->options) + L", and --quiet, --wait, --log");
        if (o.has(name->option))
            usage_error(std::wstring(name->name) + L" is given twice");
        o.given |= name->option;
        switch (name->option) {
        case opt_port: o.port = number(text, L"--port", 0, 32767); break;
        case opt_format: {
            const auto f = format_named(text);
            if (!f)
                usage_error(L"--format is table, csv, json, upload or xlsx, not '" + text + L"'");
            o.write.format = *f;
            break;
        }
        case opt_separator:
            if (text == L"tab")
                o.write.separator = '\t';
            else if (text.size() == 1 && std::wstring(L",;|").find(text[0]) != std::wstring::npos)
                o.write.separator = static_cast<char>(text[0]);
            else
                usage_error(L"--separator is one of , ; | or tab, not '" + text + L"'");
            break;
        case opt_output: o.output = text; break;
        case opt_exact: o.write.exact = true; break;
        case opt_daily: o.daily = text; break;
        case opt_remove: o.remove = text; break;
        case opt_name: o.name = text; break;
        case opt_count: o.count = number(text, L"--count", 1, 10000); break;
        case opt_file: o.file = text; break;
        case opt_clock: o.clock = text; break;
        default: break;
        }
    }
    if (!o.output.empty()) {
        check_output_name(o.output);
        if (!o.has(opt_format)) {
            const std::optional<Format> f = format_of_name(o.output);
            if (!f)
                usage_error(L"the format of " + o.output +
                            L" is not known from its extension (.csv, .json, .xlsx): name it with --format");
            o.write.format = *f;
        }
    }
    if ((o.has(opt_separator) || o.has(opt_exact)) && o.write.format != Format::csv)
        usage_error(L"--separator and --exact are for CSV");
    if (o.write.format == Format::xlsx && o.output.empty())
        usage_error(L"a workbook is a file: give --output FILE.xlsx");
    if (o.has(opt_append) && (o.output.empty() || o.write.format != Format::csv))
        usage_error(L"--append adds CSV rows to a file: it needs --output FILE in CSV (a workbook or JSON file is "
                    L"written whole: use a file per visit, e.g. with {date} in its name)");
    return o;
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
    ScannerLock lock(o.wait, progress);
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

int run(const std::vector<std::wstring>& all, std::wstring& log)
{
    // schedule's visit follows "--", and is parsed by its own command's rules.
    const auto split = std::find(all.begin(), all.end(), L"--");
    const std::vector<std::wstring> args(all.begin(), split);
    const Command* command = nullptr;
    Options o = parse(args, command);
    if (split != all.end()) {
        if (!command || std::wstring(command->name) != L"schedule")
            usage_error(L"-- goes only before the visit that schedule runs");
        o.visit.assign(split + 1, all.end());
    }
    if (o.version) {
        write(STD_OUTPUT_HANDLE, "qmxclicker " QMX_VERSION "\r\n");
        return 0;
    }
    if (o.help) {
        write(STD_OUTPUT_HANDLE, utf8(usage_text));
        return 0;
    }
    if (std::wstring(command->name) != L"log")
        log = run_log_of(o);
    const Progress progress = [&](const std::wstring& text) {
        record.message = text;
        if (!o.quiet)
            message(text);
    };
    return command->run(o, progress);
}

} // namespace
} // namespace qmx::tool

int wmain(int argc, wchar_t** argv)
{
    using namespace qmx::tool;
    const std::vector<std::wstring> args(argv + 1, argv + argc);
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int status = 0;
    std::wstring log;
    record.time = local_now();
    record.command_line = join_arguments(args);
    try {
        status = run(args, log);
    } catch (const ToolError& e) {
        message(e.message);
        status = static_cast<int>(e.outcome);
        record.message = e.message;
        if (record.output.empty() && !e.saved_to.empty())
            record.output = full_path(e.saved_to);
    }
    record.exit_code = status;
    // The log records the run; it never changes its outcome.
    if (!log.empty()) {
        const std::wstring why = append_run(log, record);
        if (!why.empty())
            message(L"the run log " + log + L" was not written: " + why);
    }
    if (SUCCEEDED(init))
        CoUninitialize();
    return status;
}

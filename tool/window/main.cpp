// qmxclickerw.exe: the scanner in a window, for the people who download, save and clear it.
// Every conversation with the scanner runs on a worker thread of its own, in its own
// apartment with its own component, so the window keeps answering during the settle
// waits; the worker reports progress and its result by posted messages.
#include "lib/archive.h"
#include "lib/component.h"
#include "lib/output_file.h"
#include "lib/output_name.h"
#include "lib/parameters.h"
#include "lib/run_log.h"
#include "lib/settings.h"
#include "lib/system.h"
#include "lib/text.h"
#include "lib/visit.h"
#include "window/resource.h"

#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qmx::tool {
namespace {

constexpr UINT progress_message = WM_APP + 1; // lParam: std::wstring*, the window deletes it
constexpr UINT done_message = WM_APP + 2;     // lParam: Result*, the window deletes it
constexpr UINT dpi_changed_message = 0x02E0;  // WM_DPICHANGED, newer than the headers' target
constexpr wchar_t window_class[] = L"QMXClickerScanner";
constexpr int scanner_commands[] = {IDC_DOWNLOAD, IDC_SAVE_CLEAR, IDC_SET_CLOCK, IDC_PARAMETERS};
// Saves on the window's own thread wait only briefly for another writer of the file, so
// the window keeps answering.
constexpr unsigned window_wait_seconds = 5;

std::wstring load(UINT id)
{
    const wchar_t* text = nullptr;
    const int n = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<wchar_t*>(&text), 0);
    return n > 0 ? std::wstring(text, static_cast<std::size_t>(n)) : std::wstring();
}

// The string with %1, %2 ... replaced by the arguments.
std::wstring say(UINT id, const std::vector<std::wstring>& args)
{
    const std::wstring pattern = load(id);
    std::wstring out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const wchar_t c = pattern[i];
        if (c == L'%' && i + 1 < pattern.size() && pattern[i + 1] >= L'1' && pattern[i + 1] <= L'9') {
            const std::size_t k = static_cast<std::size_t>(pattern[++i] - L'1');
            if (k < args.size())
                out += args[k];
        } else {
            out += c;
        }
    }
    return out;
}

std::wstring number(std::size_t n)
{
    return std::to_wstring(n);
}

// A library text ("downloading from port 3 ...") as a sentence of the window.
std::wstring sentence(std::wstring text)
{
    if (!text.empty())
        text[0] = static_cast<wchar_t>(towupper(text[0]));
    return text;
}

enum class Kind { download, save_and_clear, set_clock, program };

struct Job {
    explicit Job(Kind k) : kind(k) {}
    Kind kind;
    HWND window = nullptr;
    std::optional<int> port;
    Target target;
    std::optional<Download> shown; // what the person agreed to clear
    bool save_first = false;       // program: save and clear before
    std::wstring parameters;
};

struct Result {
    Kind kind = Kind::download;
    Target target;
    bool save_first = false;
    std::wstring parameters;
    std::optional<Download> download; // what the scanner holds now
    // Program without saving found barcodes: the person decides, knowing how many.
    bool ask = false;
    std::wstring saved_to; // set once the file is safe, so a later failure can say so
    std::size_t saved = 0;
    std::size_t programmed = 0;
    std::optional<ToolError> error;
};

void run_job(Job& job, Result& result, const Progress& progress)
{
    ScannerLock lock(default_wait_seconds);
    Component component;
    switch (job.kind) {
    case Kind::download:
        result.download = find_scanner(component, job.port, progress);
        break;
    case Kind::save_and_clear:
    case Kind::program: {
        const Clearing how = job.kind == Kind::program
                                 ? Clearing{L"window: program parameters", L"", job.parameters}
                                 : Clearing{L"window: save and clear", L"", {}};
        Download d;
        if (job.kind == Kind::save_and_clear || job.save_first) {
            const Saved saved =
                save_and_clear(component, job.port, job.target, how, progress, job.shown ? &*job.shown : nullptr);
            d = saved.download;
            result.saved_to = saved.path;
            result.saved = d.entries.size();
        } else if (job.shown) {
            // The person agreed to erase exactly this: archive_and_clear downloads again and
            // refuses anything else.
            d = *job.shown;
            archive_and_clear(component, d, how, L"", progress);
        } else {
            d = find_scanner(component, job.port, progress);
            require_contents(d);
            if (!d.entries.empty()) {
                result.ask = true;
                result.download = std::move(d);
                return;
            }
            archive_and_clear(component, d, how, L"", progress);
        }
        d.entries.clear();
        result.download = d;
        if (job.kind == Kind::program)
            result.programmed = check_parameter_list(job.parameters).size();
        break;
    }
    case Kind::set_clock:
        result.download = set_clock_and_check(component, find_scanner(component, job.port, progress), progress);
        break;
    }
}

DWORD WINAPI worker(void* parameter)
{
    std::unique_ptr<Job> job(static_cast<Job*>(parameter));
    auto result = std::make_unique<Result>();
    result->kind = job->kind;
    result->target = job->target;
    result->save_first = job->save_first;
    result->parameters = job->parameters;
    const HWND window = job->window;
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        ManifestScope manifest;
        const Progress progress = [window](const std::wstring& text) {
            PostMessageW(window, progress_message, 0, reinterpret_cast<LPARAM>(new std::wstring(text)));
        };
        try {
            run_job(*job, *result, progress);
        } catch (const ToolError& e) {
            result->error = e;
            if (!e.saved_to.empty())
                result->saved_to = e.saved_to;
        } catch (const std::exception& e) {
            result->error = ToolError{Outcome::component, from_utf8(e.what())};
        }
    }
    if (SUCCEEDED(init))
        CoUninitialize();
    PostMessageW(window, done_message, 0, reinterpret_cast<LPARAM>(result.release()));
    return 0;
}

// A component error in the words of the person at the scanner, with its number.
std::wstring plain(const ToolError& e)
{
    // 53 also stands for a csp2.DLL that was found but does not load: its description says why.
    if (e.outcome == Outcome::component && e.number == 53 && e.message.starts_with(L"error 53: File not found: csp2.DLL"))
        return load(IDS_ERROR_53);
    if (e.outcome == Outcome::component && e.number == 453)
        return load(IDS_ERROR_453);
    if (e.outcome == Outcome::component && e.number != 0) {
        const auto colon = e.message.find(L": ");
        return say(IDS_ERROR_COMPONENT, {colon == std::wstring::npos ? e.message : e.message.substr(colon + 2),
                                         std::to_wstring(e.number)});
    }
    return sentence(e.message) + L".";
}

// Any failure outside a job's own account of it: another visit in the way, or plain words.
std::wstring failure_words(const ToolError& e)
{
    return e.outcome == Outcome::busy ? load(IDS_BUSY) : plain(e);
}

struct App {
    HINSTANCE instance = nullptr;
    HWND window = nullptr, state = nullptr, list = nullptr, status = nullptr;
    HWND buttons[5] = {};
    HFONT font = nullptr;
    int dpi = 96;
    std::optional<Download> shown;
    std::vector<std::size_t> order; // rows of the list: indexes into shown->entries
    int sort_column = 0;
    bool sort_descending = false;
    bool busy = false, close_pending = false, clear_after_download = false;
};
App app;

int scaled(int pixels)
{
    return MulDiv(pixels, app.dpi, 96);
}

void set_state(const std::wstring& text)
{
    SetWindowTextW(app.state, text.c_str());
}

void show_error(const std::wstring& text)
{
    set_state(text);
    MessageBoxW(app.window, text.c_str(), load(IDS_TITLE).c_str(), MB_OK | MB_ICONERROR);
}

void set_status(const std::vector<std::wstring>& parts)
{
    for (int k = 0; k < 4; ++k)
        SendMessageW(app.status, SB_SETTEXTW, static_cast<WPARAM>(k),
                     reinterpret_cast<LPARAM>(k < static_cast<int>(parts.size()) ? parts[static_cast<std::size_t>(k)].c_str() : L""));
}

void layout()
{
    RECT client;
    GetClientRect(app.window, &client);
    SendMessageW(app.status, WM_SIZE, 0, 0);
    RECT bar;
    GetWindowRect(app.status, &bar);
    const int bar_height = bar.bottom - bar.top;
    const int margin = scaled(8), height = scaled(26), gap = scaled(6);
    const int widths[5] = {scaled(100), scaled(90), scaled(120), scaled(90), scaled(160)};
    int x = margin;
    for (int k = 0; k < 5; ++k) {
        MoveWindow(app.buttons[k], x, margin, widths[k], height, TRUE);
        x += widths[k] + gap;
    }
    const int state_top = margin + height + gap;
    MoveWindow(app.state, margin, state_top, client.right - 2 * margin, scaled(34), TRUE);
    const int list_top = state_top + scaled(34) + gap;
    MoveWindow(app.list, margin, list_top, client.right - 2 * margin,
               std::max(0, static_cast<int>(client.bottom) - bar_height - list_top - margin), TRUE);
    const int ends[4] = {scaled(80), scaled(270), scaled(620), -1};
    SendMessageW(app.status, SB_SETPARTS, 4, reinterpret_cast<LPARAM>(ends));
    const int columns[4] = {70, 220, 90, 160};
    for (int k = 0; k < 4; ++k)
        ListView_SetColumnWidth(app.list, k, scaled(columns[k]));
}

void make_font()
{
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    const HDC screen = GetDC(nullptr);
    const int system_dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, app.dpi, system_dpi);
    const HFONT old = app.font;
    app.font = CreateFontIndirectW(&metrics.lfMessageFont);
    for (HWND child : {app.state, app.list, app.status})
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(app.font), TRUE);
    for (HWND button : app.buttons)
        SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(app.font), TRUE);
    if (old)
        DeleteObject(old);
}

bool entry_before(const Entry& a, const Entry& b)
{
    switch (app.sort_column) {
    case 1:
        return a.barcode < b.barcode;
    case 2:
        return a.code_type.value_or(-1) < b.code_type.value_or(-1);
    case 3:
        return a.scanned < b.scanned;
    default:
        return a.number < b.number;
    }
}

void fill_list()
{
    SendMessageW(app.list, WM_SETREDRAW, FALSE, 0);
    ListView_DeleteAllItems(app.list);
    app.order.clear();
    if (app.shown) {
        const std::vector<Entry>& entries = app.shown->entries;
        for (std::size_t k = 0; k < entries.size(); ++k)
            app.order.push_back(k);
        std::stable_sort(app.order.begin(), app.order.end(), [&](std::size_t a, std::size_t b) {
            return app.sort_descending ? entry_before(entries[b], entries[a]) : entry_before(entries[a], entries[b]);
        });
        int row = 0;
        for (std::size_t k : app.order) {
            const Entry& e = entries[k];
            std::wstring texts[4] = {std::to_wstring(e.number), visible(e.barcode),
                                     e.code_type ? std::to_wstring(*e.code_type) : load(IDS_NOT_DELIVERED),
                                     e.code_type ? iso_time(e.scanned, L' ') : std::wstring()};
            LVITEMW item{};
            item.mask = LVIF_TEXT;
            item.iItem = row;
            item.pszText = texts[0].data();
            ListView_InsertItem(app.list, &item);
            for (int c = 1; c < 4; ++c)
                ListView_SetItemText(app.list, row, c, texts[c].data());
            ++row;
        }
    }
    const HWND header = ListView_GetHeader(app.list);
    for (int c = 0; c < 4; ++c) {
        HDITEMW item{};
        item.mask = HDI_FORMAT;
        Header_GetItem(header, c, &item);
        item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
        if (c == app.sort_column)
            item.fmt |= app.sort_descending ? HDF_SORTDOWN : HDF_SORTUP;
        Header_SetItem(header, c, &item);
    }
    SendMessageW(app.list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(app.list, nullptr, TRUE);
}

// The list, the status bar and the state line for what the scanner holds now.
void show(const std::optional<Download>& d)
{
    app.shown = d && d->found ? d : std::nullopt;
    fill_list();
    if (!app.shown) {
        set_status({load(IDS_NO_SCANNER_STATUS)});
        return;
    }
    const std::optional<double> clock = scanner_clock(*d);
    set_status({say(IDS_PORT, {std::to_wstring(d->port)}), say(IDS_IDENTITY, {d->identity}),
                clock ? say(IDS_CLOCK, {iso_time(*clock, L' '), clock_difference(*clock, d->downloaded_at)})
                      : load(IDS_CLOCK_INVALID),
                say(IDS_COUNT, {number(d->entries.size())})});
}

void set_busy(bool busy)
{
    app.busy = busy;
    const HMENU menu = GetMenu(app.window);
    const HWND focus = GetFocus();
    for (int command : scanner_commands) {
        const HWND button = GetDlgItem(app.window, command);
        if (busy && focus == button)
            SetFocus(app.list);
        EnableWindow(button, !busy);
        EnableMenuItem(menu, static_cast<UINT>(command), MF_BYCOMMAND | (busy ? MF_GRAYED : MF_ENABLED));
    }
    if (busy)
        set_state(load(IDS_WORKING));
}

void start(Job job)
{
    job.window = app.window;
    job.port = port_to_try(std::nullopt);
    auto owned = std::make_unique<Job>(std::move(job));
    set_busy(true);
    const HANDLE thread = CreateThread(nullptr, 0, worker, owned.get(), 0, nullptr);
    if (!thread) {
        set_busy(false);
        show_error(sentence(system_message(GetLastError())) + L".");
        return;
    }
    owned.release();
    CloseHandle(thread);
}

// The Save dialog's file types, in its order: the workbook for people first.
constexpr Format save_types[] = {Format::xlsx, Format::csv, Format::json};

// The type last chosen (1-based, as the dialog counts), the workbook until one was.
DWORD save_type()
{
    const unsigned long type = read_setting(save_type_setting).value_or(1);
    return type >= 1 && type <= 3 ? type : 1;
}

// Documents\QMXClicker\barcodes YYYY-MM-DD HH-MM-SS.xlsx (the type last chosen). The folder
// is made here for the file dialog to open in, and again by save when it went missing since.
std::wstring default_file()
{
    std::wstring folder;
    wchar_t* documents = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, KF_FLAG_CREATE, nullptr, &documents)) && documents)
        folder = documents;
    CoTaskMemFree(documents);
    if (folder.empty())
        folder = folder_of(module_path(nullptr));
    folder += L"\\QMXClicker";
    try {
        create_folders(folder);
    } catch (const ToolError&) {
        // save reports it, naming the folder.
    }
    SYSTEMTIME t;
    GetLocalTime(&t);
    wchar_t name[64];
    swprintf(name, 64, L"\\barcodes %04u-%02u-%02u %02u-%02u-%02u.%ls", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
             t.wSecond, format_name(save_types[save_type() - 1]));
    return folder + name;
}

std::wstring filter(UINT id)
{
    std::wstring text = load(id);
    std::replace(text.begin(), text.end(), L'|', L'\0');
    return text;
}

// The common file dialog; the format follows the name's extension, else the type chosen,
// which is remembered.
std::optional<Target> choose_file(HWND owner, const std::wstring& suggested)
{
    std::vector<wchar_t> path(32768, L'\0');
    suggested.copy(path.data(), std::min(suggested.size(), path.size() - 1));
    const std::wstring filters = filter(IDS_SAVE_FILTER), title = load(IDS_SAVE_TITLE);
    const std::wstring folder = folder_of(default_file());
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filters.c_str();
    dialog.nFilterIndex = save_type();
    dialog.lpstrFile = path.data();
    dialog.lpstrInitialDir = folder.c_str();
    dialog.nMaxFile = static_cast<DWORD>(path.size());
    dialog.lpstrTitle = title.c_str();
    dialog.lpstrDefExt = format_name(save_types[save_type() - 1]);
    dialog.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
    if (!GetSaveFileNameW(&dialog))
        return std::nullopt;
    Target target;
    target.path = path.data();
    const DWORD chosen = dialog.nFilterIndex >= 1 && dialog.nFilterIndex <= 3 ? dialog.nFilterIndex : 1;
    target.options.format = format_of_name(target.path).value_or(save_types[chosen - 1]);
    for (DWORD k = 1; k <= 3; ++k)
        if (save_types[k - 1] == target.options.format)
            write_setting(save_type_setting, k);
    return target;
}

Target default_target()
{
    Target target;
    target.path = default_file();
    target.options.format = save_types[save_type() - 1];
    return target;
}

void save_shown()
{
    if (!app.shown) {
        set_state(load(IDS_NOTHING_TO_SAVE));
        return;
    }
    const std::optional<Target> target = choose_file(app.window, default_file().substr(default_file().rfind(L'\\') + 1));
    if (!target)
        return;
    Download d = *app.shown;
    std::erase_if(d.entries, [](const Entry& e) { return !e.code_type; });
    try {
        Target chosen = *target;
        chosen.wait_seconds = window_wait_seconds;
        save(d, chosen);
        set_state(say(IDS_SAVED, {number(d.entries.size()), target->path}));
    } catch (const ToolError& e) {
        show_error(failure_words(e));
    }
}

void save_and_clear_shown()
{
    if (!app.shown) {
        app.clear_after_download = true;
        start(Job{Kind::download});
        return;
    }
    if (app.shown->entries.empty()) {
        set_state(say(IDS_EMPTY, {std::to_wstring(app.shown->port)}));
        return;
    }
    Target target = default_target();
    const std::wstring question =
        say(IDS_CONFIRM_CLEAR, {number(app.shown->entries.size()), std::to_wstring(app.shown->port), target.path});
    const int answer = MessageBoxW(app.window, question.c_str(), load(IDS_TITLE).c_str(), MB_YESNOCANCEL | MB_ICONWARNING);
    if (answer == IDCANCEL)
        return;
    if (answer == IDNO) {
        const std::optional<Target> chosen = choose_file(app.window, target.path.substr(target.path.rfind(L'\\') + 1));
        if (!chosen)
            return;
        target = *chosen;
    }
    Job job{Kind::save_and_clear};
    job.target = target;
    job.shown = app.shown;
    start(std::move(job));
}

struct ParameterDialog {
    std::wstring text;
    bool save_first = true;
    std::wstring file;
};

INT_PTR CALLBACK parameter_dialog(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    auto* data = reinterpret_cast<ParameterDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrW(dialog, DWLP_USER, lparam);
        data = reinterpret_cast<ParameterDialog*>(lparam);
        const std::wstring held =
            app.shown ? say(IDS_PARAM_HELD, {number(app.shown->entries.size())}) : load(IDS_PARAM_UNKNOWN);
        SetDlgItemTextW(dialog, IDC_PARAM_WARNING, say(IDS_PARAM_WARNING, {held, data->file}).c_str());
        CheckDlgButton(dialog, IDC_PARAM_SAVE_FIRST, BST_CHECKED);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDC_PARAM_FILE: {
            std::vector<wchar_t> path(32768, L'\0');
            const std::wstring filters = filter(IDS_OPEN_FILTER), title = load(IDS_OPEN_TITLE);
            OPENFILENAMEW open{};
            open.lStructSize = sizeof open;
            open.hwndOwner = dialog;
            open.lpstrFilter = filters.c_str();
            open.lpstrFile = path.data();
            open.nMaxFile = static_cast<DWORD>(path.size());
            open.lpstrTitle = title.c_str();
            open.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
            if (!GetOpenFileNameW(&open))
                return TRUE;
            try {
                const std::optional<std::string> bytes = read_file(path.data());
                if (bytes)
                    SetDlgItemTextW(dialog, IDC_PARAM_TEXT, from_utf8(*bytes).c_str());
            } catch (const ToolError& e) {
                MessageBoxW(dialog, plain(e).c_str(), load(IDS_TITLE).c_str(), MB_OK | MB_ICONERROR);
            }
            return TRUE;
        }
        case IDOK: {
            const int length = GetWindowTextLengthW(GetDlgItem(dialog, IDC_PARAM_TEXT));
            std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
            GetDlgItemTextW(dialog, IDC_PARAM_TEXT, text.data(), length + 1);
            text.resize(static_cast<std::size_t>(length));
            while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r'))
                text.pop_back();
            try {
                check_parameter_list(text);
            } catch (const ToolError& e) {
                const std::wstring prefix = L"parameter list: ";
                const std::wstring why = e.message.rfind(prefix, 0) == 0 ? e.message.substr(prefix.size()) : e.message;
                MessageBoxW(dialog, say(IDS_PARAM_BAD, {why}).c_str(), load(IDS_TITLE).c_str(),
                            MB_OK | MB_ICONERROR);
                SetFocus(GetDlgItem(dialog, IDC_PARAM_TEXT));
                return TRUE;
            }
            // Unticked, the question comes after a download: it names what the scanner holds
            // then, not what the list showed.
            data->save_first = IsDlgButtonChecked(dialog, IDC_PARAM_SAVE_FIRST) == BST_CHECKED;
            data->text = text;
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

void program_parameters()
{
    ParameterDialog data;
    const Target target = default_target();
    data.file = target.path;
    if (DialogBoxParamW(app.instance, MAKEINTRESOURCEW(IDD_PARAMETERS), app.window, parameter_dialog,
                        reinterpret_cast<LPARAM>(&data)) != IDOK)
        return;
    Job job{Kind::program};
    job.target = target;
    job.save_first = data.save_first;
    job.parameters = data.text;
    // Saving first keeps whatever the scanner holds by then: no count to agree to.
    start(std::move(job));
}

// Asked after the program job's own download found barcodes and nothing is to be saved.
void ask_to_program(const Result& r)
{
    const Download& d = *r.download;
    const std::wstring question = say(IDS_PARAM_ERASE, {number(d.entries.size())});
    if (app.close_pending ||
        MessageBoxW(app.window, question.c_str(), load(IDS_TITLE).c_str(), MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) !=
            IDYES) {
        set_state(say(IDS_PARAM_KEPT, {std::to_wstring(d.port), number(d.entries.size())}));
        return;
    }
    Job job{Kind::program};
    job.target = r.target;
    job.parameters = r.parameters;
    job.shown = d;
    start(std::move(job));
}

struct ArchiveDialog {
    std::wstring where;
    std::vector<ArchivedVisit> visits; // newest first, as listed
};

void fill_archive(HWND dialog, ArchiveDialog& data)
{
    SetDlgItemTextW(dialog, IDC_ARCHIVE_WHERE, data.where.c_str());
    const HWND list = GetDlgItem(dialog, IDC_ARCHIVE_LIST);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
    const UINT titles[5] = {IDS_ARCHIVE_COL_TIME, IDS_ARCHIVE_COL_SCANNER, IDS_ARCHIVE_COL_COUNT,
                            IDS_ARCHIVE_COL_COMMAND, IDS_ARCHIVE_COL_OUTPUT};
    const int widths[5] = {125, 135, 50, 170, 300};
    for (int c = 0; c < 5; ++c) {
        std::wstring title = load(titles[c]);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
        column.fmt = c == 2 ? LVCFMT_RIGHT : LVCFMT_LEFT;
        column.cx = scaled(widths[c]);
        column.pszText = title.data();
        ListView_InsertColumn(list, c, &column);
    }
    int row = 0;
    for (const ArchivedVisit& v : data.visits) {
        std::wstring texts[5] = {iso_time(v.download.downloaded_at, L' '), v.download.identity,
                                 number(v.download.entries.size()), v.command, v.output};
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.pszText = texts[0].data();
        ListView_InsertItem(list, &item);
        for (int c = 1; c < 5; ++c)
            ListView_SetItemText(list, row, c, texts[c].data());
        ++row;
    }
    if (row > 0)
        ListView_SetItemState(list, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

// Writes the chosen visit out again, in the format its file's type names.
void save_archived(HWND dialog, const ArchiveDialog& data)
{
    const int row = ListView_GetNextItem(GetDlgItem(dialog, IDC_ARCHIVE_LIST), -1, LVNI_SELECTED);
    if (row < 0 || static_cast<std::size_t>(row) >= data.visits.size()) {
        MessageBoxW(dialog, load(IDS_ARCHIVE_CHOOSE).c_str(), load(IDS_TITLE).c_str(), MB_OK | MB_ICONINFORMATION);
        return;
    }
    const ArchivedVisit& v = data.visits[static_cast<std::size_t>(row)];
    std::optional<Target> target = choose_file(dialog, L"barcodes " + v.id + L"." + format_name(save_types[save_type() - 1]));
    if (!target)
        return;
    target->wait_seconds = window_wait_seconds;
    try {
        const std::wstring path = save(v.download, *target);
        set_state(say(IDS_ARCHIVE_SAVED, {number(v.download.entries.size()), v.id, path}));
    } catch (const ToolError& e) {
        MessageBoxW(dialog, failure_words(e).c_str(), load(IDS_TITLE).c_str(), MB_OK | MB_ICONERROR);
    }
}

INT_PTR CALLBACK archive_dialog(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    auto* data = reinterpret_cast<ArchiveDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, DWLP_USER, lparam);
        fill_archive(dialog, *reinterpret_cast<ArchiveDialog*>(lparam));
        SetFocus(GetDlgItem(dialog, IDC_ARCHIVE_LIST));
        return FALSE;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lparam);
        if (header->idFrom == IDC_ARCHIVE_LIST && header->code == NM_DBLCLK)
            save_archived(dialog, *data);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDC_ARCHIVE_SAVE:
            save_archived(dialog, *data);
            return TRUE;
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

void show_archive()
{
    ArchiveDialog data;
    std::wstring folder;
    try {
        folder = archive_folder();
        data.visits = archived_visits();
    } catch (const ToolError& e) {
        show_error(failure_words(e));
        return;
    }
    std::reverse(data.visits.begin(), data.visits.end());
    data.where = say(IDS_ARCHIVE_WHERE, {folder});
    DialogBoxParamW(app.instance, MAKEINTRESOURCEW(IDD_ARCHIVE), app.window, archive_dialog,
                    reinterpret_cast<LPARAM>(&data));
}

// What a failed job means for the scanner and the barcodes, in plain words.
std::wstring failure(const Result& r, const ToolError& e)
{
    const bool saving = r.kind == Kind::save_and_clear || (r.kind == Kind::program && r.save_first);
    const bool clearing = r.kind == Kind::save_and_clear || r.kind == Kind::program;
    if (e.outcome == Outcome::busy)
        return load(IDS_BUSY);
    // Once the file is safe, the only file left to write is the archive.
    if (clearing && e.outcome == Outcome::output && !r.saved_to.empty())
        return say(IDS_SAVED_NOT_ARCHIVED, {r.saved_to, plain(e)});
    if (saving && e.outcome == Outcome::output)
        return say(IDS_NOT_SAVED, {plain(e)});
    if (clearing && e.outcome == Outcome::output)
        return say(IDS_NOT_ARCHIVED, {plain(e)});
    if (clearing && e.outcome == Outcome::changed)
        return say(IDS_CHANGED, {sentence(e.message)});
    if (saving && e.outcome == Outcome::not_cleared)
        return say(IDS_NOT_CLEARED, {r.saved_to, e.message});
    if (r.kind == Kind::set_clock && e.outcome == Outcome::not_cleared)
        return say(IDS_CLOCK_NOT_SET, {e.message});
    if (r.kind == Kind::program)
        return say(IDS_NOT_PROGRAMMED, {plain(e)});
    return plain(e);
}

// One line per job in the run log the console tool keeps too; it never changes the outcome.
void log_job(const Result& r)
{
    static const wchar_t* const names[] = {L"window: download", L"window: save and clear", L"window: set clock",
                                           L"window: program parameters"};
    RunRecord record;
    record.time = local_now();
    record.command_line = names[static_cast<int>(r.kind)];
    if (r.download && r.download->found) {
        record.scanner = r.download->identity;
        record.port = r.download->port;
        record.barcodes = static_cast<int>(r.kind == Kind::download ? r.download->entries.size() : r.saved);
    }
    record.output = r.saved_to;
    record.exit_code = r.error ? static_cast<int>(r.error->outcome) : 0;
    record.message = r.error ? r.error->message : std::wstring();
    if (const std::wstring log = default_run_log(); !log.empty())
        append_run(log, record);
}

void finished(std::unique_ptr<Result> r)
{
    set_busy(false);
    if (!r->ask)
        log_job(*r);
    const bool clear_next = app.clear_after_download;
    app.clear_after_download = false;
    if (r->error && r->error->outcome == Outcome::no_scanner) {
        show(std::nullopt);
        set_state(load(IDS_NO_SCANNER));
        return;
    }
    if (r->error) {
        // The scanner may hold other contents now than the list shows.
        if (r->kind != Kind::download && r->error->outcome != Outcome::output && r->error->outcome != Outcome::busy)
            show(std::nullopt);
        if (!app.close_pending)
            show_error(failure(*r, *r->error));
        return;
    }
    show(r->download);
    const Download& d = *r->download;
    if (r->ask) {
        ask_to_program(*r);
        return;
    }
    switch (r->kind) {
    case Kind::download:
        set_state(say(IDS_FOUND, {std::to_wstring(d.port), number(d.entries.size()), iso_time(d.downloaded_at, L' ')}));
        if (clear_next && !app.close_pending)
            save_and_clear_shown();
        break;
    case Kind::save_and_clear:
        set_state(say(IDS_CLEARED, {number(r->saved), r->saved_to, std::to_wstring(d.port)}));
        break;
    case Kind::set_clock: {
        const std::optional<double> clock = scanner_clock(d);
        set_state(say(IDS_CLOCK_SET, {std::to_wstring(d.port), clock ? iso_time(*clock, L' ') : std::wstring(),
                                      clock ? clock_difference(*clock, d.downloaded_at) : std::wstring()}));
        break;
    }
    case Kind::program:
        set_state((r->save_first ? say(IDS_SAVED, {number(r->saved), r->saved_to}) + L" " : std::wstring()) +
                  say(IDS_PROGRAMMED, {number(r->programmed), std::to_wstring(d.port)}));
        break;
    }
}

HWND make_child(const wchar_t* type, const std::wstring& text, DWORD style, int id, DWORD ex_style = 0)
{
    return CreateWindowExW(ex_style, type, text.c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, app.window,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), app.instance, nullptr);
}

void create_children()
{
    const struct {
        int id;
        const wchar_t* text;
    } buttons[5] = {{IDC_DOWNLOAD, L"&Download"},
                    {IDC_SAVE, L"&Save..."},
                    {IDC_SAVE_CLEAR, L"Save and &clear"},
                    {IDC_SET_CLOCK, L"Set cl&ock"},
                    {IDC_PARAMETERS, L"&Program parameters..."}};
    // Creation order is the Tab order: the buttons, then the list.
    for (int k = 0; k < 5; ++k)
        app.buttons[k] = make_child(L"BUTTON", buttons[k].text, WS_TABSTOP | (k == 0 ? BS_DEFPUSHBUTTON | WS_GROUP : BS_PUSHBUTTON),
                                    buttons[k].id);
    app.state = make_child(L"STATIC", load(IDS_READY), SS_LEFT | SS_NOPREFIX, IDC_STATE);
    app.list = make_child(WC_LISTVIEWW, L"", WS_TABSTOP | WS_GROUP | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_SINGLESEL,
                          IDC_LIST, WS_EX_CLIENTEDGE);
    ListView_SetExtendedListViewStyle(app.list, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    const UINT titles[4] = {IDS_COL_ENTRY, IDS_COL_BARCODE, IDS_COL_TYPE, IDS_COL_SCANNED};
    for (int c = 0; c < 4; ++c) {
        std::wstring title = load(titles[c]);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
        column.fmt = c == 0 || c == 2 ? LVCFMT_RIGHT : LVCFMT_LEFT;
        column.cx = 100;
        column.pszText = title.data();
        ListView_InsertColumn(app.list, c, &column);
    }
    app.status = make_child(STATUSCLASSNAMEW, L"", SBARS_SIZEGRIP, IDC_STATUS);
    make_font();
    layout();
    set_status({});
}

// The size kept per user, in pixels at 96 dots per inch.
void remember_size()
{
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (!GetWindowPlacement(app.window, &placement))
        return;
    const RECT& r = placement.rcNormalPosition;
    write_setting(window_width_setting, static_cast<unsigned long>(MulDiv(r.right - r.left, 96, app.dpi)));
    write_setting(window_height_setting, static_cast<unsigned long>(MulDiv(r.bottom - r.top, 96, app.dpi)));
}

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_CREATE:
        app.window = window;
        create_children();
        SetFocus(app.buttons[0]);
        return 0;
    case WM_SIZE:
        layout();
        return 0;
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lparam);
        info->ptMinTrackSize = {scaled(640), scaled(300)};
        return 0;
    }
    case dpi_changed_message: {
        app.dpi = HIWORD(wparam);
        const RECT* r = reinterpret_cast<const RECT*>(lparam);
        make_font();
        SetWindowPos(window, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top, SWP_NOZORDER | SWP_NOACTIVATE);
        layout();
        return 0;
    }
    case WM_COMMAND: {
        const int command = LOWORD(wparam);
        const bool scanner = std::find(std::begin(scanner_commands), std::end(scanner_commands), command) !=
                             std::end(scanner_commands);
        if (scanner && app.busy)
            return 0;
        switch (command) {
        case IDC_DOWNLOAD:
            start(Job{Kind::download});
            break;
        case IDC_SAVE:
            save_shown();
            break;
        case IDC_SAVE_CLEAR:
            save_and_clear_shown();
            break;
        case IDC_SET_CLOCK:
            start(Job{Kind::set_clock});
            break;
        case IDC_PARAMETERS:
            program_parameters();
            break;
        case IDC_ARCHIVE:
            show_archive();
            break;
        case IDC_ABOUT:
            MessageBoxW(window, load(IDS_ABOUT).c_str(), load(IDS_TITLE).c_str(), MB_OK | MB_ICONINFORMATION);
            break;
        case IDC_EXIT:
            PostMessageW(window, WM_CLOSE, 0, 0);
            break;
        }
        return 0;
    }
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lparam);
        if (header->idFrom == IDC_LIST && header->code == LVN_COLUMNCLICK) {
            const int column = reinterpret_cast<const NMLISTVIEW*>(lparam)->iSubItem;
            app.sort_descending = column == app.sort_column && !app.sort_descending;
            app.sort_column = column;
            fill_list();
        }
        return 0;
    }
    case progress_message: {
        std::unique_ptr<std::wstring> text(reinterpret_cast<std::wstring*>(lparam));
        if (!app.close_pending)
            set_state(sentence(*text));
        return 0;
    }
    case done_message:
        finished(std::unique_ptr<Result>(reinterpret_cast<Result*>(lparam)));
        if (app.close_pending && !app.busy)
            DestroyWindow(window);
        return 0;
    case WM_CLOSE:
        // A worker still talks to the scanner (perhaps clearing it): let it finish.
        if (app.busy) {
            app.close_pending = true;
            set_state(load(IDS_BUSY_CLOSE));
            return 0;
        }
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        remember_size();
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

int run(HINSTANCE instance, int show_command)
{
    app.instance = instance;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    const HDC screen = GetDC(nullptr);
    app.dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);

    WNDCLASSEXW type{};
    type.cbSize = sizeof type;
    type.lpfnWndProc = window_procedure;
    type.hInstance = instance;
    type.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    type.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    type.lpszMenuName = MAKEINTRESOURCEW(IDR_MENU);
    type.lpszClassName = window_class;
    RegisterClassExW(&type);

    const int width = static_cast<int>(read_setting(window_width_setting).value_or(780));
    const int height = static_cast<int>(read_setting(window_height_setting).value_or(480));
    const HWND window = CreateWindowExW(WS_EX_CONTROLPARENT, window_class, load(IDS_TITLE).c_str(), WS_OVERLAPPEDWINDOW,
                                        CW_USEDEFAULT, CW_USEDEFAULT, scaled(std::clamp(width, 640, 4000)),
                                        scaled(std::clamp(height, 300, 3000)), nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;
    ShowWindow(window, show_command);
    UpdateWindow(window);

    const HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCELERATORS));
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (TranslateAcceleratorW(window, accelerators, &message) || IsDialogMessageW(window, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (app.font)
        DeleteObject(app.font);
    return static_cast<int>(message.wParam);
}

} // namespace
} // namespace qmx::tool

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, wchar_t*, int show_command)
{
    // The file dialogs want an apartment on this thread too.
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int status = qmx::tool::run(instance, show_command);
    if (SUCCEEDED(init))
        CoUninitialize();
    return status;
}

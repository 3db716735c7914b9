// Drives qmxclickerw.exe from outside, as a person would: finds its window, presses its
// buttons and answers its boxes, and reads what it shows through the controls' own
// messages (a list view or status bar answers into memory of its own process, so the
// texts are read through a buffer there).
//
//   window_driver CASE PROGRAM OUT_FOLDER [TIME_SCALE]
//   CASE: download (the default scanner: download, sort, screenshot, save, set clock,
//         save and clear), none (no scanner answers), nolib (no csp2.DLL)
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

int failures = 0;
DWORD scale = 1;
DWORD program_id = 0;

void check(bool ok, const std::string& what, const std::wstring& seen = L"")
{
    std::printf("%s %s", ok ? "ok  " : "FAIL", what.c_str());
    if (!ok && !seen.empty())
        std::printf(" (saw \"%ls\")", seen.c_str());
    std::printf("\n");
    std::fflush(stdout);
    failures += ok ? 0 : 1;
}

bool contains(const std::wstring& text, const wchar_t* part)
{
    return text.find(part) != std::wstring::npos;
}

// Waits for a condition, polling; false after seconds (times the scale).
template <class F> bool wait_for(F condition, DWORD seconds)
{
    for (DWORD waited = 0; waited < seconds * scale * 1000; waited += 50) {
        if (condition())
            return true;
        Sleep(50);
    }
    return condition();
}

// A top-level window of the program, of this class and (when given) title.
HWND find(const wchar_t* type, const wchar_t* title = nullptr)
{
    struct Search {
        const wchar_t *type, *title;
        HWND found;
    } search{type, title, nullptr};
    EnumWindows(
        [](HWND w, LPARAM p) WINAPI -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            DWORD process = 0;
            GetWindowThreadProcessId(w, &process);
            wchar_t type_seen[64] = {}, title_seen[256] = {};
            GetClassNameW(w, type_seen, 64);
            GetWindowTextW(w, title_seen, 256);
            if (process == program_id && IsWindowVisible(w) && wcscmp(type_seen, s->type) == 0 &&
                (!s->title || wcscmp(title_seen, s->title) == 0)) {
                s->found = w;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring text_of(HWND w)
{
    wchar_t text[4096] = {};
    SendMessageTimeoutW(w, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, nullptr);
    return text;
}

// Memory in the program's process for a control to answer into.
class Remote {
public:
    Remote(HANDLE process, std::size_t size)
        : process_(process), at_(VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE))
    {}
    ~Remote() { VirtualFreeEx(process_, at_, 0, MEM_RELEASE); }
    char* at() const { return static_cast<char*>(at_); }
    void write(std::size_t offset, const void* data, std::size_t size)
    {
        WriteProcessMemory(process_, at() + offset, data, size, nullptr);
    }
    std::wstring read_text(std::size_t offset, std::size_t characters)
    {
        std::vector<wchar_t> text(characters + 1, L'\0');
        ReadProcessMemory(process_, at() + offset, text.data(), characters * sizeof(wchar_t), nullptr);
        return text.data();
    }

private:
    HANDLE process_;
    void* at_;
};

HANDLE program = nullptr;
constexpr std::size_t text_room = 1024;

std::wstring cell(HWND list, int row, int column)
{
    Remote remote(program, sizeof(LVITEMW) + text_room * sizeof(wchar_t));
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = reinterpret_cast<wchar_t*>(remote.at() + sizeof item);
    item.cchTextMax = text_room;
    remote.write(0, &item, sizeof item);
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.at()));
    return remote.read_text(sizeof item, text_room - 1);
}

std::vector<std::vector<std::wstring>> rows(HWND list)
{
    std::vector<std::vector<std::wstring>> all;
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int r = 0; r < count; ++r)
        all.push_back({cell(list, r, 0), cell(list, r, 1), cell(list, r, 2), cell(list, r, 3)});
    return all;
}

std::wstring status_part(HWND status, int part)
{
    Remote remote(program, text_room * sizeof(wchar_t));
    SendMessageW(status, SB_GETTEXTW, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(remote.at()));
    return remote.read_text(0, text_room - 1);
}

// Presses a button the way a click does, without waiting for what it opens.
void press(HWND window, int id)
{
    PostMessageW(GetDlgItem(window, id), BM_CLICK, 0, 0);
}

// Waits for the scanner buttons to go grey and come back: one job begun and finished.
bool job_done(HWND window, bool see_start = true)
{
    const HWND download = GetDlgItem(window, 200);
    const bool started = !see_start || wait_for([&] { return !IsWindowEnabled(download); }, 10);
    check(started, "the scanner buttons are disabled while the scanner works");
    return wait_for([&] { return IsWindowEnabled(download) != FALSE; }, 60);
}

// The message box the program shows, its text, and then the button pressed.
std::wstring answer_box(int button)
{
    HWND box = nullptr;
    wait_for([&] { return (box = find(L"#32770", L"QMXClicker Scanner")) != nullptr; }, 30);
    if (!box)
        return L"(no message box)";
    const std::wstring text = text_of(GetDlgItem(box, 0xFFFF));
    PostMessageW(GetDlgItem(box, button), BM_CLICK, 0, 0);
    wait_for([&] { return !IsWindow(box); }, 10);
    return text;
}

// The client area's pixels from the screen, as a 24-bit BMP.
bool screenshot(HWND window, const std::wstring& path)
{
    RECT r;
    GetWindowRect(window, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    const HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    BITMAPINFOHEADER info{sizeof info, w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ old = SelectObject(memory, bitmap);
    const bool ok = BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY) != FALSE;
    SelectObject(memory, old);
    const DWORD stride = ((static_cast<DWORD>(w) * 3 + 3) & ~3u), size = stride * static_cast<DWORD>(h);
    BITMAPFILEHEADER file{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof info + size), 0, 0,
                          static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof info)};
    std::ofstream out(std::filesystem::path(path), std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    out.write(static_cast<const char*>(bits), size);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok && out.good();
}

std::string file_text(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// The default scenario's barcodes as the list shows them.
const std::vector<std::vector<std::wstring>> default_rows = {
    {L"1", L"2001234567893", L"10", L"2026-11-30 08:12:05"}, {L"2", L"QMX-2026-0042", L"20", L"2026-11-30 08:13:41"},
    {L"3", L"SHELF-A17", L"30", L"2026-12-02 14:02:17"},     {L"4", L"2900001234566", L"10", L"2026-12-04 10:47:00"},
    {L"5", L"lot:7731/b", L"20", L"2026-12-07 16:30:52"},    {L"6", L"2047110003581", L"10", L"2026-12-07 16:31:09"},
};

// Clicks a column's header, as a person sorts the list.
void click_header(HWND list, int column)
{
    const HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    int x = 10;
    for (int c = 0; c < column; ++c)
        x += static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(c), 0));
    PostMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, 5));
    PostMessageW(header, WM_LBUTTONUP, 0, MAKELPARAM(x, 5));
    Sleep(300 * scale);
}

void download_case(HWND window, const std::wstring& out)
{
    const HWND list = GetDlgItem(window, 301), status = GetDlgItem(window, 302), state = GetDlgItem(window, 300);
    // F5, as a key press reaches the window.
    PostMessageW(list, WM_KEYDOWN, VK_F5, 0);
    PostMessageW(list, WM_KEYUP, VK_F5, 0);
    check(job_done(window), "F5 downloads");
    check(rows(list) == default_rows, "the list shows the default scenario's six barcodes");
    check(status_part(status, 0) == L"Port 3", "status: the port", status_part(status, 0));
    check(status_part(status, 1) == L"Scanner 00126B3FA21904C7", "status: the identity", status_part(status, 1));
    const std::wstring clock = status_part(status, 2);
    check(clock.rfind(L"Clock 20", 0) == 0 && (contains(clock, L"in step with the PC") || contains(clock, L" s ")),
          "status: the scanner clock near the PC's", clock);
    check(status_part(status, 3) == L"6 barcodes", "status: the count", status_part(status, 3));
    check(contains(text_of(state), L"port 3 holds 6 barcodes"), "the state line", text_of(state));
    check(screenshot(window, out + L"\\download.bmp"), "screenshot taken");

    click_header(list, 1);
    const auto up = rows(list);
    click_header(list, 1);
    const auto down = rows(list);
    click_header(list, 0);
    check(up.size() == 6 && up[0][1] == L"2001234567893" && up[1][1] == L"2047110003581" && up[5][1] == L"lot:7731/b" &&
              down.size() == 6 && down[0][1] == L"lot:7731/b" && rows(list) == default_rows,
          "a column's header sorts by it, a second click the other way");

    // Save... and the file dialog: the name typed, then Save.
    const std::wstring json = out + L"\\saved.json";
    press(window, 201);
    HWND dialog = nullptr;
    wait_for([&] { return (dialog = find(L"#32770", L"Save barcodes")) != nullptr; }, 30);
    check(dialog != nullptr, "Save... opens the file dialog");
    if (dialog) {
        // The name box: an edit inside the combo box of id 0x47C.
        HWND name = nullptr;
        EnumChildWindows(
            dialog,
            [](HWND w, LPARAM found) WINAPI -> BOOL {
                wchar_t type[16] = {};
                GetClassNameW(w, type, 16);
                if (GetDlgCtrlID(w) != 0x47C || wcscmp(type, L"Edit") != 0)
                    return TRUE;
                *reinterpret_cast<HWND*>(found) = w;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&name));
        SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(json.c_str()));
        PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
        wait_for([&] { return contains(text_of(state), L"Saved 6 barcodes"); }, 20);
        const std::string saved = file_text(json);
        check(saved.find("\"scanner\": \"00126B3FA21904C7\"") != std::string::npos &&
                  saved.find("\"barcode\": \"lot:7731/b\"") != std::string::npos,
              "Save... writes the JSON the console tool writes");
    }

    press(window, 203);
    check(job_done(window) && contains(text_of(state), L"Set the clock of the scanner on port 3"), "Set clock",
          text_of(state));

    press(window, 202);
    const std::wstring question = answer_box(IDYES);
    check(contains(question, L"Clear the 6 barcodes from the scanner on port 3?"),
          "Save and clear asks, naming the count and the file", question);
    const auto from = question.find(L"saved first to\n"), to = question.find(L"\nthen", from);
    const std::wstring path =
        from == std::wstring::npos || to == std::wstring::npos ? L"" : question.substr(from + 15, to - from - 15);
    check(job_done(window), "Save and clear runs");
    check(contains(text_of(state), (L"Saved 6 barcodes to " + path + L" and cleared").c_str()) &&
              SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == 0 && status_part(status, 3) == L"0 barcodes",
          "the outcome in plain words, the list empty", text_of(state));
    const std::string csv = file_text(path);
    check(csv.rfind("entry,barcode,code_type,scanned_at,scanner,downloaded_at\r\n1,2001234567893,10,", 0) == 0 &&
              csv.find("\r\n6,2047110003581,10,") != std::string::npos,
          "the saved CSV holds the six barcodes");
    DeleteFileW(path.c_str());

    // Program parameters...: a list of the wrong form is refused and kept for mending.
    press(window, 204);
    HWND parameters = nullptr;
    wait_for([&] { return (parameters = find(L"#32770", L"Program parameters")) != nullptr; }, 30);
    check(parameters != nullptr && contains(text_of(GetDlgItem(parameters, 402)), L"Programming clears the scanner"),
          "Program parameters... warns that programming clears the scanner");
    if (parameters) {
        SendMessageW(GetDlgItem(parameters, 400), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"03100522"));
        PostMessageW(GetDlgItem(parameters, IDOK), BM_CLICK, 0, 0);
        const std::wstring refusal = answer_box(IDOK);
        check(contains(refusal, L"announces 3 entries") && IsWindow(parameters),
              "a parameter list of the wrong form is refused, the dialog stays", refusal);
        SendMessageW(GetDlgItem(parameters, 400), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"0210052201"));
        PostMessageW(GetDlgItem(parameters, IDOK), BM_CLICK, 0, 0);
        check(job_done(window) && contains(text_of(state), L"Programmed 2 parameters into the scanner on port 3"),
              "saved and cleared first, then programmed", text_of(state));
    }
}

void none_case(HWND window)
{
    press(window, 200);
    // Sixteen ports that do not open take no settle wait: the busy time may be too short to see.
    const HWND line = GetDlgItem(window, 300);
    wait_for([&] { return contains(text_of(line), L"No scanner answered"); }, 60);
    const std::wstring state = text_of(line);
    check(contains(state, L"No scanner answered on ports 0 to 15"), "no scanner: said in the window", state);
    check(status_part(GetDlgItem(window, 302), 0) == L"No scanner", "no scanner: the status bar");
    check(find(L"#32770") == nullptr, "no scanner: no error box");
}

void nolib_case(HWND window)
{
    press(window, 200);
    const std::wstring box = answer_box(IDOK);
    check(contains(box, L"The scanner library csp2.DLL was not found beside QMXClicker.dll (error 53)"),
          "no csp2.DLL: said in plain words with the number", box);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4) {
        std::printf("usage: window_driver download|none|nolib PROGRAM OUT_FOLDER [TIME_SCALE]\n");
        return 2;
    }
    const std::wstring name = argv[1], out = argv[3];
    if (argc > 4)
        scale = static_cast<DWORD>(_wtoi(argv[4]));
    STARTUPINFOW start{};
    start.cb = sizeof start;
    PROCESS_INFORMATION started{};
    std::wstring command = L"\"" + std::wstring(argv[2]) + L"\"";
    if (!CreateProcessW(argv[2], command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start, &started)) {
        std::printf("FAIL cannot start the program (%lu)\n", GetLastError());
        return 1;
    }
    program = started.hProcess;
    program_id = started.dwProcessId;
    WaitForInputIdle(program, 60000 * scale);
    HWND window = nullptr;
    wait_for([&] { return (window = find(L"QMXClickerScanner")) != nullptr; }, 60);
    check(window != nullptr, "the window opens");
    if (window) {
        // The window is found as soon as it exists, before its children are made.
        check(wait_for([&] { return contains(text_of(GetDlgItem(window, 300)), L"press Download"); }, 10),
              "it says what to do first");
        if (name == L"download")
            download_case(window, out);
        else if (name == L"none")
            none_case(window);
        else if (name == L"nolib")
            nolib_case(window);
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    const bool ended = WaitForSingleObject(program, 30000 * scale) == WAIT_OBJECT_0;
    check(ended, "the window closes");
    if (!ended)
        TerminateProcess(program, 1);
    std::printf("%s: %d failures\n", std::string(name.begin(), name.end()).c_str(), failures);
    return failures;
}

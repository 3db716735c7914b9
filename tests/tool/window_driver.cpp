// Drives qmxclickerw.exe from outside, as a person would: finds its window, presses its
// buttons and answers its boxes, and reads what it shows through the controls' own
// messages (a list view or status bar answers into memory of its own process, so the
// texts are read through a buffer there).
//
//   window_driver CASE PROGRAM OUT_FOLDER [TIME_SCALE]
//   CASE: download (the default scanner: download, sort, screenshot, save, set clock,
//         save and clear), program (barcodes scanned after Save and clear, programmed
//         without saving; the archive), unreported (a count in error), noarchive (the
//         archive cannot be written), none (no scanner answers), nolib (no csp2.DLL)
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
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

std::vector<std::vector<std::wstring>> rows(HWND list, int columns = 4)
{
    std::vector<std::vector<std::wstring>> all;
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int r = 0; r < count; ++r) {
        all.emplace_back();
        for (int c = 0; c < columns; ++c)
            all.back().push_back(cell(list, r, c));
    }
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

// The message box the program shows, its text, and then (after `meanwhile`) the button pressed.
std::wstring answer_box(int button, const std::function<void(const std::wstring&)>& meanwhile = {})
{
    HWND box = nullptr;
    wait_for([&] { return (box = find(L"#32770", L"QMXClicker Scanner")) != nullptr; }, 30);
    if (!box)
        return L"(no message box)";
    // Under emulation the box is found while it is still being made: wait for its text.
    std::wstring text;
    wait_for([&] { return !(text = text_of(GetDlgItem(box, 0xFFFF))).empty(); }, 10);
    if (meanwhile)
        meanwhile(text);
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

// Types the name into the common file dialog the program opened, and presses Save; with
// shot, first checks that the workbook is the type offered and keeps a screenshot.
bool save_as(const std::wstring& path, const std::string& what, const std::wstring& shot = L"")
{
    HWND dialog = nullptr;
    wait_for([&] { return (dialog = find(L"#32770", L"Save barcodes")) != nullptr; }, 30);
    check(dialog != nullptr, what + " opens the file dialog");
    if (!dialog)
        return false;
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
    if (!shot.empty()) {
        // The dialog fills its boxes after it shows.
        wchar_t suggested[MAX_PATH] = {}, type[64] = {};
        const HWND types = GetDlgItem(dialog, 0x470);
        wait_for([&] {
            SendMessageW(name, WM_GETTEXT, MAX_PATH, reinterpret_cast<LPARAM>(suggested));
            const LRESULT at = SendMessageW(types, CB_GETCURSEL, 0, 0);
            if (at != CB_ERR && SendMessageW(types, CB_GETLBTEXTLEN, at, 0) < 64)
                SendMessageW(types, CB_GETLBTEXT, at, reinterpret_cast<LPARAM>(type));
            return suggested[0] != 0 && type[0] != 0;
        }, 10);
        check(contains(suggested, L".xlsx") && contains(type, L"Excel workbook"),
              what + " offers the workbook first", std::wstring(suggested) + L" / " + type);
        RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        Sleep(1000);
        check(screenshot(dialog, shot), "screenshot of the save dialog taken");
    }
    SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    wait_for([&] { return !IsWindow(dialog); }, 10);
    return true;
}

// The file Save and clear's question names.
std::wstring file_in_question(const std::wstring& question)
{
    const auto from = question.find(L"saved first to\n"), to = question.find(L"\nthen", from);
    return from == std::wstring::npos || to == std::wstring::npos ? L"" : question.substr(from + 15, to - from - 15);
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
    if (save_as(json, "Save...", out + L"\\save-dialog.bmp")) {
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
    const std::wstring path = file_in_question(question);
    check(job_done(window), "Save and clear runs");
    check(contains(text_of(state), (L"Saved 6 barcodes to " + path + L" and cleared").c_str()) &&
              SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == 0 && status_part(status, 3) == L"0 barcodes",
          "the outcome in plain words, the list empty", text_of(state));
    // Save... chose JSON, which the window remembers for Save and clear's file too.
    const std::string saved = file_text(path);
    check(path.size() > 5 && path.substr(path.size() - 5) == L".json" &&
              saved.find("\"barcode\": \"2001234567893\"") != std::string::npos &&
              saved.find("\"barcode\": \"2047110003581\"") != std::string::npos,
          "the saved file holds the six barcodes, in the type chosen last", path);
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

// Program parameters... with the text given and "Save and clear first" unticked.
void program_unsaved(HWND window, const wchar_t* text)
{
    press(window, 204);
    HWND parameters = nullptr;
    wait_for([&] { return (parameters = find(L"#32770", L"Program parameters")) != nullptr; }, 30);
    check(parameters != nullptr, "Program parameters... opens");
    if (!parameters)
        return;
    SendMessageW(GetDlgItem(parameters, 403), BM_SETCHECK, BST_UNCHECKED, 0);
    SendMessageW(GetDlgItem(parameters, 400), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    PostMessageW(GetDlgItem(parameters, IDOK), BM_CLICK, 0, 0);
}

// Two barcodes, Save and clear (its default folder gone meanwhile), then two more scanned
// (the scenario's scan-after-read) that the list does not show: programming without saving
// asks about those two, No keeps them, Yes erases them into the archive, and the archive
// dialog lists both visits and writes one out again.
void program_case(HWND window, const std::wstring& out)
{
    const HWND list = GetDlgItem(window, 301), state = GetDlgItem(window, 300);
    press(window, 200);
    check(job_done(window) && SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == 2, "the scanner holds two barcodes");

    // The default folder removed while the question is open: the save makes it again.
    press(window, 202);
    bool folder_gone = false;
    const std::wstring question = answer_box(IDYES, [&](const std::wstring& text) {
        const std::filesystem::path folder = std::filesystem::path(file_in_question(text)).parent_path();
        std::error_code ignored;
        for (const auto& file : std::filesystem::directory_iterator(folder, ignored))
            if (file.path().filename().wstring().starts_with(L"barcodes "))
                std::filesystem::remove(file.path(), ignored);
        folder_gone = !folder.empty() && RemoveDirectoryW(folder.c_str());
    });
    check(contains(question, L"Keep the scanner still until it is done"), "Save and clear's question says what cannot be prevented",
          question);
    check(wait_for([&] { return contains(text_of(state), L"keep the scanner still"); }, 30),
          "the state line says it while the scanner clears", text_of(state));
    const std::wstring path = file_in_question(question);
    check(job_done(window, false) && contains(text_of(state), L"Saved 2 barcodes to ") &&
              file_text(path).find("FIRST-2") != std::string::npos,
          "saved (into the default folder made again) and cleared", text_of(state));
    check(folder_gone, "the default folder was gone before the save");

    // The scanner now holds the two new barcodes the list does not show.
    const std::vector<std::wstring> answers = {L"no", L"yes"};
    for (const std::wstring& answer : answers) {
        program_unsaved(window, L"0210052201");
        job_done(window);
        const std::wstring asked = answer_box(answer == L"yes" ? IDYES : IDNO);
        check(contains(asked, L"The scanner holds 2 barcodes now. Programming erases them; they are kept only in the archive."),
              "unticked: the question names the count the scanner holds now", asked);
        if (answer == L"no") {
            const auto shown = rows(list);
            check(contains(text_of(state), L"Not programmed: the scanner on port 3 still holds its 2 barcodes") &&
                      shown.size() == 2 && shown[0][1] == L"NEW-1" && shown[1][1] == L"NEW-2",
                  "No: not programmed, the list shows what the scanner holds", text_of(state));
        } else {
            check(job_done(window) && contains(text_of(state), L"Programmed 2 parameters into the scanner on port 3"),
                  "Yes: programmed", text_of(state));
        }
    }

    // File > Archive...: newest first, and Save... writes a visit out again; a file another
    // visit holds is refused in plain words.
    PostMessageW(window, WM_COMMAND, 207, 0);
    HWND archive = nullptr;
    wait_for([&] { return (archive = find(L"#32770", L"Archive")) != nullptr; }, 30);
    check(archive != nullptr, "File > Archive... opens the archive");
    if (!archive)
        return;
    const auto visits = rows(GetDlgItem(archive, 500), 5);
    Sleep(1000 * scale); // painted
    check(screenshot(archive, out + L"\\archive.bmp"), "screenshot of the archive taken");
    check(visits.size() >= 2 && visits[0][1] == L"00126B3FA21904C7" && visits[0][2] == L"2" &&
              visits[0][3] == L"window: program parameters" && visits[0][4].empty() && visits[1][2] == L"2" &&
              visits[1][3] == L"window: save and clear" && visits[1][4] == path,
          "the archive lists the two visits, newest first, with scanner, count, command and file",
          visits.empty() ? L"" : visits[0][3] + L" | " + visits[0][4]);
    const std::wstring held = out + L"\\held.csv";
    const HANDLE lock = CreateFileW((held + L".lock").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    press(archive, 501);
    save_as(held, "the archive's Save...");
    const std::wstring refused = answer_box(IDOK);
    check(contains(refused, L"Another visit") && contains(refused, L"try again when it is done"),
          "a file another visit writes: said in plain words", refused);
    CloseHandle(lock);
    const std::wstring again = out + L"\\archived.json";
    press(archive, 501);
    save_as(again, "the archive's Save...");
    wait_for([&] { return contains(text_of(state), L"Saved 2 barcodes of the visit"); }, 20);
    const std::string json = file_text(again);
    check(json.find("\"barcode\": \"NEW-1\"") != std::string::npos && json.find("\"barcode\": \"NEW-2\"") != std::string::npos &&
              GetFileAttributesW(held.c_str()) == INVALID_FILE_ATTRIBUTES,
          "the erased barcodes written out again as the file's type names", text_of(state));
    PostMessageW(GetDlgItem(archive, IDCANCEL), BM_CLICK, 0, 0);
    wait_for([&] { return !IsWindow(archive); }, 10);
}

// A count in error: programming without saving never asks, it says so and clears nothing.
void unreported_case(HWND window)
{
    program_unsaved(window, L"0210052201");
    job_done(window);
    const std::wstring box = answer_box(IDOK);
    check(contains(box, L"Nothing was cleared") && contains(box, L"did not report its contents"),
          "a count in error is an error, not a question", box);
}

// The archive folder is a file: the barcodes are saved, the scanner is not cleared.
void noarchive_case(HWND window)
{
    wchar_t local[MAX_PATH] = {};
    GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
    const std::wstring folder = std::wstring(local) + L"\\QMXClicker", archive = folder + L"\\archive",
                       aside = archive + L".aside";
    CreateDirectoryW(folder.c_str(), nullptr);
    const bool moved = MoveFileW(archive.c_str(), aside.c_str()) != FALSE;
    CloseHandle(CreateFileW(archive.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    press(window, 200);
    job_done(window);
    press(window, 202);
    const std::wstring path = file_in_question(answer_box(IDYES));
    job_done(window);
    const std::wstring box = answer_box(IDOK);
    check(contains(box, (L"The barcodes are saved in " + path).c_str()) &&
              contains(box, L"the scanner was not cleared: they could not be kept in the archive"),
          "no archive, no clear: said in plain words", box);
    DeleteFileW(archive.c_str());
    if (moved)
        MoveFileW(aside.c_str(), archive.c_str());
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
        std::printf("usage: window_driver download|program|unreported|noarchive|none|nolib PROGRAM OUT_FOLDER "
                    "[TIME_SCALE]\n");
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
        else if (name == L"program")
            program_case(window, out);
        else if (name == L"unreported")
            unreported_case(window);
        else if (name == L"noarchive")
            noarchive_case(window);
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

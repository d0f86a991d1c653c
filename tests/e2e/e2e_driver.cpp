// End-to-end driver of the real Dunmoor window.
//
// Starts dunmoor.exe, finds its window and works it the way a person would:
// clicks the image buttons, fills the open-file dialog, edits the region and
// units fields, presses Convert (and Cancel), reads the message boxes and
// compares the OBJ files written beside the grids with the files that the
// headless converter wrote for the same inputs. Every check prints one line,
// "PASS name" or "FAIL name: details", and the run ends with
// "e2e: N checks, M failed"; the exit status is non-zero when a check failed.
//
//   dunmoor-e2e --app DUNMOOR_EXE --work DIR [--shots DIR] [--timeout SECONDS] [--screen small]
//   dunmoor-e2e --app DUNMOOR_EXE --demo GRID [--shots DIR]
//
// With --screen small (on a 1366 x 768 display) only the small-screen checks
// run, and the total line reads "e2e-small: N checks, M failed". The last
// starts of the full run change the Wine prefix's registry for themselves and
// set it back: one without Segoe UI, one at 144 DPI.
//
// DIR (prepared by scripts/e2e) holds grids\ with the test grids and
// expected\ with the headless converter's OBJ files. With --shots, the driver
// asks for a screenshot by creating NAME.req in that folder and waits for
// NAME.done, which the script writes once it has saved NAME.png.
//
// Buttons are pressed with a posted BM_CLICK, so the driver never blocks in
// the modal loops that a press opens (file dialog, message boxes). Every text
// is read with a timed cross-process WM_GETTEXT, and every wait has a limit.

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Texts and reporting

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                        nullptr);
    return out;
}

// Control texts may carry their line breaks as "\r\n" or "\n"; compare the
// lines, not the break bytes.
std::wstring Lines(std::wstring text) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') continue;
        out += text[i];
    }
    return out;
}

// A text for a report line: line breaks shown as \n, the whole quoted.
std::string Shown(const std::wstring& text) {
    std::string out = "\"";
    for (char c : Utf8(Lines(text))) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out + "\"";
}

std::string Format(const char* format, ...) {
    char buffer[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

int g_checks = 0;
int g_failed = 0;

bool Check(const std::string& name, bool ok, const std::string& details = {}) {
    ++g_checks;
    if (ok) {
        std::printf("PASS %s\n", name.c_str());
    } else {
        ++g_failed;
        std::printf("FAIL %s%s%s\n", name.c_str(), details.empty() ? "" : ": ", details.c_str());
    }
    std::fflush(stdout);
    return ok;
}

void Note(const std::string& text) {
    std::printf("     %s\n", text.c_str());
    std::fflush(stdout);
}

// Counts as the window shows them: below 1000 plain, otherwise one space
// between groups of three digits.
std::wstring Grouped(int64_t value) {
    std::wstring digits = std::to_wstring(value);
    if (value < 1000) return digits;
    std::wstring out;
    int n = static_cast<int>(digits.size());
    for (int i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0) out += L' ';
        out += digits[i];
    }
    return out;
}

// ---------------------------------------------------------------------------
// Waiting

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start >= timeoutMs) return condition();
        Sleep(40);
    }
}

// ---------------------------------------------------------------------------
// Windows of the application

constexpr DWORD kSendTimeoutMs = 10000;

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    std::wstring text = name;
    // Classes of a versioned activation context may read "6.0.x.y!Button".
    std::size_t bang = text.find(L'!');
    if (bang != std::wstring::npos) text = text.substr(bang + 1);
    return text;
}

bool SameClass(const std::wstring& actual, const wchar_t* expected) {
    return lstrcmpiW(actual.c_str(), expected) == 0;
}

// The text of a window in any process, through a timed WM_GETTEXT.
std::wstring TextOf(HWND window) {
    if (!window) return L"<no window>";
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &length))
        return L"<no answer>";
    std::vector<wchar_t> buffer(length + 2, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_NORMAL, kSendTimeoutMs, &copied))
        return L"<no answer>";
    return std::wstring(buffer.data(), copied);
}

// Sets a text the way a program does; an edit field reports EN_CHANGE to its
// parent before the call returns, so the application's clamp has run then.
bool SetTextOf(HWND window, const std::wstring& text) {
    DWORD_PTR result = 0;
    return window && SendMessageTimeoutW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                                         SMTO_NORMAL, kSendTimeoutMs, &result);
}

bool Responsive(HWND window) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 3000, &result) != 0;
}

void Click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

struct FindOwned {
    HWND owner;
    const wchar_t* title;  // nullptr: any title
    const wchar_t* exceptTitle;
    HWND found;
};

BOOL CALLBACK FindOwnedProc(HWND window, LPARAM param) {
    auto* find = reinterpret_cast<FindOwned*>(param);
    if (GetWindow(window, GW_OWNER) != find->owner || !IsWindowVisible(window)) return TRUE;
    if (!SameClass(ClassOf(window), L"#32770")) return TRUE;
    wchar_t title[256] = {};
    GetWindowTextW(window, title, 256);
    if (find->title && wcscmp(title, find->title) != 0) return TRUE;
    if (find->exceptTitle && wcscmp(title, find->exceptTitle) == 0) return TRUE;
    find->found = window;
    return FALSE;
}

// A visible dialog window (file dialog or message box) owned by `owner`.
HWND OwnedDialog(HWND owner, const wchar_t* title, const wchar_t* exceptTitle = nullptr) {
    FindOwned find{owner, title, exceptTitle, nullptr};
    EnumWindows(FindOwnedProc, reinterpret_cast<LPARAM>(&find));
    return find.found;
}

HWND WaitOwnedDialog(HWND owner, const wchar_t* title, DWORD timeoutMs, const wchar_t* exceptTitle = nullptr) {
    HWND found = nullptr;
    WaitFor([&] { return (found = OwnedDialog(owner, title, exceptTitle)) != nullptr; }, timeoutMs);
    return found;
}

struct ChildSearch {
    std::function<bool(HWND)> match;
    HWND found = nullptr;
};

BOOL CALLBACK ChildSearchProc(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<ChildSearch*>(param);
    if (search->match(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindChild(HWND parent, std::function<bool(HWND)> match) {
    ChildSearch search{std::move(match)};
    EnumChildWindows(parent, ChildSearchProc, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> all;
    FindChild(parent, [&](HWND w) { all.push_back(w); return false; });
    return all;
}

// The message text of a message box: the static control 0xFFFF, otherwise
// the longest static text in it.
std::wstring BoxText(HWND box) {
    HWND text = GetDlgItem(box, 0xFFFF);
    if (text) return TextOf(text);
    std::wstring best;
    for (HWND child : Children(box)) {
        if (!SameClass(ClassOf(child), L"Static")) continue;
        std::wstring t = TextOf(child);
        if (t.size() > best.size()) best = t;
    }
    return best;
}

std::wstring TitleOf(HWND window) {
    wchar_t title[512] = {};
    GetWindowTextW(window, title, 512);
    return title;
}

bool PressDialogButton(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
    return WaitFor([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, 10000);
}

// The icon of a message box, told apart by its pixels: the box's icon control
// is copied from the screen and compared with the system's warning,
// information, error and question icons drawn on the same background.
std::string BoxIconKind(HWND box) {
    HWND iconControl = FindChild(box, [](HWND w) {
        return SameClass(ClassOf(w), L"Static") &&
               (GetWindowLongW(w, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(w);
    });
    if (!iconControl) return "none";
    RECT rect{};
    GetWindowRect(iconControl, &rect);
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0 || width > 256 || height > 256) return "none";

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    auto capture = [&](const std::function<void(HDC)>& paint) {
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(memory, bitmap);
        paint(memory);
        GdiFlush();
        std::vector<uint32_t> pixels(static_cast<const uint32_t*>(bits),
                                     static_cast<const uint32_t*>(bits) + width * height);
        SelectObject(memory, old);
        DeleteObject(bitmap);
        for (auto& p : pixels) p &= 0xFFFFFF;
        return pixels;
    };

    // Give the box time to paint, then take the control's pixels.
    Sleep(300);
    RedrawWindow(iconControl, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    Sleep(200);
    std::vector<uint32_t> shown =
        capture([&](HDC dc) { BitBlt(dc, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY); });
    uint32_t background = shown[0];

    struct Kind {
        const char* name;
        LPCWSTR icon;
    } kinds[] = {{"warning", IDI_WARNING}, {"information", IDI_INFORMATION},
                 {"error", IDI_ERROR},     {"question", IDI_QUESTION}};
    std::string best = "unknown";
    uint64_t bestDistance = UINT64_MAX;
    bool uniform = std::all_of(shown.begin(), shown.end(), [&](uint32_t p) { return p == background; });
    if (!uniform) {
        for (const Kind& kind : kinds) {
            HICON icon = LoadIconW(nullptr, kind.icon);
            std::vector<uint32_t> drawn = capture([&](HDC dc) {
                HBRUSH brush = CreateSolidBrush(RGB((background >> 16) & 0xFF, (background >> 8) & 0xFF,
                                                    background & 0xFF));
                RECT all{0, 0, width, height};
                FillRect(dc, &all, brush);
                DeleteObject(brush);
                DrawIconEx(dc, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
            });
            uint64_t distance = 0;
            for (std::size_t i = 0; i < shown.size(); ++i) {
                for (int shift = 0; shift < 24; shift += 8) {
                    int a = static_cast<int>((shown[i] >> shift) & 0xFF);
                    int b = static_cast<int>((drawn[i] >> shift) & 0xFF);
                    distance += static_cast<uint64_t>(std::abs(a - b));
                }
            }
            if (distance < bestDistance) {
                bestDistance = distance;
                best = kind.name;
            }
        }
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return best;
}

// ---------------------------------------------------------------------------
// The window's controls

struct ControlEntry {
    int id;
    const char* name;
    int parent;  // 0: the main window
    const wchar_t* cls;
    const wchar_t* text;  // nullptr: checked separately
    bool enabledAtStart;
};

const wchar_t kIntroText[] =
    L"The ESRI ARC/INFO ASCII GRID format is usually used to store terrain data from LIDAR laser scanning. "
    L"This application takes ESRI ARC/INFO ASCII GRID file and converts it to a 3D mesh. It saves the 3D "
    L"mesh in OBJ format that can be imported in most 3D applications. You can also generate a height "
    L"bitmap\nin grayscale.";
const wchar_t kRegionNote[] =
    L"Please note.\nConverted files can be very large and hard to editing. If you are interested only in "
    L"specified region, you can set the range below instead of editing the whole large mesh in 3d "
    L"application.";

const ControlEntry kControls[] = {
    {201, "IDC_INTRO_FRAME", 0, L"STATIC", L"", true},
    {202, "IDC_INTRO_TEXT", 201, L"STATIC", kIntroText, true},
    {203, "IDC_STEP1_FRAME", 0, L"STATIC", L"", true},
    {204, "IDC_STEP1_CAPTION", 0, L"STATIC", L" Step 1: Select file in ESRI ARC/INFO ASCII GRID format:", true},
    {304, "IDC_SELECT_FILE", 0, L"BUTTON", L"", true},
    {205, "IDC_FILEINFO_FRAME", 203, L"STATIC", L"", false},
    {206, "IDC_FILEINFO_CAPTION", 203, L"STATIC", L" File info:", false},
    {207, "IDC_FILEINFO_LABELS1", 205, L"STATIC", L"filename:\ncols:\nrows:\nrecords:", false},
    {208, "IDC_FILEINFO_VALUES1", 205, L"STATIC", L"---\n---\n---\n---", false},
    {209, "IDC_FILEINFO_LABELS2", 205, L"STATIC", L"xll center:\nyll center:\ncell size:\nno data value:", false},
    {210, "IDC_FILEINFO_VALUES2", 205, L"STATIC", L"---\n---\n---\n---", false},
    {211, "IDC_STEP2_FRAME", 0, L"STATIC", L"", false},
    {212, "IDC_STEP2_CAPTION", 0, L"STATIC", L" Step 2: Define the region (optional):", false},
    {213, "IDC_REGION_NOTE", 211, L"STATIC", kRegionNote, false},
    {214, "IDC_REGION_PICTURE", 211, L"STATIC", L"", true},
    {215, "IDC_XMIN_LABEL", 211, L"STATIC", L"X min:", false},
    {216, "IDC_YMIN_LABEL", 211, L"STATIC", L"Y min:", false},
    {217, "IDC_XMAX_LABEL", 211, L"STATIC", L"X max:", false},
    {218, "IDC_YMAX_LABEL", 211, L"STATIC", L"Y max:", false},
    {401, "IDC_XMIN", 0, L"EDIT", L"", false},
    {402, "IDC_YMIN", 0, L"EDIT", L"", false},
    {403, "IDC_XMAX", 0, L"EDIT", L"", false},
    {404, "IDC_YMAX", 0, L"EDIT", L"", false},
    {219, "IDC_STEP3_FRAME", 0, L"STATIC", L"", false},
    {220, "IDC_STEP3_CAPTION", 0, L"STATIC", L" Step 3: Select terrain generation method:", false},
    {305, "IDC_METHOD_INTERPOLATED", 0, L"BUTTON", L"", false},
    {306, "IDC_METHOD_FLOATING", 0, L"BUTTON", L"", false},
    {221, "IDC_ESTIMATE_LABELS_INTERPOLATED", 219, L"STATIC", L"Interpolated\n\n~Verts:\n~Tris:\n~Quads:", false},
    {222, "IDC_ESTIMATE_INTERPOLATED", 219, L"STATIC", L"---\n---\n---", false},
    {223, "IDC_ESTIMATE_LABELS_FLOATING", 219, L"STATIC", L"Floating planes\n\n~Verts:\n~Tris:\n~Quads:", false},
    {224, "IDC_ESTIMATE_FLOATING", 219, L"STATIC", L"---\n---\n---", false},
    {311, "IDC_SIMPLIFIED", 0, L"BUTTON", L"Simplified, max. error:", false},
    {408, "IDC_MAX_ERROR", 0, L"EDIT", L"0.5", false},
    {229, "IDC_STEP4_FRAME", 0, L"STATIC", L"", false},
    {230, "IDC_STEP4_CAPTION", 0, L"STATIC", L" Step 4: Units setup (optional):", false},
    {231, "IDC_UNITS_LABEL", 0, L"STATIC", L"1 unit in your 3d application is               meter(s).", false},
    {405, "IDC_UNITS", 0, L"EDIT", L"1.0", false},
    {406, "IDC_GEOMETRY", 0, L"ComboBox", L"Classic", false},
    {312, "IDC_OUTPUT", 0, L"BUTTON", L"&Output: OBJ\x2026", false},
    {233, "IDC_STEP5_FRAME", 0, L"STATIC", L"", false},
    {234, "IDC_STEP5_CAPTION", 0, L"STATIC", L" Step 5: Convert:", false},
    {235, "IDC_STATUS", 233, L"STATIC", L"Status: Ready...", false},
    {309, "IDC_CONVERT", 0, L"BUTTON", L"", false},
    {236, "IDC_PROGRESS", 233, L"msctls_progress32", L"", false},
    {310, "IDC_HEIGHT_BITMAP", 0, L"BUTTON", L"Also save a height bitmap (PNG)", false},
    {237, "IDC_CREDIT_FRAME", 0, L"STATIC", L"", true},
    {238, "IDC_CREDIT_TEXT", 237, L"STATIC", nullptr, true},
};

const ControlEntry* Entry(int id) {
    for (const ControlEntry& entry : kControls)
        if (entry.id == id) return &entry;
    return nullptr;
}

// Ids of the controls that the enable groups switch, by phase.
const std::set<int> kInputGroupIds = {304, 205, 206, 207, 208, 209, 210, 211, 212, 213, 215, 216, 217, 218,
                                      401, 402, 403, 404, 219, 220, 305, 306, 221, 222, 223, 224, 229, 230,
                                      231, 405, 406, 312, 310, 311, 408};

// ---------------------------------------------------------------------------
// Files

bool ReadBytes(const std::wstring& path, std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    bytes.assign(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 24));
        DWORD got = 0;
        if (!ReadFile(file, bytes.data() + done, chunk, &got, nullptr) || got == 0) break;
        done += got;
    }
    bytes.resize(done);
    CloseHandle(file);
    return true;
}

bool FileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

constexpr char kTimestampPrefix[] = "# File conversion started at: ";

// The file without its timestamp line, which differs from run to run.
std::string WithoutTimestamp(const std::string& bytes) {
    std::size_t at = bytes.find(kTimestampPrefix);
    if (at == std::string::npos) return bytes;
    std::size_t end = bytes.find('\n', at);
    end = end == std::string::npos ? bytes.size() : end + 1;
    return bytes.substr(0, at) + bytes.substr(end);
}

std::string Escaped(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c < 32 || c > 126) out += Format("\\x%02X", c);
        else out += static_cast<char>(c);
    }
    return out;
}

struct ObjCounts {
    int64_t vertexLines = 0;
    int64_t faceLines = 0;
    int64_t vertexCountLine = -1;  // the "# N vertices" line
    bool allLinesCrLf = true;
};

ObjCounts CountObj(const std::string& bytes) {
    ObjCounts counts;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos) break;  // the last line has no line end
        if (end == start || bytes[end - 1] != '\r') counts.allLinesCrLf = false;
        if (bytes.compare(start, 2, "v ") == 0) ++counts.vertexLines;
        else if (bytes.compare(start, 2, "f ") == 0) ++counts.faceLines;
        else if (bytes.compare(start, 2, "# ") == 0) {
            std::string line = bytes.substr(start, end - start);
            long long n = 0;
            char tail[32] = {};
            if (std::sscanf(line.c_str(), "# %lld %31s", &n, tail) == 2 && std::strcmp(tail, "vertices") == 0)
                counts.vertexCountLine = n;
        }
        start = end + 1;
    }
    return counts;
}

// A binary STL's facet count and the box around its corners.
struct StlBox {
    uint32_t facets = 0;
    float low[3] = {1e30f, 1e30f, 1e30f}, high[3] = {-1e30f, -1e30f, -1e30f};
};

bool ReadStl(const std::wstring& path, StlBox& box) {
    std::string bytes;
    if (!ReadBytes(path, bytes) || bytes.size() < 84) return false;
    std::memcpy(&box.facets, bytes.data() + 80, 4);
    for (std::size_t f = 0; f < box.facets && bytes.size() == 84 + 50 * std::size_t{box.facets}; ++f)
        for (std::size_t k = 0; k < 9; ++k) {
            float v = 0;
            std::memcpy(&v, bytes.data() + 84 + 50 * f + 12 + 4 * k, 4);
            box.low[k % 3] = std::min(box.low[k % 3], v), box.high[k % 3] = std::max(box.high[k % 3], v);
        }
    return bytes.size() == 84 + 50 * std::size_t{box.facets};
}

// No-data cells in a region of a small grid: values that compare equal to the
// header's no-data value as a float, as the conversion counts them.
int64_t NodataCells(const std::string& grid, int xMin, int yMin, int xMax, int yMax) {
    std::size_t pos = 0;
    auto token = [&]() {
        while (pos < grid.size() && std::isspace(static_cast<unsigned char>(grid[pos]))) ++pos;
        std::size_t start = pos;
        while (pos < grid.size() && !std::isspace(static_cast<unsigned char>(grid[pos]))) ++pos;
        return grid.substr(start, pos - start);
    };
    float nodata = 0;
    for (int pair = 0; pair < 6; ++pair) {
        token();
        std::string value = token();
        if (pair == 5) nodata = static_cast<float>(std::atoi(value.c_str()));
    }
    std::size_t lineEnd = grid.find('\n', pos);
    pos = lineEnd == std::string::npos ? grid.size() : lineEnd + 1;
    int64_t count = 0;
    int row = 0;
    while (pos < grid.size()) {
        lineEnd = grid.find('\n', pos);
        if (lineEnd == std::string::npos) lineEnd = grid.size();
        std::string line = grid.substr(pos, lineEnd - pos);
        pos = lineEnd + 1;
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        ++row;
        if (row < yMin) continue;
        if (row > yMax) break;
        const char* p = line.c_str();
        for (int column = 1;; ++column) {
            char* next = nullptr;
            float value = std::strtof(p, &next);
            if (next == p) break;
            p = next;
            if (column > xMax) break;
            if (column >= xMin && value == nodata) ++count;
        }
    }
    return count;
}

// ---------------------------------------------------------------------------
// Screenshots, taken by the script at the driver's request

std::wstring g_shotDir;

void Shot(const std::string& name) {
    if (g_shotDir.empty()) return;
    std::wstring base = g_shotDir + L"\\" + std::wstring(name.begin(), name.end());
    std::wstring done = base + L".done";
    DeleteFileW(done.c_str());
    HANDLE request = CreateFileW((base + L".req").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (request == INVALID_HANDLE_VALUE) {
        Note("screenshot " + name + ": cannot write the request");
        return;
    }
    CloseHandle(request);
    bool taken = WaitFor([&] { return FileExists(done); }, 15000);
    Note("screenshot " + name + (taken ? " saved" : " not taken (no answer from the script)"));
}

// ---------------------------------------------------------------------------
// The application under test

struct App {
    PROCESS_INFORMATION process{};
    HWND main = nullptr;

    HWND Control(int id) const {
        const ControlEntry* entry = Entry(id);
        if (!entry || !main) return nullptr;
        HWND parent = entry->parent ? Control(entry->parent) : main;
        return parent ? GetDlgItem(parent, id) : nullptr;
    }
    std::wstring Text(int id) const { return Lines(TextOf(Control(id))); }
    bool Enabled(int id) const { return IsWindowEnabled(Control(id)) != 0; }
    bool Alive() const { return process.hProcess && WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT; }
};

struct FindMain {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindMainProc(HWND window, LPARAM param) {
    auto* find = reinterpret_cast<FindMain*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == find->pid && SameClass(ClassOf(window), L"Dunmoor") && IsWindowVisible(window)) {
        find->found = window;
        return FALSE;
    }
    return TRUE;
}

bool StartApp(App& app, const std::wstring& exe, const std::wstring& workDir, const std::wstring& arguments = {}) {
    std::wstring commandLine = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        workDir.empty() ? nullptr : workDir.c_str(), &startup, &app.process)) {
        Check("application starts", false, Format("CreateProcessW error %lu", GetLastError()));
        return false;
    }
    FindMain find{app.process.dwProcessId, nullptr};
    WaitFor([&] {
        // The first window of the class, or else the one of this process.
        find.found = FindWindowW(L"Dunmoor", nullptr);
        DWORD pid = 0;
        if (find.found) GetWindowThreadProcessId(find.found, &pid);
        if (pid != app.process.dwProcessId || !IsWindowVisible(find.found)) {
            find.found = nullptr;
            EnumWindows(FindMainProc, reinterpret_cast<LPARAM>(&find));
        }
        return find.found != nullptr || !app.Alive();
    }, 60000);
    app.main = find.found;
    if (!Check("main window of class \"Dunmoor\" appears", app.main != nullptr,
               app.Alive() ? "not found within 60 s" : "the process ended"))
        return false;
    // Let the creation and the first painting settle.
    WaitFor([&] { return Responsive(app.main); }, 10000);
    Sleep(300);
    return true;
}

void StopApp(App& app, bool checkExit) {
    if (!app.process.hProcess) return;
    if (app.Alive()) {
        // Leave no box behind that could hold the window.
        for (int i = 0; i < 5; ++i) {
            HWND box = OwnedDialog(app.main, nullptr);
            if (!box) break;
            PressDialogButton(box, IDCANCEL);
            PressDialogButton(box, IDOK);
        }
        PostMessageW(app.main, WM_CLOSE, 0, 0);
        bool ended = WaitForSingleObject(app.process.hProcess, 15000) == WAIT_OBJECT_0;
        DWORD code = 1;
        GetExitCodeProcess(app.process.hProcess, &code);
        if (checkExit)
            Check("closing the window ends the process with exit code 0", ended && code == 0,
                  ended ? Format("exit code %lu", code) : "still running 15 s after WM_CLOSE");
        if (!ended) TerminateProcess(app.process.hProcess, 3);
    }
    CloseHandle(app.process.hThread);
    CloseHandle(app.process.hProcess);
    app.process = {};
}

// ---------------------------------------------------------------------------
// Keyboard, focus and drops: keys are posted to the focused control, as the
// window's message loop receives typed keys.

HWND FocusOf(const App& app) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(app.process.dwThreadId, &info);
    return info.hwndFocus;
}

int FocusId(const App& app) { return GetDlgCtrlID(FocusOf(app)); }

void Key(App& app, UINT key) {
    HWND target = FocusOf(app) ? FocusOf(app) : app.main;
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, 0xC0000001);
    Sleep(150);
}

void Type(App& app, const std::wstring& text) {
    for (wchar_t c : text) PostMessageW(FocusOf(app), WM_CHAR, c, 1);
    Sleep(150);
}

// Clicks into a field, as the mouse gives it the focus.
bool FocusField(App& app, int id) {
    HWND field = app.Control(id);
    PostMessageW(field, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
    PostMessageW(field, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
    return WaitFor([&] { return FocusOf(app) == field; }, 3000);
}

// The id the window tells apart, shown in failure details.
std::string FocusName(const App& app) {
    const ControlEntry* entry = Entry(FocusId(app));
    return entry ? entry->name : Format("window %p", static_cast<void*>(FocusOf(app)));
}

// A request carried out on the window's thread by the driver's hook DLL,
// loaded there by the system (see drop_hook.cpp).
// A second wParam posts the request twice, the second right behind the first.
bool AskThroughHook(App& app, const wchar_t* message, WPARAM wParam, WPARAM second = 0) {
    static HMODULE hookModule = LoadLibraryW(L"dunmoor-e2e-drop.dll");
    auto proc = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(hookModule, "DropHookProc")));
    HHOOK hook = proc ? SetWindowsHookExW(WH_GETMESSAGE, proc, hookModule, app.process.dwThreadId) : nullptr;
    if (!Check("hook set on the window's thread", hook != nullptr, Format("error %lu", GetLastError())))
        return false;
    PostMessageW(app.main, RegisterWindowMessageW(message), wParam, 0);
    if (second != 0) PostMessageW(app.main, RegisterWindowMessageW(message), second, 0);
    Sleep(500);
    Responsive(app.main);
    UnhookWindowsHookEx(hook);
    return true;
}

// A file dropped on the window: the hook builds the DROPFILES memory and
// posts WM_DROPFILES inside the application, as the shell would.
bool DropFile(App& app, const std::wstring& path) {
    ATOM atom = GlobalAddAtomW(path.c_str());
    bool asked = AskThroughHook(app, L"DunmoorE2eDrop", atom);
    GlobalDeleteAtom(atom);
    return asked;
}

// Every static text shows whole in its own font, measured inside the
// application by the hook: bit (id - 200) marks one that does not.
void CheckTextsFit(App& app, const std::string& label) {
    LONG_PTR unfit = 0;
    if (AskThroughHook(app, L"DunmoorE2eFit", 0)) unfit = reinterpret_cast<LONG_PTR>(GetPropW(app.main, L"DunmoorE2eUnfit"));
    std::string wrong = unfit == 0 ? " no answer" : "";
    for (int bit = 1; bit < 63; ++bit)
        if (unfit & (LONG_PTR(1) << bit)) wrong += bit == 31 ? " units field covers meter(s);" : Format(" %d;", 200 + bit);
    Check(label + ": every text shows whole, each label on its line", wrong.empty(), wrong);
}

// Places at 96 DPI, in the parent's coordinates, of controls of each kind
// and depth; at another DPI each is scaled to it, give or take a pixel.
const int kPlaces[][5] = {{201, 15, 15, 625, 83}, {207, 1, 28, 60, 60},     {213, 9, 25, 610, 55},
                          {236, 9, 25, 458, 39},  {309, 489, 923, 142, 40}, {403, 580, 481, 50, 20},
                          {312, 469, 806, 162, 24}};

void CheckPlaces(App& app, const std::string& label, int dpi) {
    RECT client{};
    GetClientRect(app.main, &client);
    std::string wrong = client.right == MulDiv(655, dpi, 96) ? "" : Format(" client %ld wide;", client.right);
    for (const auto& place : kPlaces) {
        HWND control = app.Control(place[0]);
        RECT r{};
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
        const long got[] = {r.left, r.top, r.right - r.left, r.bottom - r.top};
        bool off = false;
        for (int i = 0; i < 4; ++i) off = off || std::abs(got[i] - MulDiv(place[i + 1], dpi, 96)) > (dpi == 96 ? 0 : 1);
        if (off) wrong += Format(" %d at (%ld, %ld) %ld x %ld;", place[0], got[0], got[1], got[2], got[3]);
    }
    Check(label + Format(": controls placed for %d DPI", dpi), wrong.empty(), wrong);
}

// ---------------------------------------------------------------------------
// Steps of the workflow

const wchar_t kDialogTitle[] = L"Select your ESRI ARC/INFO ASCII GRID file...";
const wchar_t kOoups[] = L"Ooups!";
const wchar_t kDone[] = L"Converting done...";
const wchar_t kCancelled[] = L"Converting cancelled...";

// The file-name field of the open-file dialog: the edit inside the combo box
// 0x47C, or the edit 0x480, or else the first visible edit.
HWND FileNameEdit(HWND dialog) {
    HWND combo = GetDlgItem(dialog, 0x47C);
    if (combo) {
        HWND edit = FindChild(combo, [](HWND w) { return SameClass(ClassOf(w), L"Edit"); });
        if (edit) return edit;
    }
    HWND edit = GetDlgItem(dialog, 0x480);
    if (edit && SameClass(ClassOf(edit), L"Edit")) return edit;
    return FindChild(dialog, [](HWND w) { return SameClass(ClassOf(w), L"Edit") && IsWindowVisible(w); });
}

// Presses Select file and waits for the open-file dialog.
HWND OpenFileDialog(App& app) {
    Click(app.Control(304));
    return WaitOwnedDialog(app.main, kDialogTitle, 30000);
}

// Selects `path` through the dialog; with `folder`, the dialog first goes
// into that folder, as a person browses there, and `path` is a name in it.
// True when the dialog took the name and closed; what the application does
// then is up to the caller to check.
bool ChooseInDialog(App& app, const std::wstring& path, const std::string& label, const std::wstring& folder = {}) {
    HWND dialog = OpenFileDialog(app);
    if (!Check(label + ": open-file dialog appears with its title", dialog != nullptr,
               "no dialog owned by the main window titled \"Select your ESRI ARC/INFO ASCII GRID file...\""))
        return false;
    HWND edit = FileNameEdit(dialog);
    if (!edit) {
        Check(label + ": file-name field found in the dialog", false);
        PressDialogButton(dialog, IDCANCEL);
        return false;
    }
    if (!folder.empty()) {
        SetTextOf(edit, folder);
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
        // The dialog empties the name field once it shows the folder.
        Check(label + ": the dialog goes into the folder", WaitFor([&] { return TextOf(edit).empty(); }, 10000),
              "name field reads " + Shown(TextOf(edit)));
    }
    SetTextOf(edit, path);
    bool closed = PressDialogButton(dialog, IDOK);
    if (!closed) {
        Check(label + ": the dialog accepts the typed path", false, "still open after OK");
        PressDialogButton(dialog, IDCANCEL);
        return false;
    }
    return true;
}

// Waits until a control shows `expected` (the application fills texts after
// the dialog has closed) and checks it.
bool CheckText(App& app, const std::string& name, int id, const std::wstring& expected, DWORD timeoutMs = 5000) {
    std::wstring actual;
    bool ok = WaitFor([&] { return (actual = app.Text(id)) == Lines(expected); }, timeoutMs);
    return Check(name, ok, "shows " + Shown(actual) + ", expected " + Shown(expected));
}

bool CheckEnabledStates(App& app, const std::string& name, const std::set<int>& disabled, DWORD timeoutMs = 5000) {
    std::string wrong;
    auto matches = [&] {
        wrong.clear();
        for (const ControlEntry& entry : kControls) {
            bool expected = disabled.count(entry.id) == 0;
            if (app.Enabled(entry.id) != expected)
                wrong += Format(" %d %s is %s;", entry.id, entry.name, expected ? "greyed" : "enabled");
        }
        return wrong.empty();
    };
    bool ok = WaitFor(matches, timeoutMs);
    return Check(name, ok, wrong);
}

// Waits for a message box owned by the main window with `caption`, checks its
// text (when given) and icon, and dismisses it with OK.
bool ExpectBox(App& app, const std::string& name, const wchar_t* caption, const std::wstring* text,
               const char* icon, DWORD timeoutMs, std::wstring* textOut = nullptr) {
    HWND box = WaitOwnedDialog(app.main, caption, timeoutMs, kDialogTitle);
    if (!box) {
        HWND other = OwnedDialog(app.main, nullptr);
        Check(name + ": box \"" + Utf8(caption) + "\" appears", false,
              other ? "a box titled " + Shown(TitleOf(other)) + " with text " + Shown(BoxText(other)) +
                          " appeared instead"
                    : Format("no box within %lu s", timeoutMs / 1000));
        if (other) PressDialogButton(other, IDOK);
        return false;
    }
    Check(name + ": box \"" + Utf8(caption) + "\" appears", true);
    RECT place{}, work{};
    GetWindowRect(box, &place);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    Check(name + ": box fits the work area", place.left >= work.left && place.right <= work.right,
          Format("box from x %ld to %ld", place.left, place.right));
    std::wstring shown = Lines(BoxText(box));
    if (textOut) *textOut = shown;
    bool ok = true;
    if (text) ok &= Check(name + ": box text", shown == Lines(*text),
                          "reads " + Shown(shown) + ", expected " + Shown(*text));
    if (icon) {
        std::string kind = BoxIconKind(box);
        ok &= Check(name + ": box shows the " + icon + " icon", kind == icon, "looks like " + kind);
    }
    ok &= Check(name + ": box closes with OK", PressDialogButton(box, IDOK));
    return ok;
}

// The summary text of a finished job, with the time it reports.
std::wstring SummaryText(const std::wstring& shownTime, int64_t vertices, int64_t quads, int64_t nodata) {
    return L"Conversion time: " + shownTime + L" seconds.\n\nVertices: " + Grouped(vertices) +
           L"\nTriangles: " + Grouped(2 * quads) + L"\nQuads " + Grouped(quads) + L"\n\nNo data value: " +
           Grouped(nodata);
}

// The "%.2f" seconds that a summary text reports, or empty.
std::wstring ShownTime(const std::wstring& text) {
    const std::wstring prefix = L"Conversion time: ";
    std::size_t at = text.find(prefix);
    if (at == std::wstring::npos) return {};
    at += prefix.size();
    std::size_t end = text.find(L" seconds.", at);
    if (end == std::wstring::npos) return {};
    std::wstring time = text.substr(at, end - at);
    std::size_t dot = time.find(L'.');
    bool digits = !time.empty() && dot != std::wstring::npos && dot > 0 && time.size() - dot == 3 &&
                  std::all_of(time.begin(), time.end(), [](wchar_t c) { return iswdigit(c) || c == L'.'; });
    return digits ? time : std::wstring();
}

// UTF-8 text as wide characters.
std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), static_cast<int>(wide.size()))));
    return wide;
}

// A count after `label` in a summary text ("Vertices: 1 234"), or -1.
int64_t SummaryCount(const std::wstring& text, const std::wstring& label) {
    std::size_t at = text.find(label);
    if (at == std::wstring::npos) return -1;
    at += label.size();
    std::wstring digits;
    while (at < text.size() && (iswdigit(text[at]) || text[at] == L' ' || text[at] == L'-')) {
        if (text[at] != L' ') digits += text[at];
        ++at;
    }
    return digits.empty() ? -1 : _wtoi64(digits.c_str());
}

struct Conversion {
    std::string label;
    std::wstring grid;      // grid path (Windows)
    std::wstring output;    // where the OBJ must appear: beside the grid
    std::wstring expected;  // the headless converter's file
    int xMin, yMin, xMax, yMax;  // region, for the no-data count of the summary
};

// Presses Convert and checks the summary box and the file against the
// headless converter's output.
void ConvertAndCompare(App& app, const Conversion& job, const std::function<void()>& press = {}) {
    DeleteFileW(job.output.c_str());
    if (press) press();
    else Click(app.Control(309));
    // Where the classic geometry misplaces vertices, the summary says so in
    // one more sentence, with the warning icon (the converter's exit 3).
    std::string geometry;
    const bool misplaced = ReadBytes(job.expected + L".geometry", geometry);
    std::wstring text;
    bool boxed = ExpectBox(app, job.label, kDone, nullptr, misplaced ? "warning" : "information", 120000, &text);
    std::string expected;
    bool haveExpected = ReadBytes(job.expected, expected);
    if (!haveExpected) Check(job.label + ": expected file present", false, Utf8(job.expected));
    if (boxed && haveExpected) {
        ObjCounts counts = CountObj(expected);
        std::string grid;
        ReadBytes(job.grid, grid);
        int64_t nodata = NodataCells(grid, job.xMin, job.yMin, job.xMax, job.yMax);
        std::wstring time = ShownTime(text);
        std::wstring want = SummaryText(time.empty() ? L"?" : time, counts.vertexLines, counts.faceLines, nodata) +
                            (misplaced ? L"\n\n" + Wide(geometry) : L"") + L"\n\nFile: " + job.output;
        // The box breaks a long path into lines; the path itself is whole.
        std::wstring joined = text;
        if (joined.find(L"File: ") != std::wstring::npos)
            joined.erase(std::remove(joined.begin() + joined.find(L"File: "), joined.end(), L'\n'), joined.end());
        Check(job.label + ": summary text", !time.empty() && joined == want,
              "reads " + Shown(text) + ", expected " + Shown(want));
    }
    WaitFor([&] { return app.Enabled(304); }, 10000);
    std::string produced;
    bool written = ReadBytes(job.output, produced);
    if (!Check(job.label + ": OBJ written beside the grid", written, Utf8(job.output) + " missing")) return;
    if (!haveExpected) return;
    std::string a = WithoutTimestamp(produced);
    std::string b = WithoutTimestamp(expected);
    std::string details;
    if (a != b) {
        std::size_t i = 0;
        while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
        std::size_t from = i > 40 ? i - 40 : 0;
        details = Format("%zu bytes vs %zu expected; first difference at byte %zu: window \"%s\" / converter \"%s\"",
                         a.size(), b.size(), i, Escaped(a.substr(from, 80)).c_str(),
                         Escaped(b.substr(from, 80)).c_str());
    }
    Check(job.label + ": OBJ equals the headless converter's (timestamp line aside)", a == b, details);
    std::size_t at = produced.find(kTimestampPrefix);
    int year, month, day, hour, minute;
    char tail[8] = {};
    bool stamped = at != std::string::npos &&
                   std::sscanf(produced.c_str() + at + std::strlen(kTimestampPrefix), "%4d-%2d-%2d, %2d:%2d%6c",
                               &year, &month, &day, &hour, &minute, tail) == 6 &&
                   std::memcmp(tail, "\r\n\r\n\r\n", 6) == 0;
    Check(job.label + ": timestamp line", stamped,
          at == std::string::npos ? "missing" : Escaped(produced.substr(at, 60)));
}

std::wstring FileInfoColumn1(const std::wstring& name, int64_t cols, int64_t rows) {
    return name + L"\n" + Grouped(cols) + L"\n" + Grouped(rows) + L"\n" + Grouped(cols * rows);
}

std::wstring Estimates(int64_t a, int64_t b, int64_t c) {
    return Grouped(a) + L"\n" + Grouped(b) + L"\n" + Grouped(c);
}

// Both estimate columns for a region of `cols` x `rows` cells.
void CheckEstimates(App& app, const std::string& name, int64_t cols, int64_t rows) {
    int64_t cells = cols * rows;
    CheckText(app, name + ": Interpolated estimate", 222, Estimates((cols + 1) * (rows + 1), 2 * cells, cells));
    CheckText(app, name + ": Floating planes estimate", 224, Estimates(4 * cells, 2 * cells, cells));
}

void CheckRegionFields(App& app, const std::string& name, const wchar_t* xMin, const wchar_t* yMin,
                       const wchar_t* xMax, const wchar_t* yMax) {
    std::wstring want = std::wstring(xMin) + L"," + yMin + L"," + xMax + L"," + yMax;
    std::wstring got;
    bool ok = WaitFor([&] {
        got = app.Text(401) + L"," + app.Text(402) + L"," + app.Text(403) + L"," + app.Text(404);
        return got == want;
    }, 5000);
    Check(name, ok, "fields read " + Shown(got) + ", expected " + Shown(want));
}

// Sets a region or units field as typing would and returns what it then shows.
std::wstring Edit(App& app, int id, const std::wstring& text) {
    SetTextOf(app.Control(id), text);
    return app.Text(id);
}

bool SelectGrid(App& app, const std::wstring& path, const std::string& label) {
    if (!ChooseInDialog(app, path, label)) return false;
    // A failed selection shows a box; a successful one fills the panel.
    HWND box = nullptr;
    WaitFor([&] {
        box = OwnedDialog(app.main, kOoups);
        return box != nullptr || (app.Enabled(309) && app.Text(403).size() > 0);
    }, 10000);
    if (box) {
        Check(label + ": grid accepted", false, "warning " + Shown(BoxText(box)));
        PressDialogButton(box, IDOK);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// The test plan

struct Paths {
    std::wstring work, grids, expected;
    std::wstring Grid(const wchar_t* name) const { return grids + L"\\" + name; }
    std::wstring Expected(const wchar_t* name) const { return expected + L"\\" + name; }
};

void StartState(App& app) {
    Check("window title is \"Dunmoor v0.2\"", TitleOf(app.main) == L"Dunmoor v0.2", Shown(TitleOf(app.main)));
    RECT client{};
    GetClientRect(app.main, &client);
    Check("client area is 655 x 1064", client.right == 655 && client.bottom == 1064,
          Format("%ld x %ld", client.right, client.bottom));
    LONG style = GetWindowLongW(app.main, GWL_STYLE);
    bool fixed = (style & WS_CAPTION) == WS_CAPTION && (style & WS_SYSMENU) && (style & WS_MINIMIZEBOX) &&
                 !(style & WS_THICKFRAME) && !(style & WS_MAXIMIZEBOX);
    Check("window has caption, system menu and minimize box, no sizing border or maximize box", fixed,
          Format("style 0x%08lX", style));
    RECT outer{};
    GetWindowRect(app.main, &outer);
    int x = std::abs(GetSystemMetrics(SM_CXSCREEN) - 655) / 2;
    int y = std::abs(GetSystemMetrics(SM_CYSCREEN) - 1064) / 2;
    Check("window placed at the screen's centre by its client size", outer.left == x && outer.top == y,
          Format("at (%ld, %ld), expected (%d, %d)", outer.left, outer.top, x, y));

    for (const ControlEntry& entry : kControls) {
        HWND control = app.Control(entry.id);
        std::string wrong;
        if (!control) {
            wrong = Format(" not found with GetDlgItem on %d;", entry.parent);
        } else {
            HWND parent = entry.parent ? app.Control(entry.parent) : app.main;
            if (GetParent(control) != parent) wrong += " wrong parent;";
            std::wstring cls = ClassOf(control);
            if (!SameClass(cls, entry.cls)) wrong += " class " + Shown(cls) + ";";
            std::wstring text = Lines(TextOf(control));
            if (entry.text && text != Lines(entry.text)) wrong += " text " + Shown(text) + ";";
            if (!entry.text && text.find(L"2018") == std::wstring::npos)
                wrong += " credit text " + Shown(text) + " names no 2018;";
            if ((IsWindowEnabled(control) != 0) != entry.enabledAtStart)
                wrong += entry.enabledAtStart ? " greyed;" : " enabled;";
            if (!IsWindowVisible(control)) wrong += " hidden;";
        }
        Check(Format("start: control %d %s", entry.id, entry.name), wrong.empty(), wrong);
    }
    CheckPlaces(app, "start", 96);
}

// The message loop waits for messages: an idle window takes next to no
// processor time. A polling loop keeps its thread busy; under Wine much of
// that lands in the wine server, yet its own thread still shows a quarter or
// more of the wall time, where a waiting loop shows next to nothing. The
// thread's times are read (Wine reports no process times for another
// process), and the process's when they are larger.
void IdleCpu(App& app) {
    auto ticks = [](const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    auto used = [&] {
        FILETIME created, exited, kernel, user;
        uint64_t thread = 0, process = 0;
        if (GetThreadTimes(app.process.hThread, &created, &exited, &kernel, &user))
            thread = ticks(kernel) + ticks(user);
        if (GetProcessTimes(app.process.hProcess, &created, &exited, &kernel, &user))
            process = ticks(kernel) + ticks(user);
        return std::make_pair(thread, process);
    };
    auto before = used();
    DWORD start = GetTickCount();
    Sleep(2000);
    auto after = used();
    double wallMs = GetTickCount() - start;
    double cpuMs = std::max(after.first - before.first, after.second - before.second) / 10000.0;
    std::string measured = Format("%.0f ms of processor time in %.0f ms", cpuMs, wallMs);
    Check("idle window uses no processor time", cpuMs < 0.1 * wallMs, measured);
    Note("idle window: " + measured);
}

void FailedSelectionsBeforeAnyFile(App& app, const Paths& paths) {
    std::set<int> startDisabled;
    for (const ControlEntry& entry : kControls)
        if (!entry.enabledAtStart) startDisabled.insert(entry.id);

    HWND dialog = OpenFileDialog(app);
    if (Check("no file: open-file dialog appears with its title", dialog != nullptr)) {
        PressDialogButton(dialog, IDCANCEL);
        std::wstring text = L"No file to open...";
        ExpectBox(app, "no file", kOoups, &text, "warning", 10000);
    }
    CheckEnabledStates(app, "no file: later steps stay greyed", startDisabled);

    if (ChooseInDialog(app, paths.Grid(L"notgrid.txt"), "not a grid")) {
        std::wstring text = L"Not proper ESRI ARC/INFO ASCII GRID file...";
        ExpectBox(app, "not a grid", kOoups, &text, "warning", 10000);
    }
    CheckEnabledStates(app, "not a grid: later steps stay greyed", startDisabled);
    CheckText(app, "not a grid: file info still empty", 208, L"---\n---\n---\n---");
    // A header the reader refuses says why.
    if (ChooseInDialog(app, paths.Grid(L"nocells.asc"), "cell size 0")) {
        std::wstring text = L"Not proper ESRI ARC/INFO ASCII GRID file...\n\nThe header's cell size 0 is not a size: "
                            L"cells must be larger than 0.";
        ExpectBox(app, "cell size 0", kOoups, &text, "warning", 10000);
    }
}

void TinyGrid(App& app, const Paths& paths, const Conversion& tiny) {
    if (!SelectGrid(app, tiny.grid, "4x3 grid")) return;
    CheckText(app, "4x3 grid: file info names, columns, rows, records", 208, FileInfoColumn1(L"tiny.asc", 4, 3));
    CheckText(app, "4x3 grid: file info corner, cell size, no data", 210, L"512000.00\n6234000.00\n2.50\n-9999");
    CheckRegionFields(app, "4x3 grid: region fields cover the grid", L"1", L"1", L"4", L"3");
    CheckText(app, "4x3 grid: Interpolated estimate 20/24/12", 222, L"20\n24\n12");
    CheckText(app, "4x3 grid: Floating planes estimate 48/24/12", 224, L"48\n24\n12");
    CheckEnabledStates(app, "4x3 grid: all steps enabled but the Floating planes estimate", {223, 224});
    CheckText(app, "4x3 grid: status ready", 235, L"Status: Ready...");
    Shot("02-file-selected");

    ConvertAndCompare(app, tiny);
    CheckEnabledStates(app, "after a job: every step enabled, both estimates included", {});
    CheckText(app, "after a job: status ready", 235, L"Status: Ready...");

    // A cancelled dialog leaves the previous selection whole: the panel, the
    // fields, the chosen method and the file that the next job reads.
    Click(app.Control(306));
    CheckEnabledStates(app, "4x3 grid: Floating planes chosen", {221, 222, 311, 408});
    HWND dialog = OpenFileDialog(app);
    if (Check("cancelled dialog: dialog appears", dialog != nullptr)) {
        PressDialogButton(dialog, IDCANCEL);
        std::wstring text = L"No file to open...";
        ExpectBox(app, "cancelled dialog", kOoups, &text, "warning", 10000);
    }
    CheckText(app, "cancelled dialog: file info kept", 208, FileInfoColumn1(L"tiny.asc", 4, 3));
    CheckRegionFields(app, "cancelled dialog: region fields kept", L"1", L"1", L"4", L"3");
    CheckEnabledStates(app, "cancelled dialog: steps and chosen method stay", {221, 222, 311, 408});
    Conversion again = tiny;
    again.label = "convert after a cancelled dialog (Floating planes kept)";
    again.output = paths.Grid(L"tiny__floating_planes.obj");
    again.expected = paths.Expected(L"tiny__floating_planes.obj");
    ConvertAndCompare(app, again);

    // A file that is no grid, chosen in another folder, moves the current
    // directory there; the next job still writes beside the selected grid.
    if (ChooseInDialog(app, L"notgrid.txt", "failed selection", paths.Grid(L"elsewhere"))) {
        std::wstring text = L"Not proper ESRI ARC/INFO ASCII GRID file...";
        ExpectBox(app, "failed selection", kOoups, &text, "warning", 10000);
    }
    CheckText(app, "failed selection: file info kept", 208, FileInfoColumn1(L"tiny.asc", 4, 3));
    CheckRegionFields(app, "failed selection: region fields kept", L"1", L"1", L"4", L"3");
    again.label = "convert after a failed selection in another folder (Floating planes kept)";
    ConvertAndCompare(app, again);
    Check("failed selection: nothing written in the other folder",
          !FileExists(paths.Grid(L"elsewhere\\tiny__floating_planes.obj")));
}

// Units that cannot drive a conversion are refused before any job starts.
void UnitsField(App& app, const Paths& paths) {
    const std::wstring outputs[] = {paths.Grid(L"tiny__interpolated.obj"), paths.Grid(L"tiny__floating_planes.obj")};
    const wchar_t* refused[] = {L"0", L"abc", L"1.5abc"};
    for (const wchar_t* units : refused) {
        std::string label = "units " + Utf8(units);
        Edit(app, 405, units);
        for (const std::wstring& output : outputs) DeleteFileW(output.c_str());
        Click(app.Control(309));
        std::wstring text;
        ExpectBox(app, label, kOoups, nullptr, "warning", 10000, &text);
        Note(label + ": warning reads " + Shown(text));
        bool written = FileExists(outputs[0]) || FileExists(outputs[1]);
        Check(label + ": no job ran", !written && app.Enabled(304) && app.Text(235) == L"Status: Ready...",
              written ? "an output file was written" : "inputs greyed or status changed");
        Check(label + ": focus back in the units field", WaitFor([&] { return FocusId(app) == 405; }, 3000),
              "focus on " + FocusName(app));
    }
    // A decimal comma reads as the point: the file of units 1.5.
    Edit(app, 405, L"1,5");
    ConvertAndCompare(app, {"units \"1,5\" as 1.5", paths.Grid(L"tiny.asc"), outputs[1],
                            paths.expected + L"\\units15\\tiny__floating_planes.obj", 1, 1, 4, 3});
    std::wstring shown = Edit(app, 405, L"-2");
    Check("units -2 becomes \"1.0\"", shown == L"1.0", "shows " + Shown(shown));
    shown = Edit(app, 405, L"0");
    Check("units 0 stays as typed", shown == L"0", "shows " + Shown(shown));
    Edit(app, 405, L"1.0");
}

void RegionAndMethods(App& app, const Paths& paths) {
    if (!SelectGrid(app, paths.Grid(L"big1000.asc"), "1000x1000 grid")) return;
    CheckText(app, "1000x1000 grid: file info", 208, FileInfoColumn1(L"big1000.asc", 1000, 1000));
    CheckText(app, "1000x1000 grid: Interpolated estimate", 222, L"1 002 001\n2 000 000\n1 000 000");
    CheckText(app, "1000x1000 grid: Floating planes estimate", 224, L"4 000 000\n2 000 000\n1 000 000");

    std::wstring shown = Edit(app, 401, L"0");
    Check("X min 0 becomes \"1\"", shown == L"1", "shows " + Shown(shown));
    shown = Edit(app, 402, L"");
    Check("empty Y min becomes \"1\"", shown == L"1", "shows " + Shown(shown));
    shown = Edit(app, 403, L"99999");
    Check("X max 99999 becomes the column count \"1000\"", shown == L"1000", "shows " + Shown(shown));
    shown = Edit(app, 404, L"0");
    Check("Y max 0 becomes \"1\"", shown == L"1", "shows " + Shown(shown));
    shown = Edit(app, 404, L"1000");
    Check("Y max 1000 stands", shown == L"1000", "shows " + Shown(shown));
    shown = Edit(app, 401, L"5000");
    Check("X min is capped at columns - 1 (\"999\")", shown == L"999", "shows " + Shown(shown));
    CheckEstimates(app, "region 999..1000 x 1..1000", 2, 1000);
    shown = Edit(app, 402, L"1000");
    Check("Y min is capped at rows - 1 (\"999\")", shown == L"999", "shows " + Shown(shown));

    // Typing into a cleared field: it waits empty while it has the focus.
    Edit(app, 401, L"1");
    Edit(app, 402, L"1");
    if (Check("typing: a click gives X max the focus", FocusField(app, 403), "focus on " + FocusName(app))) {
        SendMessageTimeoutW(app.Control(403), EM_SETSEL, 0, -1, SMTO_NORMAL, kSendTimeoutMs, nullptr);
        Type(app, L"\b");
        Check("typing: cleared X max waits empty", app.Text(403).empty(), "shows " + Shown(app.Text(403)));
        CheckEstimates(app, "typing: empty X max counts as 1", 1, 1000);
        Type(app, L"250");
        Check("typing: \"250\" typed into the cleared field", app.Text(403) == L"250", "shows " + Shown(app.Text(403)));
        CheckEstimates(app, "typing: X max 250", 250, 1000);
        Type(app, L"\b\b\b");
        Key(app, VK_TAB);
        Check("typing: a field left empty is refilled with \"1\"", app.Text(403) == L"1", "shows " + Shown(app.Text(403)));
    }

    Edit(app, 401, L"10");
    Edit(app, 403, L"5");
    Edit(app, 402, L"5");
    Edit(app, 404, L"5");
    CheckRegionFields(app, "X min above X max: nothing rewritten", L"10", L"5", L"5", L"5");
    CheckText(app, "X min 10 > X max 5: Interpolated estimate 0/0/0", 222, L"0\n0\n0");
    CheckText(app, "X min 10 > X max 5: Floating planes estimate 0/0/0", 224, L"0\n0\n0");
    const std::wstring emptyOutput = paths.Grid(L"big1000__interpolated.obj");
    DeleteFileW(emptyOutput.c_str());
    Click(app.Control(309));
    std::wstring emptyText = L"The region is empty...";
    ExpectBox(app, "empty region", kOoups, &emptyText, "warning", 10000);
    Check("empty region: nothing written, focus on X min",
          !FileExists(emptyOutput) && WaitFor([&] { return FocusId(app) == 401; }, 3000), "focus on " + FocusName(app));
    CheckText(app, "region edits leave the units field", 405, L"1.0");

    Click(app.Control(306));
    WaitFor([&] { return app.Enabled(223) && !app.Enabled(221); }, 5000);
    CheckEnabledStates(app, "Floating planes chosen: Interpolated estimate greyed", {221, 222, 311, 408});
    Click(app.Control(305));
    CheckEnabledStates(app, "Interpolated chosen: Floating planes estimate greyed", {223, 224});
    Click(app.Control(305));
    CheckEnabledStates(app, "Interpolated chosen again: nothing changes", {223, 224});
}

// A grid written by an outside program, a region inside it, Floating planes
// and 2.5 m units.
void WitnessGrid(App& app, const Paths& paths) {
    Conversion job{"outside-written grid, region, Floating planes, units 2.5", paths.Grid(L"witness.asc"),
                   paths.Grid(L"witness__floating_planes.obj"), paths.Expected(L"witness__floating_planes.obj"),
                   11, 6, 100, 80};
    if (!SelectGrid(app, job.grid, "outside-written grid")) return;
    CheckText(app, "outside-written grid: file info", 208, FileInfoColumn1(L"witness.asc", 120, 90));
    CheckText(app, "outside-written grid: corner, cell size, no data", 210, L"512000.00\n6234000.00\n1.00\n-9999");
    Click(app.Control(306));
    Edit(app, 401, L"11");
    Edit(app, 402, L"6");
    Edit(app, 403, L"100");
    Edit(app, 404, L"80");
    CheckRegionFields(app, "outside-written grid: region set", L"11", L"6", L"100", L"80");
    CheckEstimates(app, "outside-written grid: region estimates", 90, 75);
    Edit(app, 405, L"2.5");
    ConvertAndCompare(app, job);
    Edit(app, 405, L"1.0");
}

// Grids of one column and of one row: the X min (Y min) limit is 0, and the
// clamp still settles.
void ThinGrids(App& app, const Paths& paths) {
    Conversion column{"one-column grid, Interpolated", paths.Grid(L"col1.asc"),
                      paths.Grid(L"col1__interpolated.obj"), paths.Expected(L"col1__interpolated.obj"), 1, 1, 1, 5};
    if (SelectGrid(app, column.grid, "one-column grid")) {
        Check("one-column grid: window answers", Responsive(app.main));
        CheckRegionFields(app, "one-column grid: region fields settle", L"1", L"1", L"1", L"5");
        CheckEstimates(app, "one-column grid", 1, 5);
        std::wstring shown = Edit(app, 401, L"3");
        Check("one-column grid: X min settles after an edit", Responsive(app.main) && !shown.empty(),
              "shows " + Shown(shown));
        Edit(app, 401, L"1");
        ConvertAndCompare(app, column);
    }
    Conversion row{"one-row grid, Floating planes", paths.Grid(L"row1.asc"), paths.Grid(L"row1__floating_planes.obj"),
                   paths.Expected(L"row1__floating_planes.obj"), 1, 1, 6, 1};
    if (SelectGrid(app, row.grid, "one-row grid")) {
        Check("one-row grid: window answers", Responsive(app.main));
        CheckRegionFields(app, "one-row grid: region fields settle", L"1", L"1", L"6", L"1");
        CheckEstimates(app, "one-row grid", 6, 1);
        Click(app.Control(306));
        ConvertAndCompare(app, row);
    }
}

// The region picture as the screen shows it, 0xRRGGBB row by row.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
};

Picture ShownPicture(App& app) {
    Responsive(app.main);
    Sleep(150);
    RECT r{};
    GetWindowRect(app.Control(214), &r);
    Picture p{r.right - r.left, r.bottom - r.top, std::vector<uint32_t>((r.right - r.left) * (r.bottom - r.top))};
    BITMAPINFO info{{sizeof(BITMAPINFOHEADER), p.width, -p.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, p.width, p.height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, p.width, p.height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    GetDIBits(memory, bitmap, 0, p.height, p.pixels.data(), &info, DIB_RGB_COLORS);
    for (uint32_t& pixel : p.pixels) pixel &= 0xFFFFFF;
    DeleteObject(bitmap), DeleteDC(memory), ReleaseDC(nullptr, screen);
    return p;
}

// A preview rather than an image: the panel's colour beside or above a grid
// that does not fill the picture.
bool PreviewShown(App& app) {
    const Picture p = ShownPicture(app);
    return p.width > 2 && (p.pixels[p.height / 2 * p.width + 1] == 0xF0F0F0 || p.pixels[p.width + p.width / 2] == 0xF0F0F0);
}

// The --preview picture of a grid, as scripts/e2e wrote it (binary PPM).
Picture ExpectedPicture(const std::wstring& ppm) {
    std::string bytes;
    Picture p;
    int depth = 0, read = 0;
    if (!ReadBytes(ppm, bytes) || std::sscanf(bytes.c_str(), "P6 %d %d %d%n", &p.width, &p.height, &depth, &read) != 3)
        return {};
    for (std::size_t i = read + 1; i + 2 < bytes.size(); i += 3)
        p.pixels.push_back((uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8) | uint8_t(bytes[i + 2]));
    return p;
}

// The share of pixels more than a few levels apart; 1 for pictures of other sizes.
double Difference(const Picture& a, const Picture& b) {
    if (a.pixels.empty() || a.pixels.size() != b.pixels.size()) return 1;
    int apart = 0;
    for (std::size_t i = 0; i < a.pixels.size(); ++i) {
        bool alike = true;
        for (int shift = 0; shift < 24; shift += 8) alike = alike && std::abs(int((a.pixels[i] >> shift) & 0xFF) - int((b.pixels[i] >> shift) & 0xFF)) <= 3;
        apart += !alike;
    }
    return static_cast<double>(apart) / a.pixels.size();
}

// Waits until the picture is the grid's --preview but for the region's marks.
bool ShowsPreviewOf(App& app, const Picture& expected, double& difference, DWORD timeoutMs = 10000) {
    return WaitFor([&] { return (difference = Difference(ShownPicture(app), expected)) < 0.06; }, timeoutMs);
}

void Drag(App& app, POINT from, POINT to) {
    for (UINT message : {WM_LBUTTONDOWN, WM_MOUSEMOVE, WM_LBUTTONUP})
        PostMessageW(app.Control(214), message, message != WM_LBUTTONUP ? MK_LBUTTON : 0,
                     message == WM_LBUTTONDOWN ? MAKELPARAM(from.x, from.y) : MAKELPARAM(to.x, to.y));
    Responsive(app.main);
}

// The region picture shows the grid as --preview draws it, the region on it;
// dragging over it sets the region (the lake grid has 2 pixels a cell).
void RegionPicture(App& app, const Paths& paths) {
    const Picture hillside = ExpectedPicture(paths.Expected(L"hillside.ppm"));
    const Picture tall = ExpectedPicture(paths.Expected(L"tall.ppm"));
    double difference = 1;
    if (SelectGrid(app, paths.Grid(L"hillside.asc"), "picture of the sample")) {
        Check("picture of the sample: as --preview draws it", ShowsPreviewOf(app, hillside, difference),
              Format("%.3f of the pixels differ", difference));
        Shot("10-picture-sample");
    }
    if (SelectGrid(app, paths.Grid(L"tall.asc"), "picture of a tall grid")) {
        Check("picture of a tall grid: as --preview draws it, unlike the sample's",
              ShowsPreviewOf(app, tall, difference) && Difference(hillside, tall) > 0.3,
              Format("%.3f of the pixels differ", difference));
        Shot("12-picture-tall");
    }
    if (!SelectGrid(app, paths.Grid(L"lake.asc"), "picture of a grid with no-data")) return;
    Check("picture of a grid with no-data: shown", WaitFor([&] { return Difference(ShownPicture(app), tall) > 0.5; }, 10000));
    Shot("11-picture-no-data");
    const Picture whole = ShownPicture(app);
    Edit(app, 401, L"60");
    Check("typed X min moves the frame", Difference(ShownPicture(app), whole) > 0.001);
    Drag(app, {201, 91}, {50, 20});
    CheckRegionFields(app, "drag from south-east to north-west sets the region", L"26", L"11", L"101", L"46");
    Shot("13-picture-region-dragged");
    CheckEstimates(app, "dragged region", 76, 36);
    Drag(app, {387, 10}, {387, 60});
    CheckRegionFields(app, "drag along the last column: X min clamped", L"193", L"6", L"194", L"31");
    Drag(app, {100, 50}, {100, 50});
    Drag(app, {100, 50}, {102, 51});
    CheckRegionFields(app, "a click and a move under the drag distance change nothing", L"193", L"6", L"194", L"31");

    // A large grid and the sample dropped one right behind the other: the
    // large grid's preview is cancelled as it starts and never shows.
    ATOM large = GlobalAddAtomW(paths.Grid(L"cancel.asc").c_str()), sample = GlobalAddAtomW(paths.Grid(L"hillside.asc").c_str());
    if (AskThroughHook(app, L"DunmoorE2eDrop", large, sample) &&
        CheckText(app, "large grid replaced at once: the sample selected", 208, FileInfoColumn1(L"hillside.asc", 120, 90), 10000)) {
        bool stays = ShowsPreviewOf(app, hillside, difference);
        for (int i = 0; i < 10 && stays; ++i, Sleep(200)) stays = Difference(ShownPicture(app), hillside) < 0.06;
        Check("large grid replaced at once: the sample's picture shows and stays", stays,
              Format("%.3f of the pixels differ", difference));
    }
    GlobalDeleteAtom(large);
    GlobalDeleteAtom(sample);
}

// A header of 100 000 x 100 000 cells: counts beyond 32 bits.
void HugeHeader(App& app, const Paths& paths) {
    if (!SelectGrid(app, paths.Grid(L"huge.asc"), "100000x100000 header")) return;
    CheckText(app, "100000x100000 header: records 10 000 000 000", 208,
              L"huge.asc\n100 000\n100 000\n10 000 000 000");
    // The region fields hold what fits in them; the estimates follow them.
    int64_t xMin = _wtoi64(app.Text(401).c_str()), yMin = _wtoi64(app.Text(402).c_str());
    int64_t xMax = _wtoi64(app.Text(403).c_str()), yMax = _wtoi64(app.Text(404).c_str());
    Note(Format("100000x100000 header: region fields %lld..%lld x %lld..%lld", (long long)xMin, (long long)xMax,
                (long long)yMin, (long long)yMax));
    CheckEstimates(app, "100000x100000 header: 64-bit estimates", xMax - xMin + 1, yMax - yMin + 1);
    // Converting costs what its six values cost; the summary warns of the
    // cells the file did not hold.
    Click(app.Control(309));
    std::wstring text;
    const std::wstring holes = L"The grid file held " + Grouped((xMax - xMin + 1) * (yMax - yMin + 1) - 6) +
                               L" fewer values than its header promised; those cells are holes.";
    if (ExpectBox(app, "100000x100000 header, converted", kDone, nullptr, "warning", 30000, &text))
        Check("100000x100000 header: summary tells of the holes", text.find(holes) != std::wstring::npos,
              Shown(text));
    DeleteFileW(paths.Grid(L"huge__interpolated.obj").c_str());
}

// An output that cannot be written: a folder stands where the file would go.
void UnwritableOutput(App& app, const Paths& paths) {
    if (!SelectGrid(app, paths.Grid(L"blocked\\blocked.asc"), "unwritable output")) return;
    Click(app.Control(309));
    HWND box = WaitOwnedDialog(app.main, nullptr, 60000, kDialogTitle);
    if (!Check("unwritable output: a box appears", box != nullptr)) return;
    std::wstring caption = TitleOf(box);
    std::wstring text = Lines(BoxText(box));
    Note("unwritable output: box " + Shown(caption) + ": " + Shown(text));
    Check("unwritable output: box is no success summary", caption != kDone, Shown(caption));
    Check("unwritable output: box names the file", text.find(L"blocked__interpolated.obj") != std::wstring::npos,
          Shown(text));
    std::string kind = BoxIconKind(box);
    Check("unwritable output: box shows the warning icon", kind == "warning", "looks like " + kind);
    Check("unwritable output: box closes with OK", PressDialogButton(box, IDOK));
    CheckEnabledStates(app, "unwritable output: steps enabled again", {});
}

// ---------------------------------------------------------------------------
// An earlier good file survives every job that does not finish

const char kEarlierFile[] = "# an earlier conversion\r\n# 1 quads";

bool PlaceEarlierFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD wrote = 0;
    bool ok = WriteFile(file, kEarlierFile, sizeof kEarlierFile - 1, &wrote, nullptr) && wrote == sizeof kEarlierFile - 1;
    CloseHandle(file);
    return ok;
}

// ".part-" files (a job's temporary output) in the folder of `path`.
int TemporaryFilesBeside(const std::wstring& path) {
    std::wstring pattern = path.substr(0, path.find_last_of(L'\\') + 1) + L"*.part-*";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int count = 0;
    do ++count;
    while (FindNextFileW(search, &found));
    FindClose(search);
    return count;
}

void CheckEarlierFileKept(const std::string& label, const std::wstring& output) {
    std::string bytes;
    bool read = ReadBytes(output, bytes);
    Check(label + ": the earlier file is kept byte for byte", read && bytes == kEarlierFile,
          read ? "reads \"" + Escaped(bytes.substr(0, 60)) + "\"" : "file gone");
    int temporary = TemporaryFilesBeside(output);
    Check(label + ": no temporary file left", temporary == 0, Format("%d .part- files", temporary));
}

// Checks a cancelled job's box: the counts reached, framed by
// ---CANCELLED---, and that no file was written.
void CheckCancelledJob(App& app, const std::string& label, const std::wstring& output) {
    HWND box = WaitOwnedDialog(app.main, nullptr, 120000, kDialogTitle);
    Check(label + ": box \"Converting cancelled...\" appears", box && TitleOf(box) == kCancelled,
          box ? "box " + Shown(TitleOf(box)) + " appeared: the job ended before the cancel" : "no box");
    if (!box) return;
    std::wstring text = Lines(BoxText(box));
    const std::wstring ending = L"\n---CANCELLED---\n\nNo file was written.";
    bool framed = text.rfind(L"---CANCELLED---\nConversion time: ", 0) == 0 && text.size() > ending.size() &&
                  text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
    Check(label + ": counts framed by ---CANCELLED---, no file written", framed, Shown(text));
    Check(label + ": box shows the counts reached", SummaryCount(text, L"Vertices: ") >= 0, Shown(text));
    PressDialogButton(box, IDOK);
    CheckEnabledStates(app, label + ": steps enabled again", {}, 10000);
    CheckText(app, label + ": status ready", 235, L"Status: Ready...");
    CheckEarlierFileKept(label, output);
}

// The share of the Convert button's pixels on the screen that are red, as
// the CANCEL pictures are (the CONVERT ones are grey or blue).
double RedShare(App& app) {
    RECT r{};
    GetWindowRect(app.Control(309), &r);
    HDC screen = GetDC(nullptr);
    int red = 0, all = 0;
    for (int y = r.top + 2; y < r.bottom - 2; y += 4)
        for (int x = r.left + 2; x < r.right - 2; x += 4, ++all)
            red += GetRValue(GetPixel(screen, x, y)) > GetGValue(GetPixel(screen, x, y)) + 60;
    ReleaseDC(nullptr, screen);
    return all ? static_cast<double>(red) / all : 0;
}

// A large grid: a job started with Enter greys the inputs and offers Cancel;
// Convert pressed twice at once stops the job in its vertex pass. Either way the
// earlier file of the output's name stays as it was.
void CancelledJobs(App& app, const Paths& paths) {
    std::wstring grid = paths.Grid(L"cancel.asc");
    std::wstring output = paths.Grid(L"cancel__interpolated.obj");
    if (!SelectGrid(app, grid, "3000x6000 grid")) return;
    CheckText(app, "3000x6000 grid: file info", 208, FileInfoColumn1(L"cancel.asc", 3000, 6000));

    Check("cancel: earlier file placed", PlaceEarlierFile(output));
    for (int i = 0; i < 10; ++i) Key(app, VK_TAB);  // from Select file to the geometry, where Enter converts
    Key(app, VK_RETURN);
    std::wstring status;
    bool running = WaitFor([&] {
        return (status = app.Text(235)) == L"Status: Calculating vertices..." && !app.Enabled(304);
    }, 20000);
    Check("running job: status \"Calculating vertices...\"", running, "status " + Shown(status));
    CheckEnabledStates(app, "running job: inputs greyed, step 5 enabled", kInputGroupIds, 0);
    Shot("03-converting");
    Note("running job: cancelled while the status read " + Shown(app.Text(235)));
    Check("running job: focus on Cancel", FocusId(app) == 309, "focus on " + FocusName(app));
    Check("running job started by Enter: the button shows CANCEL", RedShare(app) > 0.3, Format("%.2f red", RedShare(app)));
    Key(app, VK_ESCAPE);  // Esc presses Cancel
    CheckCancelledJob(app, "cancel while running", output);

    Click(app.Control(309));
    Click(app.Control(309));
    CheckCancelledJob(app, "Convert pressed twice", output);
}

// The grid file deleted, emptied or rewritten after it was selected: Convert
// warns and writes nothing; the file info stays.
void GridChangedAfterSelection(App& app, const Paths& paths) {
    std::wstring grid = paths.Grid(L"gone.asc");
    std::wstring output = paths.Grid(L"gone__interpolated.obj");
    CopyFileW(paths.Grid(L"tiny.asc").c_str(), grid.c_str(), FALSE);
    if (!SelectGrid(app, grid, "grid changed after selection")) return;
    // The region picture's reading of the file has ended.
    Check("changed grid: its picture shown", WaitFor([&] { return PreviewShown(app); }, 10000));
    Check("changed grid: earlier file placed", PlaceEarlierFile(output));
    struct Change {
        const char* label;
        const char* bytes;  // nullptr: the file is deleted
        const wchar_t* warning;
    };
    const Change changes[] = {
        {"grid deleted", nullptr, L"The grid file can no longer be read: "},
        {"grid emptied", "", L"The grid file can no longer be read: "},
        {"grid rewritten with another header", "ncols 5\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 2 3 4 5\n",
         L"The grid file has changed since it was selected; please select it again: "},
    };
    for (const Change& change : changes) {
        std::string label = change.label;
        bool changed = change.bytes ? [&] {
            HANDLE file = CreateFileW(grid.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            DWORD wrote = 0;
            bool ok = file != INVALID_HANDLE_VALUE &&
                      WriteFile(file, change.bytes, static_cast<DWORD>(std::strlen(change.bytes)), &wrote, nullptr);
            if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
            return ok;
        }() : DeleteFileW(grid.c_str()) != 0;
        if (!Check(label + ": done while the grid is selected", changed, Format("error %lu", GetLastError())))
            continue;
        Click(app.Control(309));
        std::wstring text = change.warning + grid;
        ExpectBox(app, label, kOoups, &text, "warning", 10000);
        CheckEarlierFileKept(label, output);
        CheckText(app, label + ": file info kept", 208, FileInfoColumn1(L"gone.asc", 4, 3));
        CheckEnabledStates(app, label + ": steps enabled", {223, 224});
    }
    DeleteFileW(grid.c_str());
    DeleteFileW(output.c_str());
}

// Closing the window while a job runs: the job is cancelled, no box, the
// process ends with 0 and the earlier file stays.
void CloseDuringJob(const std::wstring& exe, const Paths& paths) {
    App app;
    if (!StartApp(app, exe, paths.work)) {
        StopApp(app, false);
        return;
    }
    std::wstring output = paths.Grid(L"cancel__interpolated.obj");
    if (SelectGrid(app, paths.Grid(L"cancel.asc"), "close during a job") &&
        Check("close during a job: earlier file placed", PlaceEarlierFile(output))) {
        Click(app.Control(309));
        bool running = WaitFor([&] { return app.Text(235) == L"Status: Calculating vertices..."; }, 20000);
        Check("close during a job: job running", running);
        PostMessageW(app.main, WM_CLOSE, 0, 0);
        bool boxShown = false;
        bool ended = WaitFor([&] {
            boxShown = boxShown || OwnedDialog(app.main, nullptr) != nullptr;
            return !app.Alive();
        }, 30000);
        DWORD code = 1;
        GetExitCodeProcess(app.process.hProcess, &code);
        Check("close during a job: the process ends with exit code 0", ended && code == 0,
              ended ? Format("exit code %lu", code) : "still running 30 s after WM_CLOSE");
        Check("close during a job: no box shown", !boxShown);
        CheckEarlierFileKept("close during a job", output);
    }
    StopApp(app, false);
}

// Tab walks the inputs in layout order from Select file; Enter in the units
// field converts.
void KeyboardWalk(App& app, const Conversion& tiny) {
    if (!SelectGrid(app, tiny.grid, "keyboard")) return;
    Check("keyboard: focus back on Select file after the dialog", WaitFor([&] { return FocusId(app) == 304; }, 3000),
          "focus on " + FocusName(app));
    const int order[] = {401, 402, 403, 404, 305, 306, 311, 408, 405, 406, 312, 310, 309, 304};
    std::string walked;
    bool inOrder = true;
    for (int id : order) {
        Key(app, VK_TAB);
        walked += " " + FocusName(app);
        inOrder = inOrder && FocusId(app) == id;
        if (id == 305) Shot("04-tab-focus");
    }
    Check("keyboard: Tab walks the region fields, the methods, units, Convert and back", inOrder, walked);
    for (int i = 0; i < 9; ++i) Key(app, VK_TAB);
    Conversion byEnter = tiny;
    byEnter.label = "Enter in the units field converts";
    ConvertAndCompare(app, byEnter, [&] { Key(app, VK_RETURN); });
}

// True scale with Y up, chosen from the keyboard, and the height bitmap reach the job.
void GeometryAndBitmap(App& app, const Paths& paths) {
    if (!SelectGrid(app, paths.Grid(L"tiny.asc"), "geometry")) return;
    Click(app.Control(305));
    FocusField(app, 405);
    for (UINT key : {VK_TAB, VK_DOWN, VK_TAB, VK_DOWN, VK_TAB, VK_TAB, VK_SPACE}) Key(app, key);  // True scale, Y up, bitmap
    Click(app.Control(309));
    std::wstring text;
    ExpectBox(app, "True scale, Y up, bitmap", kDone, nullptr, nullptr, 60000, &text);
    WaitFor([&] { return app.Enabled(310); }, 10000);
    std::string obj;
    ReadBytes(paths.Grid(L"tiny__interpolated.obj"), obj);
    Check("True scale, Y up: OBJ header says so", obj.find("# Geometry: true scale") != std::string::npos &&
          obj.find("x east, y up, z south") != std::string::npos, Escaped(obj.substr(0, 300)));
    Check("bitmap: PNG and .pgw beside the OBJ, named in the summary", FileExists(paths.Grid(L"tiny__heightmap.png")) &&
          FileExists(paths.Grid(L"tiny__heightmap.pgw")) && text.find(L"tiny__heightmap.png") != std::wstring::npos, Shown(text));
    FocusField(app, 405);
    for (UINT key : {VK_TAB, VK_UP, VK_TAB, VK_TAB, VK_SPACE}) Key(app, key);  // Classic, no bitmap
    const HWND up = GetDlgItem(app.main, 407);
    Check("geometry: Classic again sets Z up and greys it", TextOf(up) == L"Z up" && !IsWindowEnabled(up), Utf8(TextOf(up)));
}

// The Output dialog, opened by its button and worked from the keyboard: PLY
// with normals takes True scale and writes a .ply that the summary names;
// Esc keeps the choice, OBJ frees the geometry's list again.
void OutputDialog(App& app, const Paths& paths) {
    if (!SelectGrid(app, paths.Grid(L"tiny.asc"), "output")) return;
    const std::wstring ply = paths.Grid(L"tiny__interpolated.ply");
    auto choose = [&](std::initializer_list<UINT> keys, const char* shot) {
        Click(app.Control(312));
        HWND dialog = WaitOwnedDialog(app.main, L"Output", 10000);
        for (UINT key : keys) Key(app, key);
        if (shot) Shot(shot);
        Key(app, keys.size() > 1 ? VK_RETURN : VK_ESCAPE);
        return dialog && WaitFor([&] { return !IsWindow(dialog); }, 5000);
    };
    Check("output: PLY with normals chosen, Enter closes the dialog",
          choose({VK_DOWN, VK_DOWN, VK_TAB, VK_SPACE}, "14-output-dialog"));
    Check("output: Esc keeps the choice", choose({VK_UP}, nullptr));
    CheckText(app, "output: the button names PLY with normals", 312, L"&Output: PLY, normals\x2026");
    Shot("15-output-chosen");
    Check("output: PLY takes True scale, the geometry's list greyed",
          app.Text(406) == L"True scale" && !app.Enabled(406), Shown(app.Text(406)));
    DeleteFileW(ply.c_str());
    Click(app.Control(309));
    std::wstring text;
    ExpectBox(app, "output: PLY", kDone, nullptr, nullptr, 60000, &text);
    Check("output: the .ply written, the summary names its format", FileExists(ply) &&
          text.find(L"Format: PLY, with vertex normals\n\nFile: ") != std::wstring::npos, Shown(text));
    WaitFor([&] { return app.Enabled(312); }, 10000);
    Check("output: OBJ without normals, shaded relief", choose({VK_UP, VK_UP, VK_TAB, VK_SPACE, VK_TAB, VK_DOWN}, nullptr) &&
          app.Text(312) == L"&Output: OBJ, relief\x2026" && app.Enabled(406), Shown(app.Text(312)));
    FocusField(app, 405);
    for (UINT key : {VK_TAB, VK_UP}) Key(app, key);  // Classic
    Click(app.Control(309));
    ExpectBox(app, "output: OBJ with relief", kDone, nullptr, nullptr, 60000, &text);
    Check("output: relief PNG and .mtl beside the OBJ, the summary names the texture",
          FileExists(paths.Grid(L"tiny__texture.png")) && FileExists(paths.Grid(L"tiny__interpolated.mtl")) &&
          text.find(L"Texture: tiny__texture.png (shaded relief).") != std::wstring::npos, Shown(text));
    WaitFor([&] { return app.Enabled(312); }, 10000);
    Click(app.Control(312));
    HWND dialog = WaitOwnedDialog(app.main, L"Output", 10000);
    for (UINT key : {VK_DOWN, VK_DOWN, VK_DOWN}) Key(app, key);  // STL
    const HWND texture = GetDlgItem(dialog, 506);
    Check("output: STL greys the texture at None", texture && !IsWindowEnabled(texture) && TextOf(texture) == L"None",
          Shown(TextOf(texture)));
    for (UINT key : {VK_UP, VK_UP, VK_UP, VK_RETURN}) Key(app, key);  // OBJ, OK
    CheckText(app, "output: OBJ again, without the texture", 312, L"&Output: OBJ\x2026");
    for (const wchar_t* name : {L"tiny__texture.png", L"tiny__interpolated.mtl", L"tiny__interpolated.ply"})
        DeleteFileW(paths.Grid(name).c_str());
}

// The model's size and a solid, set in the Output dialog: a base of 0 is
// refused with the dialog kept open; the choice names itself on the button,
// takes True scale with the units greyed and is there when the dialog opens
// again; Floating planes refuses the solid; the STL has the converter's size
// and heights for the same size and exaggeration (a solid adds facets below).
void SolidAndSize(App& app, const Paths& paths) {
    if (!SelectGrid(app, paths.Grid(L"tiny.asc"), "solid")) return;
    Click(app.Control(312));
    HWND dialog = WaitOwnedDialog(app.main, L"Output", 10000);
    auto item = [&](int id) { return GetDlgItem(dialog, id); };
    for (UINT key : {VK_DOWN, VK_DOWN, VK_DOWN}) Key(app, key);  // STL
    const bool greyed = !IsWindowEnabled(item(511));
    Click(item(509));
    Check("solid: the base greyed until the box is ticked",
          greyed && WaitFor([&] { return IsWindowEnabled(item(511)) != 0; }, 3000));
    std::string walked;
    for (int id : {511, 513, 515, IDOK, IDCANCEL, 502, 509}) {
        Key(app, VK_TAB);
        if (FocusId(app) != id) walked += Format(" %d for %d;", FocusId(app), id);
    }
    PostMessageW(FocusOf(app), WM_SYSCHAR, L'i', 0x20000001);  // Alt+I
    Check("solid: Tab in reading order from the box, Alt+I to the size",
          walked.empty() && WaitFor([&] { return FocusOf(app) == item(513); }, 3000), walked);
    SetTextOf(item(511), L"0"), SetTextOf(item(513), L"100"), SetTextOf(item(515), L"2");
    Shot("18-output-solid");
    PressDialogButton(dialog, IDOK);
    HWND box = WaitOwnedDialog(dialog, kOoups, 10000);
    const std::wstring warning = box ? Lines(BoxText(box)) : L"";
    if (box) PressDialogButton(box, IDOK);
    Check("solid: a base of 0 refused, the dialog open, the focus on the base, the size kept",
          warning.find(L"base") != std::wstring::npos && IsWindow(dialog) &&
          WaitFor([&] { return FocusOf(app) == item(511); }, 3000) && TextOf(item(513)) == L"100", Shown(warning));
    SetTextOf(item(511), L"3");
    Key(app, VK_RETURN);
    CheckText(app, "solid: the button names the solid (the size beyond its face)", 312, L"&Output: STL, solid\x2026");
    Check("solid: a size takes True scale, the geometry's list and the units greyed",
          app.Text(406) == L"True scale" && !app.Enabled(406) && !app.Enabled(405), Shown(app.Text(406)));
    Click(app.Control(312));
    dialog = WaitOwnedDialog(app.main, L"Output", 10000);
    Check("solid: the dialog opens again with the choice kept", dialog && IsDlgButtonChecked(dialog, 509) &&
          TextOf(item(511)) + L" " + TextOf(item(513)) + L" " + TextOf(item(515)) == L"3 100 2");
    Key(app, VK_ESCAPE);
    Click(app.Control(306));
    Click(app.Control(309));
    ExpectBox(app, "solid with Floating planes", kOoups, nullptr, "warning", 10000);
    Check("solid with Floating planes: the focus on Interpolated", WaitFor([&] { return FocusId(app) == 305; }, 3000));
    Click(app.Control(305));
    const std::wstring stl = paths.Grid(L"tiny__interpolated.stl");
    DeleteFileW(stl.c_str());
    Click(app.Control(309));
    std::wstring summary;
    ExpectBox(app, "solid: STL", kDone, nullptr, nullptr, 60000, &summary);
    Check("solid: the summary gives the solid's size and volume",
          summary.find(L"Solid for 3D printing: 100.0 x ") != std::wstring::npos &&
              summary.find(L" mm as slicers read its units, 1 part, volume ") != std::wstring::npos,
          Shown(summary));
    WaitFor([&] { return app.Enabled(312); }, 10000);
    StlBox made, expected;
    bool same = ReadStl(stl, made) && ReadStl(paths.Expected(L"fitted\\tiny__interpolated.stl"), expected) &&
                made.facets == expected.facets;
    for (int k = 0; k < 3; ++k)
        same = same && std::fabs(made.high[k] - expected.high[k]) < 1e-4f && std::fabs(made.low[k] - expected.low[k]) < 1e-4f;
    Check("solid: the STL is the converter's for --fit-mm 100 --exaggerate 2 --solid 3", same,
          Format("%u facets, top %g; the converter's %u, top %g", made.facets, made.high[2], expected.facets, expected.high[2]));
    DeleteFileW(stl.c_str());
    Click(app.Control(312));
    dialog = WaitOwnedDialog(app.main, L"Output", 10000);
    for (UINT key : {VK_UP, VK_UP, VK_UP}) Key(app, key);  // OBJ
    Click(item(509)), SetTextOf(item(513), L""), SetTextOf(item(515), L"1");
    PressDialogButton(dialog, IDOK);
    CheckText(app, "solid: OBJ again, no solid, not fitted", 312, L"&Output: OBJ\x2026");
    Check("solid: not fitted, the units and the geometry's list enabled", app.Enabled(405) && app.Enabled(406));
    FocusField(app, 405);
    for (UINT key : {VK_TAB, VK_UP}) Key(app, key);  // Classic
}

// Simplified, error 1: dashes for the unknown counts, a "# N triangles" end
// line and the error in the summary.
void SimplifiedMesh(App& app, const Paths& paths) {
    if (!SelectGrid(app, paths.Grid(L"tiny.asc"), "simplified")) return;
    const std::wstring output = paths.Grid(L"tiny__simplified.obj");
    DeleteFileW(output.c_str());
    Click(app.Control(311));
    Edit(app, 408, L"1");
    CheckText(app, "simplified: Interpolated estimate unknown", 222, L"\x2014\n\x2014\n\x2014");
    Click(app.Control(309));
    std::wstring text;
    ExpectBox(app, "simplified", kDone, nullptr, nullptr, 60000, &text);
    WaitFor([&] { return app.Enabled(310); }, 10000);
    std::string obj;
    ReadBytes(output, obj);
    while (!obj.empty() && (obj.back() == '\n' || obj.back() == '\r')) obj.pop_back();
    Check("simplified: OBJ ends with its triangle count, summary names the error",
          obj.size() > 10 && obj.compare(obj.size() - 10, 10, " triangles") == 0 &&
              text.find(L"Largest height error") != std::wstring::npos,
          Escaped(obj.substr(obj.size() > 80 ? obj.size() - 80 : 0)) + " / " + Shown(text));
    Click(app.Control(311));
    DeleteFileW(output.c_str());
}

// A 120-character name is shortened in its middle on its line, so the
// counts stay beside their labels.
void LongFileName(App& app, const Paths& paths) {
    std::wstring stem;
    while (stem.size() < 116) stem += L"terrain_survey_";
    stem.resize(116);
    if (!SelectGrid(app, paths.Grid((stem + L".asc").c_str()), "120-character name")) return;
    std::wstring shown = app.Text(208);
    std::wstring first = shown.substr(0, shown.find(L'\n'));
    bool middle = first.find(L'\x2026') != std::wstring::npos && first.size() > 4 &&
                  first.compare(first.size() - 4, 4, L".asc") == 0 && first.compare(0, 8, stem, 0, 8) == 0;
    Check("120-character name: shortened in its middle", middle, Shown(first));
    CheckTextsFit(app, "120-character name");
    Check("120-character name: counts beside their labels", shown.substr(first.size()) == L"\n4\n3\n12", Shown(shown));

    // The pointer resting on the name shows the full path in a tooltip.
    RECT values{};
    GetWindowRect(app.Control(208), &values);
    SetCursorPos(values.left + 20, values.top + 6);
    struct Find {
        HWND owner, found;
    } find{app.main, nullptr};
    auto tipShown = [&] {
        find.found = nullptr;
        EnumWindows([](HWND w, LPARAM p) -> BOOL {
            auto* f = reinterpret_cast<Find*>(p);
            if (GetWindow(w, GW_OWNER) != f->owner || !IsWindowVisible(w) ||
                !SameClass(ClassOf(w), L"tooltips_class32"))
                return TRUE;
            f->found = w;
            return FALSE;
        }, reinterpret_cast<LPARAM>(&find));
        return find.found != nullptr;
    };
    bool tip = WaitFor(tipShown, 5000);
    if (tip) Shot("06-file-name-tip");
    std::wstring path = paths.Grid((stem + L".asc").c_str());
    Check("120-character name: tooltip shows the full path", tip && TextOf(find.found) == path,
          tip ? Shown(TextOf(find.found)) : "no tooltip");
    SetCursorPos(5, 5);
}

// The progress bar only moves forward, also for a region far down the grid;
// it may start over at 0 when a pass ends.
void ProgressForward(App& app, const Paths& paths) {
    if (!SelectGrid(app, paths.Grid(L"cancel.asc"), "progress")) return;
    Edit(app, 402, L"2800");
    Edit(app, 403, L"600");
    Click(app.Control(309));
    std::vector<int> seen;
    HWND box = nullptr;
    WaitFor([&] {
        DWORD_PTR position = 0;
        if (app.Text(235) != L"Status: Ready..." &&
            SendMessageTimeoutW(app.Control(236), PBM_GETPOS, 0, 0, SMTO_NORMAL, 2000, &position) &&
            (seen.empty() || seen.back() != static_cast<int>(position)))
            seen.push_back(static_cast<int>(position));
        return (box = OwnedDialog(app.main, kDone)) != nullptr;
    }, 120000);
    std::string positions;
    bool forward = box != nullptr;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        positions += Format(" %d", seen[i]);
        if (i > 0 && seen[i] < seen[i - 1] && seen[i] != 0) forward = false;
    }
    Note("progress: positions" + positions);
    Check("progress: the position never decreases", forward, positions);
    if (box) PressDialogButton(box, IDOK);
    DeleteFileW(paths.Grid(L"cancel__interpolated.obj").c_str());
}

// A grid dropped on the window is selected as the dialog selects it; a
// dropped file that is no grid brings the same warning.
void DroppedFiles(App& app, const Paths& paths) {
    if (DropFile(app, paths.Grid(L"col1.asc")))
        CheckText(app, "dropped grid: selected", 208, FileInfoColumn1(L"col1.asc", 1, 5), 10000);
    if (DropFile(app, paths.Grid(L"notgrid.txt"))) {
        std::wstring text = L"Not proper ESRI ARC/INFO ASCII GRID file...";
        ExpectBox(app, "dropped text file", kOoups, &text, "warning", 10000);
    }
}

// A grid path on the command line, relative to the working folder; one of
// them names the grid in 235 characters.
void CommandLineGrid(const std::wstring& exe, const Paths& paths, const Conversion& tiny) {
    App app;
    if (StartApp(app, exe, paths.grids, L"tiny.asc")) {
        CheckText(app, "grid on the command line: selected at start", 208, FileInfoColumn1(L"tiny.asc", 4, 3));
        Conversion job = tiny;
        job.label = "grid on the command line";
        ConvertAndCompare(app, job);
    }
    StopApp(app, false);

    // A 235-character name converts (the converter's file of tiny.asc names
    // its object and group); the path is longer than the open-file dialog takes.
    std::wstring longStem;
    while (longStem.size() < 231) longStem += L"terrain_survey_";
    longStem.resize(231);
    std::wstring object = longStem + L"__interpolated.obj";
    std::string expected;
    ReadBytes(paths.Expected(L"tiny__interpolated.obj"), expected);
    for (std::size_t at; (at = expected.find("tiny__interpolated.obj")) != std::string::npos;)
        expected.replace(at, 22, Utf8(object));
    HANDLE file = CreateFileW(paths.Expected(L"long.obj").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD wrote = 0;
    WriteFile(file, expected.data(), static_cast<DWORD>(expected.size()), &wrote, nullptr);
    CloseHandle(file);
    CopyFileW(paths.Expected(L"tiny__interpolated.obj.geometry").c_str(), paths.Expected(L"long.obj.geometry").c_str(),
              FALSE);  // the same grid: the same geometry sentence, if any
    if (StartApp(app, exe, paths.grids, longStem + L".asc"))
        ConvertAndCompare(app, {"235-character name", paths.Grid((longStem + L".asc").c_str()),
                                paths.Grid(object.c_str()), paths.Expected(L"long.obj"), 1, 1, 4, 3});
    StopApp(app, false);
}

// Screenshots of the Output dialog with GLB and an image chosen through the
// open-file dialog, a solid and a size, and of the window with the button
// naming them.
void ShotOutputDialog(App& app, const std::string& name, const Paths& paths) {
    Click(app.Control(312));
    const HWND dialog = WaitOwnedDialog(app.main, L"Output", 10000);
    for (UINT key : {VK_DOWN, VK_TAB, VK_DOWN, VK_DOWN}) Key(app, key);  // GLB (its normals greyed), Image...
    const HWND files = WaitOwnedDialog(dialog, L"Select the image to drape the mesh with...", 30000);
    if (files) SetTextOf(FileNameEdit(files), paths.Grid(L"tiny__heightmap.png")), PressDialogButton(files, IDOK);
    Check(name + ": the image's name in the Output dialog",
          WaitFor([&] { return TextOf(GetDlgItem(dialog, 507)) == L"tiny__heightmap.png"; }, 5000),
          Shown(TextOf(GetDlgItem(dialog, 507))));
    Click(GetDlgItem(dialog, 509));
    SetTextOf(GetDlgItem(dialog, 513), L"150");
    Shot(name + "-dialog");
    Key(app, VK_RETURN);
    Shot(name + "-chosen");
}

// The window under a Wine prefix without Segoe UI (Wine's own fonts), then
// at 144 DPI, then told that its DPI is 96 again: the prefix's registry is
// changed for one start each and set back.
void FontsAndDpi(const std::wstring& exe, const Paths& paths) {
    const wchar_t kReplacements[] = L"Software\\Wine\\Fonts\\Replacements";
    wchar_t face[64] = {};
    DWORD size = sizeof face;
    bool replaced = RegGetValueW(HKEY_CURRENT_USER, kReplacements, L"Segoe UI", RRF_RT_REG_SZ, nullptr, face, &size) == 0;
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kReplacements, L"Segoe UI");
    App app;
    if (StartApp(app, exe, paths.grids, L"tiny.asc") &&
        CheckText(app, "Wine's own fonts: grid selected", 208, FileInfoColumn1(L"tiny.asc", 4, 3))) {
        CheckTextsFit(app, "Wine's own fonts");
        CheckPlaces(app, "Wine's own fonts", 96);
        Shot("07-wine-fonts");
        ShotOutputDialog(app, "16-output-wine-fonts", paths);
    }
    StopApp(app, false);
    if (replaced) RegSetKeyValueW(HKEY_CURRENT_USER, kReplacements, L"Segoe UI", REG_SZ, face, size);
    DWORD dpi = 144;
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", REG_DWORD, &dpi, sizeof dpi);
    if (StartApp(app, exe, paths.grids, L"tiny.asc") &&
        CheckText(app, "144 DPI: grid selected", 208, FileInfoColumn1(L"tiny.asc", 4, 3))) {
        CheckPlaces(app, "144 DPI", 144);
        CheckTextsFit(app, "144 DPI");
        Shot("08-dpi-144");
        ShotOutputDialog(app, "17-output-dpi-144", paths);
        if (AskThroughHook(app, L"DunmoorE2eDpi", 96)) CheckPlaces(app, "144 DPI, then WM_DPICHANGED to 96", 96);
        CheckTextsFit(app, "144 DPI, then WM_DPICHANGED to 96");
        Shot("09-dpi-changed-to-96");
    }
    StopApp(app, true);
    dpi = 96;
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", REG_DWORD, &dpi, sizeof dpi);
}

int RunTests(const std::wstring& exe, const Paths& paths) {
    App app;
    if (!StartApp(app, exe, paths.work)) {
        StopApp(app, false);
        std::printf("e2e: %d checks, %d failed\n", g_checks, g_failed);
        return 1;
    }
    Conversion tiny{"4x3 grid, Interpolated", paths.Grid(L"tiny.asc"), paths.Grid(L"tiny__interpolated.obj"),
                    paths.Expected(L"tiny__interpolated.obj"), 1, 1, 4, 3};

    StartState(app);
    Check("focus starts on Select file", WaitFor([&] { return FocusId(app) == 304; }, 3000),
          "focus on " + FocusName(app));
    IdleCpu(app);
    Shot("01-start");
    FailedSelectionsBeforeAnyFile(app, paths);
    TinyGrid(app, paths, tiny);
    UnitsField(app, paths);
    KeyboardWalk(app, tiny);
    GeometryAndBitmap(app, paths);
    SimplifiedMesh(app, paths);
    OutputDialog(app, paths);
    SolidAndSize(app, paths);
    LongFileName(app, paths);
    RegionAndMethods(app, paths);
    WitnessGrid(app, paths);
    ThinGrids(app, paths);
    DroppedFiles(app, paths);
    RegionPicture(app, paths);
    HugeHeader(app, paths);
    UnwritableOutput(app, paths);
    CancelledJobs(app, paths);
    ProgressForward(app, paths);
    GridChangedAfterSelection(app, paths);

    // The cancel request ends with its job: the next one runs through.
    if (SelectGrid(app, tiny.grid, "after the cancel")) {
        Conversion after = tiny;
        after.label = "convert after a cancelled job";
        ConvertAndCompare(app, after);
    }
    Check("window answers at the end", app.Alive() && Responsive(app.main));
    StopApp(app, true);
    CommandLineGrid(exe, paths, tiny);
    CloseDuringJob(exe, paths);
    FontsAndDpi(exe, paths);
    std::printf("e2e: %d checks, %d failed\n", g_checks, g_failed);
    std::fflush(stdout);
    return g_failed == 0 ? 0 : 1;
}

// On a screen shorter than the window (1366 x 768): the window fits the
// screen, its client area scrolls, and Convert is reached by scrolling.
int RunSmallScreen(const std::wstring& exe, const Paths& paths) {
    App app;
    if (StartApp(app, exe, paths.work)) {
        RECT outer{}, client{};
        GetWindowRect(app.main, &outer);
        GetClientRect(app.main, &client);
        Check("small screen: window inside the screen",
              outer.left >= 0 && outer.top >= 0 && outer.right <= GetSystemMetrics(SM_CXSCREEN) &&
                  outer.bottom <= GetSystemMetrics(SM_CYSCREEN),
              Format("(%ld, %ld)-(%ld, %ld)", outer.left, outer.top, outer.right, outer.bottom));
        Check("small screen: client area 655 wide with a vertical scroll bar",
              client.right == 655 && (GetWindowLongW(app.main, GWL_STYLE) & WS_VSCROLL),
              Format("%ld x %ld", client.right, client.bottom));
        auto convertShown = [&] {
            RECT button{};
            GetWindowRect(app.Control(309), &button);
            MapWindowPoints(nullptr, app.main, reinterpret_cast<POINT*>(&button), 2);
            return button.top >= 0 && button.bottom <= client.bottom;
        };
        Check("small screen: Convert lies below the visible part at start", !convertShown());
        Conversion tiny{"small screen: Convert reached by scrolling", paths.Grid(L"tiny.asc"),
                        paths.Grid(L"tiny__interpolated.obj"), paths.Expected(L"tiny__interpolated.obj"), 1, 1, 4, 3};
        if (SelectGrid(app, tiny.grid, "small screen")) {
            PostMessageW(app.main, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-WHEEL_DELTA * 20)), MAKELPARAM(300, 300));
            Check("small screen: the mouse wheel brings Convert into view", WaitFor(convertShown, 3000));
            PostMessageW(app.main, WM_VSCROLL, SB_TOP, 0);
            Check("small screen: the scroll bar goes back to the top", WaitFor([&] { return !convertShown(); }, 3000));
            for (int i = 0; i < 13; ++i) Key(app, VK_TAB);
            Check("small screen: Tab to Convert scrolls it into view", FocusId(app) == 309 && convertShown(),
                  "focus on " + FocusName(app));
            Shot("05-small-screen");
            ConvertAndCompare(app, tiny, [&] { Key(app, VK_RETURN); });
        }
    }
    StopApp(app, true);
    std::printf("e2e-small: %d checks, %d failed\n", g_checks, g_failed);
    std::fflush(stdout);
    return g_failed == 0 ? 0 : 1;
}

// Converts one grid through the window with the default settings.
int RunDemo(const std::wstring& exe, const std::wstring& grid) {
    App app;
    std::wstring folder = grid.substr(0, grid.find_last_of(L"\\/"));
    if (!StartApp(app, exe, folder)) {
        StopApp(app, false);
        return 1;
    }
    Shot("demo-start");
    int status = 1;
    if (SelectGrid(app, grid, "demo")) {
        Shot("demo-selected");
        Click(app.Control(309));
        HWND box = WaitOwnedDialog(app.main, kDone, 300000, kDialogTitle);
        if (box) {
            std::printf("%s\n%s\n", Utf8(TitleOf(box)).c_str(), Utf8(Lines(BoxText(box))).c_str());
            Shot("demo-summary");
            PressDialogButton(box, IDOK);
            status = 0;
        } else {
            std::printf("demo: no summary box\n");
        }
    }
    StopApp(app, false);
    return status;
}

std::atomic<bool> g_finished{false};

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::wstring exe, work, demo, screen;
    int timeoutSeconds = 300;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::wstring option = argv[i];
        if (option == L"--app") exe = argv[i + 1];
        else if (option == L"--work") work = argv[i + 1];
        else if (option == L"--shots") g_shotDir = argv[i + 1];
        else if (option == L"--demo") demo = argv[i + 1];
        else if (option == L"--timeout") timeoutSeconds = _wtoi(argv[i + 1]);
        else if (option == L"--screen") screen = argv[i + 1];
    }
    if (exe.empty() || (work.empty() && demo.empty())) {
        std::fprintf(stderr,
                     "usage: dunmoor-e2e --app DUNMOOR_EXE --work DIR [--shots DIR] [--timeout SECONDS]\n"
                     "       dunmoor-e2e --app DUNMOOR_EXE --demo GRID [--shots DIR]\n");
        return 2;
    }
    // Places read in the window's own pixels, whatever its DPI.
    auto aware = reinterpret_cast<BOOL(WINAPI*)(HANDLE)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
    if (aware) aware(reinterpret_cast<HANDLE>(-4));  // per monitor, v2
    // A run that hangs somewhere ends here, with the application.
    std::thread([timeoutSeconds] {
        for (int waited = 0; waited < timeoutSeconds * 10; ++waited) {
            if (g_finished) return;
            Sleep(100);
        }
        std::printf("FAIL e2e run finished within %d s\n", timeoutSeconds);
        std::printf("e2e: %d checks, %d failed\n", g_checks + 1, g_failed + 1);
        std::fflush(stdout);
        ExitProcess(4);
    }).detach();

    int status;
    if (!demo.empty()) {
        status = RunDemo(exe, demo);
    } else {
        Paths paths{work, work + L"\\grids", work + L"\\expected"};
        status = screen == L"small" ? RunSmallScreen(exe, paths) : RunTests(exe, paths);
    }
    g_finished = true;
    return status;
}

// The layout of the main window: one table row per control, in creation
// order, with the images each group of buttons needs loaded just before it.
#include "ui/controls_win.h"

#include <commctrl.h>

#include <algorithm>
#include <cstddef>
#include <cwchar>
#include <string>
#include <vector>

#include "dunmoor_version.h"
#include "app/app_state.h"
#include "mesh/conversion_job.h"
#include "picture/terrain_preview.h"
#include "resources/resource_ids.h"
#include "ui/control_states_win.h"
#include "ui/dpi_win.h"

namespace {

enum class Font { None, Caption, Value };

// A run of icon resources with consecutive ids, all of one size, loaded into
// consecutive handles of AppState.
struct ImageGroup {
    HICON* handles;
    int firstResource;
    int count;
    int width;
    int height;
};

enum class Images { None, SelectFile, Region, Method, Convert };

struct ControlLayout {
    int id;
    const wchar_t* className;
    int parentId;  // 0: the main window
    const wchar_t* text;
    DWORD style;   // besides WS_CHILD
    int x, y, width, height;  // at 96 DPI, scaled to the window's DPI
    Font font;
    Images imagesBefore;  // the image group to load right before this control
};

constexpr wchar_t kStatic[] = L"STATIC";
constexpr wchar_t kButton[] = L"BUTTON";
constexpr wchar_t kEdit[] = L"EDIT";
constexpr wchar_t kProgress[] = PROGRESS_CLASSW;
constexpr wchar_t kComboBox[] = WC_COMBOBOXW;

constexpr DWORD kVisible = WS_VISIBLE;
// The inputs Tab and Shift+Tab walk, in creation order, which is layout order.
constexpr DWORD kInput = WS_VISIBLE | WS_TABSTOP;
// A drop-down list; its height is that of the field with the list open.
constexpr DWORD kChoice = kInput | WS_VSCROLL | CBS_DROPDOWNLIST;

constexpr wchar_t kIntroText[] =
    L"The ESRI ARC/INFO ASCII GRID format is usually used to store terrain data from LIDAR "
    L"laser scanning. This application takes ESRI ARC/INFO ASCII GRID file and converts it to "
    L"a 3D mesh. It saves the 3D mesh in OBJ format that can be imported in most 3D "
    L"applications. You can also generate a height bitmap\nin grayscale.";
constexpr wchar_t kRegionNote[] =
    L"Please note.\nConverted files can be very large and hard to editing. If you are "
    L"interested only in specified region, you can set the range below instead of editing "
    L"the whole large mesh in 3d application.";
constexpr wchar_t kCreditText[] = DUNMOOR_WIDE_NAME L", \x00A9 2018 Dunmoor, https://dunmoor.example";
// The 15 spaces leave room for IDC_UNITS, which lies on top of them.
constexpr wchar_t kUnitsLabel[] = L"1 unit in your 3d application is               meter(s).";

// clang-format off
const ControlLayout kControls[] = {
    {IDC_INTRO_FRAME, kStatic, 0, L"", kVisible | SS_SUNKEN, 15, 15, 625, 83, Font::None, Images::None},
    {IDC_INTRO_TEXT, kStatic, IDC_INTRO_FRAME, kIntroText, kVisible | SS_LEFT, 10, 5, 610, 70, Font::Caption, Images::None},
    {IDC_STEP1_FRAME, kStatic, 0, L"", kVisible | SS_ETCHEDFRAME, 15, 128, 625, 144, Font::None, Images::None},
    {IDC_STEP1_CAPTION, kStatic, 0, L" Step 1: Select file in ESRI ARC/INFO ASCII GRID format:", kVisible | SS_LEFT, 20, 118, 335, 20, Font::Caption, Images::None},
    {IDC_SELECT_FILE, kButton, 0, L"", kInput | BS_BITMAP, 24, 155, 180, 110, Font::None, Images::SelectFile},
    {IDC_FILEINFO_FRAME, kStatic, IDC_STEP1_FRAME, L"", kVisible | SS_ETCHEDFRAME, 196, 25, 420, 110, Font::None, Images::None},
    {IDC_FILEINFO_CAPTION, kStatic, IDC_STEP1_FRAME, L" File info:", kVisible | SS_LEFT, 201, 15, 62, 20, Font::Caption, Images::None},
    {IDC_FILEINFO_LABELS1, kStatic, IDC_FILEINFO_FRAME, L"filename:\ncols:\nrows:\nrecords:", kVisible | SS_RIGHT, 1, 28, 60, 60, Font::Value, Images::None},
    {IDC_FILEINFO_VALUES1, kStatic, IDC_FILEINFO_FRAME, L"---\n---\n---\n---", kVisible | SS_LEFT | SS_NOPREFIX | SS_NOTIFY, 70, 28, 150, 60, Font::Value, Images::None},
    {IDC_FILEINFO_LABELS2, kStatic, IDC_FILEINFO_FRAME, L"xll center:\nyll center:\ncell size:\nno data value:", kVisible | SS_RIGHT, 220, 28, 60, 60, Font::Value, Images::None},
    {IDC_FILEINFO_VALUES2, kStatic, IDC_FILEINFO_FRAME, L"---\n---\n---\n---", kVisible | SS_LEFT, 290, 28, 120, 60, Font::Value, Images::None},
    {IDC_STEP2_FRAME, kStatic, 0, L"", kVisible | SS_ETCHEDFRAME, 15, 302, 625, 233, Font::None, Images::None},
    {IDC_STEP2_CAPTION, kStatic, 0, L" Step 2: Define the region (optional):", kVisible | SS_LEFT, 20, 292, 225, 20, Font::Caption, Images::None},
    {IDC_REGION_NOTE, kStatic, IDC_STEP2_FRAME, kRegionNote, kVisible | SS_LEFT, 9, 25, 610, 55, Font::Caption, Images::None},
    {IDC_REGION_PICTURE, kStatic, IDC_STEP2_FRAME, L"", kVisible | SS_BITMAP, 119, 100, kPreviewWidth, kPreviewHeight, Font::None, Images::Region},
    {IDC_XMIN_LABEL, kStatic, IDC_STEP2_FRAME, L"X min:", kVisible | SS_LEFT, 9, 100, 50, 50, Font::Caption, Images::None},
    {IDC_YMIN_LABEL, kStatic, IDC_STEP2_FRAME, L"Y min:", kVisible | SS_LEFT, 9, 124, 50, 50, Font::Caption, Images::None},
    {IDC_XMAX_LABEL, kStatic, IDC_STEP2_FRAME, L"X max:", kVisible | SS_LEFT, 520, 180, 50, 20, Font::Caption, Images::None},
    {IDC_YMAX_LABEL, kStatic, IDC_STEP2_FRAME, L"Y max:", kVisible | SS_LEFT, 520, 204, 50, 20, Font::Caption, Images::None},
    {IDC_XMIN, kEdit, 0, L"", kInput | ES_NUMBER | ES_RIGHT, 64, 402, 50, 20, Font::Caption, Images::None},
    {IDC_YMIN, kEdit, 0, L"", kInput | ES_NUMBER | ES_RIGHT, 64, 426, 50, 20, Font::Caption, Images::None},
    {IDC_XMAX, kEdit, 0, L"", kInput | ES_NUMBER | ES_RIGHT, 580, 481, 50, 20, Font::Caption, Images::None},
    {IDC_YMAX, kEdit, 0, L"", kInput | ES_NUMBER | ES_RIGHT, 580, 505, 50, 20, Font::Caption, Images::None},
    {IDC_STEP3_FRAME, kStatic, 0, L"", kVisible | WS_GROUP | SS_ETCHEDFRAME, 15, 565, 625, 223, Font::None, Images::None},
    {IDC_STEP3_CAPTION, kStatic, 0, L" Step 3: Select terrain generation method:", kVisible | SS_LEFT, 20, 555, 260, 20, Font::Caption, Images::None},
    {IDC_METHOD_INTERPOLATED, kButton, 0, L"", kInput | BS_BITMAP, 24, 590, 300, 105, Font::None, Images::Method},
    {IDC_METHOD_FLOATING, kButton, 0, L"", kInput | BS_BITMAP, 331, 590, 300, 105, Font::None, Images::None},
    {IDC_ESTIMATE_LABELS_INTERPOLATED, kStatic, IDC_STEP3_FRAME, L"Interpolated\n\n~Verts:\n~Tris:\n~Quads:", kVisible | SS_LEFT, 9, 132, 80, 88, Font::Caption, Images::None},
    {IDC_ESTIMATE_INTERPOLATED, kStatic, IDC_STEP3_FRAME, L"---\n---\n---", kVisible | SS_LEFT, 72, 166, 80, 50, Font::Caption, Images::None},
    {IDC_ESTIMATE_LABELS_FLOATING, kStatic, IDC_STEP3_FRAME, L"Floating planes\n\n~Verts:\n~Tris:\n~Quads:", kVisible | SS_LEFT, 316, 132, 100, 88, Font::Caption, Images::None},
    {IDC_ESTIMATE_FLOATING, kStatic, IDC_STEP3_FRAME, L"---\n---\n---", kVisible | SS_LEFT, 379, 166, 80, 50, Font::Caption, Images::None},
    // In the Interpolated column, right of its estimates.
    {IDC_SIMPLIFIED, kButton, 0, L"Simplified, max. error:", kInput | BS_AUTOCHECKBOX, 174, 697, 155, 22, Font::Caption, Images::None},
    {IDC_MAX_ERROR, kEdit, 0, kDefaultMaxErrorText, kInput | ES_RIGHT, 192, 722, 50, 20, Font::Caption, Images::None},
    {IDC_STEP4_FRAME, kStatic, 0, L"", kVisible | SS_ETCHEDFRAME, 15, 818, 625, 50, Font::None, Images::None},
    {IDC_STEP4_CAPTION, kStatic, 0, L" Step 4: Units setup (optional):", kVisible | SS_LEFT, 20, 808, 190, 20, Font::Caption, Images::None},
    {IDC_UNITS_LABEL, kStatic, 0, kUnitsLabel, kVisible | SS_LEFT, 24, 838, 300, 20, Font::Caption, Images::None},
    {IDC_UNITS, kEdit, 0, L"1.0", kInput | ES_RIGHT, 207, 838, 45, 20, Font::Caption, Images::None},
    {IDC_GEOMETRY_LABEL, kStatic, 0, L"Geometry:", kVisible | SS_LEFT, 334, 838, 66, 20, Font::Caption, Images::None},
    {IDC_GEOMETRY, kComboBox, 0, L"", kChoice, 404, 835, 104, 100, Font::Caption, Images::None},
    {IDC_UP_AXIS, kComboBox, 0, L"", kChoice, 516, 835, 80, 100, Font::Caption, Images::None},
    // On the step's top edge, above the geometry, its right edge Convert's; its
    // text names the choice (SetOutputButtonText).
    {IDC_OUTPUT, kButton, 0, L"", kInput | BS_PUSHBUTTON, 469, 806, 162, 24, Font::Caption, Images::None},
    {IDC_STEP5_FRAME, kStatic, 0, L"", kVisible | SS_ETCHEDFRAME, 15, 898, 625, 95, Font::None, Images::None},
    {IDC_STEP5_CAPTION, kStatic, 0, L" Step 5: Convert:", kVisible | SS_LEFT, 20, 888, 110, 20, Font::Caption, Images::None},
    {IDC_STATUS, kStatic, IDC_STEP5_FRAME, L"", kVisible | SS_LEFT, 9, 70, 300, 20, Font::Caption, Images::None},
    // Set before Convert is pressed, so it comes first in the keyboard order.
    {IDC_HEIGHT_BITMAP, kButton, 0, L"Also save a height bitmap (PNG)", kInput | BS_AUTOCHECKBOX, 330, 967, 301, 22, Font::Caption, Images::None},
    {IDC_CONVERT, kButton, 0, L"", kInput | BS_BITMAP, 489, 923, 142, 40, Font::None, Images::Convert},
    // Created hidden; shown once its step and position are set.
    {IDC_PROGRESS, kProgress, IDC_STEP5_FRAME, L"", PBS_SMOOTH, 9, 25, 458, 39, Font::None, Images::None},
    {IDC_CREDIT_FRAME, kStatic, 0, L"", kVisible | SS_SUNKEN, 15, 1023, 625, 30, Font::None, Images::None},
    {IDC_CREDIT_TEXT, kStatic, IDC_CREDIT_FRAME, kCreditText, kVisible | SS_CENTER, 10, 5, 610, 30, Font::Caption, Images::None},
};
// clang-format on

static_assert(sizeof(kControls) / sizeof(kControls[0]) == 49, "the window has 49 controls");

// Each image group is a run of consecutive resource ids, stored in AppState
// in the same order.
static_assert(IDI_SELECT_FILE_PRESSED == IDI_SELECT_FILE_HOT + 2, "select-file images");
static_assert(IDI_REGION_GREY == IDI_REGION_COLOUR + 1, "region images");
static_assert(IDI_FLOATING_GREY == IDI_INTERPOLATED_COLOUR + 3, "method images");
static_assert(IDI_CANCEL_HOT == IDI_CONVERT_HOT + 6, "convert images");

// Texts wider than those the controls are created with, which a stand-in
// face must fit as well: the file info and the estimates of a large grid.
struct SampleText {
    int id;
    const wchar_t* text;
};
const SampleText kWidestTexts[] = {
    {IDC_FILEINFO_VALUES1, L"terrain.asc\n100 000\n100 000\n10 000 000 000"},
    {IDC_FILEINFO_VALUES2, L"-6234000.00\n-6234000.00\n1000.00\n-9999"},
    {IDC_ESTIMATE_INTERPOLATED, L"1 002 001\n2 000 000\n1 000 000"},
    {IDC_ESTIMATE_FLOATING, L"4 000 000\n2 000 000\n1 000 000"},
    {IDC_STATUS, L"Status: Calculating vertices..."},
};

// These wrap at word ends; every other text keeps to the lines it has, so
// that each label stays on its line beside its value.
bool IsParagraph(int id) {
    return id == IDC_INTRO_TEXT || id == IDC_REGION_NOTE;
}

struct Box {
    int x, y, width, height;
};

Box ScaledBox(const ControlLayout& layout, int dpi) {
    return {ScaleToDpi(layout.x, dpi), ScaleToDpi(layout.y, dpi), ScaleToDpi(layout.width, dpi),
            ScaleToDpi(layout.height, dpi)};
}

ImageGroup ImageGroupFor(Images images) {
    switch (images) {
    case Images::SelectFile:
        return {g_app.selectFileImages, IDI_SELECT_FILE_HOT, 3, 180, 110};
    case Images::Region:
        return {g_app.regionImages, IDI_REGION_COLOUR, 2, kPreviewWidth, kPreviewHeight};
    case Images::Method:
        return {g_app.methodImages, IDI_INTERPOLATED_COLOUR, 4, 300, 105};
    case Images::Convert:
        return {g_app.convertImages, IDI_CONVERT_HOT, 7, 142, 40};
    case Images::None:
        break;
    }
    return {nullptr, 0, 0, 0, 0};
}

// Loads a group at its size for the window's DPI (each icon holds one image
// per display scale; the nearest is stretched for a scale in between), in
// place of the images loaded for an earlier DPI.
void LoadImageGroup(Images images) {
    const ImageGroup group = ImageGroupFor(images);
    const HINSTANCE module = GetModuleHandleW(nullptr);
    for (int i = 0; i < group.count; ++i) {
        if (group.handles[i] != nullptr) DestroyIcon(group.handles[i]);
        group.handles[i] = static_cast<HICON>(
            LoadImageW(module, MAKEINTRESOURCEW(group.firstResource + i), IMAGE_ICON,
                       ScaleToDpi(group.width, g_app.dpi), ScaleToDpi(group.height, g_app.dpi), LR_DEFAULTCOLOR));
    }
}

HFONT FontHandle(Font font) {
    switch (font) {
    case Font::Caption:
        return g_app.captionFont;
    case Font::Value:
        return g_app.valueFont;
    case Font::None:
        break;
    }
    return nullptr;
}

const ControlLayout* FindLayout(int id) {
    for (const ControlLayout& layout : kControls) {
        if (layout.id == id) return &layout;
    }
    return nullptr;
}

HWND ParentWindow(HWND window, const ControlLayout& layout) {
    return layout.parentId == 0 ? window : FindControl(window, layout.parentId);
}

// ---------------------------------------------------------------------------
// Fonts. The layout is drawn for Segoe UI at cell heights of 18 (captions)
// and 16 (file info). Where Segoe UI is missing (Windows XP, Wine with its own
// fonts) or replaced by another face, the texts are set in the first stand-in
// that fits the layout, at the largest heights at which every text still fits
// its control; Segoe UI itself keeps the layout's heights.

constexpr wchar_t kLayoutFace[] = L"Segoe UI";
// Tahoma and Microsoft Sans Serif are on every Windows since 2000, and Wine
// ships Tahoma; the last two are common on Linux, where Wine offers them too
// (and where Wine draws some of Tahoma's letters wider than it measures them,
// so that Tahoma may not fit).
const wchar_t* const kFaces[] = {kLayoutFace, L"Tahoma", L"Microsoft Sans Serif", L"Liberation Sans",
                                 L"DejaVu Sans Condensed"};
constexpr int kCaptionHeight = 18;
constexpr int kValueHeight = 16;

int LayoutHeight(Font font, int dpi) {
    return ScaleToDpi(font == Font::Caption ? kCaptionHeight : kValueHeight, dpi);
}

// Below this a stand-in is too small to read comfortably: it does not fit.
int SmallestHeight(Font font, int dpi) {
    return LayoutHeight(font, dpi) * 2 / 3;
}

HFONT CreateLayoutFont(int height) {
    return CreateFontW(height, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_OUTLINE_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       VARIABLE_PITCH | FF_DONTCARE, g_app.fontFace.c_str());
}

int CALLBACK NoteFaceFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;  // one is enough
}

bool FaceIsPresent(HDC dc, const wchar_t* face) {
    LOGFONTW wanted = {};
    wanted.lfCharSet = DEFAULT_CHARSET;
    std::wcsncpy(wanted.lfFaceName, face, LF_FACESIZE - 1);
    bool found = false;
    EnumFontFamiliesExW(dc, &wanted, NoteFaceFound, reinterpret_cast<LPARAM>(&found), 0);
    return found;
}

// The full name of the face that a font is drawn in, from the font file
// itself: a face that the system replaces by another (as Wine's font
// replacements do) is listed, and even reports its family, under its own
// name, but draws in the other.
std::wstring DrawnFaceName(HDC dc, HFONT font) {
    const HGDIOBJ previous = SelectObject(dc, font);
    std::wstring name;
    const UINT size = GetOutlineTextMetricsW(dc, 0, nullptr);
    if (size >= sizeof(OUTLINETEXTMETRICW)) {
        std::vector<BYTE> buffer(size);
        auto* metrics = reinterpret_cast<OUTLINETEXTMETRICW*>(buffer.data());
        if (GetOutlineTextMetricsW(dc, size, metrics) != 0) {
            name = reinterpret_cast<const wchar_t*>(buffer.data() +
                                                    reinterpret_cast<UINT_PTR>(metrics->otmpFaceName));
        }
    }
    SelectObject(dc, previous);
    return name;
}

bool DrawsInLayoutFace(HDC dc) {
    const HFONT probe = CreateLayoutFont(kCaptionHeight);
    const std::wstring drawn = DrawnFaceName(dc, probe);
    DeleteObject(probe);
    return drawn.compare(0, std::wcslen(kLayoutFace), kLayoutFace) == 0;
}

// A white bitmap selected into a memory DC, to draw texts in and find their
// ink. GDI draws some hinted faces wider or narrower than it measures them
// (Tahoma under Wine, by up to 5 %), so where a text must show whole, or a
// word sits beside a field, the drawing itself is looked at.
struct Canvas {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ previous;
    const DWORD* pixels;  // top-down rows of `width`
    int width, height;
};

Canvas OpenCanvas(HDC dc, int width, int height) {
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    Canvas canvas = {dc, CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr,
                     static_cast<const DWORD*>(bits), width, height};
    canvas.previous = SelectObject(dc, canvas.bitmap);
    const RECT all = {0, 0, width, height};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    return canvas;
}

void CloseCanvas(const Canvas& canvas) {
    SelectObject(canvas.dc, canvas.previous);
    DeleteObject(canvas.bitmap);
}

// Any ink at all, smoothed edges included.
bool Inked(const Canvas& canvas, int x, int y) {
    return (canvas.pixels[y * canvas.width + x] & 0xFF) < 0xF0;
}

bool ColumnInked(const Canvas& canvas, int x) {
    for (int y = 0; y < canvas.height; ++y) {
        if (Inked(canvas, x, y)) return true;
    }
    return false;
}

UINT AlignmentOf(const ControlLayout& layout) {
    const DWORD type = layout.style & SS_TYPEMASK;
    return type == SS_RIGHT ? DT_RIGHT : type == SS_CENTER ? DT_CENTER : DT_LEFT;
}

// Whether a text shows whole in its control, in the font selected into `dc`:
// laid out as the static text lays it out (broken at word ends where too
// wide, aligned as the control aligns it), it keeps to the lines it has
// unless it is a paragraph, and drawn unclipped it leaves no ink outside.
bool TextFits(HDC dc, const std::wstring& text, const ControlLayout& layout, int dpi) {
    const Box box = ScaledBox(layout, dpi);
    const UINT format = DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX | AlignmentOf(layout);
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    RECT used = {0, 0, box.width, 0};
    DrawTextW(dc, text.c_str(), -1, &used, DT_CALCRECT | format);
    const int lines = 1 + static_cast<int>(std::count(text.begin(), text.end(), L'\n'));
    if (!IsParagraph(layout.id) && used.bottom > lines * metrics.tmHeight) return false;
    const int margin = metrics.tmMaxCharWidth;
    const Canvas canvas = OpenCanvas(dc, box.width + 2 * margin, std::max<int>(used.bottom, box.height) + margin);
    RECT place = {margin, 0, margin + box.width, box.height};
    DrawTextW(dc, text.c_str(), -1, &place, DT_NOCLIP | format);
    GdiFlush();
    bool inside = true;
    for (int y = 0; y < canvas.height && inside; ++y) {
        for (int x = 0; x < canvas.width && inside; ++x) {
            const bool inBox = x >= place.left && x < place.right && y < place.bottom;
            inside = inBox || !Inked(canvas, x, y);
        }
    }
    CloseCanvas(canvas);
    return inside;
}

// The units label reads around the units field, which lies on its run of
// spaces: the words before the run end short of the field.
bool UnitsWordsFit(HDC dc, int dpi) {
    const std::wstring label = kUnitsLabel;
    const int wordsEnd = TextWidth(dc, label.substr(0, label.find(L"  ")));
    const ControlLayout& field = *FindLayout(IDC_UNITS);
    const ControlLayout& around = *FindLayout(IDC_UNITS_LABEL);
    return wordsEnd + ScaleToDpi(2, dpi) <= ScaleToDpi(field.x - around.x, dpi);
}

// Whether every text in `font`, selected into `dc` at some height, fits its
// control at `dpi`.
bool FontFits(HDC dc, Font font, int dpi) {
    if (font == Font::Caption && !UnitsWordsFit(dc, dpi)) return false;
    for (const ControlLayout& layout : kControls) {
        if (layout.font != font || layout.className != kStatic) continue;
        std::wstring text = layout.text;
        for (const SampleText& widest : kWidestTexts) {
            if (widest.id == layout.id) text = widest.text;
        }
        if (!TextFits(dc, text, layout, dpi)) return false;
    }
    return true;
}

// The largest cell height from the layout's down to the smallest at which
// g_app.fontFace fits every text of `font` at `dpi`; 0 when there is none.
int FittedHeight(HDC dc, Font font, int dpi) {
    for (int height = LayoutHeight(font, dpi); height >= SmallestHeight(font, dpi); --height) {
        const HFONT candidate = CreateLayoutFont(height);
        const HGDIOBJ previous = SelectObject(dc, candidate);
        const bool fits = FontFits(dc, font, dpi);
        SelectObject(dc, previous);
        DeleteObject(candidate);
        if (fits) return height;
    }
    return 0;
}

// Sets fontFace and faceStandsIn: the first face present that draws in the
// layout's face or fits the layout; failing all, the first present (or the
// font mapper's choice for Segoe UI) at its smallest heights.
void ChooseFace(HDC dc) {
    std::wstring firstPresent;
    for (const wchar_t* face : kFaces) {
        if (!FaceIsPresent(dc, face)) continue;
        if (firstPresent.empty()) firstPresent = face;
        g_app.fontFace = face;
        g_app.faceStandsIn = !DrawsInLayoutFace(dc);
        if (!g_app.faceStandsIn) return;
        if (FittedHeight(dc, Font::Caption, kLayoutDpi) > 0 && FittedHeight(dc, Font::Value, kLayoutDpi) > 0) return;
    }
    g_app.fontFace = firstPresent.empty() ? kLayoutFace : firstPresent;
    g_app.faceStandsIn = !DrawsInLayoutFace(dc);
}

// Makes both fonts for `dpi`; the caller frees the ones they replace.
void MakeFonts(int dpi) {
    g_app.dpi = dpi;
    int caption = LayoutHeight(Font::Caption, dpi);
    int value = LayoutHeight(Font::Value, dpi);
    if (g_app.faceStandsIn) {
        const HDC dc = CreateCompatibleDC(nullptr);
        caption = std::max(FittedHeight(dc, Font::Caption, dpi), SmallestHeight(Font::Caption, dpi));
        value = std::max(FittedHeight(dc, Font::Value, dpi), SmallestHeight(Font::Value, dpi));
        DeleteDC(dc);
    }
    g_app.captionFont = CreateLayoutFont(caption);
    g_app.valueFont = CreateLayoutFont(value);
}

// Where the units label's "meter(s)." begins as the label draws it, in the
// caption font selected into `dc`: its words and run of spaces are drawn with
// the "m" that follows, and the "m" is the run of inked columns at the right.
int DrawnMeterStart(HDC dc) {
    const std::wstring label = kUnitsLabel;
    const std::wstring drawn = label.substr(0, label.find(L"meter") + 1);
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    const Canvas canvas = OpenCanvas(dc, TextWidth(dc, drawn) + metrics.tmMaxCharWidth, metrics.tmHeight);
    TextOutW(dc, 0, 0, drawn.c_str(), static_cast<int>(drawn.size()));
    GdiFlush();
    // A glyph's strokes may leave a column or two unlinked by ink; the run
    // of spaces leaves a much wider gap.
    constexpr int kGap = 3;
    int x = canvas.width - 1;
    while (x > 0 && !ColumnInked(canvas, x)) --x;
    for (int left = x - 1, gap = 0; left >= 0 && gap < kGap; --left) {
        if (ColumnInked(canvas, left)) {
            x = left;
            gap = 0;
        } else {
            ++gap;
        }
    }
    CloseCanvas(canvas);
    return x;
}

// The units field's width. In the layout's face the run of spaces it lies on
// ends where the field does; a stand-in's run may be shorter, and the field
// is then narrowed to end short of "meter(s).", down to what "10.0" needs.
int UnitsFieldWidth(const ControlLayout& field, int dpi) {
    const int width = ScaleToDpi(field.width, dpi);
    if (!g_app.faceStandsIn) return width;
    const HDC dc = CreateCompatibleDC(nullptr);
    const HGDIOBJ previous = SelectObject(dc, g_app.captionFont);
    const int meterStart = DrawnMeterStart(dc);
    const int least = TextWidth(dc, L"10.0");
    SelectObject(dc, previous);
    DeleteDC(dc);
    const int room = meterStart - ScaleToDpi(field.x - FindLayout(IDC_UNITS_LABEL)->x + 2, dpi);
    return std::clamp(room, std::min(least, width), width);
}

// The control's place at the window's DPI.
Box PlaceOf(const ControlLayout& layout) {
    Box box = ScaledBox(layout, g_app.dpi);
    if (layout.id == IDC_UNITS) box.width = UnitsFieldWidth(layout, g_app.dpi);
    return box;
}

HWND CreateControl(HWND window, const ControlLayout& layout) {
    const Box box = PlaceOf(layout);
    return CreateWindowExW(0, layout.className, layout.text, WS_CHILD | layout.style, box.x, box.y,
                           box.width, box.height, ParentWindow(window, layout),
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.id)),
                           GetModuleHandleW(nullptr), nullptr);
}

void PrepareProgressBar(HWND progressBar) {
    SendMessageW(progressBar, PBM_SETSTEP, 10, 0);
    SendMessageW(progressBar, PBM_SETPOS, 0, 0);
    ShowWindow(progressBar, SW_SHOW);
}

void SetFont(HWND control, Font font) {
    if (font != Font::None) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle(font)), TRUE);
}

// The items of a drop-down list, in the order of their enum values, the
// first one chosen.
void FillChoices(HWND list, int id) {
    const wchar_t* const geometries[] = {L"Classic", L"True scale"};
    const wchar_t* const axes[] = {L"Z up", L"Y up"};
    for (const wchar_t* item : id == IDC_GEOMETRY ? geometries : axes) {
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    }
    SendMessageW(list, CB_SETCURSEL, 0, 0);
}

}  // namespace

int TextWidth(HDC dc, const std::wstring& text) {
    SIZE size = {};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

void CreateFonts() {
    const HDC dc = CreateCompatibleDC(nullptr);
    ChooseFace(dc);
    DeleteDC(dc);
    MakeFonts(MonitorDpi(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY)));
}

void CreateControls(HWND window) {
    // The window may lie on a monitor of another DPI than the primary one.
    if (WindowDpi(window) != g_app.dpi) {
        DeleteObject(g_app.captionFont);
        DeleteObject(g_app.valueFont);
        MakeFonts(WindowDpi(window));
    }
    for (const ControlLayout& layout : kControls) {
        if (layout.imagesBefore != Images::None) LoadImageGroup(layout.imagesBefore);
        const HWND control = CreateControl(window, layout);
        SetFont(control, layout.font);
        if (layout.id == IDC_STATUS) SetStatus(window, L"Ready...");
        if (layout.id == IDC_OUTPUT) SetOutputButtonText(window);
        if (layout.id == IDC_PROGRESS) PrepareProgressBar(control);
        if (layout.className == kComboBox) FillChoices(control, layout.id);
    }
}

void ScaleControls(HWND window, int dpi) {
    const HFONT oldCaption = g_app.captionFont;
    const HFONT oldValue = g_app.valueFont;
    MakeFonts(dpi);
    for (Images images : {Images::SelectFile, Images::Region, Images::Method, Images::Convert}) {
        LoadImageGroup(images);
    }
    for (const ControlLayout& layout : kControls) {
        const HWND control = FindControl(window, layout.id);
        const Box box = PlaceOf(layout);
        SetWindowPos(control, nullptr, box.x, box.y, box.width, box.height, SWP_NOZORDER | SWP_NOACTIVATE);
        SetFont(control, layout.font);
    }
    // What the Output button names is fitted to its face in the new font.
    SetOutputButtonText(window);
    DeleteObject(oldCaption);
    DeleteObject(oldValue);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

int ScaledLength(int length) {
    return ScaleToDpi(length, g_app.dpi);
}

HWND FindControl(HWND window, int id) {
    const ControlLayout* layout = FindLayout(id);
    if (layout == nullptr) return nullptr;
    return GetDlgItem(ParentWindow(window, *layout), id);
}

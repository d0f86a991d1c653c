// The layout of the main window: one table row per control, in creation
// order, with the images each group of buttons needs loaded just before it.
#include "ui/controls_win.h"

#include <commctrl.h>

#include <cstddef>

#include "app/app_state.h"
#include "resources/resource_ids.h"
#include "ui/control_states_win.h"

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
    int x, y, width, height;
    Font font;
    Images imagesBefore;  // the image group to load right before this control
};

constexpr wchar_t kStatic[] = L"STATIC";
constexpr wchar_t kButton[] = L"BUTTON";
constexpr wchar_t kEdit[] = L"EDIT";
constexpr wchar_t kProgress[] = PROGRESS_CLASSW;

constexpr DWORD kVisible = WS_VISIBLE;
// The inputs Tab and Shift+Tab walk, in creation order, which is layout order.
constexpr DWORD kInput = WS_VISIBLE | WS_TABSTOP;

constexpr wchar_t kIntroText[] =
    L"The ESRI ARC/INFO ASCII GRID format is usually used to store terrain data from LIDAR "
    L"laser scanning. This application takes ESRI ARC/INFO ASCII GRID file and converts it to "
    L"a 3D mesh. It saves the 3D mesh in OBJ format that can be imported in most 3D "
    L"applications. You can also generate a height bitmap\nin grayscale.";
constexpr wchar_t kRegionNote[] =
    L"Please note.\nConverted files can be very large and hard to editing. If you are "
    L"interested only in specified region, you can set the range below instead of editing "
    L"the whole large mesh in 3d application.";
constexpr wchar_t kCreditText[] = L"Dunmoor v0.2, \x00A9 2018 Dunmoor, https://dunmoor.example";
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
    {IDC_REGION_PICTURE, kStatic, IDC_STEP2_FRAME, L"", kVisible | SS_BITMAP, 119, 100, 388, 124, Font::None, Images::Region},
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
    {IDC_STEP4_FRAME, kStatic, 0, L"", kVisible | SS_ETCHEDFRAME, 15, 818, 625, 50, Font::None, Images::None},
    {IDC_STEP4_CAPTION, kStatic, 0, L" Step 4: Units setup (optional):", kVisible | SS_LEFT, 20, 808, 190, 20, Font::Caption, Images::None},
    {IDC_UNITS_LABEL, kStatic, 0, kUnitsLabel, kVisible | SS_LEFT, 24, 838, 300, 20, Font::Caption, Images::None},
    {IDC_UNITS, kEdit, 0, L"1.0", kInput | ES_RIGHT, 207, 838, 45, 20, Font::Caption, Images::None},
    {IDC_STEP5_FRAME, kStatic, 0, L"", kVisible | SS_ETCHEDFRAME, 15, 898, 625, 95, Font::None, Images::None},
    {IDC_STEP5_CAPTION, kStatic, 0, L" Step 5: Convert:", kVisible | SS_LEFT, 20, 888, 110, 20, Font::Caption, Images::None},
    {IDC_STATUS, kStatic, IDC_STEP5_FRAME, L"", kVisible | SS_LEFT, 9, 70, 300, 20, Font::Caption, Images::None},
    {IDC_CONVERT, kButton, 0, L"", kInput | BS_BITMAP, 489, 923, 142, 40, Font::None, Images::Convert},
    // Created hidden; shown once its step and position are set.
    {IDC_PROGRESS, kProgress, IDC_STEP5_FRAME, L"", PBS_SMOOTH, 9, 25, 458, 39, Font::None, Images::None},
    {IDC_CREDIT_FRAME, kStatic, 0, L"", kVisible | SS_SUNKEN, 15, 1023, 625, 30, Font::None, Images::None},
    {IDC_CREDIT_TEXT, kStatic, IDC_CREDIT_FRAME, kCreditText, kVisible | SS_CENTER, 10, 5, 610, 30, Font::Caption, Images::None},
};
// clang-format on

static_assert(sizeof(kControls) / sizeof(kControls[0]) == 42, "the window has 42 controls");

// Each image group is a run of consecutive resource ids, stored in AppState
// in the same order.
static_assert(IDI_SELECT_FILE_PRESSED == IDI_SELECT_FILE_HOT + 2, "select-file images");
static_assert(IDI_REGION_GREY == IDI_REGION_COLOUR + 1, "region images");
static_assert(IDI_FLOATING_GREY == IDI_INTERPOLATED_COLOUR + 3, "method images");
static_assert(IDI_CANCEL_HOT == IDI_CONVERT_HOT + 6, "convert images");

ImageGroup ImageGroupFor(Images images) {
    switch (images) {
    case Images::SelectFile:
        return {g_app.selectFileImages, IDI_SELECT_FILE_HOT, 3, 180, 110};
    case Images::Region:
        return {g_app.regionImages, IDI_REGION_COLOUR, 2, 388, 124};
    case Images::Method:
        return {g_app.methodImages, IDI_INTERPOLATED_COLOUR, 4, 300, 105};
    case Images::Convert:
        return {g_app.convertImages, IDI_CONVERT_HOT, 7, 142, 40};
    case Images::None:
        break;
    }
    return {nullptr, 0, 0, 0, 0};
}

void LoadImageGroup(Images images) {
    const ImageGroup group = ImageGroupFor(images);
    const HINSTANCE module = GetModuleHandleW(nullptr);
    for (int i = 0; i < group.count; ++i) {
        group.handles[i] = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(group.firstResource + i),
                                                         IMAGE_ICON, group.width, group.height,
                                                         LR_DEFAULTCOLOR));
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

HWND CreateControl(HWND window, const ControlLayout& layout) {
    return CreateWindowExW(0, layout.className, layout.text, WS_CHILD | layout.style, layout.x,
                           layout.y, layout.width, layout.height, ParentWindow(window, layout),
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.id)),
                           GetModuleHandleW(nullptr), nullptr);
}

void PrepareProgressBar(HWND progressBar) {
    SendMessageW(progressBar, PBM_SETSTEP, 10, 0);
    SendMessageW(progressBar, PBM_SETPOS, 0, 0);
    ShowWindow(progressBar, SW_SHOW);
}

HFONT CreateSegoeFont(int height) {
    return CreateFontW(height, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_OUTLINE_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       VARIABLE_PITCH | FF_DONTCARE, L"Segoe UI");
}

}  // namespace

void CreateFonts() {
    g_app.captionFont = CreateSegoeFont(18);
    g_app.valueFont = CreateSegoeFont(16);
}

void CreateControls(HWND window) {
    for (const ControlLayout& layout : kControls) {
        if (layout.imagesBefore != Images::None) LoadImageGroup(layout.imagesBefore);
        const HWND control = CreateControl(window, layout);
        if (layout.font != Font::None) {
            SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle(layout.font)), TRUE);
        }
        if (layout.id == IDC_STATUS) SetStatus(window, L"Ready...");
        if (layout.id == IDC_PROGRESS) PrepareProgressBar(control);
    }
}

HWND FindControl(HWND window, int id) {
    const ControlLayout* layout = FindLayout(id);
    if (layout == nullptr) return nullptr;
    return GetDlgItem(ParentWindow(window, *layout), id);
}

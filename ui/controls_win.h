// The controls of the main window: their ids, the two fonts, the one pass
// that creates every control with its text, style, place, font and images,
// and the width of a text as the layout measures it.
#pragma once

#include <windows.h>

#include <string>

// Control ids. 201-239: frames, static texts and the progress bar; 304-309:
// image buttons; 310-311: check boxes; 312: the Output button; 401-405 and
// 408: edit fields; 406-407: the geometry's drop-down lists. The comment gives each control's
// parent; a control inside a panel frame is found with GetDlgItem on that
// frame, every other one with GetDlgItem on the main window.
enum ControlId : int {
    IDC_INTRO_FRAME = 201,                   // main
    IDC_INTRO_TEXT = 202,                    // 201
    IDC_STEP1_FRAME = 203,                   // main
    IDC_STEP1_CAPTION = 204,                 // main
    IDC_FILEINFO_FRAME = 205,                // 203
    IDC_FILEINFO_CAPTION = 206,              // 203
    IDC_FILEINFO_LABELS1 = 207,              // 205
    IDC_FILEINFO_VALUES1 = 208,              // 205
    IDC_FILEINFO_LABELS2 = 209,              // 205
    IDC_FILEINFO_VALUES2 = 210,              // 205
    IDC_STEP2_FRAME = 211,                   // main
    IDC_STEP2_CAPTION = 212,                 // main
    IDC_REGION_NOTE = 213,                   // 211
    IDC_REGION_PICTURE = 214,                // 211
    IDC_XMIN_LABEL = 215,                    // 211
    IDC_YMIN_LABEL = 216,                    // 211
    IDC_XMAX_LABEL = 217,                    // 211
    IDC_YMAX_LABEL = 218,                    // 211
    IDC_STEP3_FRAME = 219,                   // main
    IDC_STEP3_CAPTION = 220,                 // main
    IDC_ESTIMATE_LABELS_INTERPOLATED = 221,  // 219
    IDC_ESTIMATE_INTERPOLATED = 222,         // 219
    IDC_ESTIMATE_LABELS_FLOATING = 223,      // 219
    IDC_ESTIMATE_FLOATING = 224,             // 219
    IDC_STEP4_FRAME = 229,                   // main
    IDC_STEP4_CAPTION = 230,                 // main
    IDC_UNITS_LABEL = 231,                   // main
    IDC_STEP5_FRAME = 233,                   // main
    IDC_STEP5_CAPTION = 234,                 // main
    IDC_STATUS = 235,                        // 233
    IDC_PROGRESS = 236,                      // 233
    IDC_CREDIT_FRAME = 237,                  // main
    IDC_CREDIT_TEXT = 238,                   // 237
    IDC_GEOMETRY_LABEL = 239,                // main
    IDC_SELECT_FILE = 304,                   // main
    IDC_METHOD_INTERPOLATED = 305,           // main
    IDC_METHOD_FLOATING = 306,               // main
    IDC_CONVERT = 309,                       // main
    IDC_HEIGHT_BITMAP = 310,                 // main
    IDC_SIMPLIFIED = 311,                    // main: Interpolated, simplified
    IDC_OUTPUT = 312,                        // main: opens the Output dialog, names its choice
    IDC_XMIN = 401,                          // main
    IDC_YMIN = 402,                          // main
    IDC_XMAX = 403,                          // main
    IDC_YMAX = 404,                          // main
    IDC_UNITS = 405,                         // main
    IDC_GEOMETRY = 406,                      // main: Classic, True scale
    IDC_UP_AXIS = 407,                       // main: Z up, Y up
    IDC_MAX_ERROR = 408,                     // main: the simplified mesh's largest height error
};

// The client area at 96 DPI; like every place and size of the layout it is
// scaled to the window's DPI (g_app.dpi).
constexpr int kClientWidth = 655;
constexpr int kClientHeight = 1064;

// Chooses the face of the texts and creates captionFont and valueFont for
// the primary monitor's DPI; runs once during process start-up, before the
// entry point.
void CreateFonts();

// Creates every control of the main window in layout order, at the window's
// DPI, loads the images just before the controls that use them, gives the
// texts their fonts, sets the status line and prepares the progress bar.
// Called once from WM_CREATE.
void CreateControls(HWND window);

// The window's DPI changed: makes the fonts and images for `dpi`, frees the
// old ones, and gives every control its place and font at `dpi`.
void ScaleControls(HWND window, int dpi);

// A length of the 96-DPI layout at the window's DPI. Window thread only.
int ScaledLength(int length);

// A control of the main window by id, found with GetDlgItem on its parent:
// the main window, or the panel frame (itself found the same way) that holds
// it. Safe to call from the job thread.
HWND FindControl(HWND window, int id);

// The width of `text` in the font selected into `dc`, as GDI measures it.
int TextWidth(HDC dc, const std::wstring& text);

#include "app/window_proc_win.h"

#include <commctrl.h>
#include <shellapi.h>

#include "app/app_state.h"
#include "app/commands_win.h"
#include "app/window_place_win.h"
#include "grid/file_info_win.h"
#include "grid/file_selection_win.h"
#include "mesh/conversion_job_win.h"
#include "ui/control_states_win.h"
#include "ui/controls_win.h"
#include "ui/focus_win.h"
#include "ui/region_picture_win.h"
#include "ui/scroll_win.h"

namespace {

void OnCreate(HWND window) {
    INITCOMMONCONTROLSEX classes = {};
    classes.dwSize = sizeof(classes);
    classes.dwICC = ICC_PROGRESS_CLASS | ICC_BAR_CLASSES;  // the bar classes bring the tooltip
    InitCommonControlsEx(&classes);
    CreateControls(window);
    SetUpRegionPicture(window);
    CreateFileNameTip(window);
    EnableAllSteps(window, false);
    // A grid file dropped on the window is selected as the dialog would.
    DragAcceptFiles(window, TRUE);
}

void OnDestroy() {
    StopRegionPreview();
    PostQuitMessage(0);
    g_app.quitRequested = true;
}

// The main window itself shows only its class background; the one thing
// painted here is the region picture (which also paints itself when only it
// changes).
void OnPaint(HWND window) {
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
    PaintRegionPicture(window);
}

// The window moved to a monitor of another DPI, or its monitor's scale
// changed: the layout, fonts and images are made anew for the DPI given in
// wParam, the file name is fitted to its line again, and the window takes
// the place the system suggests, sized for the scaled client area.
void OnDpiChanged(HWND window, WPARAM wParam, LPARAM lParam) {
    const int dpi = HIWORD(wParam);
    const RECT suggested = *reinterpret_cast<const RECT*>(lParam);
    ScaleControls(window, dpi);
    if (!g_app.inputPath.empty()) ShowFileInfo(window);
    ResumeRegionPreview(window);  // read again at the picture's new size
    MoveToDpi(window, suggested, dpi);
    SetUpClientScrolling(window);
}

void OnNotify(HWND window, LPARAM lParam) {
    DrawImageButton(window, reinterpret_cast<const NMHDR*>(lParam));
}

void OnCommand(HWND window, WPARAM wParam, LPARAM lParam) {
    HandleCommand(window, wParam, lParam);
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: OnCreate(window); return 0;
    case WM_DESTROY: OnDestroy(); return 0;
    // No question asked, also while a conversion runs.
    case WM_CLOSE: CloseMainWindow(window); return 0;
    case kJobEndedMessage: EndConversion(window); return 0;
    case kPreviewEndedMessage: EndRegionPreview(window, wParam); return 0;
    case WM_PAINT: OnPaint(window); return 0;
    // Always 0 (CDRF_DODEFAULT): the buttons' own painting goes on.
    case WM_NOTIFY: OnNotify(window, lParam); return 0;
    case WM_COMMAND: OnCommand(window, wParam, lParam); return 0;
    case WM_DROPFILES:
        SelectDroppedGridFile(window, reinterpret_cast<HDROP>(wParam));
        GridSelected(window);
        return 0;
    // Answered here, so the focus goes back to a control, not to the window.
    case WM_ACTIVATE: OnActivate(window, wParam); return 0;
    case WM_VSCROLL: ScrollClient(window, LOWORD(wParam)); return 0;
    case WM_MOUSEWHEEL: ScrollClientByWheel(window, GET_WHEEL_DELTA_WPARAM(wParam)); return 0;
    case WM_DPICHANGED: OnDpiChanged(window, wParam, lParam); return 0;
    default: break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Process entry: registers the window class, places and creates the main
// window and runs the message loop on this, the window thread.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdlib>

#include "app/app_state.h"
#include "app/window_proc_win.h"
#include "grid/file_selection_win.h"
#include "resources/resource_ids.h"
#include "ui/controls_win.h"
#include "ui/focus_win.h"
#include "ui/scroll_win.h"

namespace {

constexpr wchar_t kClassName[] = L"Dunmoor";
constexpr wchar_t kWindowTitle[] = L"Dunmoor v0.2";
constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

void RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    // Colour index plus one: the client area takes the menu background colour.
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_MENU + 1));
    windowClass.lpszClassName = kClassName;
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
    RegisterClassExW(&windowClass);
}

// Centred on the screen by the client size; the absolute value keeps the
// position non-negative on a screen smaller than the window.
POINT CentredPosition() {
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    return POINT{std::abs(screenWidth - kClientWidth) / 2, std::abs(screenHeight - kClientHeight) / 2};
}

struct Placement {
    DWORD style;
    RECT outer;  // screen coordinates
};

// The window's place: centred as above, then moved to lie inside the work
// area of its monitor. On a work area shorter than the window it becomes as
// tall as the work area, with a vertical scroll bar (its width added, so the
// client area keeps its width).
Placement PlaceMainWindow() {
    RECT outer = {0, 0, kClientWidth, kClientHeight};
    AdjustWindowRect(&outer, kWindowStyle, FALSE);
    const POINT position = CentredPosition();
    OffsetRect(&outer, position.x - outer.left, position.y - outer.top);

    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromRect(&outer, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    Placement placement = {kWindowStyle, outer};
    RECT& place = placement.outer;
    if (place.bottom - place.top > work.bottom - work.top) {
        placement.style |= WS_VSCROLL;
        place.right += GetSystemMetrics(SM_CXVSCROLL);
        place.bottom = place.top + (work.bottom - work.top);
    }
    const int width = place.right - place.left;
    const int height = place.bottom - place.top;
    const int left = std::max<int>(work.left, std::min<int>(place.left, work.right - width));
    const int top = std::max<int>(work.top, std::min<int>(place.top, work.bottom - height));
    OffsetRect(&place, left - place.left, top - place.top);
    return placement;
}

HWND CreateMainWindow(HINSTANCE instance) {
    const Placement placement = PlaceMainWindow();
    const RECT& outer = placement.outer;
    return CreateWindowExW(WS_EX_APPWINDOW, kClassName, kWindowTitle, placement.style, outer.left,
                           outer.top, outer.right - outer.left, outer.bottom - outer.top, nullptr,
                           nullptr, instance, nullptr);
}

// A grid path given on the command line (also what "Open with" and a file
// dropped on the program's icon give) is selected at start.
void SelectGridFromCommandLine(HWND window) {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments != nullptr && count > 1) SelectGridPath(window, arguments[1]);
    LocalFree(arguments);
}

// Waits for messages; cross-thread SendMessageW calls of a running job are
// carried out while waiting. Keys go to the dialog keyboard handling first
// (Tab, Enter, Esc). Ends on quitRequested, set when the window is destroyed
// (the WM_QUIT posted then ends it as well).
void RunMessageLoop(HWND window) {
    MSG message;
    while (!g_app.quitRequested) {
        if (GetMessageW(&message, nullptr, 0, 0) <= 0) break;
        if (HandleDialogKeys(window, message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    SystemParametersInfoW(SPI_SETCLIENTAREAANIMATION, 0, reinterpret_cast<PVOID>(FALSE), 0);
    RegisterMainWindowClass(instance);
    const HWND window = CreateMainWindow(instance);
    if (window == nullptr) return 0;
    SetUpClientScrolling(window);
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    FocusControl(window, IDC_SELECT_FILE);
    SelectGridFromCommandLine(window);
    RunMessageLoop(window);
    return 0;
}

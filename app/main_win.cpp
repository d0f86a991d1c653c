// Process entry: registers the window class, places and creates the main
// window and runs the message loop on this, the window thread.
#include <windows.h>
#include <shellapi.h>

#include "dunmoor_version.h"
#include "app/app_state.h"
#include "app/commands_win.h"
#include "app/window_place_win.h"
#include "app/window_proc_win.h"
#include "grid/file_selection_win.h"
#include "resources/resource_ids.h"
#include "ui/controls_win.h"
#include "ui/focus_win.h"
#include "ui/scroll_win.h"

namespace {

constexpr wchar_t kClassName[] = L"Dunmoor";
constexpr wchar_t kWindowTitle[] = DUNMOOR_WIDE_NAME;

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

HWND CreateMainWindow(HINSTANCE instance) {
    const Placement placement = FirstPlacement();
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
    if (arguments != nullptr && count > 1) {
        SelectGridPath(window, arguments[1]);
        GridSelected(window);
    }
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

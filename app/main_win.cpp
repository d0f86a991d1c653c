// Process entry: registers the window class, places and creates the main
// window and runs the message loop on this, the window thread.
#include <windows.h>

#include <cstdlib>

#include "app/app_state.h"
#include "app/window_proc_win.h"
#include "resources/resource_ids.h"
#include "ui/controls_win.h"

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

HWND CreateMainWindow(HINSTANCE instance) {
    RECT outer = {0, 0, kClientWidth, kClientHeight};
    AdjustWindowRect(&outer, kWindowStyle, FALSE);
    const POINT position = CentredPosition();
    return CreateWindowExW(WS_EX_APPWINDOW, kClassName, kWindowTitle, kWindowStyle, position.x,
                           position.y, outer.right - outer.left, outer.bottom - outer.top, nullptr,
                           nullptr, instance, nullptr);
}

// Waits for messages; cross-thread SendMessageW calls of a running job are
// carried out while waiting. Ends on quitRequested, set when the window is
// destroyed (the WM_QUIT posted then ends it as well).
void RunMessageLoop() {
    MSG message;
    while (!g_app.quitRequested) {
        if (GetMessageW(&message, nullptr, 0, 0) <= 0) break;
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
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    RunMessageLoop();
    return 0;
}

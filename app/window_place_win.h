// The main window's place and size: its client area is the layout's, scaled
// to the window's DPI, and the window keeps inside its monitor's work area.
// Window thread only.
#pragma once

#include <windows.h>

constexpr DWORD kMainWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

struct Placement {
    DWORD style;  // kMainWindowStyle, with WS_VSCROLL on a short work area
    RECT outer;   // screen coordinates
    int dpi;
};

// Where the window is created: centred on the primary screen by its client
// size, at the primary monitor's DPI, then kept inside the work area.
Placement FirstPlacement();

// WM_DPICHANGED: gives the window its size for `dpi` at the place the system
// suggests (kept inside the work area) and the scroll bar that goes with it.
void MoveToDpi(HWND window, const RECT& suggested, int dpi);

// Vertical scrolling of the main window's client area, for a work area
// shorter than the window: the window is then as tall as the work area and
// carries a scroll bar (WS_VSCROLL). Without the scroll bar nothing here acts.
// Window thread only.
#pragma once

#include <windows.h>

// Sets the scroll range to the laid-out client height and the page to the
// client height the window got, and scrolls to the top; again whenever the
// window's DPI changes.
void SetUpClientScrolling(HWND window);

// A WM_VSCROLL request (SB_LINEDOWN, SB_PAGEUP, SB_THUMBTRACK, ...).
void ScrollClient(HWND window, WORD request);
// A WM_MOUSEWHEEL turn; `delta` in WHEEL_DELTA units, positive away from the user.
void ScrollClientByWheel(HWND window, int delta);
// Scrolls just enough to show the whole of `control`, a descendant of the window.
void ScrollIntoView(HWND window, HWND control);

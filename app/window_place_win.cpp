#include "app/window_place_win.h"

#include <algorithm>
#include <cstdlib>

#include "ui/controls_win.h"
#include "ui/dpi_win.h"

namespace {

// The window at `corner`, moved to lie inside the work area of its monitor.
// On a work area shorter than the window it becomes as tall as the work
// area, with a vertical scroll bar (its width added, so the client area
// keeps its width).
Placement PlaceAt(POINT corner, int dpi) {
    RECT outer = {0, 0, ScaleToDpi(kClientWidth, dpi), ScaleToDpi(kClientHeight, dpi)};
    AdjustWindowRectForDpi(outer, kMainWindowStyle, 0, dpi);
    OffsetRect(&outer, corner.x - outer.left, corner.y - outer.top);

    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromRect(&outer, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    Placement placement = {kMainWindowStyle, outer, dpi};
    RECT& place = placement.outer;
    if (place.bottom - place.top > work.bottom - work.top) {
        placement.style |= WS_VSCROLL;
        place.right += SystemMetricForDpi(SM_CXVSCROLL, dpi);
        place.bottom = place.top + (work.bottom - work.top);
    }
    const int width = place.right - place.left;
    const int height = place.bottom - place.top;
    const int left = std::max<int>(work.left, std::min<int>(place.left, work.right - width));
    const int top = std::max<int>(work.top, std::min<int>(place.top, work.bottom - height));
    OffsetRect(&place, left - place.left, top - place.top);
    return placement;
}

}  // namespace

Placement FirstPlacement() {
    const int dpi = MonitorDpi(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY));
    // The absolute value keeps the position non-negative on a screen smaller
    // than the window.
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    const POINT corner = {std::abs(screenWidth - ScaleToDpi(kClientWidth, dpi)) / 2,
                          std::abs(screenHeight - ScaleToDpi(kClientHeight, dpi)) / 2};
    return PlaceAt(corner, dpi);
}

void MoveToDpi(HWND window, const RECT& suggested, int dpi) {
    const Placement placement = PlaceAt(POINT{suggested.left, suggested.top}, dpi);
    const LONG style = GetWindowLongW(window, GWL_STYLE);
    SetWindowLongW(window, GWL_STYLE, static_cast<LONG>((style & ~WS_VSCROLL) | (placement.style & WS_VSCROLL)));
    const RECT& outer = placement.outer;
    SetWindowPos(window, nullptr, outer.left, outer.top, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

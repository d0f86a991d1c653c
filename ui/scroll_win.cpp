#include "ui/scroll_win.h"

#include <algorithm>

#include "ui/controls_win.h"

namespace {

// Lengths at 96 DPI, scaled to the window's like the layout.
constexpr int kLinePixels = 20;
constexpr int kWheelLines = 3;
constexpr int kViewMargin = 10;  // room kept above and below a control scrolled into view

bool ClientScrolls(HWND window) {
    return (GetWindowLongW(window, GWL_STYLE) & WS_VSCROLL) != 0;
}

SCROLLINFO ScrollState(HWND window) {
    SCROLLINFO info = {};
    info.cbSize = sizeof(info);
    info.fMask = SIF_ALL;
    GetScrollInfo(window, SB_VERT, &info);
    return info;
}

// Moves the view so that client row `position` of the laid-out window is at
// the top; the children move with it (SW_SCROLLCHILDREN).
void ScrollClientTo(HWND window, int position) {
    if (!ClientScrolls(window)) return;
    SCROLLINFO info = ScrollState(window);
    const int last = std::max(0, info.nMax - static_cast<int>(info.nPage) + 1);
    position = std::clamp(position, 0, last);
    if (position == info.nPos) return;
    const int shift = info.nPos - position;
    info.fMask = SIF_POS;
    info.nPos = position;
    SetScrollInfo(window, SB_VERT, &info, TRUE);
    ScrollWindowEx(window, 0, shift, nullptr, nullptr, nullptr, nullptr,
                   SW_SCROLLCHILDREN | SW_INVALIDATE | SW_ERASE);
    UpdateWindow(window);
}

}  // namespace

void SetUpClientScrolling(HWND window) {
    if (!ClientScrolls(window)) return;
    RECT client;
    GetClientRect(window, &client);
    SCROLLINFO info = {};
    info.cbSize = sizeof(info);
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMin = 0;
    info.nMax = ScaledLength(kClientHeight) - 1;
    info.nPage = static_cast<UINT>(client.bottom);
    info.nPos = 0;
    SetScrollInfo(window, SB_VERT, &info, TRUE);
}

void ScrollClient(HWND window, WORD request) {
    const SCROLLINFO info = ScrollState(window);
    const int page = static_cast<int>(info.nPage);
    switch (request) {
    case SB_LINEUP: ScrollClientTo(window, info.nPos - ScaledLength(kLinePixels)); break;
    case SB_LINEDOWN: ScrollClientTo(window, info.nPos + ScaledLength(kLinePixels)); break;
    case SB_PAGEUP: ScrollClientTo(window, info.nPos - page); break;
    case SB_PAGEDOWN: ScrollClientTo(window, info.nPos + page); break;
    case SB_TOP: ScrollClientTo(window, 0); break;
    case SB_BOTTOM: ScrollClientTo(window, ScaledLength(kClientHeight)); break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: ScrollClientTo(window, info.nTrackPos); break;
    default: break;
    }
}

void ScrollClientByWheel(HWND window, int delta) {
    const SCROLLINFO info = ScrollState(window);
    ScrollClientTo(window, info.nPos - delta * kWheelLines * ScaledLength(kLinePixels) / WHEEL_DELTA);
}

void ScrollIntoView(HWND window, HWND control) {
    if (!ClientScrolls(window) || control == nullptr || !IsChild(window, control)) return;
    RECT box;
    GetWindowRect(control, &box);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&box), 2);
    RECT client;
    GetClientRect(window, &client);
    const int position = ScrollState(window).nPos;
    const int margin = ScaledLength(kViewMargin);
    if (box.top < margin) {
        ScrollClientTo(window, position + box.top - margin);
    } else if (box.bottom > client.bottom - margin) {
        ScrollClientTo(window, position + box.bottom - client.bottom + margin);
    }
}

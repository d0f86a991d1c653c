// Dots per inch. The layout is drawn for 96 DPI and scaled to the DPI of the
// monitor the window is on. The functions that tell a monitor's or a window's
// DPI came with Windows 8.1 and 10; they are looked up when first needed, so
// the program still starts on Windows 7, where every answer is the screen's
// one DPI. Safe to call from any thread.
#pragma once

#include <windows.h>

constexpr int kLayoutDpi = 96;

// A length of the 96-DPI layout at `dpi`, to the nearest pixel (halves up).
int ScaleToDpi(int length, int dpi);

// The DPI of a window: of its monitor for this per-monitor-aware program.
int WindowDpi(HWND window);
// The DPI of a monitor.
int MonitorDpi(HMONITOR monitor);

// AdjustWindowRectEx and GetSystemMetrics for a window at `dpi`.
void AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, int dpi);
int SystemMetricForDpi(int index, int dpi);
// The fonts of message boxes, captions and menus at `dpi`.
NONCLIENTMETRICSW NonClientMetricsForDpi(int dpi);

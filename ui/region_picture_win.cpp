#include "ui/region_picture_win.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "grid/file_info_win.h"
#include "grid/grid_reader.h"
#include "grid/path_parts.h"
#include "picture/terrain_preview.h"
#include "ui/controls_win.h"

// One preview being read: made by the window thread, filled by the preview
// thread, read by the window thread again once the thread has ended.
struct PreviewRun {
    HWND window = nullptr;
    std::wstring path;
    GridHeader header;
    int width = 0, height = 0;
    PreviewColours colours;
    unsigned generation = 0;
    TerrainPreview preview;  // the preview thread's until it has ended
    bool rendered = false;
};

namespace {

constexpr UINT_PTR kPictureSubclass = 1;

HWND PictureOf(HWND window) {
    return FindControl(window, IDC_REGION_PICTURE);
}

void InvalidatePicture(HWND window) {
    InvalidateRect(PictureOf(window), nullptr, FALSE);
}

bool ShowsPreview() {
    return g_app.regionEnabled && g_app.preview.width > 0;
}

// The grid file as selected, reopened: a file changed since its selection
// shows no preview, as it converts nothing.
DWORD WINAPI RunPreviewThread(LPVOID argument) {
    PreviewRun& run = *static_cast<PreviewRun*>(argument);
    GridStream input;
    GridHeader now;
    run.rendered = ReadGridHeader(WidePath(run.path), input, now) && SameGridHeader(now, run.header) &&
                   RenderTerrainPreview(input, now, run.width, run.height, run.colours, &g_app.previewCancel,
                                        run.preview);
    CloseGridStream(input);
    PostMessageW(run.window, kPreviewEndedMessage, run.generation, 0);
    return 0;
}

// Waits for the preview thread (ended, or stopping within a few rows) and
// keeps its preview when it was read whole.
void JoinPreviewThread() {
    WaitForSingleObject(g_app.previewThread, INFINITE);
    CloseHandle(g_app.previewThread);
    g_app.previewThread = nullptr;
    const std::unique_ptr<PreviewRun> run(g_app.previewRun);
    g_app.previewRun = nullptr;
    if (run->rendered) g_app.preview = std::move(run->preview);
}

// ---------------------------------------------------------------------------
// Painting

// The preview, stretched when the picture's size changed since it was read.
void DrawPreview(HDC dc, const RECT& client) {
    const TerrainPreview& p = g_app.preview;
    std::vector<uint32_t> pixels(static_cast<std::size_t>(p.width) * p.height);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const uint8_t* rgb = &p.rgb[i * 3];
        pixels[i] = (uint32_t{rgb[0]} << 16) | (uint32_t{rgb[1]} << 8) | rgb[2];
    }
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), p.width, -p.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    SetStretchBltMode(dc, HALFTONE);
    StretchDIBits(dc, 0, 0, client.right, client.bottom, 0, 0, p.width, p.height, pixels.data(), &info,
                  DIB_RGB_COLORS, SRCCOPY);
}

struct PointD {
    double x, y;
};

// An arrow whose point touches `tip`, its shaft running off towards
// (dx, dy), diagonal: white with a dark shadow that keeps it apart from pale
// ground, or in the window's dark blue where it lies on the panel beside
// the grid.
void DrawArrow(HDC dc, PointD tip, double dx, double dy, double scale, bool onGrid) {
    const double ux = dx / std::sqrt(2.0), uy = dy / std::sqrt(2.0);  // towards the tail
    const double px = -uy, py = ux;                                    // across the shaft
    const double length = 18 * scale, head = 8 * scale, halfWidth = 5 * scale, shaft = 1.25 * scale;
    const PointD h = {tip.x + ux * head, tip.y + uy * head};
    const PointD e = {tip.x + ux * length, tip.y + uy * length};
    const PointD shape[2][4] = {
        {{h.x + px * shaft, h.y + py * shaft}, {e.x + px * shaft, e.y + py * shaft},
         {e.x - px * shaft, e.y - py * shaft}, {h.x - px * shaft, h.y - py * shaft}},
        {tip, {h.x + px * halfWidth, h.y + py * halfWidth}, {h.x - px * halfWidth, h.y - py * halfWidth}, tip},
    };
    const HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    const HBRUSH shadow = CreateSolidBrush(RGB(0, 10, 30));
    const HBRUSH blue = CreateSolidBrush(RGB(22, 58, 105));
    for (const double offset : {scale, 0.0}) {
        if (offset > 0 && !onGrid) continue;
        SelectObject(dc, offset > 0 ? shadow : onGrid ? static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)) : blue);
        for (const auto& polygon : shape) {
            POINT points[4];
            for (int i = 0; i < 4; ++i) {
                points[i] = {static_cast<LONG>(std::lround(polygon[i].x + offset)),
                             static_cast<LONG>(std::lround(polygon[i].y + offset))};
            }
            Polygon(dc, points, 4);
        }
    }
    SelectObject(dc, oldPen);
    SelectObject(dc, GetStockObject(WHITE_BRUSH));
    DeleteObject(shadow);
    DeleteObject(blue);
}

// The region on the preview: a white frame just inside its outline (so a
// region of the whole grid shows its frame on the terrain, not on the panel)
// and arrows at the two corners the fields set, outside the frame on each
// side where the picture has room for them, else inside.
void DrawRegion(HDC dc, const RECT& client) {
    const TerrainPreview& p = g_app.preview;
    const GridHeader& h = g_app.header;
    const RegionWindow& r = g_app.region;
    if (RegionIsEmpty(r)) return;
    const double sx = static_cast<double>(client.right) / p.width, sy = static_cast<double>(client.bottom) / p.height;
    const auto column = [&](int32_t c) { return (p.left + std::clamp(c, 0, h.ncols) * p.gridWidth / h.ncols) * sx; };
    const auto row = [&](int32_t c) { return (p.top + std::clamp(c, 0, h.nrows) * p.gridHeight / h.nrows) * sy; };
    const PointD from = {column(r.xMin - 1), row(r.yMin - 1)}, to = {column(r.xMax), row(r.yMax)};

    const int line = ScaledLength(2);
    const LONG x0 = std::lround(from.x), y0 = std::lround(from.y);
    const LONG x1 = std::max(std::lround(to.x), x0 + 2 * line), y1 = std::max(std::lround(to.y), y0 + 2 * line);
    const RECT sides[] = {{x0, y0, x1, y0 + line}, {x0, y1 - line, x1, y1}, {x0, y0, x0 + line, y1},
                          {x1 - line, y0, x1, y1}};
    for (const RECT& side : sides) FillRect(dc, &side, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));

    const double scale = g_app.dpi / 96.0;
    const double gap = 3 * scale, reach = gap + 18 * scale / std::sqrt(2.0);
    // Whether an arrow's tail, `reach` along (dx, dy) from the corner, lies on the grid.
    const auto onGrid = [&](PointD corner, double dx, double dy) {
        const double x = corner.x + dx * reach, y = corner.y + dy * reach;
        return x >= p.left * sx && x <= (p.left + p.gridWidth) * sx && y >= p.top * sy && y <= (p.top + p.gridHeight) * sy;
    };
    const double westward = from.x >= reach ? -1 : 1, northward = from.y >= reach ? -1 : 1;
    DrawArrow(dc, {from.x + westward * gap, from.y + northward * gap}, westward, northward, scale,
              onGrid(from, westward, northward));
    const double eastward = to.x + reach <= client.right ? 1 : -1, southward = to.y + reach <= client.bottom ? 1 : -1;
    DrawArrow(dc, {to.x + eastward * gap, to.y + southward * gap}, eastward, southward, scale,
              onGrid(to, eastward, southward));
}

// ---------------------------------------------------------------------------
// Dragging

// The cell under a point of the picture, in the preview's pixels.
void CellAt(HWND picture, POINT at, int32_t& column, int32_t& row) {
    RECT client;
    GetClientRect(picture, &client);
    const TerrainPreview& p = g_app.preview;
    const double x = (at.x + 0.5) * p.width / std::max<LONG>(client.right, 1);
    const double y = (at.y + 0.5) * p.height / std::max<LONG>(client.bottom, 1);
    PreviewCellAt(p, g_app.header, x, y, column, row);
}

// A field given a number as typing would give it: its change clamps it and
// updates the estimates and the picture.
void SetRegionField(HWND window, int id, int32_t value) {
    const HWND field = GetDlgItem(window, id);
    const std::wstring text = std::to_wstring(value);
    if (ReadFieldText(field) != text) SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void DragRegionTo(HWND window, HWND picture, POINT to) {
    int32_t c0, r0, c1, r1;
    CellAt(picture, g_app.dragStart, c0, r0);
    CellAt(picture, to, c1, r1);
    SetRegionField(window, IDC_XMIN, std::min(c0, c1));
    SetRegionField(window, IDC_YMIN, std::min(r0, r1));
    SetRegionField(window, IDC_XMAX, std::max(c0, c1));
    SetRegionField(window, IDC_YMAX, std::max(r0, r1));
}

POINT PointOf(LPARAM lParam) {
    return {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
}

void OnPictureButtonDown(HWND picture, LPARAM lParam) {
    if (!ShowsPreview()) return;
    g_app.dragPressed = true;
    g_app.dragMoved = false;
    g_app.dragStart = PointOf(lParam);
    SetCapture(picture);
}

// Nothing changes until the pointer has gone past the drag distance: a click
// leaves the region as it is.
void OnPictureMove(HWND window, HWND picture, LPARAM lParam) {
    if (!g_app.dragPressed || !ShowsPreview()) return;
    const POINT at = PointOf(lParam);
    if (!g_app.dragMoved && std::abs(at.x - g_app.dragStart.x) < GetSystemMetrics(SM_CXDRAG) &&
        std::abs(at.y - g_app.dragStart.y) < GetSystemMetrics(SM_CYDRAG))
        return;
    g_app.dragMoved = true;
    DragRegionTo(window, picture, at);
}

void OnPictureButtonUp(HWND window, HWND picture, LPARAM lParam) {
    if (!g_app.dragPressed) return;
    OnPictureMove(window, picture, lParam);
    g_app.dragPressed = false;
    ReleaseCapture();
}

LRESULT CALLBACK PictureProc(HWND picture, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
    const HWND window = reinterpret_cast<HWND>(data);
    switch (message) {
    case WM_PAINT: PaintRegionPicture(window); return 0;
    case WM_ERASEBKGND: return 1;  // the painting covers it all
    // A static text lets the mouse through to its parent; over a preview
    // the picture takes it, with a cross for pointer.
    case WM_NCHITTEST:
        if (ShowsPreview()) return HTCLIENT;
        break;
    case WM_SETCURSOR:
        if (!ShowsPreview()) break;
        SetCursor(LoadCursorW(nullptr, IDC_CROSS));
        return TRUE;
    case WM_LBUTTONDOWN: OnPictureButtonDown(picture, lParam); return 0;
    case WM_MOUSEMOVE: OnPictureMove(window, picture, lParam); return 0;
    case WM_LBUTTONUP: OnPictureButtonUp(window, picture, lParam); return 0;
    case WM_CAPTURECHANGED: g_app.dragPressed = false; return 0;
    default: break;
    }
    return DefSubclassProc(picture, message, wParam, lParam);
}

}  // namespace

void SetUpRegionPicture(HWND window) {
    SetWindowSubclass(PictureOf(window), PictureProc, kPictureSubclass, reinterpret_cast<DWORD_PTR>(window));
}

void StartRegionPreview(HWND window) {
    if (g_app.converting) return;
    StopRegionPreview();
    g_app.preview = TerrainPreview{};
    InvalidatePicture(window);
    if (g_app.inputPath.empty()) return;

    RECT client;
    GetClientRect(PictureOf(window), &client);
    auto run = std::make_unique<PreviewRun>();
    run->window = window;
    run->path = g_app.inputPath;
    run->header = g_app.header;
    run->width = client.right;
    run->height = client.bottom;
    // Around the grid the panel's colour, so the grid alone stands out.
    const COLORREF panel = GetSysColor(COLOR_MENU);
    run->colours.background[0] = GetRValue(panel);
    run->colours.background[1] = GetGValue(panel);
    run->colours.background[2] = GetBValue(panel);
    run->generation = ++g_app.previewGeneration;
    g_app.previewCancel = false;
    const HANDLE thread = CreateThread(nullptr, 0, RunPreviewThread, run.get(), 0, nullptr);
    if (thread == nullptr) return;  // the image stays
    g_app.previewRun = run.release();
    g_app.previewThread = thread;
}

void StopRegionPreview() {
    if (g_app.previewThread == nullptr) return;
    g_app.previewCancel = true;
    JoinPreviewThread();
    ++g_app.previewGeneration;  // its end, still posted, is dropped
}

void EndRegionPreview(HWND window, WPARAM generation) {
    if (g_app.previewThread == nullptr || generation != g_app.previewGeneration) return;
    // The thread posted its end as its last step: this wait is short.
    JoinPreviewThread();
    InvalidatePicture(window);
}

void ResumeRegionPreview(HWND window) {
    RECT client;
    GetClientRect(PictureOf(window), &client);
    if (g_app.preview.width != client.right || g_app.preview.height != client.bottom) StartRegionPreview(window);
}

void PaintRegionPicture(HWND window) {
    const HWND picture = PictureOf(window);
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(picture, &paint);
    RECT client;
    GetClientRect(picture, &client);
    // Drawn aside first, so the frame does not flicker as it moves.
    const HDC aside = CreateCompatibleDC(dc);
    const HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
    const HGDIOBJ previous = SelectObject(aside, bitmap);
    FillRect(aside, &client, GetSysColorBrush(COLOR_MENU));
    if (ShowsPreview()) {
        DrawPreview(aside, client);
        DrawRegion(aside, client);
    } else {
        const HICON image = g_app.regionImages[g_app.regionEnabled ? 0 : 1];
        DrawIconEx(aside, 0, 0, image, 0, 0, 0, nullptr, DI_NORMAL | DI_COMPAT);
    }
    BitBlt(dc, 0, 0, client.right, client.bottom, aside, 0, 0, SRCCOPY);
    SelectObject(aside, previous);
    DeleteObject(bitmap);
    DeleteDC(aside);
    EndPaint(picture, &paint);
}

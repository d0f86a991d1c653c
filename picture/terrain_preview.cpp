#include "picture/terrain_preview.h"

#include <algorithm>
#include <cmath>

#include <mutex>

#include "grid/grid_pass.h"
#include "job/output_file.h"
#include "picture/png_writer.h"

namespace {

// The window's blues, from the lowest heights to the highest.
constexpr double kLow[3] = {28, 63, 120};
constexpr double kHigh[3] = {196, 222, 247};

struct Accumulators {
    int width = 0, height = 0;  // the grid's part of the picture, in whole pixels
    std::vector<double> sum;
    std::vector<uint32_t> count;
};

// The ground size of the grid: its aspect decides the fitting.
void FitGrid(const GridHeader& h, int width, int height, TerrainPreview& p, Accumulators& a) {
    const double groundWidth = static_cast<double>(h.ncols) * std::fabs(h.cellsize);
    const double groundHeight = static_cast<double>(h.nrows) * std::fabs(CellSizeY(h));
    const bool sized = groundWidth > 0 && groundHeight > 0 && std::isfinite(groundWidth * groundHeight);
    const double scale = sized ? std::min(width / groundWidth, height / groundHeight) : 0.0;
    p.gridWidth = sized ? groundWidth * scale : width;
    p.gridHeight = sized ? groundHeight * scale : height;
    p.left = (width - p.gridWidth) / 2;
    p.top = (height - p.gridHeight) / 2;
    a.width = std::max(1, static_cast<int>(std::lround(p.gridWidth)));
    a.height = std::max(1, static_cast<int>(std::lround(p.gridHeight)));
    a.sum.assign(static_cast<std::size_t>(a.width) * a.height, 0.0);
    a.count.assign(static_cast<std::size_t>(a.width) * a.height, 0);
}

// Shades and tints the accumulated heights: light from the north-west, 45
// degrees up.
void Paint(const GridHeader& h, const PreviewColours& colours, const Accumulators& a, TerrainPreview& p) {
    const auto at = [&](int x, int y) { return static_cast<std::size_t>(y) * a.width + x; };
    double lowest = INFINITY, highest = -INFINITY;
    std::vector<double> mean(a.sum.size(), 0.0);
    for (std::size_t i = 0; i < mean.size(); ++i) {
        if (a.count[i] == 0) continue;
        mean[i] = a.sum[i] / a.count[i];
        lowest = std::min(lowest, mean[i]);
        highest = std::max(highest, mean[i]);
    }
    const double relief = highest > lowest ? highest - lowest : 1.0;
    // Ground metres a pixel spans, so slopes are the ground's.
    const double stepX = static_cast<double>(h.ncols) * std::fabs(h.cellsize) / a.width;
    const double stepY = static_cast<double>(h.nrows) * std::fabs(CellSizeY(h)) / a.height;
    const double lx = -0.5, ly = 0.5, lz = std::sqrt(0.5);  // towards the light: west, north, up
    // The slopes span a cell at least: where the picture is larger than the
    // grid, a cell covers one pixel or two by turns, and neighbouring pixels
    // would see its slope whole or halved, in stripes.
    const int reachX = std::max(1, static_cast<int>(std::ceil(static_cast<double>(a.width) / h.ncols)));
    const int reachY = std::max(1, static_cast<int>(std::ceil(static_cast<double>(a.height) / h.nrows)));
    const int x0 = static_cast<int>(std::lround(p.left)), y0 = static_cast<int>(std::lround(p.top));
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            uint8_t* out = &p.rgb[(static_cast<std::size_t>(y) * p.width + x) * 3];
            const int gx = x - x0, gy = y - y0;
            if (gx < 0 || gy < 0 || gx >= a.width || gy >= a.height) {
                std::copy(colours.background, colours.background + 3, out);
                continue;
            }
            if (a.count[at(gx, gy)] == 0) {
                std::copy(colours.nodata, colours.nodata + 3, out);
                continue;
            }
            const auto height = [&](int cx, int cy) {
                cx = std::clamp(cx, 0, a.width - 1);
                cy = std::clamp(cy, 0, a.height - 1);
                return a.count[at(cx, cy)] != 0 ? mean[at(cx, cy)] : mean[at(gx, gy)];
            };
            // East and north slopes; y grows to the south in the picture.
            const double dzdx = (height(gx + reachX, gy) - height(gx - reachX, gy)) / (2 * reachX * stepX);
            const double dzdy = (height(gx, gy - reachY) - height(gx, gy + reachY)) / (2 * reachY * stepY);
            const double light = std::clamp((-dzdx * lx - dzdy * ly + lz) / std::sqrt(dzdx * dzdx + dzdy * dzdy + 1), 0.0, 1.0);
            const double t = (mean[at(gx, gy)] - lowest) / relief;
            const double shade = 0.35 + 0.65 * light;
            for (int k = 0; k < 3; ++k)
                out[k] = static_cast<uint8_t>(std::clamp((kLow[k] + t * (kHigh[k] - kLow[k])) * shade, 0.0, 255.0));
        }
}

}  // namespace

namespace {

struct PreviewWork {
    GridPass* pass = nullptr;
    RowBlockReader reader;
    Accumulators* sums = nullptr;  // merged under `lock` after each item
    std::mutex lock;
};

bool ReadPreviewRows(void* context, WorkItem& item) {
    return ReadRowBlock(static_cast<PreviewWork*>(context)->reader, item);
}

// The item's rows into accumulators of the pixel rows they cover, added to
// the picture's at the end: the workers meet once an item.
void AccumulateRows(void* context, const WorkItem& item, PipelineSink& sink) {
    PreviewWork& w = *static_cast<PreviewWork*>(context);
    const GridHeader& header = w.pass->header;
    Accumulators& a = *w.sums;
    const int64_t rows = header.nrows, cols = header.ncols;
    const int64_t lastRow = std::min<int64_t>(item.firstRow + item.rows - 1, rows);
    if (item.firstRow > lastRow) return;
    const int first = static_cast<int>((item.firstRow - 1) * a.height / rows);
    // One past the last pixel row the last cell row covers (as py1 below).
    const int last = std::max(static_cast<int>((lastRow - 1) * a.height / rows) + 1,
                              static_cast<int>(lastRow * a.height / rows));
    std::vector<double> sum(static_cast<std::size_t>(last - first) * a.width, 0.0);
    std::vector<uint32_t> count(sum.size(), 0);
    ConvertBlockRows(*w.pass, item, item.text.data(), sink, [&](int64_t row, std::string_view line) {
        if (row > rows) return true;
        // The pixel rows the cell row covers (one at least: a picture larger
        // than the grid repeats a cell over several pixels).
        const int py0 = static_cast<int>((row - 1) * a.height / rows);
        const int py1 = std::max(py0 + 1, static_cast<int>(row * a.height / rows));
        // A row that ends early leaves the rest of its cells missing: holes.
        ForEachRowValue(line, 1, cols, [&](int64_t gridColumn, float value) {
            if (IsInterpolatedNodata(value, header)) return true;
            const int64_t column = gridColumn - 1;
            const int px0 = static_cast<int>(column * a.width / cols);
            const int px1 = std::max(px0 + 1, static_cast<int>((column + 1) * a.width / cols));
            for (int py = py0; py < py1; ++py)
                for (int px = px0; px < px1; ++px) {
                    const std::size_t i = static_cast<std::size_t>(py - first) * a.width + px;
                    sum[i] += value;
                    count[i] += 1;
                }
            return true;
        });
        return true;
    });
    std::lock_guard<std::mutex> guard(w.lock);
    const std::size_t offset = static_cast<std::size_t>(first) * a.width;
    for (std::size_t i = 0; i < sum.size(); ++i) {
        a.sum[offset + i] += sum[i];
        a.count[offset + i] += count[i];
    }
}

}  // namespace

bool RenderTerrainPreview(GridStream& input, const GridHeader& header, int width, int height,
                          const PreviewColours& colours, const std::atomic<bool>* cancel, TerrainPreview& preview,
                          int workers) {
    preview.width = std::max(1, width);
    preview.height = std::max(1, height);
    preview.rgb.assign(static_cast<std::size_t>(preview.width) * preview.height * 3, 0);
    Accumulators a;
    FitGrid(header, preview.width, preview.height, preview, a);
    // A pass over every row of the grid that writes nothing.
    GridPass pass(input, nullptr, header, RegionWindow{1, 1, header.ncols, header.nrows}, workers);
    pass.cancelRequested = cancel;
    PreviewWork w;
    w.pass = &pass;
    w.sums = &a;
    w.reader = RegionRowReader(pass, header.nrows);
    if (RunRowPass(pass, {&w, ReadPreviewRows, AccumulateRows}, w.reader, 0) != PipelineEnd::Completed ||
        pass.failedRow != 0 || input.failed)
        return false;
    Paint(header, colours, a, preview);
    return true;
}

void PreviewCellAt(const TerrainPreview& p, const GridHeader& header, double x, double y, int32_t& column,
                   int32_t& row) {
    const double fx = p.gridWidth > 0 ? (x - p.left) / p.gridWidth : 0.0;
    const double fy = p.gridHeight > 0 ? (y - p.top) / p.gridHeight : 0.0;
    column = static_cast<int32_t>(std::clamp<int64_t>(static_cast<int64_t>(std::floor(fx * header.ncols)) + 1, 1, header.ncols));
    row = static_cast<int32_t>(std::clamp<int64_t>(static_cast<int64_t>(std::floor(fy * header.nrows)) + 1, 1, header.nrows));
}

void WritePreviewPng(OutputFile& out, const TerrainPreview& preview) {
    WritePngRgb(out, static_cast<uint32_t>(preview.width), static_cast<uint32_t>(preview.height), preview.rgb);
}

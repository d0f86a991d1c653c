#include "picture/terrain_preview.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>

#include "grid/grid_pass.h"
#include "job/output_file.h"
#include "picture/png_writer.h"

namespace {

// The window's blues, from the lowest heights to the highest.
constexpr double kLow[3] = {28, 63, 120};
constexpr double kHigh[3] = {196, 222, 247};

// The cells of the rendered region spread evenly over `width` x `height`
// pixels (the grid's part of the picture, in whole pixels).
struct Accumulators {
    int width = 0, height = 0;
    std::vector<double> sum;  // the cells' heights; their mean once painted
    std::vector<uint32_t> count;
};

void SizeAccumulators(int width, int height, Accumulators& a) {
    a.width = width;
    a.height = height;
    a.sum.assign(static_cast<std::size_t>(a.width) * a.height, 0.0);
    a.count.assign(static_cast<std::size_t>(a.width) * a.height, 0);
}

int64_t RegionColumns(const RegionWindow& r) { return int64_t{r.xMax} - r.xMin + 1; }
int64_t RegionRows(const RegionWindow& r) { return int64_t{r.yMax} - r.yMin + 1; }

// The pixels [first, last) that cell `index` (from 0) of `cells` covers when
// they are spread evenly over `pixels`: one at least (a picture larger than
// the region repeats a cell over several pixels).
struct PixelSpan {
    int first = 0, last = 0;
};
PixelSpan PixelsOfCell(int64_t index, int64_t cells, int pixels) {
    const int first = static_cast<int>(index * pixels / cells);
    return {first, std::max(first + 1, static_cast<int>((index + 1) * pixels / cells))};
}

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
    SizeAccumulators(std::max(1, static_cast<int>(std::lround(p.gridWidth))),
                     std::max(1, static_cast<int>(std::lround(p.gridHeight))), a);
}

// Turns the sums into means; the lowest and highest of them.
void TakeMeans(Accumulators& a, double& lowest, double& highest) {
    lowest = INFINITY;
    highest = -INFINITY;
    for (std::size_t i = 0; i < a.sum.size(); ++i) {
        if (a.count[i] == 0) continue;
        a.sum[i] /= a.count[i];
        lowest = std::min(lowest, a.sum[i]);
        highest = std::max(highest, a.sum[i]);
    }
}

// Shades and tints the accumulated heights of `region` into the picture where
// p.left and p.top place them: light from the north-west, 45 degrees up.
void Paint(const GridHeader& h, const RegionWindow& region, const PreviewColours& colours, Accumulators& a,
           TerrainPreview& p) {
    const auto at = [&](int x, int y) { return static_cast<std::size_t>(y) * a.width + x; };
    double lowest = 0.0, highest = 0.0;
    TakeMeans(a, lowest, highest);
    const std::vector<double>& mean = a.sum;
    const double relief = highest > lowest ? highest - lowest : 1.0;
    const int64_t columns = RegionColumns(region), rows = RegionRows(region);
    // Ground metres a pixel spans, so slopes are the ground's.
    const double stepX = static_cast<double>(columns) * std::fabs(h.cellsize) / a.width;
    const double stepY = static_cast<double>(rows) * std::fabs(CellSizeY(h)) / a.height;
    const double lx = -0.5, ly = 0.5, lz = std::sqrt(0.5);  // towards the light: west, north, up
    // The slopes span a cell at least: where the picture is larger than the
    // grid, a cell covers one pixel or two by turns, and neighbouring pixels
    // would see its slope whole or halved, in stripes.
    const int reachX = std::max(1, static_cast<int>(std::ceil(static_cast<double>(a.width) / columns)));
    const int reachY = std::max(1, static_cast<int>(std::ceil(static_cast<double>(a.height) / rows)));
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

// An item's share of the picture: the pixel rows from `first` on.
struct ItemSums {
    int first = 0;
    std::vector<double> sum;
    std::vector<uint32_t> count;
};

struct PreviewWork {
    GridPass* pass = nullptr;
    RowBlockReader reader;
    // Written by the workers under `lock`: the items' shares are added to
    // `sums` in item order, whichever worker ends first, so that the sums
    // are the same for any number of workers.
    std::mutex lock;
    Accumulators* sums = nullptr;
    std::map<int64_t, ItemSums> waiting;  // ended before an earlier item
    int64_t nextItem = 0;
};

bool ReadPreviewRows(void* context, WorkItem& item) {
    return ReadRowBlock(static_cast<PreviewWork*>(context)->reader, item);
}

void AddItemSums(PreviewWork& w, int64_t sequence, ItemSums&& item) {
    std::lock_guard<std::mutex> guard(w.lock);
    w.waiting.emplace(sequence, std::move(item));
    Accumulators& a = *w.sums;
    while (!w.waiting.empty() && w.waiting.begin()->first == w.nextItem) {
        const ItemSums& next = w.waiting.begin()->second;
        const std::size_t offset = static_cast<std::size_t>(next.first) * a.width;
        for (std::size_t i = 0; i < next.sum.size(); ++i) {
            a.sum[offset + i] += next.sum[i];
            a.count[offset + i] += next.count[i];
        }
        w.waiting.erase(w.waiting.begin());
        w.nextItem += 1;
    }
}

// The item's rows into accumulators of the pixel rows they cover, added to
// the picture's at the end: the workers meet once an item. Cells of the
// region outside the grid add nothing: no-data.
void AccumulateRows(void* context, const WorkItem& item, PipelineSink& sink) {
    PreviewWork& w = *static_cast<PreviewWork*>(context);
    const GridHeader& header = w.pass->header;
    const RegionWindow& region = w.pass->region;
    const Accumulators& a = *w.sums;
    const int64_t rows = RegionRows(region), cols = RegionColumns(region);
    const int64_t firstRow = std::max<int64_t>(item.firstRow, region.yMin);
    const int64_t lastRow = std::min<int64_t>({item.firstRow + item.rows - 1, region.yMax, header.nrows});
    ItemSums sums;
    if (firstRow <= lastRow) {
        sums.first = PixelsOfCell(firstRow - region.yMin, rows, a.height).first;
        const int last = PixelsOfCell(lastRow - region.yMin, rows, a.height).last;
        sums.sum.assign(static_cast<std::size_t>(last - sums.first) * a.width, 0.0);
        sums.count.assign(sums.sum.size(), 0);
        const int64_t westColumn = std::max(region.xMin, 1);
        const int64_t eastColumn = std::min(region.xMax, header.ncols);
        ConvertBlockRows(*w.pass, item, item.text.data(), sink, [&](int64_t row, std::string_view line) {
            if (row > lastRow) return true;
            const PixelSpan py = PixelsOfCell(row - region.yMin, rows, a.height);
            // A row that ends early leaves the rest of its cells missing: holes.
            ForEachRowValue(line, westColumn, eastColumn, [&](int64_t gridColumn, float value) {
                if (IsInterpolatedNodata(value, header)) return true;
                const PixelSpan px = PixelsOfCell(gridColumn - region.xMin, cols, a.width);
                for (int y = py.first; y < py.last; ++y)
                    for (int x = px.first; x < px.last; ++x) {
                        const std::size_t i = static_cast<std::size_t>(y - sums.first) * a.width + x;
                        sums.sum[i] += value;
                        sums.count[i] += 1;
                    }
                return true;
            });
            return true;
        });
    }
    AddItemSums(w, item.sequence, std::move(sums));
}

// Reads the region's rows of the grid (those before it skipped, none after
// it) into `a` on the workers. False when reading failed or was cancelled.
bool AccumulateRegion(GridStream& input, const GridHeader& header, const RegionWindow& region,
                      const std::atomic<bool>* cancel, int workers, Accumulators& a) {
    // A pass that writes nothing.
    GridPass pass(input, nullptr, header, region, workers);
    pass.cancelRequested = cancel;
    PreviewWork w;
    w.pass = &pass;
    w.sums = &a;
    w.reader = RegionRowReader(pass, std::min(region.yMax, header.nrows));
    return RunRowPass(pass, {&w, ReadPreviewRows, AccumulateRows}, w.reader, 0) == PipelineEnd::Completed &&
           pass.failedRow == 0 && !input.failed;
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
    const RegionWindow grid{1, 1, header.ncols, header.nrows};
    if (!AccumulateRegion(input, header, grid, cancel, workers, a)) return false;
    Paint(header, grid, colours, a, preview);
    return true;
}

bool ReliefSizeAllowed(int64_t width, int64_t height) {
    return width >= 1 && height >= 1 && width <= kMaxReliefSide && height <= kMaxReliefSide &&
           width * height <= kMaxReliefPixels;
}

bool RenderRegionRelief(GridStream& input, const GridHeader& header, const RegionWindow& region, int width, int height,
                        const PreviewColours& colours, const std::atomic<bool>* cancel, TerrainPreview& picture,
                        int workers) {
    if (!ReliefSizeAllowed(width, height) || RegionIsEmpty(region)) return false;
    picture.width = width;
    picture.height = height;
    picture.rgb.assign(static_cast<std::size_t>(width) * height * 3, 0);
    picture.left = picture.top = 0.0;
    picture.gridWidth = width;
    picture.gridHeight = height;
    Accumulators a;
    SizeAccumulators(width, height, a);
    if (!AccumulateRegion(input, header, region, cancel, workers, a)) return false;
    Paint(header, region, colours, a, picture);
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

// The terrain preview: the whole grid as a small shaded relief, tinted by
// height in the window's blues, north up, fitted into a picture with its
// ground aspect kept. Read with the same reader and hole rules as the
// conversions, every row; each picture pixel is the mean of the valid cells
// it covers. Memory holds only the picture's accumulators.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "grid/grid_reader.h"
#include "job/output_file.h"
#include "grid/grid_types.h"

struct TerrainPreview {
    int width = 0, height = 0;   // the picture
    std::vector<uint8_t> rgb;    // 3 bytes a pixel, row by row from the north
    // Where the grid lies in the picture: its west and north edges and its
    // size in pixels (fractions allowed), for drawing a region on it and for
    // turning picture positions back into cells.
    double left = 0.0, top = 0.0, gridWidth = 0.0, gridHeight = 0.0;
};

// The window's picture of the grid, and the preview's size unless asked
// otherwise, at 96 DPI.
constexpr int kPreviewWidth = 388;
constexpr int kPreviewHeight = 124;
// Its file name after the grid's stem, when no other is given.
constexpr wchar_t kPreviewSuffix[] = L"__preview.png";

// Colours the preview leaves to its surroundings and gives no-data.
struct PreviewColours {
    uint8_t background[3] = {240, 240, 240};  // outside the grid
    uint8_t nodata[3] = {200, 200, 200};      // pixels without a valid cell
};

// Reads the data section from `input` (standing behind the header) on
// `workers` workers (0: one per core), the calling thread one of them, and
// renders the preview. False when reading failed or `cancel` was set (polled
// between segments); the preview is then not to be shown.
bool RenderTerrainPreview(GridStream& input, const GridHeader& header, int width, int height,
                          const PreviewColours& colours, const std::atomic<bool>* cancel, TerrainPreview& preview,
                          int workers = 0);

// The largest relief of a region: a side of a texture most renderers take,
// and a picture whose rendering holds about 1.4 GB at most (some 21 bytes a
// pixel: the accumulators, the colours and the PNG's rows).
constexpr int64_t kMaxReliefSide = 16384;
constexpr int64_t kMaxReliefPixels = int64_t{1} << 26;

// Whether a relief of `width` x `height` pixels can be rendered: 1 to
// kMaxReliefSide a side, kMaxReliefPixels in all.
bool ReliefSizeAllowed(int64_t width, int64_t height);

// The region's shaded relief as a texture, in the preview's shading and
// tint: exactly the region (no margin, no aspect fitting), `width` x `height`
// pixels, the region's west, north, east and south cell edges at the
// picture's edges. The region's cells are spread evenly over the pixels as
// the preview spreads the grid's: at one pixel a cell, pixel (i, j) is cell
// (xMin + i, yMin + j); otherwise each pixel is the mean of the valid cells
// it covers, and slopes are taken in ground metres a pixel. Region cells
// outside the grid are no-data; pixels without a valid cell are
// colours.nodata (the background is not used). Reads the data section from
// `input` (standing behind the header) up to the region's last row, on
// `workers` workers as the preview does; `picture` gets left = top = 0 and
// gridWidth x gridHeight = width x height. False when the size is not
// allowed (ReliefSizeAllowed) or the region empty, when reading failed
// (input.failed) or `cancel` was set.
bool RenderRegionRelief(GridStream& input, const GridHeader& header, const RegionWindow& region, int width, int height,
                        const PreviewColours& colours, const std::atomic<bool>* cancel, TerrainPreview& picture,
                        int workers = 0);

// Writes the preview, or a region's relief, into `out` as an 8-bit RGB PNG.
void WritePreviewPng(OutputFile& out, const TerrainPreview& preview);

// The grid cell (column, row, from 1) under picture position (x, y), clamped
// to the grid.
void PreviewCellAt(const TerrainPreview& preview, const GridHeader& header, double x, double y, int32_t& column,
                   int32_t& row);

// The height bitmap: a 16-bit grayscale PNG of the region, one pixel per
// cell, north up. Valid heights map linearly from the region's lowest, at 1,
// to its highest, at 65535 (one height only: 1); no-data, missing cells and
// holes are 0. Two passes, both on the workers: the first reads the data
// section once, finds the range and keeps the region's heights in the job's
// scratch store; the second reads them back, filters and deflates rows into
// the PNG.
// A world file beside it places it where the grid lies.
#pragma once

#include <cstdint>
#include <string>

#include "grid/grid_pass.h"

struct HeightRange {
    bool any = false;  // some valid height in the region
    float lowest = 0.0f;
    float highest = 0.0f;
};

// The largest image side the bitmap writes (PNG allows 2^31 - 1; a row's
// samples are held in memory).
constexpr int64_t kMaxBitmapSide = int64_t{1} << 24;

// The bitmap's and its world file's names after the grid's stem.
constexpr wchar_t kHeightBitmapSuffix[] = L"__heightmap.png";
constexpr wchar_t kWorldFileSuffix[] = L"__heightmap.pgw";

// Runs both passes into `pass.out` (the PNG), reading the data section from
// where `pass.input` stands. On return the counts are those of the region
// (no-data, missing), `range` the valid heights'. A failure shows in the pass
// record as for a mesh: failedRow, outOfMemory, out.failed, scratch.failed,
// or a cancel. With `mapping` (a tile set's range, or one given) heights map
// by it instead, beyond it clamped, and `range` is it.
void RunHeightBitmapPasses(GridPass& pass, HeightRange& range, const HeightRange* mapping = nullptr);

// The pixel value of a valid height.
uint16_t HeightPixel(float height, const HeightRange& range);

// The world file's six lines (pixel width, two rotations, minus the pixel
// height, and the centre of the upper-left pixel) in the grid's coordinates,
// from the header's numbers in double precision (cornerX, cellWidth, ...).
std::string WorldFileText(const GridHeader& header, const RegionWindow& region);

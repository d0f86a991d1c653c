// What the two mesh methods share inside a job: the counters, the progress
// ticks, the cancel poll and the cell geometry.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "grid/grid_reader.h"
#include "mesh/conversion_job.h"
#include "mesh/obj_writer.h"

struct MeshPass {
    GridStream& input;
    ObjOutput& out;
    const JobRequest& request;
    const JobHooks& hooks;
    float scale = 0.0f;   // x positions and heights: cellsize (dx) / unitMeters
    float scaleY = 0.0f;  // y positions: the cell height (dy) / unitMeters
    int64_t vertexCount = 0;
    int64_t quadCount = 0;
    int64_t nodataCount = 0;
    int64_t missingCount = 0;  // region cells inside the grid the file did not supply
    int64_t failedRow = 0;     // the row at which reading failed, 0 when it did not
    int rowTicks = 0;
    int64_t faceTicks = 0;
    int64_t faceTickThreshold = 0;
};

inline bool CancelRequested(const MeshPass& pass) {
    return pass.hooks.cancelRequested != nullptr &&
           pass.hooks.cancelRequested->load(std::memory_order_relaxed);
}

inline void SendProgress(const JobHooks& hooks, unsigned message, uint64_t wParam, int64_t lParam) {
    if (hooks.progress != nullptr) hooks.progress(hooks.context, message, wParam, lParam);
}

// One step of the bar after every 100th non-empty data line.
inline void TickRow(MeshPass& pass) {
    if (++pass.rowTicks == 100) {
        SendProgress(pass.hooks, kPbmStepIt, 0, 0);
        pass.rowTicks = 0;
    }
}

// About ten steps over the face pass: quadCount / 10, truncated.
inline int64_t FaceTickThreshold(int64_t quadCount) {
    return static_cast<int64_t>(static_cast<double>(static_cast<float>(quadCount)) / 10.0);
}

inline void TickFace(MeshPass& pass) {
    if (++pass.faceTicks >= pass.faceTickThreshold) {
        SendProgress(pass.hooks, kPbmStepIt, 0, 0);
        pass.faceTicks = 0;
    }
}

// West edge of grid column j: (j + xllcorner) in single precision, the rest
// in double precision, rounded to float.
inline float WestEdge(int64_t column, const GridHeader& header, float scale) {
    const float sum = static_cast<float>(column) + header.xllcorner;
    return static_cast<float>((static_cast<double>(sum) - 1.0) * static_cast<double>(scale));
}

// North edge of grid row L: (1 - L + nrows + yllcorner) left to right in
// double precision from single-precision terms, rounded to float. `scale` is
// the y scale: yllcorner counts in cell heights like the rows.
inline float NorthEdge(int64_t row, const GridHeader& header, float scale) {
    const double sum = (1.0 - static_cast<double>(static_cast<float>(row))) +
                       static_cast<double>(static_cast<float>(header.nrows)) +
                       static_cast<double>(header.yllcorner);
    return static_cast<float>(sum * static_cast<double>(scale));
}

// The lower edge is the negated difference, so an upper edge equal to scale
// gives negative zero (written -0.00).
inline float SouthEdge(float northEdge, float scale) { return -(scale - northEdge); }

inline bool RegionIsEmpty(const RegionWindow& region) {
    return region.xMin > region.xMax || region.yMin > region.yMax;
}

// Cells of rows [firstRow, lastRow] from column firstColumn on that lie in
// both the region and the header's grid: what the file owed there.
inline int64_t PromisedCells(const JobRequest& request, int64_t firstRow, int64_t lastRow, int64_t firstColumn) {
    const RegionWindow& region = request.region;
    const int64_t top = std::max({firstRow, int64_t{region.yMin}, int64_t{1}});
    const int64_t bottom = std::min({lastRow, int64_t{region.yMax}, int64_t{request.header.nrows}});
    const int64_t west = std::max({firstColumn, int64_t{region.xMin}, int64_t{1}});
    const int64_t east = std::min(int64_t{region.xMax}, int64_t{request.header.ncols});
    if (top > bottom || west > east) return 0;
    return (bottom - top + 1) * (east - west + 1);
}

// The rows after the last one read: a read failure (an I/O error or an
// over-long line) before the region's last row fails the job at the next
// row; a file that simply ends leaves the remaining region cells missing.
inline void EndOfData(MeshPass& pass, int64_t rowsRead) {
    const int64_t yMax = pass.request.region.yMax;
    if (rowsRead >= yMax) return;
    if (pass.input.failed) {
        pass.failedRow = rowsRead + 1;
        return;
    }
    pass.missingCount += PromisedCells(pass.request, rowsRead + 1, yMax, 1);
}

// Floating planes: vertex and face passes (no memory beyond one line).
void RunFloatingPlanesVertexPass(MeshPass& pass);
void RunFloatingPlanesFacePass(MeshPass& pass);

// Interpolated. Storage follows the data read, never the header's claim:
// one byte per cell of each region row read, up to the row's reach (the last
// column any value of this row or the row above touches), two rows of heights
// and, in the face pass, three rows of vertex numbers as wide as the widest
// stored row. Region rows and columns before the grid's first ones can never
// hold data and are not stored (their cells are holes).
struct InterpolatedMemory {
    int64_t top = 0, west = 0;    // grid row and column of stored row 1, column 1
    int64_t cols = 0, rows = 0;   // region size from (top, west) on
    uint8_t* cells = nullptr;     // stored rows' cell bytes, one row after another
    std::size_t cellsUsed = 0, cellsCapacity = 0;
    std::size_t* rowStart = nullptr;  // offset of stored row r + 1 in `cells`
    std::size_t storedRows = 0, rowCapacity = 0;
    float* above = nullptr;       // heights of the previous stored row
    float* current = nullptr;     // heights of the row being read
    std::size_t heightCapacity = 0;
    int64_t aboveExtent = 0;      // columns the previous stored row supplied
    int64_t* numbers = nullptr;   // face pass: vertex numbers of three rows
    bool outOfMemory = false;     // a row could not be stored: the job fails
};
void PrepareInterpolatedMemory(const RegionWindow& region, InterpolatedMemory& memory);
void FreeInterpolatedMemory(InterpolatedMemory& memory);
void RunInterpolatedVertexPass(MeshPass& pass, InterpolatedMemory& memory);
void RunInterpolatedFacePass(MeshPass& pass, InterpolatedMemory& memory);

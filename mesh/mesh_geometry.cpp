#include "mesh/mesh_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "job/number_format.h"
#include "mesh/conversion_job.h"

namespace {

// Columns or rows the classic check looks at: all of a region's up to this
// many, evenly spread ones beyond.
constexpr int64_t kMaxCheckedLines = int64_t{1} << 20;

// Two positions the file would show as one.
bool PrintAlike(float a, float b) {
    char textA[kMaxFixed2Chars], textB[kMaxFixed2Chars];
    const std::size_t sizeA = static_cast<std::size_t>(FormatFixed2(textA, a) - textA);
    const std::size_t sizeB = static_cast<std::size_t>(FormatFixed2(textB, b) - textB);
    return sizeA == sizeB && std::memcmp(textA, textB, sizeA) == 0;
}

// Edges `first` to `last` (grid columns or rows), as the classic geometry
// places them (`placed`) and where they belong (`exact`), one cell (`cell`)
// apart: is one of them moved by more than a tenth of a cell, or printed as
// its neighbour?
template <typename Placed, typename Exact>
bool EdgesMisplaced(int64_t first, int64_t last, double cell, Placed placed, Exact exact) {
    if (first > last) return false;
    const int64_t step = std::max<int64_t>(1, (last - first + 1) / kMaxCheckedLines);
    for (int64_t i = first; i <= last; i += step) {
        const float here = placed(i);
        if (std::fabs(static_cast<double>(here) - exact(i)) > 0.1 * std::fabs(cell)) return true;
        if (PrintAlike(here, placed(i + 1))) return true;
    }
    return false;
}

}  // namespace

MeshGeometry MakeMeshGeometry(const JobRequest& request) {
    MeshGeometry g;
    g.header = &request.header;
    g.scale = request.header.cellsize / request.unitMeters;
    g.scaleY = CellSizeY(request.header) / request.unitMeters;
    g.heightScale = g.scale;
    g.normals = FormatWritesNormals(request.format, request.normals);
    if (request.geometry == TrueScaleGeometry) MakeTrueScaleGeometry(request, g);
    else g.heightScale = static_cast<float>(g.heightScale * request.exaggerate);
    return g;
}

bool ClassicMisplacesVertices(const JobRequest& request) {
    const GridHeader& h = request.header;
    const RegionWindow& region = request.region;
    const float scale = h.cellsize / request.unitMeters;
    const float scaleY = CellSizeY(h) / request.unitMeters;
    // The region's edges within the grid: its columns' west edges and the
    // east edge of the last, its rows' north edges and the south edge of the last.
    const int64_t west = std::max<int64_t>(region.xMin, 1), east = std::min<int64_t>(region.xMax, h.ncols);
    const int64_t north = std::max<int64_t>(region.yMin, 1), south = std::min<int64_t>(region.yMax, h.nrows);
    if (west > east || north > south) return false;
    const bool columns = EdgesMisplaced(
        west, east, scale, [&](int64_t j) { return WestEdge(j, h, scale); },
        [&](int64_t j) { return (static_cast<double>(j) - 1.0 + h.xllcorner) * static_cast<double>(scale); });
    const bool rows = EdgesMisplaced(
        north, south, scaleY, [&](int64_t L) { return NorthEdge(L, h, scaleY); },
        [&](int64_t L) {
            return (1.0 - static_cast<double>(L) + h.nrows + h.yllcorner) * static_cast<double>(scaleY);
        });
    return columns || rows;
}

// The grid header, the converted region and the mesh method: the values that
// pass between the file selection, the window and the conversion job.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

// The header values of an ESRI ARC/INFO ASCII GRID file, taken by position.
struct GridHeader {
    int32_t ncols = 0;
    int32_t nrows = 0;
    float xllcorner = 0.0f;
    float yllcorner = 0.0f;
    float cellsize = 0.0f;  // cell width (x); "cellsize", or "dx" of a dx/dy header
    int32_t nodata = 0;     // the no-data value when it is whole (nodataWhole)
    // A "dx"/"dy" header gives non-square cells: cellsizeY is then the cell
    // height (y). Otherwise cells are square and cellsizeY is not used.
    bool nonSquare = false;
    float cellsizeY = 0.0f;
    // A no-data value that is not a whole 32-bit number (-3.4028234663852886e+38,
    // nan, -1e+30): cells are compared with it as single-precision floats.
    bool nodataWhole = true;
    float nodataValue = 0.0f;  // the no-data value read as float, when not whole
    // Where the grid lies, for everything that places it on the ground (True
    // scale, the world file): the lower-left corner and the cell width and
    // height in double precision, from the header's text as written. The
    // single-precision fields above stay what the classic geometry counts in.
    double cornerX = 0.0;
    double cornerY = 0.0;
    double cellWidth = 0.0;
    double cellHeight = 0.0;  // dy of a dx/dy header, else the cell width
    // The header gave the lower-left cell's centre (an "xllcenter" or
    // "yllcenter" keyword): cornerX or cornerY is that centre less half a
    // cell, while xllcorner and yllcorner hold the centre's numbers, which
    // the classic geometry takes as the corner.
    bool cornerFromCentre = false;
};

// True when two headers hold the same values: every field, floating-point
// ones compared by their bits (a nan no-data value equals itself). Keep in
// step with GridHeader.
inline bool SameGridHeader(const GridHeader& a, const GridHeader& b) {
    auto same = [](float x, float y) { return std::memcmp(&x, &y, sizeof x) == 0; };
    auto sameExact = [](double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; };
    return a.ncols == b.ncols && a.nrows == b.nrows && same(a.xllcorner, b.xllcorner) &&
           same(a.yllcorner, b.yllcorner) && same(a.cellsize, b.cellsize) && a.nodata == b.nodata &&
           a.nonSquare == b.nonSquare && same(a.cellsizeY, b.cellsizeY) && a.nodataWhole == b.nodataWhole &&
           same(a.nodataValue, b.nodataValue) && sameExact(a.cornerX, b.cornerX) &&
           sameExact(a.cornerY, b.cornerY) && sameExact(a.cellWidth, b.cellWidth) &&
           sameExact(a.cellHeight, b.cellHeight) && a.cornerFromCentre == b.cornerFromCentre;
}

// Cell height in meters: dy of a dx/dy header, else the square cell size.
inline float CellSizeY(const GridHeader& header) {
    return header.nonSquare ? header.cellsizeY : header.cellsize;
}

// Interpolated compares exactly: a value is no-data when it equals the
// no-data value as a float (-9999.0001 is -9999 after rounding to float).
// A value that is not finite (nan, inf) has no place in a mesh: it is no-data
// in both methods, whatever the no-data value (so a nan no-data value matches
// every nan). A no-data value that is not whole matches a value equal to it
// as floats in both methods.
inline bool IsInterpolatedNodata(float value, const GridHeader& header) {
    if (!std::isfinite(value)) return true;
    if (!header.nodataWhole) return value == header.nodataValue;
    return value == static_cast<float>(header.nodata);
}

// Floating planes truncates: a value is no-data when its truncation toward
// zero equals a whole no-data value (-9999.7 is -9999). Values beyond the
// 32-bit range never are. The two methods differ here on purpose.
inline bool IsFloatingNodata(float value, const GridHeader& header) {
    if (!std::isfinite(value)) return true;
    if (!header.nodataWhole) return value == header.nodataValue;
    if (!(value > -2147483904.0f && value < 2147483648.0f)) return false;
    return static_cast<int32_t>(value) == header.nodata;
}

// 1-based inclusive column (x) and row (y) limits of the converted part of the
// grid. Row 1 is the first non-empty data line (north), column 1 the first
// value of a row (west). Nothing keeps xMin <= xMax or yMin <= yMax.
struct RegionWindow {
    int32_t xMin = 0;
    int32_t yMin = 0;
    int32_t xMax = 0;
    int32_t yMax = 0;
};

// True when the region holds no cell: a limit above its opposite.
inline bool RegionIsEmpty(const RegionWindow& region) {
    return region.xMin > region.xMax || region.yMin > region.yMax;
}

// Where the vertices stand (see mesh/mesh_geometry.h).
enum MeshGeometryKind : int32_t {
    ClassicGeometry = 0,    // cells from the grid's origin, as the first version wrote them
    TrueScaleGeometry = 1,  // metres from the region's south-west corner
};
enum UpAxis : int32_t {
    ZUp = 0,  // x east, y north, z up
    YUp = 1,  // x east, y up, z south (True scale only)
};

enum MeshMethod : int32_t {
    MethodNone = 0,      // no file selected yet
    Interpolated = 1,    // one connected mesh on cell corners
    FloatingPlanes = 2,  // one flat quad per cell
    Simplified = 3,      // the Interpolated surface in as few triangles as keep it within an error
};

// The grid header, the converted region and the mesh method: the values that
// pass between the file selection, the window and the conversion job.
#pragma once

#include <cstdint>

// The six header values of an ESRI ARC/INFO ASCII GRID file, taken by position.
struct GridHeader {
    int32_t ncols = 0;
    int32_t nrows = 0;
    float xllcorner = 0.0f;
    float yllcorner = 0.0f;
    float cellsize = 0.0f;
    int32_t nodata = 0;
};

// 1-based inclusive column (x) and row (y) limits of the converted part of the
// grid. Row 1 is the first non-empty data line (north), column 1 the first
// value of a row (west). Nothing keeps xMin <= xMax or yMin <= yMax.
struct RegionWindow {
    int32_t xMin = 0;
    int32_t yMin = 0;
    int32_t xMax = 0;
    int32_t yMax = 0;
};

enum MeshMethod : int32_t {
    MethodNone = 0,      // no file selected yet
    Interpolated = 1,    // one connected mesh on cell corners
    FloatingPlanes = 2,  // one flat quad per cell
};

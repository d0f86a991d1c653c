// Where a mesh's vertices stand and how their coordinates are written. Both
// methods use one of two geometries:
// - Classic: positions count cells from the grid's origin (xllcorner and
//   yllcorner taken as cell counts) times the cell size (dx, dy) over the
//   units, partly summed in single precision; heights are multiplied by the
//   cell size over the units too; two decimals; x east, y north, z up. Files
//   and users rely on these bytes: they never change.
// - True scale (true_geometry.cpp): metres from the region's south-west
//   corner over the units, in double precision; heights over the units
//   alone; degrees and feet turned into metres; as few decimals as keep each
//   position within 1/1000 of the cell spacing and each height within 1 mm;
//   z up, or y up (x east, y up, z south) for 3D applications.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "grid/ground_units.h"
#include "grid/grid_types.h"
#include "mesh/number_texts.h"

struct JobRequest;

struct MeshGeometry {
    bool trueScale = false;
    bool yUp = false;  // only with trueScale
    const GridHeader* header = nullptr;
    float scale = 0.0f;        // classic: cellsize (dx) / unitMeters
    float scaleY = 0.0f;       // classic: the cell height (dy) / unitMeters
    float heightScale = 0.0f;  // a height is written as value * heightScale

    // True scale.
    double stepX = 0.0, stepY = 0.0;  // output units per column and per row
    int64_t westColumn = 0;           // the grid column whose west edge is x 0
    int64_t southRow = 0;             // the grid row whose south edge is y 0
    int positionDecimals = 2;
    int heightDecimals = 2;
    GroundUnits ground;
    double latitude = 0.0;  // degrees: where they were turned into metres
    double originX = 0.0;   // x 0 and y 0 in the grid's own coordinates
    double originY = 0.0;
};

// The geometry of a job's request.
MeshGeometry MakeMeshGeometry(const JobRequest& request);
void MakeTrueScaleGeometry(const JobRequest& request, MeshGeometry& g);

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

// "v x " of the west edge of grid column `column`, or of its east edge, in
// `text`.
std::string_view ColumnText(LocalText& text, const MeshGeometry& g, int64_t column, bool eastEdge);
void AddColumnText(NumberTexts& texts, const MeshGeometry& g, int64_t column, bool eastEdge);
// The north edge's (or south edge's) coordinate of grid row `row` with what
// follows it in a vertex line: "y " with z up; "z\r\n" (z = -y) with y up.
void SetRowText(LocalText& text, const MeshGeometry& g, int64_t row, bool southEdge);

// A height (value * heightScale, already multiplied) with what follows it in
// a vertex line: "h\r\n" with z up, "h " with y up.
inline char* PutHeight(char* p, const MeshGeometry& g, float z) {
    p = g.trueScale ? FormatFixed(p, static_cast<double>(z), g.heightDecimals) : FormatFixed2(p, z);
    if (g.yUp) {
        *p++ = ' ';
    } else {
        *p++ = '\r';
        *p++ = '\n';
    }
    return p;
}
inline void SetHeightText(LocalText& text, const MeshGeometry& g, float z) {
    text.size = static_cast<std::size_t>(PutHeight(text.bytes, g, z) - text.bytes);
}

// A vertex line from a column's text, a row's text and a height.
inline char* PutVertexLine(char* p, std::string_view x, const LocalText& row, float z, const MeshGeometry& g) {
    p = CopyText(p, x);
    if (g.yUp) return CopyText(PutHeight(p, g, z), row.bytes, row.size);
    return PutHeight(CopyText(p, row.bytes, row.size), g, z);
}
// The same from a height's text.
inline char* PutVertexLine(char* p, std::string_view x, std::string_view row, const LocalText& height,
                           const MeshGeometry& g) {
    p = CopyText(p, x);
    if (g.yUp) return CopyText(CopyText(p, height.bytes, height.size), row);
    return CopyText(CopyText(p, row), height.bytes, height.size);
}

// Whether the classic geometry misplaces the region's vertices: neighbouring
// columns or rows that print as one position, or columns or rows that its
// single-precision arithmetic moves by more than a tenth of a cell.
bool ClassicMisplacesVertices(const JobRequest& request);

// The header comment lines of a True scale file: the geometry, the units,
// the axes and where the origin lies. Empty for the classic geometry.
std::string GeometryComments(const MeshGeometry& g, float unitMeters);

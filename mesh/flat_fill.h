// Fills flat polygons with holes with triangles, without adding a point and
// without leaving one out: a solid's bottom, whose outline the walls meet at
// every one of its points.
#pragma once

#include <cstdint>
#include <vector>

// A point of a flat polygon, in integer units (x east, y north).
struct LatticePoint {
    int64_t x, y;
};

// Fills the polygons given as closed loops (the first point not repeated at
// the end): outer loops counter-clockwise, holes clockwise, none crossing or
// touching another or itself, each hole inside some outer loop (the
// smallest around it is its own). Points are numbered in order over all
// loops (loop 0's first). Appends to `triangles` three point numbers a
// triangle, counter-clockwise, n + 2h - 2 of them for an outer loop of n
// points in all with h holes. False when the loops are not as described
// (what was appended is then no fill).
bool FillFlatPolygons(const std::vector<std::vector<LatticePoint>>& loops, std::vector<int32_t>& triangles);

// Tile sets: grids cut from one terrain, side by side on one lattice of
// cells. A tile's neighbours are the grids whose cells are its cells' size,
// whose corners lie on its lattice and whose extents touch its own at an
// edge or a corner without overlapping it. Headers alone find them; a
// tile's conversion then reads the ring of cells just beyond its edges from
// its neighbours' files, each only as far as its edge lies: its first or last
// row, or each row's first or last value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "grid/grid_types.h"

// Where grid `b`'s cells lie in grid `a`'s numbering: b's column 1 is a's
// column columns + 1, b's row 1 is a's row rows + 1. False when their cells
// differ in size or b's corner lies off a's lattice (by more than a
// thousandth of a cell).
bool SharedLattice(const GridHeader& a, const GridHeader& b, int64_t& columns, int64_t& rows);

// For each header of a set (the unreadable ones given as null), the indices
// of its neighbours in the set, ascending. Grids on another lattice than a
// tile's are never its neighbours.
std::vector<std::vector<std::size_t>> FindTileNeighbours(const std::vector<const GridHeader*>& headers);

// A cell of the ring around a tile: outside the set (no neighbour holds
// it), a hole (no-data, or a value the neighbour's file lacks), or valid.
constexpr uint8_t kRingOutside = 0, kRingHole = 1, kRingValid = 2;
struct RingCell {
    float height = 0.0f;
    uint8_t state = kRingOutside;
};

// The ring of cells around a tile of ncols x nrows: the rows above and
// below it by column from 0 (west of column 1) to ncols + 1, the columns
// beside it by row from 1 (index 0) to nrows.
struct TileRing {
    std::vector<RingCell> north, south;  // ncols + 2
    std::vector<RingCell> west, east;    // nrows
    bool any = false;                    // a cell of it lies in the set
};

// The lowest and highest valid height of a whole grid, read as the
// Interpolated method reads it (any: it has one). False when it cannot be read.
bool ReadHeightExtremes(const std::filesystem::path& path, bool& any, float& lowest, float& highest);

struct TileNeighbour {
    std::filesystem::path path;
    GridHeader header;
};

// The ring of the tile with header `own` from its neighbours' files, read
// `workers` files at a time; a cell two neighbours hold is the first one's.
// False with `problem` (which names the file) when a neighbour cannot be
// read or its header is not the one the set was found with.
bool ReadTileRing(const GridHeader& own, const std::vector<TileNeighbour>& neighbours, TileRing& ring,
                  std::string& problem, int workers = 1);

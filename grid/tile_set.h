// Tile sets: grids cut from one terrain, side by side on one lattice of
// cells. A tile's neighbours are the grids whose cells are its cells' size,
// whose corners lie on its lattice and whose extents come within a cell of
// its own without overlapping it. Headers alone find them; a tile's
// conversion then reads the two rings of cells just beyond its edges from its
// neighbours' files, each only as far as its edge lies: its first or last two
// rows, or each row's first or last two values. The nearer ring joins the
// edge corners' heights, the outer one their normals.
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

// A cell of the rings around a tile: outside the set (no neighbour holds
// it), a hole (no-data, or a value the neighbour's file lacks), or valid.
constexpr uint8_t kRingOutside = 0, kRingHole = 1, kRingValid = 2;
struct RingCell {
    float height = 0.0f;
    uint8_t state = kRingOutside;
};

// The two rings of cells around a tile of ncols x nrows, cell (x, y) in the
// tile's numbering (column x from 1 eastwards, row y from 1 southwards) for
// x from -1 to ncols + 2 and y from -1 to nrows + 2, the tile's own cells
// left out: the two rows above and below it by column (index x + 1), the
// nearer one first, and the two columns beside it by row (index y - 1).
struct TileRing {
    int64_t cols = 0, rows = 0;
    std::vector<RingCell> north[2], south[2];  // ncols + 4 each
    std::vector<RingCell> west[2], east[2];    // nrows each
    bool any = false;                          // a cell of them lies in the set
    // The neighbours taken as not there, each with why: a file that is not
    // what its header says (see ReadTileRing).
    std::vector<std::string> warnings;

    const RingCell& At(int64_t x, int64_t y) const {
        if (y <= 0) return north[-y][static_cast<std::size_t>(x + 1)];
        if (y > rows) return south[y - rows - 1][static_cast<std::size_t>(x + 1)];
        return (x <= 0 ? west[-x] : east[x - cols - 1])[static_cast<std::size_t>(y - 1)];
    }
    RingCell& At(int64_t x, int64_t y) {
        return const_cast<RingCell&>(static_cast<const TileRing&>(*this).At(x, y));
    }
};

// The lowest and highest valid height of a whole grid, read as the
// Interpolated method reads it (any: it has one). False when it cannot be read.
bool ReadHeightExtremes(const std::filesystem::path& path, bool& any, float& lowest, float& highest);

struct TileNeighbour {
    std::filesystem::path path;
    GridHeader header;
};

// The rings of the tile with header `own` from its neighbours' files, read
// `workers` files at a time; a cell two neighbours hold is the first one's.
// False with `problem` (which names the file) when a neighbour cannot be
// read or its header is not the one the set was found with. A neighbour
// read to its end must hold the rows its header says, and a row whose last
// values are taken the values it says; one that does not is taken as not
// there (its cells outside the set), with a line in `warnings` naming it.
bool ReadTileRing(const GridHeader& own, const std::vector<TileNeighbour>& neighbours, TileRing& ring,
                  std::string& problem, int workers = 1);

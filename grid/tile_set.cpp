#include "grid/tile_set.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <map>
#include <string_view>
#include <utility>

#include "grid/grid_pass.h"
#include "grid/grid_reader.h"
#include "job/worker_threads.h"

namespace {

// How far a corner may lie off the lattice, in cells: tiles' corners are
// written with a few digits fewer than the cells' size needs.
constexpr double kLatticeSlack = 1e-3;

// A tile's cells on its group's lattice: columns [x0, x1), rows [y0, y1)
// (rows counted south).
struct Extent {
    int64_t x0, y0, x1, y1;
};

// Within a cell of each other (the outer ring's reach), edges and corners
// included.
bool Near(const Extent& a, const Extent& b) {
    return a.x0 <= b.x1 + 1 && b.x0 <= a.x1 + 1 && a.y0 <= b.y1 + 1 && b.y0 <= a.y1 + 1;
}
bool Overlap(const Extent& a, const Extent& b) { return a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1; }

int64_t FloorDiv(int64_t n, int64_t d) { return n >= 0 ? n / d : -((-n + d - 1) / d); }

// A cell a neighbour holds for the rings: its row and column in the
// neighbour's numbering, and where it goes.
struct Need {
    int64_t row, column;
    RingCell* cell;
};

// The tokens of a row's text, numbers or not: the values it holds. One sum
// over the bytes, which the compiler makes a vector loop.
int64_t CountTokens(std::string_view line) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(line.data());
    const std::size_t n = line.size();
    const auto space = [](unsigned char c) { return c == ' ' || static_cast<unsigned char>(c - '\t') <= '\r' - '\t'; };
    if (n == 0) return 0;
    int64_t count = !space(p[0]);
    for (std::size_t i = 1; i < n; ++i) count += space(p[i - 1]) && !space(p[i]);
    return count;
}

// The value `back` tokens before a row's last (0: its last), found from the
// row's end, not its start.
FloatScan ScanFromEnd(std::string_view line, int64_t back) {
    const char* p = line.data();
    const char* end = p + line.size();
    for (;; --back) {
        while (end > p && IsGridSpace(end[-1])) --end;
        const char* start = end;
        while (start > p && !IsGridSpace(start[-1])) --start;
        if (start == end) return FloatScan{end, false, 0.0f};  // no value left
        if (back == 0) return ScanGridCell(start, end);
        end = start;
    }
}

void SetCell(RingCell& cell, const FloatScan& scan, const GridHeader& header) {
    cell.state = scan.ok && !IsInterpolatedNodata(scan.value, header) ? kRingValid : kRingHole;
    cell.height = cell.state == kRingValid ? scan.value : 0.0f;
}

// Fills the needs [first, last) of one row, by ascending column, from its
// text. The row's last two values alone are found from its end, and the row
// must then hold its ncols values exactly; other needs are read from its
// start, as its own conversion reads them, and a row read so to its end must
// hold ncols numbers. False when it does not.
bool FillRow(std::string_view line, Need* first, Need* last, const GridHeader& header) {
    const int64_t ncols = header.ncols;
    if (first->column > 2 && first->column >= ncols - 1) {
        if (CountTokens(line) != ncols) return false;
        for (Need* n = first; n != last; ++n) SetCell(*n->cell, ScanFromEnd(line, ncols - n->column), header);
        return true;
    }
    const int64_t through = last[-1].column >= ncols - 1 ? ncols : last[-1].column;
    Need* n = first;
    const int64_t supplied = ForEachRowValue(line, 1, through, [&](int64_t column, float value) {
        for (; n != last && n->column == column; ++n) SetCell(*n->cell, FloatScan{nullptr, true, value}, header);
        return true;
    });
    return through < ncols || supplied == ncols;
}

// Fills the needs of one neighbour from its file, its rows read from the
// first up to the last one needed (a needed cell the file lacks stays a
// hole), and counted to the file's end where that is one of its last two.
// False with `problem` when it cannot be read; a file that is not what its
// header says (rows counted, or values of a row) leaves its needs outside
// the set, and `warning` says why.
bool ReadNeeds(const TileNeighbour& n, std::vector<Need>& needs, std::string& problem, std::string& warning) {
    GridStream s;
    GridHeader header;
    const std::string name = n.path.filename().u8string();
    if (!ReadGridHeader(n.path, s, header)) {
        problem = "its neighbour " + name + " cannot be read";
        return false;
    }
    if (!SameGridHeader(header, n.header)) {
        CloseGridStream(s);
        problem = "its neighbour " + name + " has another header than when the set was found";
        return false;
    }
    std::sort(needs.begin(), needs.end(),
              [](const Need& a, const Need& b) { return a.row != b.row ? a.row < b.row : a.column < b.column; });
    const int64_t lastNeeded = needs.back().row;
    const bool toEnd = lastNeeded >= int64_t{header.nrows} - 1;
    int64_t rows = 0, badRow = 0;
    std::size_t next = 0;  // the first need of a row not read yet
    std::string_view line;
    while ((toEnd || rows < lastNeeded) && ReadGridRow(s, line)) {
        ++rows;
        if (next == needs.size() || needs[next].row != rows) continue;
        std::size_t end = next;
        while (end < needs.size() && needs[end].row == rows) ++end;
        if (!FillRow(line, needs.data() + next, needs.data() + end, header) && badRow == 0) badRow = rows;
        next = end;
    }
    const bool read = !s.failed;
    CloseGridStream(s);
    if (!read) {
        problem = "its neighbour " + name + " could not be read";
        return false;
    }
    if (toEnd && rows != header.nrows)
        warning = "its neighbour " + name + " holds " + std::to_string(rows) + " rows, not the " +
                  std::to_string(header.nrows) + " its header says";
    else if (badRow != 0)
        warning = "row " + std::to_string(badRow) + " of its neighbour " + name + " does not hold the " +
                  std::to_string(header.ncols) + " values its header says";
    if (!warning.empty()) {
        warning += "; converted as if " + name + " were not there";
        for (Need& need : needs) *need.cell = RingCell{};
    }
    return true;
}

}  // namespace

bool SharedLattice(const GridHeader& a, const GridHeader& b, int64_t& columns, int64_t& rows) {
    const double dx = a.cellWidth, dy = a.cellHeight;
    if (std::fabs(b.cellWidth - dx) > 1e-9 * dx || std::fabs(b.cellHeight - dy) > 1e-9 * dy) return false;
    const double x = (b.cornerX - a.cornerX) / dx;
    const double y = (a.cornerY - b.cornerY) / dy + (static_cast<double>(a.nrows) - b.nrows);
    const double wholeX = std::round(x), wholeY = std::round(y);
    if (!(std::fabs(x - wholeX) <= kLatticeSlack && std::fabs(y - wholeY) <= kLatticeSlack) ||
        std::fabs(wholeX) > 1e15 || std::fabs(wholeY) > 1e15)
        return false;
    columns = static_cast<int64_t>(wholeX);
    rows = static_cast<int64_t>(wholeY);
    return true;
}

std::vector<std::vector<std::size_t>> FindTileNeighbours(const std::vector<const GridHeader*>& headers) {
    std::vector<std::vector<std::size_t>> neighbours(headers.size());
    // Groups of one lattice, each with its first tile, and every tile's
    // extent on its group's lattice.
    std::vector<std::size_t> firsts, groupOf(headers.size());
    std::vector<int64_t> sides;  // per group: its largest tile side
    std::vector<Extent> extents(headers.size());
    for (std::size_t i = 0; i < headers.size(); ++i) {
        if (headers[i] == nullptr) continue;
        int64_t columns = 0, rows = 0;
        std::size_t g = 0;
        while (g < firsts.size() && !SharedLattice(*headers[firsts[g]], *headers[i], columns, rows)) ++g;
        if (g == firsts.size()) {
            firsts.push_back(i);
            sides.push_back(1);
            columns = rows = 0;
        }
        groupOf[i] = g;
        extents[i] = {columns, rows, columns + headers[i]->ncols, rows + headers[i]->nrows};
        sides[g] = std::max<int64_t>({sides[g], headers[i]->ncols, headers[i]->nrows});
    }
    // Each tile in the squares of its group's largest side that its extent
    // (edges included) reaches: at most two a way. A neighbour comes within a
    // cell of the tile's edges, so it lies in one of the squares the tile's
    // extent widened by a cell reaches.
    std::map<std::pair<std::size_t, std::pair<int64_t, int64_t>>, std::vector<std::size_t>> squares;
    const auto eachSquare = [&](std::size_t i, int64_t margin, auto visit) {
        const Extent& e = extents[i];
        const int64_t side = sides[groupOf[i]];
        for (int64_t sy = FloorDiv(e.y0 - margin, side); sy <= FloorDiv(e.y1 + margin, side); ++sy)
            for (int64_t sx = FloorDiv(e.x0 - margin, side); sx <= FloorDiv(e.x1 + margin, side); ++sx)
                visit(std::make_pair(groupOf[i], std::make_pair(sx, sy)));
    };
    for (std::size_t i = 0; i < headers.size(); ++i)
        if (headers[i] != nullptr) eachSquare(i, 0, [&](const auto& key) { squares[key].push_back(i); });
    for (std::size_t i = 0; i < headers.size(); ++i) {
        if (headers[i] == nullptr) continue;
        std::vector<std::size_t>& found = neighbours[i];
        eachSquare(i, 1, [&](const auto& key) {
            const auto it = squares.find(key);
            if (it == squares.end()) return;
            for (const std::size_t j : it->second)
                if (j != i && Near(extents[i], extents[j]) && !Overlap(extents[i], extents[j])) found.push_back(j);
        });
        std::sort(found.begin(), found.end());
        found.erase(std::unique(found.begin(), found.end()), found.end());
    }
    return neighbours;
}

bool ReadHeightExtremes(const std::filesystem::path& path, bool& any, float& lowest, float& highest) {
    GridStream s;
    GridHeader header;
    if (!ReadGridHeader(path, s, header)) return false;
    any = false;
    std::string_view line;
    for (int64_t r = 1; r <= header.nrows && ReadGridRow(s, line); ++r) {
        ForEachRowValue(line, 1, header.ncols, [&](int64_t, float value) {
            if (IsInterpolatedNodata(value, header)) return true;
            lowest = any ? std::min(lowest, value) : value;
            highest = any ? std::max(highest, value) : value;
            any = true;
            return true;
        });
    }
    const bool read = !s.failed;
    CloseGridStream(s);
    return read;
}

bool ReadTileRing(const GridHeader& own, const std::vector<TileNeighbour>& neighbours, TileRing& ring,
                  std::string& problem, int workers) {
    const int64_t cols = own.ncols, rows = own.nrows;
    ring.cols = cols;
    ring.rows = rows;
    for (int d = 0; d < 2; ++d) {
        ring.north[d].assign(static_cast<std::size_t>(cols + 4), RingCell{});
        ring.south[d].assign(static_cast<std::size_t>(cols + 4), RingCell{});
        ring.west[d].assign(static_cast<std::size_t>(rows), RingCell{});
        ring.east[d].assign(static_cast<std::size_t>(rows), RingCell{});
    }
    ring.any = false;
    ring.warnings.clear();
    const auto eachCell = [&](auto visit) {
        for (const int64_t y : {int64_t{0}, int64_t{-1}, rows + 1, rows + 2})
            for (int64_t x = -1; x <= cols + 2; ++x) visit(x, y);
        for (int64_t y = 1; y <= rows; ++y)
            for (const int64_t x : {int64_t{0}, int64_t{-1}, cols + 1, cols + 2}) visit(x, y);
    };
    // The cells each neighbour holds, taken in order; then the files read,
    // those read through first.
    std::vector<std::vector<Need>> needsOf(neighbours.size());
    for (std::size_t k = 0; k < neighbours.size(); ++k) {
        const TileNeighbour& n = neighbours[k];
        std::vector<Need>& needs = needsOf[k];
        int64_t columns = 0, down = 0;
        if (!SharedLattice(own, n.header, columns, down)) continue;
        // Ring cell (x, y) of the tile is the neighbour's (row y - down,
        // column x - columns).
        eachCell([&](int64_t x, int64_t y) {
            RingCell& cell = ring.At(x, y);
            const int64_t r = y - down, c = x - columns;
            if (cell.state != kRingOutside || r < 1 || r > n.header.nrows || c < 1 || c > n.header.ncols) return;
            cell.state = kRingHole;  // taken: the file decides
            needs.push_back({r, c, &cell});
        });
    }
    std::vector<std::size_t> order;
    for (std::size_t k = 0; k < neighbours.size(); ++k)
        if (!needsOf[k].empty()) order.push_back(k);
    const auto readThrough = [&](std::size_t k) {
        return std::any_of(needsOf[k].begin(), needsOf[k].end(), [](const Need& n) { return n.row > 2; });
    };
    std::stable_partition(order.begin(), order.end(), readThrough);
    std::vector<std::string> problems(neighbours.size()), warnings(neighbours.size());
    std::atomic<std::size_t> next{0};
    RunOnWorkers(std::max(1, std::min(workers, static_cast<int>(order.size()))), [&](int) {
        for (std::size_t i = next++; i < order.size(); i = next++)
            ReadNeeds(neighbours[order[i]], needsOf[order[i]], problems[order[i]], warnings[order[i]]);
    });
    for (const std::string& why : problems)
        if (!why.empty()) return problem = why, false;
    for (std::string& why : warnings)
        if (!why.empty()) ring.warnings.push_back(std::move(why));
    eachCell([&](int64_t x, int64_t y) { ring.any = ring.any || ring.At(x, y).state != kRingOutside; });
    return true;
}

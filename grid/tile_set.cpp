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

bool Touch(const Extent& a, const Extent& b) { return a.x0 <= b.x1 && b.x0 <= a.x1 && a.y0 <= b.y1 && b.y0 <= a.y1; }
bool Overlap(const Extent& a, const Extent& b) { return a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1; }

int64_t FloorDiv(int64_t n, int64_t d) { return n >= 0 ? n / d : -((-n + d - 1) / d); }

// A cell a neighbour holds for the ring: its row and column in the
// neighbour's numbering, and where it goes.
struct Need {
    int64_t row, column;
    RingCell* cell;
};

// The cell at `column` of a row's text: the value there when it is a number,
// a hole otherwise (no-data, a row that ends before it).
RingCell CellAt(std::string_view line, int64_t column, int64_t lastColumn, const GridHeader& header) {
    const char* p = line.data();
    const char* end = p + line.size();
    FloatScan scan{p, false, 0.0f};
    if (column == lastColumn && column > 1) {
        // The row's last value: found from the row's end, not its start.
        while (end > p && IsGridSpace(end[-1])) --end;
        const char* start = end;
        while (start > p && !IsGridSpace(start[-1])) --start;
        scan = ScanGridCell(start, end);
    } else {
        for (int64_t c = 1; c <= column; ++c) {
            scan = ScanGridCell(p, end);
            if (!scan.ok) break;
            p = scan.next;
        }
    }
    RingCell cell;
    cell.state = scan.ok && !IsInterpolatedNodata(scan.value, header) ? kRingValid : kRingHole;
    cell.height = cell.state == kRingValid ? scan.value : 0.0f;
    return cell;
}

// The file's last row: its last line that is not blank, read from the end
// of the file back to the line end before it. False when the data section
// holds no row.
bool ReadLastRow(GridStream& s, int64_t dataStart, std::string& line) {
#ifdef _WIN32
    const bool atEnd = _fseeki64(s.file, 0, SEEK_END) == 0;
    const int64_t size = atEnd ? _ftelli64(s.file) : -1;
#else
    const bool atEnd = fseeko(s.file, 0, SEEK_END) == 0;
    const int64_t size = atEnd ? static_cast<int64_t>(ftello(s.file)) : -1;
#endif
    if (size < dataStart) return s.failed = true, false;
    std::string text;
    for (int64_t chunk = 65536;; chunk *= 2) {
        const int64_t from = std::max(dataStart, size - chunk);
        text.resize(static_cast<std::size_t>(size - from));
        if (!SeekGridStream(s, from) || std::fread(text.data(), 1, text.size(), s.file) != text.size())
            return s.failed = true, false;
        std::size_t end = text.size();
        while (end > 0 && IsGridSpace(text[end - 1])) --end;
        std::size_t start = end;
        while (start > 0 && text[start - 1] != '\n' && text[start - 1] != '\r') --start;
        if (from == dataStart || (end > 0 && start > 0)) {
            if (end == 0) return false;
            line.assign(text, start, end - start);
            return true;
        }
        if (chunk >= static_cast<int64_t>(s.maxLineBytes)) return s.failed = true, false;
    }
}

// Fills the needs of one neighbour from its file, reading as little of it as
// their rows allow: its last row from the end, its first row, or its rows
// one after the other up to the last one needed.
bool ReadNeeds(const TileNeighbour& n, std::vector<Need>& needs, std::string& problem) {
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
    const int64_t lastRow = header.nrows, lastColumn = header.ncols;
    const auto fill = [&](std::string_view line, int64_t row) {
        for (Need& need : needs)
            if (need.row == row) *need.cell = CellAt(line, need.column, lastColumn, header);
    };
    bool read = true;
    std::string_view row;
    if (needs.front().row == lastRow && lastRow > 1) {
        std::string line;
        const int64_t dataStart = GridStreamPosition(s);
        if (ReadLastRow(s, dataStart, line)) fill(line, lastRow);
        read = !s.failed;
    } else {
        for (int64_t r = 1; r <= needs.back().row && ReadGridRow(s, row); ++r) fill(row, r);
        read = !s.failed;
    }
    CloseGridStream(s);
    if (!read) problem = "its neighbour " + name + " could not be read";
    return read;
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
    // (edges included) reaches: at most two a way. A neighbour touches the
    // tile's edges, so it lies in one of the tile's squares.
    std::map<std::pair<std::size_t, std::pair<int64_t, int64_t>>, std::vector<std::size_t>> squares;
    const auto eachSquare = [&](std::size_t i, auto visit) {
        const Extent& e = extents[i];
        const int64_t side = sides[groupOf[i]];
        for (int64_t sy = FloorDiv(e.y0, side); sy <= FloorDiv(e.y1, side); ++sy)
            for (int64_t sx = FloorDiv(e.x0, side); sx <= FloorDiv(e.x1, side); ++sx) visit(std::make_pair(groupOf[i], std::make_pair(sx, sy)));
    };
    for (std::size_t i = 0; i < headers.size(); ++i)
        if (headers[i] != nullptr) eachSquare(i, [&](const auto& key) { squares[key].push_back(i); });
    for (std::size_t i = 0; i < headers.size(); ++i) {
        if (headers[i] == nullptr) continue;
        std::vector<std::size_t>& found = neighbours[i];
        eachSquare(i, [&](const auto& key) {
            for (const std::size_t j : squares[key])
                if (j != i && Touch(extents[i], extents[j]) && !Overlap(extents[i], extents[j])) found.push_back(j);
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
    ring.north.assign(static_cast<std::size_t>(cols + 2), RingCell{});
    ring.south.assign(static_cast<std::size_t>(cols + 2), RingCell{});
    ring.west.assign(static_cast<std::size_t>(rows), RingCell{});
    ring.east.assign(static_cast<std::size_t>(rows), RingCell{});
    ring.any = false;
    // The cells each neighbour holds, taken in order; then the files read,
    // those read through first.
    std::vector<std::vector<Need>> needsOf(neighbours.size());
    for (std::size_t k = 0; k < neighbours.size(); ++k) {
        const TileNeighbour& n = neighbours[k];
        std::vector<Need>& needs = needsOf[k];
        int64_t columns = 0, down = 0;
        if (!SharedLattice(own, n.header, columns, down)) continue;
        // Ring cell (row, column) of the tile is the neighbour's
        // (row - down, column - columns).
        const auto need = [&](int64_t row, int64_t column, RingCell& cell) {
            const int64_t r = row - down, c = column - columns;
            if (cell.state != kRingOutside || r < 1 || r > n.header.nrows || c < 1 || c > n.header.ncols) return;
            cell.state = kRingHole;  // taken: the file decides
            needs.push_back({r, c, &cell});
        };
        for (int64_t c = 0; c <= cols + 1; ++c) {
            need(0, c, ring.north[static_cast<std::size_t>(c)]);
            need(rows + 1, c, ring.south[static_cast<std::size_t>(c)]);
        }
        for (int64_t r = 1; r <= rows; ++r) {
            need(r, 0, ring.west[static_cast<std::size_t>(r - 1)]);
            need(r, cols + 1, ring.east[static_cast<std::size_t>(r - 1)]);
        }
        ring.any = ring.any || !needs.empty();
    }
    std::vector<std::size_t> order;
    for (std::size_t k = 0; k < neighbours.size(); ++k)
        if (!needsOf[k].empty()) order.push_back(k);
    const auto readThrough = [&](std::size_t k) {
        const std::vector<Need>& needs = needsOf[k];
        return !std::all_of(needs.begin(), needs.end(), [&](const Need& n) { return n.row == needs.front().row; });
    };
    std::stable_partition(order.begin(), order.end(), readThrough);
    std::vector<std::string> problems(neighbours.size());
    std::atomic<std::size_t> next{0};
    RunOnWorkers(std::max(1, std::min(workers, static_cast<int>(order.size()))), [&](int) {
        for (std::size_t i = next++; i < order.size(); i = next++)
            ReadNeeds(neighbours[order[i]], needsOf[order[i]], problems[order[i]]);
    });
    for (const std::string& why : problems)
        if (!why.empty()) return problem = why, false;
    return true;
}

// Interpolated: one connected mesh whose vertices stand on cell corners, each
// corner's height the mean of the valid cells that meet there, one quad per
// valid cell.
//
// The vertex pass keeps only two rows of heights. For every region cell of
// the rows read it records one byte: whether the cell is valid and which of
// its up to four vertices it wrote. Vertex numbers follow from those bytes
// alone (vertices are numbered in writing order), so the face pass recomputes
// them row by row instead of storing four numbers per cell: a region costs one
// byte per cell the file holds, whatever its header promises.
//
// A cell the file does not supply (a short row, a token that is not a number,
// rows missing at the end) is a hole exactly like a no-data cell: it writes
// the vertices of its corners that valid neighbours share, so every face uses
// only its own four corners.
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <string_view>
#include <utility>

#include "grid/float_scan.h"
#include "mesh/mesh_passes.h"

namespace {

// Cell byte: validity, and the vertices the cell wrote. 0: wrote nothing.
constexpr uint8_t kValid = 2;         // a value that is not no-data: the cell gets a quad
constexpr uint8_t kMainVertex = 4;    // north-west corner
constexpr uint8_t kEastVertex = 8;    // north-east corner, last region column
constexpr uint8_t kSouthVertex = 16;  // south-west corner, last region row
constexpr uint8_t kCornerVertex = 32; // south-east corner of the region

// Grows `data` to hold at least `needed` items, doubling; false when memory
// runs out (the old block stays valid).
template <typename T>
bool GrowArray(T*& data, std::size_t& capacity, std::size_t needed) {
    if (needed <= capacity) return true;
    const std::size_t next = std::max({needed, capacity * 2, std::size_t{64}});
    if (next > std::numeric_limits<std::size_t>::max() / sizeof(T)) return false;
    T* grown = static_cast<T*>(std::realloc(data, next * sizeof(T)));
    if (grown == nullptr) return false;
    data = grown;
    capacity = next;
    return true;
}

// Cells stored for region row r (0 for a row not stored).
int64_t RowWidth(const InterpolatedMemory& m, int64_t r) {
    if (r < 1 || static_cast<std::size_t>(r) > m.storedRows) return 0;
    const std::size_t end = static_cast<std::size_t>(r) < m.storedRows ? m.rowStart[r] : m.cellsUsed;
    return static_cast<int64_t>(end - m.rowStart[r - 1]);
}

// Starts the next stored row: its cells follow the previous row's, whose
// heights become the row above.
bool StartStoredRow(InterpolatedMemory& m) {
    if (!GrowArray(m.rowStart, m.rowCapacity, m.storedRows + 1)) return false;
    const int64_t r = static_cast<int64_t>(++m.storedRows);
    m.rowStart[r - 1] = m.currentOffset = m.cellsUsed;
    m.aboveWidth = RowWidth(m, r - 1);
    m.aboveOffset = r > 1 ? m.rowStart[r - 2] : 0;
    std::swap(m.above, m.current);
    return true;
}

bool GrowForCell(InterpolatedMemory& m, int64_t c) {
    if (!GrowArray(m.cells, m.cellsCapacity, m.cellsUsed + 1)) return false;
    if (static_cast<std::size_t>(c) <= m.heightCapacity) return true;
    std::size_t aboveCapacity = m.heightCapacity, currentCapacity = m.heightCapacity;
    if (!GrowArray(m.above, aboveCapacity, static_cast<std::size_t>(c)) ||
        !GrowArray(m.current, currentCapacity, static_cast<std::size_t>(c)))
        return false;
    m.heightCapacity = std::min(aboveCapacity, currentCapacity);
    return true;
}

// Room for cell c of the current row and its height.
inline bool MakeRoomForCell(InterpolatedMemory& m, int64_t c) {
    if (m.cellsUsed < m.cellsCapacity && static_cast<std::size_t>(c) <= m.heightCapacity) return true;
    return GrowForCell(m, c);
}

struct Neighbour {
    bool present;
    float height;
};

// Cell c of the row above, and of the current row (c < the cell converted).
Neighbour AboveAt(const InterpolatedMemory& m, int64_t c) {
    const bool valid = c >= 1 && c <= m.aboveWidth && (m.cells[m.aboveOffset + (c - 1)] & kValid) != 0;
    return {valid, valid ? m.above[c - 1] : 0.0f};
}

Neighbour LeftAt(const InterpolatedMemory& m, int64_t c) {
    const bool valid = c >= 1 && (m.cells[m.currentOffset + (c - 1)] & kValid) != 0;
    return {valid, valid ? m.current[c - 1] : 0.0f};
}

// Height of an edge corner touched by the cell and one neighbour only.
bool EdgeHeight(bool cellPresent, float value, Neighbour other, float scale, float& z) {
    if (cellPresent && other.present) {
        const float sum = value + other.height;
        z = static_cast<float>(static_cast<double>(sum) * 0.5 * static_cast<double>(scale));
    } else if (cellPresent) {
        z = value * scale;
    } else if (other.present) {
        z = other.height * scale;
    } else {
        return false;
    }
    return true;
}

enum class CellKind { Value, Missing };

// Converts cell (r, c) of the current row, the next one to be stored: a value
// read from the file, or a cell the file did not supply (a hole, like no-data
// but counted apart). False when memory ran out.
bool ConvertCell(MeshPass& pass, InterpolatedMemory& m, int64_t r, int64_t c, CellKind kind, float value) {
    const GridHeader& header = pass.request.header;
    const float scale = pass.scale;
    if (!MakeRoomForCell(m, c)) return false;
    const Neighbour a = AboveAt(m, c);
    const Neighbour al = AboveAt(m, c - 1);
    const Neighbour left = LeftAt(m, c - 1);
    uint8_t& cell = m.cells[m.cellsUsed++];
    cell = 0;
    m.current[c - 1] = value;
    int missing = !a.present + !al.present + !left.present;

    const bool hole = kind == CellKind::Missing || IsInterpolatedNodata(value, header);
    if (kind == CellKind::Value && hole) pass.nodataCount += 1;
    if (hole && missing == 3) return true;

    const int64_t fileRow = r + m.top - 1;
    const int64_t fileColumn = c + m.west - 1;
    const float xWest = WestEdge(fileColumn, header, scale);
    const float xEast = xWest + scale;
    const float yNorth = NorthEdge(fileRow, header, pass.scaleY);
    const float ySouth = SouthEdge(yNorth, pass.scaleY);

    float own = value;
    if (hole) {
        missing += 1;
        own = 0.0f;
    }
    const float mainZ = (((al.height + a.height) + left.height) + own) /
                        static_cast<float>(4 - missing) * scale;

    char* p = ReserveObjBytes(pass.out, 4 * kMaxVertexLineBytes);
    p = PutVertexLine(p, xWest, yNorth, mainZ);
    uint8_t wrote = kMainVertex;
    if (!hole) {
        cell |= kValid;
        pass.quadCount += 1;
    }
    float z;
    if (c == m.cols && EdgeHeight(!hole, value, a, scale, z)) {
        p = PutVertexLine(p, xEast, yNorth, z);
        wrote |= kEastVertex;
    }
    if (r == m.rows && EdgeHeight(!hole, value, left, scale, z)) {
        p = PutVertexLine(p, xWest, ySouth, z);
        wrote |= kSouthVertex;
    }
    if (c == m.cols && r == m.rows && !hole) {
        p = PutVertexLine(p, xEast, ySouth, value * scale);
        wrote |= kCornerVertex;
    }
    CommitObjBytes(pass.out, p);
    cell |= wrote;
    pass.vertexCount += __builtin_popcount(wrote);
    return true;
}

// The missing cells of row r after the `extent` columns it supplied, as far
// as a valid cell of this row or the row above can touch them; further east
// every corner is a hole's and nothing is written.
bool ConvertMissingCells(MeshPass& pass, InterpolatedMemory& m, int64_t r, int64_t extent) {
    const int64_t reach = std::min(m.cols, std::max(extent, m.aboveExtent) + 1);
    for (int64_t c = extent + 1; c <= reach; ++c) {
        if (!ConvertCell(pass, m, r, c, CellKind::Missing, 0.0f)) return false;
    }
    return true;
}

enum class RowEnd { Normal, Cancelled, OutOfMemory };

// Region row r from the text of its line: the values up to the region's east
// edge, then the holes the line leaves.
RowEnd ConvertRow(MeshPass& pass, InterpolatedMemory& m, int64_t r, std::string_view line) {
    if (!StartStoredRow(m)) return RowEnd::OutOfMemory;
    const char* p = line.data();
    const char* end = p + line.size();
    int64_t extent = 0;  // region columns supplied
    for (int64_t j = 1; j - m.west < m.cols; ++j) {
        const FloatScan scan = ScanGridCell(p, end);
        if (!scan.ok) break;
        p = scan.next;
        if (CancelRequested(pass)) return RowEnd::Cancelled;
        if (j < m.west) continue;
        extent = j - m.west + 1;
        if (!ConvertCell(pass, m, r, extent, CellKind::Value, scan.value)) return RowEnd::OutOfMemory;
    }
    pass.missingCount += PromisedCells(pass.request, r + m.top - 1, r + m.top - 1, extent + m.west);
    if (!ConvertMissingCells(pass, m, r, extent)) return RowEnd::OutOfMemory;
    m.aboveExtent = extent;
    return RowEnd::Normal;
}

// The first region row after the data ended: only its cells below or beside
// the last row's values can share a corner with a valid cell. The rows after
// it write nothing; EndOfData counts them.
void ConvertFirstMissingRow(MeshPass& pass, InterpolatedMemory& m, int64_t r) {
    if (r < 2 || r > m.rows || m.aboveExtent == 0) return;
    if (!StartStoredRow(m)) {
        m.outOfMemory = true;
        return;
    }
    if (!ConvertMissingCells(pass, m, r, 0)) m.outOfMemory = true;
    m.aboveExtent = 0;
}

// Vertex numbers of one stored row, in writing order: main vertices per
// column, the east-edge vertex, and on the last row the south-edge vertices
// and the region's south-east corner. 0 where the vertex was not written.
struct RowNumbers {
    int64_t* main;   // per column
    int64_t* south;  // per column, last row only
    int64_t width;   // columns numbered; the others wrote nothing
    int64_t east;
    int64_t corner;
};

int64_t NumberRow(const InterpolatedMemory& m, int64_t r, int64_t next, RowNumbers& numbers) {
    numbers.width = RowWidth(m, r);
    numbers.east = 0;
    numbers.corner = 0;
    const uint8_t* cells = m.cells + m.rowStart[r - 1];
    for (int64_t c = 1; c <= numbers.width; ++c) {
        const uint8_t cell = cells[c - 1];
        numbers.main[c - 1] = (cell & kMainVertex) ? ++next : 0;
        if (cell & kEastVertex) numbers.east = ++next;
        if (numbers.south != nullptr) numbers.south[c - 1] = (cell & kSouthVertex) ? ++next : 0;
        if (cell & kCornerVertex) numbers.corner = ++next;
    }
    return next;
}

int64_t MainAt(const RowNumbers& numbers, int64_t c) {
    return c <= numbers.width ? numbers.main[c - 1] : 0;
}

int64_t SouthAt(const RowNumbers& numbers, int64_t c) {
    return c <= numbers.width ? numbers.south[c - 1] : 0;
}

// Face of the valid cell (r, c), counter-clockwise seen from above.
void WriteFace(MeshPass& pass, const InterpolatedMemory& m, int64_t r, int64_t c,
               const RowNumbers& thisRow, const RowNumbers& nextRow) {
    const bool lastCol = c == m.cols;
    const int64_t topLeft = MainAt(thisRow, c);
    const int64_t topRight = lastCol ? thisRow.east : MainAt(thisRow, c + 1);
    int64_t bottomLeft, bottomRight;
    if (r < m.rows) {
        bottomLeft = MainAt(nextRow, c);
        bottomRight = lastCol ? nextRow.east : MainAt(nextRow, c + 1);
    } else {
        bottomLeft = SouthAt(thisRow, c);
        bottomRight = lastCol ? thisRow.corner : SouthAt(thisRow, c + 1);
    }
    char* p = ReserveObjBytes(pass.out, kMaxFaceLineBytes);
    CommitObjBytes(pass.out, PutFaceLine(p, bottomLeft, bottomRight, topRight, topLeft));
}

}  // namespace

void PrepareInterpolatedMemory(const RegionWindow& region, InterpolatedMemory& m) {
    m = InterpolatedMemory{};
    m.top = std::max<int64_t>(region.yMin, 1);
    m.west = std::max<int64_t>(region.xMin, 1);
    m.rows = std::max<int64_t>(int64_t{region.yMax} - m.top + 1, 0);
    m.cols = std::max<int64_t>(int64_t{region.xMax} - m.west + 1, 0);
    if (m.rows == 0 || m.cols == 0) m.rows = m.cols = 0;  // no value lies inside the region
}

void FreeInterpolatedMemory(InterpolatedMemory& m) {
    std::free(m.cells);
    std::free(m.rowStart);
    std::free(m.above);
    std::free(m.current);
    std::free(m.numbers);
    m.cells = nullptr;
    m.rowStart = nullptr;
    m.above = m.current = nullptr;
    m.numbers = nullptr;
}

void RunInterpolatedVertexPass(MeshPass& pass, InterpolatedMemory& m) {
    if (m.cols == 0) return;
    const int64_t lastRow = m.top + m.rows - 1;
    int64_t fileRow = 0;
    std::string_view line;
    // Reading stops with the region's last row: what follows is never read.
    while (fileRow < lastRow && !pass.out.failed && ReadGridRow(pass.input, line)) {
        ++fileRow;
        if (fileRow >= m.top) {
            const RowEnd end = ConvertRow(pass, m, fileRow - m.top + 1, line);
            if (end == RowEnd::Cancelled) return;
            if (end == RowEnd::OutOfMemory) {
                m.outOfMemory = true;
                return;
            }
        }
        if (CancelRequested(pass)) return;
        ShowRowProgress(pass, fileRow);
    }
    if (pass.out.failed) return;
    EndOfData(pass, fileRow);
    if (pass.failedRow == 0 && fileRow < lastRow && fileRow >= m.top)
        ConvertFirstMissingRow(pass, m, fileRow - m.top + 2);
}

void RunInterpolatedFacePass(MeshPass& pass, InterpolatedMemory& m) {
    StartProgressPass(pass, kProgressHalf, m.rows);
    const int64_t stored = static_cast<int64_t>(m.storedRows);
    if (stored == 0) {
        AdvanceProgress(pass, m.rows);
        return;
    }
    int64_t widest = 0;
    for (int64_t r = 1; r <= stored; ++r) widest = std::max(widest, RowWidth(m, r));
    m.numbers = static_cast<int64_t*>(std::calloc(static_cast<std::size_t>(widest) * 3, sizeof(int64_t)));
    if (m.numbers == nullptr) {
        m.outOfMemory = true;
        return;
    }
    int64_t* southNumbers = m.numbers + 2 * widest;
    RowNumbers thisRow{m.numbers, m.rows == 1 ? southNumbers : nullptr, 0, 0, 0};
    RowNumbers nextRow{m.numbers + widest, nullptr, 0, 0, 0};
    int64_t next = NumberRow(m, 1, 0, thisRow);

    for (int64_t r = 1; r <= stored; ++r) {
        if (r < stored) {
            nextRow.south = (r + 1 == m.rows) ? southNumbers : nullptr;
            next = NumberRow(m, r + 1, next, nextRow);
        } else {
            nextRow.width = 0;  // not stored: no valid cell above it
        }
        const uint8_t* cells = m.cells + m.rowStart[r - 1];
        for (int64_t c = 1; c <= thisRow.width; ++c) {
            if (CancelRequested(pass)) return;
            if (!(cells[c - 1] & kValid)) continue;
            WriteFace(pass, m, r, c, thisRow, nextRow);
        }
        if (pass.out.failed) return;
        AdvanceProgress(pass, r);
        std::swap(thisRow, nextRow);
    }
    AdvanceProgress(pass, m.rows);  // the rows after the stored ones have no faces
}

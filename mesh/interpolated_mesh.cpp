// Interpolated: one connected mesh whose vertices stand on cell corners, each
// corner's height the mean of the valid cells that meet there, one quad per
// valid cell.
//
// The vertex pass keeps only two rows of heights. For every region cell it
// records one byte: whether the cell was read, whether it is valid, and which
// of its up to four vertices it wrote. Vertex numbers follow from those bytes
// alone (vertices are numbered in writing order), so the face pass recomputes
// them row by row instead of storing four numbers per cell: a region costs one
// byte per cell.
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

#include "grid/float_scan.h"
#include "mesh/mesh_passes.h"

namespace {

// Cell byte: state in the low bits, the vertices the cell wrote above them.
constexpr uint8_t kRead = 1;          // a value was read for the cell
constexpr uint8_t kValid = 2;         // ... and it is not no-data: the cell gets a quad
constexpr uint8_t kMainVertex = 4;    // north-west corner
constexpr uint8_t kEastVertex = 8;    // north-east corner, last region column
constexpr uint8_t kSouthVertex = 16;  // south-west corner, last region row
constexpr uint8_t kCornerVertex = 32; // south-east corner of the region

struct Neighbour {
    bool present;
    float height;
};

Neighbour CellAt(const InterpolatedMemory& m, const float* rowHeights, int64_t r, int64_t c) {
    if (r < 1 || c < 1) return {false, 0.0f};
    const bool valid = (m.cells[(r - 1) * m.cols + (c - 1)] & kValid) != 0;
    return {valid, valid ? rowHeights[c - 1] : 0.0f};
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

void ConvertCell(MeshPass& pass, InterpolatedMemory& m, float* above, float* current,
                 int64_t r, int64_t c, int64_t fileRow, int64_t fileColumn, float value) {
    const GridHeader& header = pass.request.header;
    const float scale = pass.scale;
    uint8_t& cell = m.cells[(r - 1) * m.cols + (c - 1)];
    current[c - 1] = value;

    const Neighbour a = CellAt(m, above, r - 1, c);
    const Neighbour al = CellAt(m, above, r - 1, c - 1);
    const Neighbour left = CellAt(m, current, r, c - 1);
    int missing = !a.present + !al.present + !left.present;

    const bool nodata = IsInterpolatedNodata(value, header);
    cell = kRead;
    if (nodata) pass.nodataCount += 1;
    if (nodata && missing == 3) return;

    const float xWest = WestEdge(fileColumn, header, scale);
    const float xEast = xWest + scale;
    const float yNorth = NorthEdge(fileRow, header, pass.scaleY);
    const float ySouth = SouthEdge(yNorth, pass.scaleY);

    float own = value;
    if (nodata) {
        missing += 1;
        own = 0.0f;
    }
    const float mainZ = (((al.height + a.height) + left.height) + own) /
                        static_cast<float>(4 - missing) * scale;

    char* p = ReserveObjBytes(pass.out, 4 * kMaxVertexLineBytes);
    p = PutVertexLine(p, xWest, yNorth, mainZ);
    uint8_t wrote = kMainVertex;
    if (!nodata) {
        cell |= kValid;
        pass.quadCount += 1;
    }
    float z;
    if (c == m.cols && EdgeHeight(!nodata, value, a, scale, z)) {
        p = PutVertexLine(p, xEast, yNorth, z);
        wrote |= kEastVertex;
    }
    if (r == m.rows && EdgeHeight(!nodata, value, left, scale, z)) {
        p = PutVertexLine(p, xWest, ySouth, z);
        wrote |= kSouthVertex;
    }
    if (c == m.cols && r == m.rows && !nodata) {
        p = PutVertexLine(p, xEast, ySouth, value * scale);
        wrote |= kCornerVertex;
    }
    CommitObjBytes(pass.out, p);
    cell |= wrote;
    pass.vertexCount += __builtin_popcount(wrote);
}

enum class LineEnd { Normal, Cancelled };

LineEnd ConvertLine(MeshPass& pass, InterpolatedMemory& m, float* above, float* current,
                    int64_t fileRow, std::string_view line) {
    const RegionWindow& region = pass.request.region;
    const int64_t r = fileRow - region.yMin + 1;
    const char* p = line.data();
    const char* end = p + line.size();
    for (int64_t j = 1;; ++j) {
        const FloatScan scan = ScanFloat(p, end);
        if (!scan.ok) return LineEnd::Normal;
        p = scan.next;
        if (CancelRequested(pass)) return LineEnd::Cancelled;
        if (j < region.xMin) continue;
        if (j > region.xMax) return LineEnd::Normal;
        ConvertCell(pass, m, above, current, r, j - region.xMin + 1, fileRow, j, scan.value);
    }
}

// Vertex numbers of one region row, in writing order: main vertices per
// column, the east-edge vertex, and on the last row the south-edge vertices
// and the region's south-east corner. 0 where the vertex was not written.
struct RowNumbers {
    int64_t* main;   // per column
    int64_t* south;  // per column, last row only
    int64_t east;
    int64_t corner;
};

int64_t NumberRow(const InterpolatedMemory& m, int64_t r, int64_t next, RowNumbers& numbers) {
    const uint8_t* cells = m.cells + (r - 1) * m.cols;
    numbers.east = 0;
    numbers.corner = 0;
    for (int64_t c = 0; c < m.cols; ++c) {
        const uint8_t cell = cells[c];
        numbers.main[c] = (cell & kMainVertex) ? ++next : 0;
        if (cell & kEastVertex) numbers.east = ++next;
        if (numbers.south != nullptr) numbers.south[c] = (cell & kSouthVertex) ? ++next : 0;
        if (cell & kCornerVertex) numbers.corner = ++next;
    }
    return next;
}

// A corner that no vertex was handed to (a short or missing row) keeps 1.
int64_t OrOne(int64_t number) { return number != 0 ? number : 1; }

}  // namespace

bool AllocateInterpolatedMemory(const RegionWindow& region, InterpolatedMemory& m) {
    m.cols = int64_t{region.xMax} - region.xMin + 1;
    m.rows = int64_t{region.yMax} - region.yMin + 1;
    if (m.cols <= 0 || m.rows <= 0) {
        // No value lies inside the region: nothing to hold.
        m.cols = m.rows = 0;
        return true;
    }
    const uint64_t cells = static_cast<uint64_t>(m.cols) * static_cast<uint64_t>(m.rows);
    if (cells > std::numeric_limits<std::size_t>::max() / 2) return false;
    m.cells = static_cast<uint8_t*>(std::calloc(static_cast<std::size_t>(cells), 1));
    m.heights = static_cast<float*>(std::calloc(static_cast<std::size_t>(m.cols) * 2, sizeof(float)));
    m.numbers = static_cast<int64_t*>(std::calloc(static_cast<std::size_t>(m.cols) * 3, sizeof(int64_t)));
    if (m.cells == nullptr || m.heights == nullptr || m.numbers == nullptr) {
        FreeInterpolatedMemory(m);
        return false;
    }
    return true;
}

void FreeInterpolatedMemory(InterpolatedMemory& m) {
    std::free(m.cells);
    std::free(m.heights);
    std::free(m.numbers);
    m.cells = nullptr;
    m.heights = nullptr;
    m.numbers = nullptr;
}

void RunInterpolatedVertexPass(MeshPass& pass, InterpolatedMemory& m) {
    const RegionWindow& region = pass.request.region;
    if (m.cols == 0) return;
    float* above = m.heights;
    float* current = m.heights + m.cols;
    int64_t fileRow = 0;
    std::string_view line;
    // Reading stops with the region's last row: what follows is never read.
    while (fileRow < region.yMax && !pass.out.failed && ReadGridRow(pass.input, line)) {
        ++fileRow;
        if (fileRow >= region.yMin) {
            if (fileRow > region.yMin) std::swap(above, current);
            if (ConvertLine(pass, m, above, current, fileRow, line) == LineEnd::Cancelled) return;
        }
        if (CancelRequested(pass)) return;
        TickRow(pass);
    }
    if (!pass.out.failed) EndOfData(pass, fileRow);
}

void RunInterpolatedFacePass(MeshPass& pass, InterpolatedMemory& m) {
    if (m.cols == 0) return;
    RowNumbers thisRow{m.numbers, nullptr, 0, 0};
    RowNumbers nextRow{m.numbers + m.cols, nullptr, 0, 0};
    int64_t* southNumbers = m.numbers + 2 * m.cols;
    if (m.rows == 1) thisRow.south = southNumbers;
    int64_t next = NumberRow(m, 1, 0, thisRow);

    for (int64_t r = 1; r <= m.rows; ++r) {
        const bool lastRow = r == m.rows;
        if (!lastRow) {
            nextRow.south = (r + 1 == m.rows) ? southNumbers : nullptr;
            next = NumberRow(m, r + 1, next, nextRow);
        }
        const uint8_t* cells = m.cells + (r - 1) * m.cols;
        for (int64_t c = 1; c <= m.cols; ++c) {
            if (CancelRequested(pass)) return;
            if (!(cells[c - 1] & kValid)) continue;
            const bool lastCol = c == m.cols;
            const int64_t topLeft = thisRow.main[c - 1];
            const int64_t topRight = lastCol ? thisRow.east : OrOne(thisRow.main[c]);
            int64_t bottomLeft, bottomRight;
            if (!lastRow) {
                bottomLeft = OrOne(nextRow.main[c - 1]);
                bottomRight = OrOne(lastCol ? nextRow.east : nextRow.main[c]);
            } else {
                bottomLeft = thisRow.south[c - 1];
                bottomRight = lastCol ? thisRow.corner : OrOne(thisRow.south[c]);
            }
            char* p = ReserveObjBytes(pass.out, kMaxFaceLineBytes);
            CommitObjBytes(pass.out, PutFaceLine(p, bottomLeft, bottomRight, topRight, topLeft));
            TickFace(pass);
        }
        if (pass.out.failed) return;
        std::swap(thisRow, nextRow);
    }
}

// Interpolated: one connected mesh whose vertices stand on cell corners, each
// corner's height the mean of the valid cells that meet there, one quad per
// valid cell.
//
// The vertex pass runs on the workers: each takes a block of whole lines that
// starts with the row before it, so every row has the heights of the row
// above. For every region cell of the rows read it records one byte: whether
// the cell is valid and which of its up to four vertices it wrote. The rows'
// bytes go to the job's scratch store (memory up to a budget, then a file
// beside the output), in row order. Vertex numbers
// follow from those bytes alone (vertices are numbered in writing order), so
// the face pass reads them back and numbers each block of rows from the count
// of vertices before it.
//
// A cell the file does not supply (a short row, a token that is not a number,
// rows missing at the end) is a hole exactly like a no-data cell: it writes
// the vertices of its corners that valid neighbours share, so every face uses
// only its own four corners.
//
// A tile of a set (JobRequest::tileRing) has the cells just beyond its
// edges from its neighbours: its edge corners take them into their means, as
// the whole grid's corners there do, and write themselves only where one of
// the tile's own cells is valid (the neighbour writes the others). Where no
// tile of the set lies beyond an edge, it is the whole grid's edge. A
// tile's vertex on its edge gets the whole grid's normal: the quads beyond
// the edge take their corners from both rings (TileEdgeNormal).
#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "mesh/mesh_passes.h"

namespace {

// Cell byte: validity, and the vertices the cell wrote. 0: wrote nothing.
constexpr uint8_t kValid = 2;         // a value that is not no-data: the cell gets a quad
constexpr uint8_t kMainVertex = 4;    // north-west corner
constexpr uint8_t kEastVertex = 8;    // north-east corner, last region column
constexpr uint8_t kSouthVertex = 16;  // south-west corner, last region row
constexpr uint8_t kCornerVertex = 32; // south-east corner of the region

// Vertices a cell byte records.
inline int VertexCount(uint8_t cell) {
    return ((cell & kMainVertex) != 0) + ((cell & kEastVertex) != 0) + ((cell & kSouthVertex) != 0) +
           ((cell & kCornerVertex) != 0);
}

// Cells per face-pass work item (whole rows).
constexpr int64_t kFaceItemCells = 65536;
// A stored row in the scratch store: its width, then one byte per cell.
using RowWidth = int64_t;

// The region's part that can hold data. Region rows and columns before the
// grid's first ones never do and are not stored (their cells are holes).
struct CornerRegion {
    int64_t top = 0, west = 0;   // grid row and column of stored row 1, column 1
    int64_t cols = 0, rows = 0;  // region size from (top, west) on
};

CornerRegion CornerRegionOf(const RegionWindow& region) {
    CornerRegion m;
    m.top = std::max<int64_t>(region.yMin, 1);
    m.west = std::max<int64_t>(region.xMin, 1);
    m.rows = std::max<int64_t>(int64_t{region.yMax} - m.top + 1, 0);
    m.cols = std::max<int64_t>(int64_t{region.xMax} - m.west + 1, 0);
    if (m.rows == 0 || m.cols == 0) m.rows = m.cols = 0;  // no value lies inside the region
    return m;
}

// One region row while it is converted: heights and cell bytes per column.
// The arrays only grow, so a block's rows reuse them. A tile's row also has
// the ring cells beside it (west of column 1, east of its last).
struct RowCells {
    std::vector<float> heights;
    std::vector<uint8_t> cells;
    int64_t width = 0;   // cells converted
    int64_t extent = 0;  // region columns the row supplied
    RingCell west, east;
    int64_t eastColumn = 0;  // the column the east ring cell stands in; 0: none
    bool ring = false;       // the ring's row above the tile: none of its cells is the tile's
};

struct InterpolatedWork {
    const MeshPass* pass = nullptr;
    const TileRing* ring = nullptr;  // a tile's: the cells around it
    RowCells northRow;               // a tile's: the ring's row above it
    JobMemory* memory = nullptr;  // the job's, for the stored rows and items
    CornerRegion m;
    ScratchStore* scratch = nullptr;  // face pass: the stored rows, read under the reader lock
    RowBlockReader reader;
    // Face pass reader, under the reader lock.
    std::vector<char> pending;  // the next stored row, not yet handed out
    bool havePending = false;
    int64_t nextRow = 1;        // its region row number
    int64_t nextNumber = 0;     // vertices before it
};

// Room for `cells` cells at least; the arrays double (from 64) as they grow.
inline void MakeRowRoom(RowCells& row, std::size_t cells) {
    if (row.cells.size() >= cells) return;
    const std::size_t grown = std::max({std::size_t{64}, 2 * row.cells.size(), cells});
    row.cells.resize(grown);
    row.heights.resize(grown);
}

// Appends a cell to the row: its value, and no state yet.
inline void AddCell(RowCells& row, float value) {
    MakeRowRoom(row, static_cast<std::size_t>(row.width) + 1);
    row.heights[static_cast<std::size_t>(row.width)] = value;
    row.cells[static_cast<std::size_t>(row.width)] = 0;
    row.width += 1;
}

struct Neighbour {
    bool present;
    float height;
    bool inSet = false;  // a cell of the grid or of the tile set, valid or a hole
};

Neighbour RingNeighbour(const RingCell& cell) {
    const bool valid = cell.state == kRingValid;
    return {valid, valid ? cell.height : 0.0f, cell.state != kRingOutside};
}

Neighbour CellOf(const RowCells& row, int64_t c) {
    if (c == 0) return RingNeighbour(row.west);
    if (c == row.eastColumn) return RingNeighbour(row.east);
    const bool valid = c >= 1 && c <= row.width && (row.cells[c - 1] & kValid) != 0;
    return {valid, valid ? row.heights[c - 1] : 0.0f, c >= 1 && c <= row.width};
}

// A tile's ring cells beside region row r (none without a ring).
void PlaceRingCells(const InterpolatedWork& w, RowCells& row, int64_t r) {
    if (w.ring == nullptr || r < 1 || r > w.m.rows) return;
    row.west = w.ring->At(0, r);
    row.east = w.ring->At(w.m.cols + 1, r);
    row.eastColumn = w.m.cols + 1;
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

// The height of a cell's main (north-west) vertex: the mean of the valid ones
// of the four cells that meet there, `missing` of which are holes (given as
// 0). The one formula for both paths below.
inline float CornerMean(float aboveLeft, float above, float left, float own, int missing, float scale) {
    const float sum = ((aboveLeft + above) + left) + own;
    // Dividing by four and multiplying by a quarter round the same quotient:
    // most corners have four cells, and a multiplication costs less.
    return (missing == 0 ? sum * 0.25f : sum / static_cast<float>(4 - missing)) * scale;
}

// Converts cell (r, c) of `current`, whose height and validity the row holds
// already: a value read from the file, or a hole (no-data, or a cell the file
// did not supply). False when the job stops.
bool ConvertPlacedCell(InterpolatedWork& w, VertexBatch& batch, const RowCells& above, RowCells& current,
                       int64_t r, int64_t c) {
    const CornerRegion& m = w.m;
    const float scale = w.pass->geometry.heightScale;
    const Neighbour a = CellOf(above, c);
    const Neighbour al = CellOf(above, c - 1);
    const Neighbour left = CellOf(current, c - 1);
    uint8_t& cell = current.cells[static_cast<std::size_t>(c - 1)];
    const float value = current.heights[static_cast<std::size_t>(c - 1)];
    int missing = !a.present + !al.present + !left.present;

    const bool hole = (cell & kValid) == 0;
    // The corner is written where one of the region's own cells is valid
    // (without a ring every valid cell is).
    const bool ownAbove = a.present && !above.ring;
    if (hole && !ownAbove && !(al.present && !above.ring && c > 1) && !(left.present && c > 1)) return true;

    float own = value;
    if (hole) {
        missing += 1;
        own = 0.0f;
    }
    const int64_t column = c + m.west - 1, row = r + m.top - 1;
    if (!AddVertex(batch, column, row, 0, CornerMean(al.height, a.height, left.height, own, missing, scale)))
        return false;
    uint8_t wrote = kMainVertex;
    if (!hole) batch.sink.counts.quads += 1;
    float z;
    // A tile's edge corner takes the ring's cells beyond the edge into its
    // mean, as the whole grid's corner there does; where the ring lies
    // outside the set it is the whole grid's edge.
    const Neighbour east = CellOf(current, c + 1), aboveEast = CellOf(above, c + 1);
    const RingCell outside;
    const auto ringSouth = [&](int64_t column) {
        return RingNeighbour(r == m.rows && w.ring != nullptr ? w.ring->At(column, m.rows + 1) : outside);
    };
    const Neighbour southWest = ringSouth(c - 1), south = ringSouth(c), southEast = ringSouth(std::min(c + 1, m.cols + 1));
    const Neighbour self{!hole, hole ? 0.0f : value, true};
    const auto mean = [&](Neighbour nw, Neighbour ne, Neighbour sw, Neighbour se) {
        return CornerMean(nw.height, ne.height, sw.height, se.height,
                          !nw.present + !ne.present + !sw.present + !se.present, scale);
    };
    if (c == m.cols && (!hole || ownAbove) &&
        (east.inSet || aboveEast.inSet ? (z = mean(a, aboveEast, self, east), true)
                                       : EdgeHeight(!hole, value, a, scale, z))) {
        if (!AddVertex(batch, column, row, kEastEdge, z)) return false;
        wrote |= kEastVertex;
    }
    if (r == m.rows && (!hole || (left.present && c > 1)) &&
        (southWest.inSet || south.inSet ? (z = mean(left, self, southWest, south), true)
                                        : EdgeHeight(!hole, value, left, scale, z))) {
        if (!AddVertex(batch, column, row, kSouthEdge, z)) return false;
        wrote |= kSouthVertex;
    }
    if (c == m.cols && r == m.rows && !hole) {
        // As the whole grid has it: an inner corner, on its east or south
        // edge, or its south-east corner.
        const bool eastInSet = east.inSet || southEast.inSet, southInSet = south.inSet || southEast.inSet;
        if (eastInSet && southInSet) z = mean(self, east, south, southEast);
        else if (southInSet) EdgeHeight(true, value, south, scale, z);
        else if (eastInSet) EdgeHeight(true, value, east, scale, z);
        else z = value * scale;
        if (!AddVertex(batch, column, row, kEastEdge | kSouthEdge, z)) return false;
        wrote |= kCornerVertex;
    }
    cell |= wrote;
    batch.sink.counts.vertices += VertexCount(wrote);
    return true;
}

// Cells `first` to `last` of the current row, all away from the region's
// east and south edges and below cells the row above holds: only their main
// vertices, as ConvertPlacedCell hands them over, in a tighter loop. Every
// cell of a full row but its last goes through here (a tile's first cell,
// beside its ring, does not).
bool ConvertInnerCells(InterpolatedWork& w, VertexBatch& batch, const RowCells& above, RowCells& current,
                       int64_t row, int64_t first, int64_t last) {
    const float scale = w.pass->geometry.heightScale;
    const int64_t westColumn = w.m.west - 1;
    const uint8_t* aboveCells = above.cells.data();
    const float* aboveHeights = above.heights.data();
    uint8_t* cells = current.cells.data();
    const float* heights = current.heights.data();
    JobCounts& counts = batch.sink.counts;
    // The cells west of column 1 are holes.
    bool leftValid = false, aboveLeftValid = false;
    float leftHeight = 0.0f, aboveLeftHeight = 0.0f;
    if (first > 1) {
        const std::size_t i = static_cast<std::size_t>(first - 2);
        leftValid = (cells[i] & kValid) != 0;
        leftHeight = leftValid ? heights[i] : 0.0f;
        aboveLeftValid = (aboveCells[i] & kValid) != 0;
        aboveLeftHeight = aboveLeftValid ? aboveHeights[i] : 0.0f;
    }
    for (int64_t c = first; c <= last; ++c) {
        const std::size_t i = static_cast<std::size_t>(c - 1);
        const bool aboveValid = (aboveCells[i] & kValid) != 0;
        const float aboveHeight = aboveValid ? aboveHeights[i] : 0.0f;
        const bool valid = (cells[i] & kValid) != 0;
        const float own = valid ? heights[i] : 0.0f;
        const int missing = !aboveValid + !aboveLeftValid + !leftValid + !valid;
        if (missing < 4) {
            const float mainZ = CornerMean(aboveLeftHeight, aboveHeight, leftHeight, own, missing, scale);
            if (!AddVertex(batch, westColumn + c, row, 0, mainZ)) return false;
            cells[i] |= kMainVertex;
            counts.vertices += 1;
            counts.quads += valid;
        }
        leftValid = valid;
        leftHeight = own;
        aboveLeftValid = aboveValid;
        aboveLeftHeight = aboveHeight;
    }
    return true;
}

// The missing cells of row r after the `extent` columns it supplied, as far
// as a valid cell of this row or the row above can touch them; further east
// every corner is a hole's and nothing is written.
bool ConvertMissingCells(InterpolatedWork& w, VertexBatch& batch, const RowCells& above, RowCells& current,
                         int64_t r) {
    const int64_t reach = std::min(w.m.cols, std::max(current.extent, above.extent) + 1);
    for (int64_t c = current.extent + 1; c <= reach; ++c) {
        AddCell(current, 0.0f);
        if (!ConvertPlacedCell(w, batch, above, current, r, c)) return false;
    }
    return true;
}

void StartRow(RowCells& row) {
    row.width = 0;
    row.extent = 0;
    row.west = row.east = RingCell{};
    row.eastColumn = 0;
}

// The heights and validity of region row r's cells from the text of its
// line; returns the no-data values among them.
int64_t ReadRowValues(const InterpolatedWork& w, std::string_view line, RowCells& row, int64_t r) {
    const GridHeader header = w.pass->request.header;
    StartRow(row);
    PlaceRingCells(w, row, r);
    // Room for the columns the header promises inside the region first (a
    // region may reach far beyond the grid), grown only for a longer line.
    const int64_t promised = std::clamp<int64_t>(int64_t{header.ncols} - w.m.west + 1, 0, w.m.cols);
    MakeRowRoom(row, static_cast<std::size_t>(promised));
    float* heights = row.heights.data();
    uint8_t* cells = row.cells.data();
    int64_t room = static_cast<int64_t>(row.cells.size());
    int64_t width = 0, nodata = 0;
    // Kept apart from the region: the cell bytes written by the loop may
    // alias anything, which would have it read them anew every cell.
    const int64_t west = w.m.west, last = w.m.west + w.m.cols - 1;
    const int64_t supplied = ForEachRowValue(line, west, last, [&](int64_t, float value) {
        if (width == room) {
            MakeRowRoom(row, static_cast<std::size_t>(room) + 1);
            heights = row.heights.data();
            cells = row.cells.data();
            room = static_cast<int64_t>(row.cells.size());
        }
        heights[width] = value;
        // Interpolated compares no-data exactly (Floating planes truncates).
        const bool hole = IsInterpolatedNodata(value, header);
        cells[width] = hole ? 0 : kValid;
        nodata += hole;
        width += 1;
        return true;
    });
    row.extent = std::max<int64_t>(supplied - west + 1, 0);
    row.width = width;
    return nodata;
}

// Region row r from the text of its line: its values are read first, then
// converted up to the region's east edge, then the holes the line leaves;
// its vertices are all handed over. False when the job stops.
bool ConvertCornerRow(InterpolatedWork& w, VertexBatch& batch, const RowCells& above, RowCells& current, int64_t r,
                      std::string_view line) {
    const CornerRegion& m = w.m;
    const int64_t fileRow = r + m.top - 1;
    batch.sink.counts.nodata += ReadRowValues(w, line, current, r);
    // A tile's first row lies below the ring's row, whose cells are not its own.
    const RowCells& top = r == 1 && w.ring != nullptr ? w.northRow : above;
    const int64_t inner = r < m.rows && !top.ring ? std::min({current.extent, top.width, m.cols - 1}) : 0;
    int64_t first = 1;
    if (w.ring != nullptr && inner >= 1) {
        if (!ConvertPlacedCell(w, batch, top, current, r, 1)) return false;
        first = 2;
    }
    if (!ConvertInnerCells(w, batch, top, current, fileRow, first, inner)) return false;
    for (int64_t c = inner + 1; c <= current.extent; ++c) {
        if (!ConvertPlacedCell(w, batch, top, current, r, c)) return false;
    }
    batch.sink.counts.missing +=
        PromisedCells(w.pass->header, w.pass->region, fileRow, fileRow, current.extent + m.west);
    return ConvertMissingCells(w, batch, top, current, r) && FlushVertices(batch);
}

void AppendStoredRow(std::vector<char>& rows, const RowCells& row) {
    const RowWidth width = row.width;
    const char* header = reinterpret_cast<const char*>(&width);
    rows.insert(rows.end(), header, header + sizeof width);
    rows.insert(rows.end(), row.cells.begin(), row.cells.begin() + width);
}

bool ReadCornerRowBlock(void* context, WorkItem& item) {
    InterpolatedWork& w = *static_cast<InterpolatedWork*>(context);
    if (ReadRowBlock(w.reader, item)) {
        item.lastItem = false;
        return true;
    }
    // The data ended before the region's last row: one more item, with the
    // last rows as the rows above, for the first missing row's vertices.
    const CornerRegion& m = w.m;
    const int64_t lastRow = m.top + m.rows - 1;
    const int64_t rowsRead = w.reader.rowsRead;
    if (w.reader.lastLines.empty() || w.reader.input->failed || rowsRead >= lastRow || rowsRead < m.top) return false;
    item.text.clear();
    for (const std::vector<char>& line : w.reader.lastLines) {
        item.text.insert(item.text.end(), line.begin(), line.end());
        item.text.push_back('\n');
    }
    item.contextRows = static_cast<int>(w.reader.lastLines.size());
    item.lookahead = false;
    item.firstRow = rowsRead + 1;
    item.rows = 0;
    item.lastItem = true;
    w.reader.lastLines.clear();
    return true;
}

// The rows of a block: region rows are converted and their cell bytes
// stored, rows before the region only counted.
void ConvertCornerRowsWithNormals(InterpolatedWork& w, const WorkItem& item, PipelineSink& sink);

void ConvertCornerRows(void* context, const WorkItem& item, PipelineSink& sink) {
    InterpolatedWork& w = *static_cast<InterpolatedWork*>(context);
    if (w.pass->geometry.normals) return ConvertCornerRowsWithNormals(w, item, sink);
    const CornerRegion& m = w.m;
    RowCells rowA, rowB;
    RowCells* above = &rowA;
    RowCells* current = &rowB;
    std::vector<char> stored;
    VertexBatch batch(*w.pass->writer, sink);
    const char* p = item.text.data();
    const char* end = p + item.text.size();
    if (item.contextRows > 0) {
        const std::string_view line = NextGridLine(p, end);
        if (item.firstRow - 1 >= m.top) ReadRowValues(w, line, *above, item.firstRow - m.top);
    }
    if (item.lastItem) {
        // The first region row after the data ended: only its cells below or
        // beside the last row's values can share a corner with a valid cell.
        const int64_t r = item.firstRow - m.top + 1;
        if (r < 2 || r > m.rows || above->extent == 0) return;
        StartRow(*current);
        PlaceRingCells(w, *current, r);
        if (!ConvertMissingCells(w, batch, *above, *current, r) || !FlushVertices(batch)) return;
        AppendStoredRow(stored, *current);
        AppendScratchBytes(sink, stored.data(), stored.size());
        return;
    }
    const bool go = ConvertBlockRows(*w.pass, item, p, sink, [&](int64_t fileRow, std::string_view line) {
        const int64_t r = fileRow - m.top + 1;
        if (r == 1) StartRow(*above);
        if (!ConvertCornerRow(w, batch, *above, *current, r, line)) return false;
        AppendStoredRow(stored, *current);
        std::swap(above, current);
        return true;
    });
    if (!go) return;
    w.memory->Note(static_cast<int64_t>(stored.capacity()));
    AppendScratchBytes(sink, stored.data(), stored.size());
    w.memory->Note(-static_cast<int64_t>(stored.capacity()));
}

// ---- Vertex normals ----
//
// A vertex's normal is the sum of the normals of the quads that meet at it
// (the valid cells around its corner: across a hole's edge only the quads
// that exist), each the cross product of its diagonals (twice its area,
// facing up), made unit length. A corner's quads reach one corner row up and
// one down, so with normals a block starts with two rows before it and ends
// with the row after it: the row before its first is converted quietly for
// the corner row above, the row after its last for the one below. Each row's
// vertices are gathered as the plain path above hands them over, and handed
// on with their normals once the next row's corners are known: the same
// vertices in the same order, the same cell bytes.

// A writer that only gathers the vertices handed to it (one a worker).
class GatheringWriter final : public MeshWriter {
public:
    std::vector<MeshVertex>* target = nullptr;
    void WriteStartPart(OutputFile&) override {}
    void WriteMiddlePart(OutputFile&, const JobCounts&) override {}
    void WriteEndPart(OutputFile&, const JobCounts&) override {}
    bool WriteVertices(PipelineSink&, const MeshVertex* vertices, std::size_t count) const override {
        target->insert(target->end(), vertices, vertices + count);
        return true;
    }
    bool WriteFaces(PipelineSink&, const int64_t*, std::size_t, int) const override { return true; }
    int64_t TableBytes() const override { return 0; }
};

// A row converted quietly: its cells, its vertices, what it counted, and the
// heights of its corner row (and, on the region's last row, of the south
// edge's corners) by corner column from 1.
struct GatheredRow {
    RowCells cells;
    std::vector<MeshVertex> vertices;
    JobCounts counts;
    std::vector<float> corners, south;
    int64_t r = 0;  // region row; 0 or less: outside the region, no cells
};

// Converts region row r (0 or less: none) with `convert(batch)`, gathering
// what it hands over and counts.
template <typename Convert>
bool GatherRow(const CornerRegion& m, GatheringWriter& gather, PipelineSink& sink, GatheredRow& row, int64_t r,
               Convert convert) {
    row.vertices.clear();
    row.r = r;
    gather.target = &row.vertices;
    const JobCounts kept = sink.counts;
    sink.counts = JobCounts{};
    VertexBatch batch(gather, sink);
    bool go = true;
    if (r >= 1) go = convert(batch) && FlushVertices(batch);
    else StartRow(row.cells);
    row.counts = sink.counts;
    sink.counts = kept;
    const std::size_t columns = static_cast<std::size_t>(m.cols + 2);
    row.corners.assign(columns, 0.0f);
    row.south.assign(columns, 0.0f);
    for (const MeshVertex& v : row.vertices) {
        const int64_t c = v.column - m.west + 1 + ((v.edges & kEastEdge) != 0);
        ((v.edges & kSouthEdge) ? row.south : row.corners)[static_cast<std::size_t>(c)] = v.z;
    }
    return go;
}

// Adds a quad's normal from its corners' heights: the cross product of its
// diagonals, twice its area, facing up.
inline void AddQuadNormal(double n[3], double dx, double dy, double nw, double ne, double sw, double se) {
    n[0] -= dy * ((ne + se) - (nw + sw));
    n[1] -= dx * ((nw + ne) - (sw + se));
    n[2] += 2.0 * dx * dy;
}

// The four quads' normals around corner i of the corner row `middle`, summed
// in single precision, made unit length.
inline void FourQuadNormal(const float* top, const float* middle, const float* bottom, std::size_t i, float fdx,
                           float fdy, float normal[3]) {
    const float n[3] = {-fdy * ((top[i + 1] - top[i - 1]) + 2.0f * (middle[i + 1] - middle[i - 1]) +
                                (bottom[i + 1] - bottom[i - 1])),
                        -fdx * ((top[i - 1] + 2.0f * top[i] + top[i + 1]) -
                                (bottom[i - 1] + 2.0f * bottom[i] + bottom[i + 1])),
                        8.0f * fdx * fdy};
    const float scale = 1.0f / std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    for (int k = 0; k < 3; ++k) normal[k] = n[k] * scale;
}

// Adds the normals of the quads of the valid cells c - 1 and c (from 1) of
// a row whose north and south corners have these heights.
void AddCellQuads(double n[3], double dx, double dy, const RowCells& cells, const std::vector<float>& north,
                  const std::vector<float>& south, int64_t c) {
    for (int64_t q = c - 1; q <= c; ++q) {
        if (q < 1 || q > cells.width || !CellOf(cells, q).present) continue;  // the region's own quads
        const std::size_t i = static_cast<std::size_t>(q);
        AddQuadNormal(n, dx, dy, north[i], north[i + 1], south[i], south[i + 1]);
    }
}

// A tile's vertex on its edge at corner (c, k): the whole set's normal. Its
// cells and corners are the tile's own as gathered (rows `above`, `row` and
// `below`) or its rings'; a corner on the edge that none of the tile's own
// valid cells touches was not written here and takes its height from the
// rings' cells alone, as do the corners beyond the edge.
void TileEdgeNormal(const InterpolatedWork& w, const GatheredRow& above, const GatheredRow& row,
                    const GatheredRow& below, int64_t c, int64_t k, double dx, double dy, float normal[3]) {
    const CornerRegion& m = w.m;
    const TileRing& ring = *w.ring;
    const auto own = [&](int64_t x, int64_t y) { return x >= 1 && x <= m.cols && y >= 1 && y <= m.rows; };
    const auto gathered = [&](int64_t y) -> const GatheredRow* {
        if (y == row.r) return &row;
        if (y == row.r - 1 && above.r == y) return &above;
        if (y == row.r + 1 && below.r == y) return &below;
        return nullptr;  // not converted: holes
    };
    // A cell of the tile's (rows k - 1 and k) or of its rings.
    const auto cell = [&](int64_t x, int64_t y) -> Neighbour {
        if (!own(x, y)) return RingNeighbour(ring.At(x, y));
        const GatheredRow* g = gathered(y);
        return {g != nullptr && CellOf(g->cells, x).present, g != nullptr ? CellOf(g->cells, x).height : 0.0f, true};
    };
    const auto height = [&](int64_t x, int64_t j) {
        if (x >= 1 && x <= m.cols + 1 && j >= 1 && j <= m.rows + 1) {
            const bool south = j == m.rows + 1, east = x == m.cols + 1;
            const GatheredRow* g = gathered(south ? m.rows : j);
            const int64_t q = east ? m.cols : x;
            const uint8_t wrote = south ? (east ? kCornerVertex : kSouthVertex) : (east ? kEastVertex : kMainVertex);
            if (g != nullptr && q <= g->cells.width && (g->cells.cells[static_cast<std::size_t>(q - 1)] & wrote))
                return (south ? g->south : g->corners)[static_cast<std::size_t>(x)];
        }
        Neighbour around[4];
        int missing = 0;
        for (int i = 0; i < 4; ++i) {
            const int64_t cx = x - 1 + (i & 1), cy = j - 1 + (i >> 1);
            around[i] = own(cx, cy) ? Neighbour{false, 0.0f} : RingNeighbour(ring.At(cx, cy));
            missing += !around[i].present;
        }
        if (missing == 4) return 0.0f;  // no cell's: no valid quad has it
        return CornerMean(around[0].height, around[1].height, around[2].height, around[3].height, missing,
                          w.pass->geometry.heightScale);
    };
    float z[3][3];
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i) z[j][i] = height(c - 1 + i, k - 1 + j);
    bool valid[4];
    for (int i = 0; i < 4; ++i) valid[i] = cell(c - 1 + (i & 1), k - 1 + (i >> 1)).present;
    CornerNormal(z, valid, dx, dy, normal);
}

// Hands row `row` over with its normals: the row above it is `above`, the
// one below `below` (unused on the region's last row, whose south corners
// it holds). False when the job stops.
bool HandOverRow(const InterpolatedWork& w, PipelineSink& sink, const GatheredRow& above, GatheredRow& row,
                 const GatheredRow& below, std::vector<char>& stored) {
    const double dx = ColumnStep(w.pass->geometry), dy = RowStep(w.pass->geometry);
    const bool lastRow = row.r == w.m.rows;
    const std::vector<float>& next = lastRow ? row.south : below.corners;
    const float* top = above.corners.data();
    const float* middle = row.corners.data();
    const float* bottom = next.data();
    const float fdx = static_cast<float>(dx), fdy = static_cast<float>(dy);
    for (MeshVertex& v : row.vertices) {
        const int64_t c = v.column - w.m.west + 1 + ((v.edges & kEastEdge) != 0);
        const int64_t k = (v.edges & kSouthEdge) ? w.m.rows + 1 : row.r;
        if (w.ring != nullptr && (c == 1 || c == w.m.cols + 1 || k == 1 || k == w.m.rows + 1)) {
            TileEdgeNormal(w, above, row, below, c, k, dx, dy, v.normal);
            continue;
        }
        // A corner with four valid cells, most of them: the four quads'
        // normals summed, in single precision.
        const std::size_t i = static_cast<std::size_t>(c);
        if (v.edges == 0 && c >= 2 && c <= above.cells.width && c <= row.cells.width &&
            (above.cells.cells[i - 2] & above.cells.cells[i - 1] & row.cells.cells[i - 2] & row.cells.cells[i - 1] &
             kValid)) {
            FourQuadNormal(top, middle, bottom, i, fdx, fdy, v.normal);
            continue;
        }
        double n[3] = {0.0, 0.0, 0.0};
        if (v.edges & kSouthEdge) {
            AddCellQuads(n, dx, dy, row.cells, row.corners, row.south, c);
        } else {
            AddCellQuads(n, dx, dy, above.cells, above.corners, row.corners, c);
            AddCellQuads(n, dx, dy, row.cells, row.corners, next, c);
        }
        SetUnitNormal(n, v.normal);
    }
    if (!row.vertices.empty() && !w.pass->writer->WriteVertices(sink, row.vertices.data(), row.vertices.size()))
        return false;
    sink.counts += row.counts;
    AppendStoredRow(stored, row.cells);
    return true;
}

void ConvertCornerRowsWithNormals(InterpolatedWork& w, const WorkItem& item, PipelineSink& sink) {
    const CornerRegion& m = w.m;
    GatheringWriter gather;
    GatheredRow rows[3];
    GatheredRow* above = &rows[0];
    GatheredRow* current = &rows[1];
    GatheredRow* below = &rows[2];
    bool currentIsOurs = false;  // `current` is one of the item's rows, not yet handed over
    std::vector<char> stored;
    const char* p = item.text.data();
    const char* end = p + item.text.size();
    const auto next = [&]() {
        GatheredRow* oldest = above;
        above = current;
        current = below;
        below = oldest;
    };
    // The context rows: the oldest gives the next one only its cells.
    int64_t fileRow = item.firstRow - item.contextRows;
    for (int k = 0; k < item.contextRows; ++k, ++fileRow) {
        const std::string_view line = NextGridLine(p, end);
        const int64_t r = fileRow - m.top + 1;
        next();
        if (k + 1 < item.contextRows) {
            StartRow(current->cells);
            current->r = r;
            if (r >= 1) ReadRowValues(w, line, current->cells, r);
            continue;
        }
        GatherRow(m, gather, sink, *current, r,
                  [&](VertexBatch& b) { return ConvertCornerRow(w, b, above->cells, current->cells, r, line); });
    }
    if (item.lastItem) {
        // The first region row after the data ended (see ConvertCornerRows).
        const int64_t r = item.firstRow - m.top + 1;
        if (r < 2 || r > m.rows || current->cells.extent == 0) return;
        next();
        GatherRow(m, gather, sink, *current, r, [&](VertexBatch& b) {
            StartRow(current->cells);
            PlaceRingCells(w, current->cells, r);
            return ConvertMissingCells(w, b, above->cells, current->cells, r);
        });
        GatherRow(m, gather, sink, *below, 0, [](VertexBatch&) { return true; });
        if (!HandOverRow(w, sink, *above, *current, *below, stored)) return;
        AppendScratchBytes(sink, stored.data(), stored.size());
        return;
    }
    const auto gatherBelow = [&](int64_t r, std::string_view line) {
        return GatherRow(m, gather, sink, *below, r,
                         [&](VertexBatch& b) { return ConvertCornerRow(w, b, current->cells, below->cells, r, line); });
    };
    const char* afterLast = p;  // behind the last row converted
    const bool go = ConvertBlockRows(*w.pass, item, p, sink, [&](int64_t row, std::string_view line) {
        const int64_t r = row - m.top + 1;
        if (r == 1) GatherRow(m, gather, sink, *current, 0, [](VertexBatch&) { return true; });
        if (!gatherBelow(r, line)) return false;
        if (currentIsOurs && !HandOverRow(w, sink, *above, *current, *below, stored)) return false;
        next();
        currentIsOurs = true;
        afterLast = line.data() + line.size();
        return true;
    });
    if (!go || !currentIsOurs) return;
    // The row after the item's last: the lookahead; none at the region's
    // end; a row of holes where the data ended early.
    if (current->r < m.rows) {
        std::string_view line;
        for (const char* q = afterLast; item.lookahead && q < end;) {
            line = NextGridLine(q, end);
            if (!IsBlankLine(line)) break;
        }
        if (!gatherBelow(current->r + 1, line)) return;
    }
    if (!HandOverRow(w, sink, *above, *current, *below, stored)) return;
    w.memory->Note(static_cast<int64_t>(stored.capacity()));
    AppendScratchBytes(sink, stored.data(), stored.size());
    w.memory->Note(-static_cast<int64_t>(stored.capacity()));
}

// ---- Face pass ----

bool ReadStoredRow(ScratchStore& scratch, std::vector<char>& row) {
    RowWidth width = 0;
    if (!ReadScratch(scratch, reinterpret_cast<char*>(&width), sizeof width) || width < 0) return false;
    row.resize(sizeof width + static_cast<std::size_t>(width));
    std::memcpy(row.data(), &width, sizeof width);
    return ReadScratch(scratch, row.data() + sizeof width, static_cast<std::size_t>(width));
}

// The vertices a stored row's cells wrote.
int64_t RowVertices(const uint8_t* cells, int64_t width) {
    int64_t count = 0;
    for (int64_t c = 0; c < width; ++c) count += VertexCount(cells[c]);
    return count;
}
int64_t VerticesOf(const std::vector<char>& row) {
    return RowVertices(reinterpret_cast<const uint8_t*>(row.data() + sizeof(RowWidth)),
                       static_cast<int64_t>(row.size() - sizeof(RowWidth)));
}

// Whole stored rows of about kFaceItemCells cells, then the row after them
// (for their south corners), with the vertices before the first.
bool ReadStoredRowsItem(void* context, WorkItem& item) {
    InterpolatedWork& w = *static_cast<InterpolatedWork*>(context);
    if (!w.havePending) w.havePending = ReadStoredRow(*w.scratch, w.pending);
    if (!w.havePending) return false;
    const std::size_t capacityBefore = item.text.capacity();
    item.text.clear();
    item.firstRow = w.nextRow;
    item.firstNumber = w.nextNumber;
    item.rows = 0;
    int64_t cells = 0;
    do {
        item.text.insert(item.text.end(), w.pending.begin(), w.pending.end());
        item.rows += 1;
        cells += static_cast<int64_t>(w.pending.size());
        w.nextNumber += VerticesOf(w.pending);
        w.nextRow += 1;
        w.havePending = ReadStoredRow(*w.scratch, w.pending);
    } while (w.havePending && cells < kFaceItemCells);
    item.lookahead = w.havePending;
    if (w.havePending) item.text.insert(item.text.end(), w.pending.begin(), w.pending.end());
    NoteCapacity(*w.memory, item.text, capacityBefore);
    return true;
}

// The vertex numbers of one stored row (from 0, in writing order: main
// vertices per column, the east-edge vertex, and on the region's last row the
// south-edge vertices and the south-east corner). Rows away from the region's
// last two have their faces numbered as they go (WriteRunningRowFaces); the
// last two get tables of them, -1 where a vertex was not written. A row that
// was not stored (no record) has none.
struct RowNumbers {
    const uint8_t* cells = nullptr;
    int64_t width = 0;
    int64_t before = 0;     // vertices written before the row's first
    bool lastRow = false;   // the region's last row
    bool hasTables = false;
    std::vector<int64_t> main;
    std::vector<int64_t> south;  // the region's last row only
    int64_t east = -1, corner = -1;
};

void MakeRowTables(RowNumbers& n) {
    n.hasTables = true;
    n.main.assign(static_cast<std::size_t>(n.width), -1);
    n.south.assign(n.lastRow ? static_cast<std::size_t>(n.width) : 0, -1);
    n.east = n.corner = -1;
    int64_t next = n.before;
    for (int64_t c = 0; c < n.width; ++c) {
        const uint8_t cell = n.cells[c];
        if (cell & kMainVertex) n.main[static_cast<std::size_t>(c)] = next++;
        if (cell & kEastVertex) n.east = next++;
        if (n.lastRow && (cell & kSouthVertex)) n.south[static_cast<std::size_t>(c)] = next++;
        if (cell & kCornerVertex) n.corner = next++;
    }
}

// Takes the stored row `record` (nullptr: not stored) after `before`
// vertices; returns the vertices up to its last.
int64_t NumberRow(const char* record, bool lastRow, int64_t before, RowNumbers& n) {
    n.width = 0;
    if (record != nullptr) std::memcpy(&n.width, record, sizeof n.width);
    n.cells = record != nullptr ? reinterpret_cast<const uint8_t*>(record + sizeof n.width) : nullptr;
    n.before = before;
    n.lastRow = lastRow;
    n.hasTables = false;
    return before + (n.cells != nullptr ? RowVertices(n.cells, n.width) : 0);
}

// Number c (from 1) of a row's table, or -1 beyond the columns it stored.
int64_t NumberAt(const std::vector<int64_t>& table, int64_t c, int64_t width) {
    return c > width ? -1 : table[static_cast<std::size_t>(c - 1)];
}

// The faces of a row whose row below is not the region's last (so neither
// row has south-edge vertices), numbered as they go, no table needed. In such
// a row a valid cell c's corners are main vertices numbered one after the
// other: below(c), below(c + 1), own(c + 1), own(c), where the last column's
// "+ 1" is its row's east-edge vertex, written right after its main vertex.
// Every cell that wrote a main vertex moves its row's numbers on by one. The
// same numbers as the tables below.
bool WriteRunningRowFaces(FaceBatch& batch, const RowNumbers& thisRow, const RowNumbers& nextRow) {
    int64_t below = nextRow.before, own = thisRow.before;
    const int64_t belowWidth = nextRow.width;
    for (int64_t c = 0; c < thisRow.width; ++c) {
        const uint8_t cell = thisRow.cells[c];
        if (cell & kValid) {
            // below(c + 1): the cell below wrote its main vertex.
            if (!AddQuad(batch, below, below + 1, own + 1, own)) return false;
            below += 1;
        } else if (c < belowWidth && (nextRow.cells[c] & kMainVertex)) {
            below += 1;
        }
        own += (cell & kMainVertex) != 0;
    }
    return true;
}

// Faces of the valid cells of stored row r, counter-clockwise seen from above.
bool WriteRowFaces(const CornerRegion& m, FaceBatch& batch, int64_t r, RowNumbers& thisRow, RowNumbers& nextRow) {
    if (r < m.rows && !nextRow.lastRow) return WriteRunningRowFaces(batch, thisRow, nextRow);
    if (!thisRow.hasTables) MakeRowTables(thisRow);
    if (!nextRow.hasTables) MakeRowTables(nextRow);
    const int64_t width = thisRow.width;
    for (int64_t c = 1; c <= width; ++c) {
        if (!(thisRow.cells[c - 1] & kValid)) continue;
        const bool lastCol = c == m.cols;
        int64_t southWest, southEast;
        if (r < m.rows) {
            southWest = NumberAt(nextRow.main, c, nextRow.width);
            southEast = lastCol ? nextRow.east : NumberAt(nextRow.main, c + 1, nextRow.width);
        } else {
            southWest = NumberAt(thisRow.south, c, width);
            southEast = lastCol ? thisRow.corner : NumberAt(thisRow.south, c + 1, width);
        }
        const int64_t northEast = lastCol ? thisRow.east : NumberAt(thisRow.main, c + 1, width);
        if (!AddQuad(batch, southWest, southEast, northEast, NumberAt(thisRow.main, c, width))) return false;
    }
    return true;
}

void WriteCornerFaces(void* context, const WorkItem& item, PipelineSink& sink) {
    const InterpolatedWork& w = *static_cast<InterpolatedWork*>(context);
    const CornerRegion& m = w.m;
    FaceBatch batch(*w.pass->writer, sink, 4);
    RowNumbers rowA, rowB;
    RowNumbers* thisRow = &rowA;
    RowNumbers* nextRow = &rowB;
    const char* record = item.text.data();
    const auto recordSize = [](const char* at) {
        RowWidth width;
        std::memcpy(&width, at, sizeof width);
        return sizeof width + static_cast<std::size_t>(width);
    };
    int64_t next = NumberRow(record, item.firstRow == m.rows, item.firstNumber, *thisRow);
    for (int64_t i = 0; i < item.rows; ++i) {
        const int64_t r = item.firstRow + i;
        record += recordSize(record);
        if (i + 1 < item.rows || item.lookahead) {
            next = NumberRow(record, r + 1 == m.rows, next, *nextRow);
        } else {
            NumberRow(nullptr, false, next, *nextRow);  // not stored: no valid cell above it
        }
        if (!WriteRowFaces(m, batch, r, *thisRow, *nextRow) || !FlushFaces(batch)) return;
        sink.progress = r;
        if (ProgressStepsAt(r, m.rows) || SegmentIsFull(sink)) EndSinkSegment(sink);
        if (SinkStopped(sink)) return;
        std::swap(thisRow, nextRow);
    }
}

// A tile's ring: the row above its first, none of whose cells is its own.
void SetUpNorthRow(InterpolatedWork& w, const TileRing& ring) {
    w.ring = &ring;
    RowCells& row = w.northRow;
    StartRow(row);
    for (int64_t c = 1; c <= w.m.cols; ++c) {
        const RingCell& cell = ring.At(c, 0);
        AddCell(row, cell.height);
        row.cells[static_cast<std::size_t>(c - 1)] = cell.state == kRingValid ? kValid : 0;
    }
    row.extent = w.m.cols;
    row.west = ring.At(0, 0);
    row.east = ring.At(w.m.cols + 1, 0);
    row.eastColumn = w.m.cols + 1;
    row.ring = true;
}

// The cell bytes of the rows read go to the job's scratch store, in row order.
void RunCornerVertexPass(MeshPass& pass) {
    InterpolatedWork w;
    w.pass = &pass;
    w.memory = &pass.memory;
    w.m = CornerRegionOf(pass.request.region);
    if (w.m.cols == 0) return;
    if (UsesTileRing(pass.request)) SetUpNorthRow(w, *pass.request.tileRing);
    const bool normals = pass.geometry.normals;
    w.reader = RegionRowReader(pass, w.m.top + w.m.rows - 1, normals ? 2 : 1, normals);
    const PipelineWork work{&w, ReadCornerRowBlock, ConvertCornerRows};
    RunRowPass(pass, work, w.reader, pass.writer->TableBytes());
}

// Reads the cell bytes back, numbering each block of rows from the vertices
// before it. The rows after the stored ones have no faces.
void RunCornerFacePass(MeshPass& pass) {
    InterpolatedWork w;
    w.pass = &pass;
    w.memory = &pass.memory;
    w.m = CornerRegionOf(pass.request.region);
    w.scratch = &pass.scratch;
    if (!RewindScratch(pass.scratch)) return;
    const PipelineWork work{&w, ReadStoredRowsItem, WriteCornerFaces};
    RunFacePass(pass, work, w.m.rows);
}

}  // namespace

void CornerNormal(const float z[3][3], const bool valid[4], double dx, double dy, float normal[3]) {
    if (valid[0] && valid[1] && valid[2] && valid[3]) {
        FourQuadNormal(z[0], z[1], z[2], 1, static_cast<float>(dx), static_cast<float>(dy), normal);
        return;
    }
    double n[3] = {0.0, 0.0, 0.0};
    for (int q = 0; q < 4; ++q) {
        const int i = q & 1, j = q >> 1;
        if (valid[q]) AddQuadNormal(n, dx, dy, z[j][i], z[j][i + 1], z[j + 1][i], z[j + 1][i + 1]);
    }
    SetUnitNormal(n, normal);
}

const MeshMethodPasses kInterpolatedPasses = {L"__interpolated", FaceKind::Quads, RunCornerVertexPass,
                                              RunCornerFacePass};

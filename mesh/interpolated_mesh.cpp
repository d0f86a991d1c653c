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
#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "grid/float_scan.h"
#include "mesh/mesh_passes.h"
#include "mesh/number_texts.h"

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

// A cell's vertex lines, with room for CopyText's fixed copies.
constexpr std::size_t kCellBytes = 4 * kMaxVertexLineBytes + kCopySlack;
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

struct InterpolatedWork {
    const MeshPass* pass = nullptr;
    JobMemory* memory = nullptr;  // the job's, for the stored rows and items
    CornerRegion m;
    ScratchStore* scratch = nullptr;  // face pass: the stored rows, read under the reader lock
    RowBlockReader reader;
    NumberTexts westTexts;  // "v xWest " of the cached columns from m.west
    int64_t cachedColumns = 0;
    // Face pass reader, under the reader lock.
    std::vector<char> pending;  // the next stored row, not yet handed out
    bool havePending = false;
    int64_t nextRow = 1;        // its region row number
    int64_t nextNumber = 0;     // vertices before it
};

// One region row while it is converted: heights and cell bytes per column.
// The arrays only grow, so a block's rows reuse them.
struct RowCells {
    std::vector<float> heights;
    std::vector<uint8_t> cells;
    int64_t width = 0;   // cells converted
    int64_t extent = 0;  // region columns the row supplied
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
};

Neighbour CellOf(const RowCells& row, int64_t c) {
    const bool valid = c >= 1 && c <= row.width && (row.cells[c - 1] & kValid) != 0;
    return {valid, valid ? row.heights[c - 1] : 0.0f};
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

// The texts of the current row's north and south edges.
struct RowTexts {
    LocalText north, south;
};

void SetRowTexts(const MeshPass& pass, int64_t fileRow, RowTexts& t) {
    SetRowText(t.north, pass.geometry, fileRow, false);
    SetRowText(t.south, pass.geometry, fileRow, true);
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
bool ConvertPlacedCell(InterpolatedWork& w, PipelineSink& sink, const RowCells& above, RowCells& current,
                       const RowTexts& y, int64_t r, int64_t c) {
    const MeshPass& pass = *w.pass;
    const CornerRegion& m = w.m;
    const MeshGeometry& g = pass.geometry;
    const float scale = g.heightScale;
    const Neighbour a = CellOf(above, c);
    const Neighbour al = CellOf(above, c - 1);
    const Neighbour left = CellOf(current, c - 1);
    uint8_t& cell = current.cells[static_cast<std::size_t>(c - 1)];
    const float value = current.heights[static_cast<std::size_t>(c - 1)];
    int missing = !a.present + !al.present + !left.present;

    const bool hole = (cell & kValid) == 0;
    if (hole && missing == 3) return true;

    LocalText west;
    const std::string_view westText = c <= w.cachedColumns
                                          ? NumberTextAt(w.westTexts, static_cast<std::size_t>(c - 1))
                                          : ColumnText(west, g, c + m.west - 1, false);

    float own = value;
    if (hole) {
        missing += 1;
        own = 0.0f;
    }
    const float mainZ = CornerMean(al.height, a.height, left.height, own, missing, scale);

    char* p = ReserveSinkBytes(sink, kCellBytes);
    if (p == nullptr) return false;
    p = PutVertexLine(p, westText, y.north, mainZ, g);
    uint8_t wrote = kMainVertex;
    if (!hole) sink.counts.quads += 1;
    float z;
    LocalText eastSpace;
    const std::string_view east = c == m.cols ? ColumnText(eastSpace, g, c + m.west - 1, true) : std::string_view();
    if (c == m.cols && EdgeHeight(!hole, value, a, scale, z)) {
        p = PutVertexLine(p, east, y.north, z, g);
        wrote |= kEastVertex;
    }
    if (r == m.rows && EdgeHeight(!hole, value, left, scale, z)) {
        p = PutVertexLine(p, westText, y.south, z, g);
        wrote |= kSouthVertex;
    }
    if (c == m.cols && r == m.rows && !hole) {
        p = PutVertexLine(p, east, y.south, value * scale, g);
        wrote |= kCornerVertex;
    }
    CommitSinkBytes(sink, p);
    cell |= wrote;
    sink.counts.vertices += VertexCount(wrote);
    if (SegmentIsFull(sink)) EndSinkSegment(sink);
    return true;
}

// Cells 1 to `last` of the current row, all away from the region's east and
// south edges and below cells the row above holds, with cached x texts: only
// their main vertices, as ConvertPlacedCell writes them, in a tighter loop.
// Every cell of a full row but its last goes through here. `Classic`: the
// classic geometry with z up, the default, whose lines are put together here
// without asking the geometry for each.
template <bool Classic>
bool ConvertInnerCellsOf(InterpolatedWork& w, PipelineSink& sink, const RowCells& above, RowCells& current,
                         const RowTexts& y, int64_t last) {
    const MeshGeometry& g = w.pass->geometry;
    const float scale = g.heightScale;
    const uint8_t* aboveCells = above.cells.data();
    const float* aboveHeights = above.heights.data();
    uint8_t* cells = current.cells.data();
    const float* heights = current.heights.data();
    // The cells west of column 1 are holes.
    bool leftValid = false, aboveLeftValid = false;
    float leftHeight = 0.0f, aboveLeftHeight = 0.0f;
    for (int64_t c = 1; c <= last; ++c) {
        const std::size_t i = static_cast<std::size_t>(c - 1);
        const bool aboveValid = (aboveCells[i] & kValid) != 0;
        const float aboveHeight = aboveValid ? aboveHeights[i] : 0.0f;
        const bool valid = (cells[i] & kValid) != 0;
        const float own = valid ? heights[i] : 0.0f;
        const int missing = !aboveValid + !aboveLeftValid + !leftValid + !valid;
        if (missing < 4) {
            const float mainZ = CornerMean(aboveLeftHeight, aboveHeight, leftHeight, own, missing, scale);
            char* p = ReserveSinkBytes(sink, kCellBytes);
            if (p == nullptr) return false;
            if (Classic) {
                p = CopyText(CopyText(p, NumberTextAt(w.westTexts, i)), y.north.bytes, y.north.size);
                p = FormatFixed2(p, mainZ);
                p[0] = '\r';
                p[1] = '\n';
                p += 2;
            } else {
                p = PutVertexLine(p, NumberTextAt(w.westTexts, i), y.north, mainZ, g);
            }
            CommitSinkBytes(sink, p);
            cells[i] |= kMainVertex;
            sink.counts.vertices += 1;
            sink.counts.quads += valid;
            if (SegmentIsFull(sink)) EndSinkSegment(sink);
        }
        leftValid = valid;
        leftHeight = own;
        aboveLeftValid = aboveValid;
        aboveLeftHeight = aboveHeight;
    }
    return true;
}

bool ConvertInnerCells(InterpolatedWork& w, PipelineSink& sink, const RowCells& above, RowCells& current,
                       const RowTexts& y, int64_t last) {
    const MeshGeometry& g = w.pass->geometry;
    if (!g.trueScale && !g.yUp) return ConvertInnerCellsOf<true>(w, sink, above, current, y, last);
    return ConvertInnerCellsOf<false>(w, sink, above, current, y, last);
}

// The missing cells of row r after the `extent` columns it supplied, as far
// as a valid cell of this row or the row above can touch them; further east
// every corner is a hole's and nothing is written.
bool ConvertMissingCells(InterpolatedWork& w, PipelineSink& sink, const RowCells& above, RowCells& current,
                         const RowTexts& y, int64_t r) {
    const int64_t reach = std::min(w.m.cols, std::max(current.extent, above.extent) + 1);
    for (int64_t c = current.extent + 1; c <= reach; ++c) {
        AddCell(current, 0.0f);
        if (!ConvertPlacedCell(w, sink, above, current, y, r, c)) return false;
    }
    return true;
}

// Hands take(value) the values of the region's columns in `line`, up to a
// token that is not a number or the region's east edge. Returns the columns
// supplied.
template <typename Take>
int64_t ForEachRegionValue(const CornerRegion& m, std::string_view line, Take take) {
    const char* p = line.data();
    const char* end = p + line.size();
    // Kept apart from the region: the cell bytes written through `take` may
    // alias anything, which would have the loop read them anew every cell.
    const int64_t west = m.west, last = m.west + m.cols - 1;
    int64_t j = 1;
    for (; j < west; ++j) {
        const FloatScan scan = ScanGridCell(p, end);
        if (!scan.ok) return 0;
        p = scan.next;
    }
    for (; j <= last; ++j) {
        const FloatScan scan = ScanGridCell(p, end);
        if (!scan.ok) break;
        p = scan.next;
        take(scan.value);
    }
    return j - west;
}

void StartRow(RowCells& row) {
    row.width = 0;
    row.extent = 0;
}

// The heights and validity of a row's region cells from the text of its
// line; returns the no-data values among them.
int64_t ReadRowValues(const InterpolatedWork& w, std::string_view line, RowCells& row) {
    const GridHeader header = w.pass->request.header;
    StartRow(row);
    // Room for the columns the header promises inside the region first (a
    // region may reach far beyond the grid), grown only for a longer line.
    const int64_t promised = std::clamp<int64_t>(int64_t{header.ncols} - w.m.west + 1, 0, w.m.cols);
    MakeRowRoom(row, static_cast<std::size_t>(promised));
    float* heights = row.heights.data();
    uint8_t* cells = row.cells.data();
    int64_t room = static_cast<int64_t>(row.cells.size());
    int64_t width = 0, nodata = 0;
    row.extent = ForEachRegionValue(w.m, line, [&](float value) {
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
    });
    row.width = width;
    return nodata;
}

// Region row r from the text of its line: its values are read first, then
// converted up to the region's east edge, then the holes the line leaves.
// False when the job stops.
bool ConvertCornerRow(InterpolatedWork& w, PipelineSink& sink, const RowCells& above, RowCells& current, int64_t r,
                      std::string_view line) {
    const CornerRegion& m = w.m;
    const int64_t fileRow = r + m.top - 1;
    RowTexts y;
    SetRowTexts(*w.pass, fileRow, y);
    sink.counts.nodata += ReadRowValues(w, line, current);
    const int64_t inner = r < m.rows ? std::min({current.extent, above.width, m.cols - 1, w.cachedColumns}) : 0;
    if (!ConvertInnerCells(w, sink, above, current, y, inner)) return false;
    for (int64_t c = inner + 1; c <= current.extent; ++c) {
        if (!ConvertPlacedCell(w, sink, above, current, y, r, c)) return false;
    }
    sink.counts.missing += PromisedCells(w.pass->header, w.pass->region, fileRow, fileRow, current.extent + m.west);
    return ConvertMissingCells(w, sink, above, current, y, r);
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
    // last row as the row above, for the first missing row's vertices.
    const CornerRegion& m = w.m;
    const int64_t lastRow = m.top + m.rows - 1;
    const int64_t rowsRead = w.reader.rowsRead;
    if (w.reader.lastLine.empty() || w.reader.input->failed || rowsRead >= lastRow || rowsRead < m.top) return false;
    item.text.assign(w.reader.lastLine.begin(), w.reader.lastLine.end());
    item.text.push_back('\n');
    item.contextRow = true;
    item.firstRow = rowsRead + 1;
    item.rows = 0;
    item.lastItem = true;
    w.reader.lastLine.clear();
    return true;
}

// The rows of a block: region rows are converted and their cell bytes
// stored, rows before the region only counted.
void ConvertCornerRows(void* context, const WorkItem& item, PipelineSink& sink) {
    InterpolatedWork& w = *static_cast<InterpolatedWork*>(context);
    const CornerRegion& m = w.m;
    RowCells rowA, rowB;
    RowCells* above = &rowA;
    RowCells* current = &rowB;
    std::vector<char> stored;
    const char* p = item.text.data();
    const char* end = p + item.text.size();
    if (item.contextRow) {
        const std::string_view line = NextGridLine(p, end);
        if (item.firstRow - 1 >= m.top) ReadRowValues(w, line, *above);
    }
    if (item.lastItem) {
        // The first region row after the data ended: only its cells below or
        // beside the last row's values can share a corner with a valid cell.
        const int64_t r = item.firstRow - m.top + 1;
        if (r < 2 || r > m.rows || above->extent == 0) return;
        RowTexts y;
        SetRowTexts(*w.pass, r + m.top - 1, y);
        StartRow(*current);
        if (!ConvertMissingCells(w, sink, *above, *current, y, r)) return;
        AppendStoredRow(stored, *current);
        AppendScratchBytes(sink, stored.data(), stored.size());
        return;
    }
    const bool go = ConvertBlockRows(*w.pass, item, p, sink, [&](int64_t fileRow, std::string_view line) {
        const int64_t r = fileRow - m.top + 1;
        if (r == 1) StartRow(*above);
        if (!ConvertCornerRow(w, sink, *above, *current, r, line)) return false;
        AppendStoredRow(stored, *current);
        std::swap(above, current);
        return true;
    });
    if (!go) return;
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
    item.contextRow = w.havePending;
    if (w.havePending) item.text.insert(item.text.end(), w.pending.begin(), w.pending.end());
    NoteCapacity(*w.memory, item.text, capacityBefore);
    return true;
}

// The vertex numbers of one stored row. Rows away from the region's last two
// have their faces written from counters (WriteRunningRowFaces); the last two
// get the numbers as texts ("N "), in writing order: main vertices per
// column, the east-edge vertex, and on the region's last row the south-edge
// vertices and the south-east corner; "0 " where a vertex was not written. A
// row that was not stored (no record) has none.
struct RowNumbers {
    const uint8_t* cells = nullptr;
    int64_t width = 0;
    int64_t before = 0;     // vertices written before the row's first
    bool lastRow = false;   // the region's last row
    bool hasTexts = false;
    NumberTexts main;
    NumberTexts south;  // the region's last row only
    NumberTexts edges;  // [0] east edge, [1] south-east corner
};

// Fills the row's texts.
void MakeRowTexts(RowNumbers& n) {
    n.main.ends.clear();
    n.south.ends.clear();
    n.edges.ends.clear();
    n.hasTexts = true;
    int64_t east = 0, corner = 0;
    VertexCounter counter;
    StartVertexCounter(counter, n.before);
    // The next vertex's number, appended to `texts`; "0 " when not written.
    const auto number = [&counter](NumberTexts& texts, bool written) {
        if (!written) return AddIndexText(texts, 0);
        CountVertex(counter);
        AddCounterText(texts, counter);
    };
    for (int64_t c = 1; c <= n.width; ++c) {
        const uint8_t cell = n.cells[c - 1];
        number(n.main, (cell & kMainVertex) != 0);
        if (cell & kEastVertex) {
            CountVertex(counter);
            east = counter.value;
        }
        if (n.lastRow) number(n.south, (cell & kSouthVertex) != 0);
        if (cell & kCornerVertex) {
            CountVertex(counter);
            corner = counter.value;
        }
    }
    AddIndexText(n.edges, east);
    AddIndexText(n.edges, corner);
}

// Takes the stored row `record` (nullptr: not stored) after `before`
// vertices; returns the vertices up to its last.
int64_t NumberRow(const char* record, bool lastRow, int64_t before, RowNumbers& n) {
    n.width = 0;
    if (record != nullptr) std::memcpy(&n.width, record, sizeof n.width);
    n.cells = record != nullptr ? reinterpret_cast<const uint8_t*>(record + sizeof n.width) : nullptr;
    n.before = before;
    n.lastRow = lastRow;
    n.hasTexts = false;
    return before + (n.cells != nullptr ? RowVertices(n.cells, n.width) : 0);
}

// Number c of a row's texts, or "0 " beyond the columns it stored.
char* PutIndex(char* p, const NumberTexts& texts, int64_t c, int64_t width) {
    if (c > width) {
        *p++ = '0';
        *p++ = ' ';
        return p;
    }
    return CopyNumberText(p, texts, static_cast<std::size_t>(c - 1));
}

// The faces of a row whose row below is not the region's last (so neither
// row has south-edge vertices), counted up as text, no table needed. In such
// a row a valid cell c's corners are main vertices numbered one after the
// other: below(c), below(c + 1), own(c + 1), own(c), where the last column's
// "+ 1" is its row's east-edge vertex, written right after its main vertex.
// Every cell that wrote a main vertex moves its row's numbers on by one. The
// same bytes as the general path below.
bool WriteRunningRowFaces(PipelineSink& sink, const RowNumbers& thisRow, const RowNumbers& nextRow) {
    VertexCounter below, own, ownEast;  // below(c), own(c), own(c) + 1
    StartVertexCounter(below, nextRow.before + 1);
    StartVertexCounter(own, thisRow.before + 1);
    StartVertexCounter(ownEast, thisRow.before + 2);
    const int64_t belowWidth = nextRow.width;
    for (int64_t c = 0; c < thisRow.width; ++c) {
        const uint8_t cell = thisRow.cells[c];
        bool belowCounted = false;
        if (cell & kValid) {
            char* p = ReserveSinkBytes(sink, kCounterFaceLineBytes);
            if (p == nullptr) return false;
            *p++ = 'f';
            *p++ = ' ';
            p = PutCounter(p, below);
            CountVertex(below);  // below(c + 1): the cell below wrote its main vertex
            belowCounted = true;
            p = PutCounter(p, below);
            p = PutCounter(p, ownEast);
            p = PutCounter(p, own);
            p[-1] = '\r';
            *p++ = '\n';
            CommitSinkBytes(sink, p);
            if (SegmentIsFull(sink)) EndSinkSegment(sink);
        }
        if (!belowCounted && c < belowWidth && (nextRow.cells[c] & kMainVertex)) CountVertex(below);
        if (cell & kMainVertex) {  // own and ownEast move on together
            CountVertex(own);
            CountVertex(ownEast);
        }
    }
    return true;
}

// Faces of the valid cells of stored row r, counter-clockwise seen from above.
bool WriteRowFaces(const CornerRegion& m, PipelineSink& sink, int64_t r, RowNumbers& thisRow,
                   RowNumbers& nextRow) {
    if (r < m.rows && !nextRow.lastRow) return WriteRunningRowFaces(sink, thisRow, nextRow);
    if (!thisRow.hasTexts) MakeRowTexts(thisRow);
    if (!nextRow.hasTexts) MakeRowTexts(nextRow);
    for (int64_t c = 1; c <= thisRow.width; ++c) {
        if (!(thisRow.cells[c - 1] & kValid)) continue;
        const bool lastCol = c == m.cols;
        char* p = ReserveSinkBytes(sink, 2 + 4 * (kMaxIndexTextBytes + kCopySlack));
        if (p == nullptr) return false;
        *p++ = 'f';
        *p++ = ' ';
        if (r < m.rows) {
            p = PutIndex(p, nextRow.main, c, nextRow.width);
            p = lastCol ? CopyNumberText(p, nextRow.edges, 0) : PutIndex(p, nextRow.main, c + 1, nextRow.width);
        } else {
            p = PutIndex(p, thisRow.south, c, thisRow.width);
            p = lastCol ? CopyNumberText(p, thisRow.edges, 1) : PutIndex(p, thisRow.south, c + 1, thisRow.width);
        }
        p = lastCol ? CopyNumberText(p, thisRow.edges, 0) : PutIndex(p, thisRow.main, c + 1, thisRow.width);
        p = PutIndex(p, thisRow.main, c, thisRow.width);
        p[-1] = '\r';
        *p++ = '\n';
        CommitSinkBytes(sink, p);
        if (SegmentIsFull(sink)) EndSinkSegment(sink);
    }
    return true;
}

void WriteCornerFaces(void* context, const WorkItem& item, PipelineSink& sink) {
    const CornerRegion& m = static_cast<InterpolatedWork*>(context)->m;
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
        if (i + 1 < item.rows || item.contextRow) {
            next = NumberRow(record, r + 1 == m.rows, next, *nextRow);
        } else {
            NumberRow(nullptr, false, next, *nextRow);  // not stored: no valid cell above it
        }
        if (!WriteRowFaces(m, sink, r, *thisRow, *nextRow)) return;
        sink.progress = r;
        if (ProgressStepsAt(r, m.rows) || SegmentIsFull(sink)) EndSinkSegment(sink);
        if (SinkStopped(sink)) return;
        std::swap(thisRow, nextRow);
    }
}

void SetWestTexts(InterpolatedWork& w) {
    const CornerRegion& m = w.m;
    const MeshPass& pass = *w.pass;
    const int64_t lastCached =
        std::min({m.cols, std::max<int64_t>(pass.request.header.ncols - m.west + 1, 1), kMaxCachedColumns});
    for (int64_t c = 1; c <= lastCached; ++c)
        AddColumnText(w.westTexts, pass.geometry, c + m.west - 1, false);
    w.cachedColumns = lastCached;
}

// The cell bytes of the rows read go to the job's scratch store, in row order.
void RunCornerVertexPass(MeshPass& pass) {
    InterpolatedWork w;
    w.pass = &pass;
    w.memory = &pass.memory;
    w.m = CornerRegionOf(pass.request.region);
    if (w.m.cols == 0) return;
    w.reader = RegionRowReader(pass, w.m.top + w.m.rows - 1, true);
    SetWestTexts(w);
    const PipelineWork work{&w, ReadCornerRowBlock, ConvertCornerRows};
    RunRowPass(pass, work, w.reader, NumberTextsBytes(w.westTexts));
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

const MeshMethodPasses kInterpolatedPasses = {L"__interpolated.obj", RunCornerVertexPass, RunCornerFacePass};

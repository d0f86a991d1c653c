// Floating planes: every valid cell of the region becomes its own flat quad
// with four private vertices. Streams one line at a time.
#include <string_view>

#include "grid/float_scan.h"
#include "mesh/mesh_passes.h"

namespace {

void WritePlane(MeshPass& pass, int64_t row, int64_t column, float value) {
    const GridHeader& header = pass.request.header;
    const float scale = pass.scale;
    const float x0 = WestEdge(column, header, scale);
    const float x1 = x0 + scale;
    const float y0 = NorthEdge(row, header, pass.scaleY);
    const float y1 = SouthEdge(y0, pass.scaleY);
    const float z = value * scale;

    char* p = ReserveObjBytes(pass.out, 4 * kMaxVertexLineBytes);
    p = PutVertexLine(p, x0, y0, z);  // north-west
    p = PutVertexLine(p, x1, y0, z);  // north-east
    p = PutVertexLine(p, x1, y1, z);  // south-east
    p = PutVertexLine(p, x0, y1, z);  // south-west
    CommitObjBytes(pass.out, p);
    pass.quadCount += 1;
    pass.vertexCount += 4;
}

enum class RowEnd { Normal, CutAtXMax, Cancelled };

// Converts the region part of one row; `columns` is the number of values read.
RowEnd ConvertRow(MeshPass& pass, int64_t row, std::string_view line, int64_t& columns) {
    const RegionWindow& region = pass.request.region;
    const char* p = line.data();
    const char* end = p + line.size();
    columns = 0;
    for (;;) {
        const FloatScan scan = ScanGridCell(p, end);
        if (!scan.ok) return RowEnd::Normal;
        p = scan.next;
        if (CancelRequested(pass)) return RowEnd::Cancelled;
        ++columns;
        if (columns > region.xMax) return RowEnd::CutAtXMax;
        if (columns < region.xMin) continue;
        if (IsFloatingNodata(scan.value, pass.request.header)) {
            pass.nodataCount += 1;
        } else {
            WritePlane(pass, row, columns, scan.value);
        }
    }
}

}  // namespace

void RunFloatingPlanesVertexPass(MeshPass& pass) {
    const RegionWindow& region = pass.request.region;
    if (RegionIsEmpty(region)) return;
    int64_t row = 0;
    std::string_view line;
    // Reading stops with the region's last row: what follows is never read.
    while (row < region.yMax && !pass.out.failed && ReadGridRow(pass.input, line)) {
        ++row;
        if (row >= region.yMin) {
            int64_t columns = 0;
            const RowEnd end = ConvertRow(pass, row, line, columns);
            if (end == RowEnd::Cancelled) return;
            if (end == RowEnd::CutAtXMax) {
                ShowRowProgress(pass, row);  // a row cut at X max is not polled after
                continue;
            }
            pass.missingCount += PromisedCells(pass.request, row, row, columns + 1);
        }
        if (CancelRequested(pass)) return;
        ShowRowProgress(pass, row);
    }
    if (!pass.out.failed) EndOfData(pass, row);
}

void RunFloatingPlanesFacePass(MeshPass& pass) {
    StartProgressPass(pass, kProgressHalf, pass.quadCount);
    for (int64_t k = 1; k <= pass.quadCount; ++k) {
        if (CancelRequested(pass)) return;
        char* p = ReserveObjBytes(pass.out, kMaxFaceLineBytes);
        CommitObjBytes(pass.out, PutFaceLine(p, 4 * k, 4 * k - 1, 4 * k - 2, 4 * k - 3));
        AdvanceProgress(pass, k);
        if ((k & 0xFFFF) == 0 && pass.out.failed) return;
    }
    AdvanceProgress(pass, pass.quadCount);
}

// Floating planes: every valid cell of the region becomes its own flat quad
// with four private vertices. The workers take blocks of whole lines; a
// plane's texts are copied together from the column's x texts (formatted once
// per job, up to kMaxCachedColumns), the row's y texts (once per row) and the
// value's height text. Memory follows neither the grid nor the region: the
// job's chunks, the work items' lines and the column texts.
#include <algorithm>
#include <string_view>

#include "grid/float_scan.h"
#include "mesh/mesh_passes.h"
#include "mesh/number_texts.h"

namespace {

// A plane's four vertex lines, with room for CopyText's fixed copies.
constexpr std::size_t kPlaneBytes = 4 * kMaxVertexLineBytes + kCopySlack;
constexpr int64_t kFacesPerItem = 32768;

struct FloatingPlanesWork {
    const MeshPass* pass = nullptr;
    RowBlockReader reader;
    // x texts of the cached columns from region.xMin: "v x0 " and "v x1 ".
    NumberTexts westTexts;
    NumberTexts eastTexts;
    int64_t cachedColumns = 0;
    int64_t nextPlane = 1;  // face pass: the next plane to hand out
    // Face pass: the planes of the vertex pass. The workers read this copy,
    // not the pass's count, which the writer keeps adding to.
    int64_t planes = 0;
};

// A vertex line of a plane from its texts; `YUp` puts the height before the
// row's text. A template, so that a plane's four lines ask nothing.
template <bool YUp>
char* PutPlaneVertexLine(char* p, std::string_view x, const LocalText& row, const LocalText& height) {
    p = CopyText(p, x);
    if (YUp) return CopyText(CopyText(p, height.bytes, height.size), row.bytes, row.size);
    return CopyText(CopyText(p, row.bytes, row.size), height.bytes, height.size);
}

// One region row: a plane for every valid value from region.xMin to
// region.xMax; the cells the row does not supply are counted missing. False
// when the job stops.
template <bool YUp>
bool ConvertPlaneRowOf(FloatingPlanesWork& w, PipelineSink& sink, int64_t row, std::string_view line) {
    const MeshPass& pass = *w.pass;
    const RegionWindow& region = pass.request.region;
    const MeshGeometry& g = pass.geometry;
    LocalText north, south;  // the row's north and south edges
    SetRowText(north, g, row, false);
    SetRowText(south, g, row, true);
    LocalText west, east, height;

    const char* p = line.data();
    const char* end = p + line.size();
    for (int64_t column = 1;; ++column) {
        const FloatScan scan = ScanGridCell(p, end);
        if (!scan.ok) {
            sink.counts.missing += PromisedCells(pass.header, pass.region, row, row, column);
            return true;
        }
        if (column > region.xMax) return true;
        p = scan.next;
        if (column < region.xMin) continue;
        if (IsFloatingNodata(scan.value, pass.request.header)) {
            sink.counts.nodata += 1;
            continue;
        }
        const int64_t i = column - region.xMin;
        const bool cached = i < w.cachedColumns;
        const std::string_view westText =
            cached ? NumberTextAt(w.westTexts, static_cast<std::size_t>(i)) : ColumnText(west, g, column, false);
        const std::string_view eastText =
            cached ? NumberTextAt(w.eastTexts, static_cast<std::size_t>(i)) : ColumnText(east, g, column, true);
        SetHeightText(height, g, scan.value * g.heightScale);

        char* q = ReserveSinkBytes(sink, kPlaneBytes);
        if (q == nullptr) return false;
        q = PutPlaneVertexLine<YUp>(q, westText, north, height);  // north-west
        q = PutPlaneVertexLine<YUp>(q, eastText, north, height);  // north-east
        q = PutPlaneVertexLine<YUp>(q, eastText, south, height);  // south-east
        q = PutPlaneVertexLine<YUp>(q, westText, south, height);  // south-west
        CommitSinkBytes(sink, q);
        sink.counts.quads += 1;
        sink.counts.vertices += 4;
        if (SegmentIsFull(sink)) {
            EndSinkSegment(sink);
            if (SinkStopped(sink)) return false;
        }
    }
}

bool ConvertPlaneRow(FloatingPlanesWork& w, PipelineSink& sink, int64_t row, std::string_view line) {
    return w.pass->geometry.yUp ? ConvertPlaneRowOf<true>(w, sink, row, line)
                                : ConvertPlaneRowOf<false>(w, sink, row, line);
}

bool ReadPlaneRowBlock(void* context, WorkItem& item) {
    return ReadRowBlock(static_cast<FloatingPlanesWork*>(context)->reader, item);
}

void ConvertPlaneRows(void* context, const WorkItem& item, PipelineSink& sink) {
    FloatingPlanesWork& w = *static_cast<FloatingPlanesWork*>(context);
    ConvertBlockRows(*w.pass, item, item.text.data(), sink,
                     [&](int64_t row, std::string_view line) { return ConvertPlaneRow(w, sink, row, line); });
}

// The next run of planes whose faces a worker writes.
bool TakePlaneFaces(void* context, WorkItem& item) {
    FloatingPlanesWork& w = *static_cast<FloatingPlanesWork*>(context);
    if (w.nextPlane > w.planes) return false;
    item.firstNumber = w.nextPlane;
    item.count = std::min(kFacesPerItem, w.planes - w.nextPlane + 1);
    w.nextPlane += item.count;
    return true;
}

// "f 4k 4k-1 4k-2 4k-3" from two counters, 4k and 4k-3, each moved on by
// four a face: 4k-1 and 4k-2 differ from 4k in the last digit only, or, where
// 4k ends in 0 or 2, from 4k-3.
char* PutPlaneFace(char* p, const VertexCounter& fourK, const VertexCounter& fourKLess3) {
    *p++ = 'f';
    *p++ = ' ';
    p = PutCounter(p, fourK);
    const char last = fourK.last;
    const char lowLast = fourKLess3.last;
    p = last >= '1' ? PutCounterWithLastDigit(p, fourK, static_cast<char>(last - 1))
                    : PutCounterWithLastDigit(p, fourKLess3, static_cast<char>(lowLast + 2));
    p = last >= '2' ? PutCounterWithLastDigit(p, fourK, static_cast<char>(last - 2))
                    : PutCounterWithLastDigit(p, fourKLess3, static_cast<char>(lowLast + 1));
    p = PutCounter(p, fourKLess3);
    p[-1] = '\r';
    *p++ = '\n';
    return p;
}

void WritePlaneFaces(void* context, const WorkItem& item, PipelineSink& sink) {
    const int64_t planes = static_cast<FloatingPlanesWork*>(context)->planes;
    const int64_t last = item.firstNumber + item.count - 1;
    VertexCounter fourK, fourKLess3;
    StartVertexCounter(fourK, 4 * item.firstNumber);
    StartVertexCounter(fourKLess3, 4 * item.firstNumber - 3);
    for (int64_t k = item.firstNumber; k <= last; ++k) {
        char* p = ReserveSinkBytes(sink, kCounterFaceLineBytes);
        if (p == nullptr) return;
        CommitSinkBytes(sink, PutPlaneFace(p, fourK, fourKLess3));
        AdvanceCounter(fourK, 4);
        AdvanceCounter(fourKLess3, 4);
        sink.progress = k;
        if (ProgressStepsAt(k, planes) || SegmentIsFull(sink)) EndSinkSegment(sink);
        if ((k & 1023) == 0 && SinkStopped(sink)) return;
    }
}

void SetPlaneColumnTexts(FloatingPlanesWork& w) {
    const MeshPass& pass = *w.pass;
    const RegionWindow& region = pass.request.region;
    const int64_t lastCached =
        std::min<int64_t>({region.xMax, std::max<int64_t>(pass.request.header.ncols, region.xMin),
                           int64_t{region.xMin} + kMaxCachedColumns - 1});
    for (int64_t column = region.xMin; column <= lastCached; ++column) {
        AddColumnText(w.westTexts, pass.geometry, column, false);
        AddColumnText(w.eastTexts, pass.geometry, column, true);
    }
    w.cachedColumns = std::max<int64_t>(0, lastCached - region.xMin + 1);
}

void RunPlaneVertexPass(MeshPass& pass) {
    const RegionWindow& region = pass.request.region;
    if (RegionIsEmpty(region)) return;
    FloatingPlanesWork w;
    w.pass = &pass;
    w.reader = RegionRowReader(pass, region.yMax, false);
    SetPlaneColumnTexts(w);
    const PipelineWork work{&w, ReadPlaneRowBlock, ConvertPlaneRows};
    RunRowPass(pass, work, w.reader, NumberTextsBytes(w.westTexts) + NumberTextsBytes(w.eastTexts));
}

void RunPlaneFacePass(MeshPass& pass) {
    FloatingPlanesWork w;
    w.pass = &pass;
    w.planes = pass.counts.quads;
    const PipelineWork work{&w, TakePlaneFaces, WritePlaneFaces};
    RunFacePass(pass, work, w.planes);
}

}  // namespace

const MeshMethodPasses kFloatingPlanesPasses = {L"__floating_planes.obj", RunPlaneVertexPass, RunPlaneFacePass};

// Floating planes: every valid cell of the region becomes its own flat quad
// with four private vertices, at the cell's corners and its height. The
// workers take blocks of whole lines; each hands its planes' vertices to the
// format as it reads the values. Memory follows neither the grid nor the
// region: the job's chunks, the work items' lines and the format's tables.
#include <algorithm>
#include <string_view>

#include "mesh/mesh_passes.h"

namespace {

constexpr int64_t kFacesPerItem = 32768;

struct FloatingPlanesWork {
    const MeshPass* pass = nullptr;
    RowBlockReader reader;
    int64_t nextPlane = 1;  // face pass: the next plane to hand out
    // Face pass: the planes of the vertex pass. The workers read this copy,
    // not the pass's count, which the writer keeps adding to.
    int64_t planes = 0;
};

// One region row: a plane for every valid value from region.xMin to
// region.xMax, its corners north-west, north-east, south-east, south-west;
// the cells the row does not supply are counted missing. False when the job
// stops.
bool ConvertPlaneRow(FloatingPlanesWork& w, VertexBatch& batch, int64_t row, std::string_view line) {
    const MeshPass& pass = *w.pass;
    const RegionWindow& region = pass.request.region;
    const float scale = pass.geometry.heightScale;
    JobCounts& counts = batch.sink.counts;
    const int64_t supplied = ForEachRowValue(line, std::max(region.xMin, 1), region.xMax, [&](int64_t column, float value) {
        if (IsFloatingNodata(value, pass.request.header)) {
            counts.nodata += 1;
            return true;
        }
        counts.quads += 1;
        counts.vertices += 4;
        return AddCellCorners(batch, column, row, value * scale);
    });
    if (supplied < 0) return false;
    counts.missing += PromisedCells(pass.header, pass.region, row, row, supplied + 1);
    return FlushVertices(batch);
}

bool ReadPlaneRowBlock(void* context, WorkItem& item) {
    return ReadRowBlock(static_cast<FloatingPlanesWork*>(context)->reader, item);
}

void ConvertPlaneRows(void* context, const WorkItem& item, PipelineSink& sink) {
    FloatingPlanesWork& w = *static_cast<FloatingPlanesWork*>(context);
    VertexBatch batch(*w.pass->writer, sink);
    ConvertBlockRows(*w.pass, item, item.text.data(), sink,
                     [&](int64_t row, std::string_view line) { return ConvertPlaneRow(w, batch, row, line); });
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

// Plane k's vertices are 4k - 4 to 4k - 1 (from 0): its face runs back from
// the south-west corner, counter-clockwise seen from above.
void WritePlaneFaces(void* context, const WorkItem& item, PipelineSink& sink) {
    const FloatingPlanesWork& w = *static_cast<FloatingPlanesWork*>(context);
    FaceBatch batch(*w.pass->writer, sink, 4);
    const int64_t last = item.firstNumber + item.count - 1;
    int64_t nextStep = NextProgressStep(item.firstNumber - 1, w.planes);
    for (int64_t k = item.firstNumber; k <= last; ++k) {
        if (!AddQuad(batch, 4 * k - 1, 4 * k - 2, 4 * k - 3, 4 * k - 4)) return;
        const bool steps = k == nextStep;
        if (steps || (k & 1023) == 0) {
            if (!FlushFaces(batch)) return;
            sink.progress = k;
            if (steps) nextStep = NextProgressStep(k, w.planes);
            if (steps || SegmentIsFull(sink)) EndSinkSegment(sink);
            if (SinkStopped(sink)) return;
        }
    }
    if (!FlushFaces(batch)) return;
    sink.progress = last;
}

void RunPlaneVertexPass(MeshPass& pass) {
    const RegionWindow& region = pass.request.region;
    if (RegionIsEmpty(region)) return;
    FloatingPlanesWork w;
    w.pass = &pass;
    w.reader = RegionRowReader(pass, region.yMax);
    const PipelineWork work{&w, ReadPlaneRowBlock, ConvertPlaneRows};
    RunRowPass(pass, work, w.reader, pass.writer->TableBytes());
}

void RunPlaneFacePass(MeshPass& pass) {
    FloatingPlanesWork w;
    w.pass = &pass;
    w.planes = pass.counts.quads;
    const PipelineWork work{&w, TakePlaneFaces, WritePlaneFaces};
    RunFacePass(pass, work, w.planes);
}

}  // namespace

const MeshMethodPasses kFloatingPlanesPasses = {L"__floating_planes", FaceKind::Quads, RunPlaneVertexPass,
                                                RunPlaneFacePass};

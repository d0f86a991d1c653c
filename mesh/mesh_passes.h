// What the mesh methods share inside a job: the job's record of its passes
// and the methods' entry points.
#pragma once

#include <memory>

#include "grid/grid_pass.h"
#include "mesh/conversion_job.h"
#include "mesh/mesh_geometry.h"

// A mesh job's record: the grid passes' record, the request and the
// geometry the methods write.
struct MeshPass : GridPass {
    MeshPass(GridStream& gridInput, OutputFile* output, const JobRequest& jobRequest)
        : GridPass(gridInput, output, jobRequest.header, jobRequest.region, jobRequest.workers),
          request(jobRequest) {}

    // Set before the passes, then only read.
    const JobRequest& request;
    MeshGeometry geometry;
    const MeshWriter* writer = nullptr;  // the format's: every worker hands it vertices and faces

    // Written by the job's thread: what a method keeps from its vertex pass
    // for its face pass, and what a simplified mesh reached.
    std::shared_ptr<void> methodState;
    double maxErrorReached = 0.0;
    int64_t interpolatedVertices = 0;  // the vertices the full surface has
    int64_t largestRegionCells = 0;    // a region refused for its size: the most cells that fit
    bool solidFailed = false;          // the surface could not be closed into a solid
};

// A mesh method: its part of the file name, the faces it makes and the two
// passes. Each pass sets up its work and runs it with RunRowPass or
// RunFacePass, handing its vertices and faces to the pass's writer; the job
// has the format write what comes before, between and after them, commits
// and sums up.
struct MeshMethodPasses {
    const wchar_t* nameSuffix;  // "__interpolated": after the grid's stem, before the format's extension
    FaceKind faces;
    void (*vertexPass)(MeshPass& pass);
    void (*facePass)(MeshPass& pass);
};
// Whether a job converts a tile with its ring: the whole grid, with cells
// of the set around it.
inline bool UsesTileRing(const JobRequest& r) {
    return r.tileRing != nullptr && r.tileRing->any && r.region.xMin == 1 && r.region.yMin == 1 &&
           r.region.xMax == r.header.ncols && r.region.yMax == r.header.nrows &&
           r.tileRing->cols == r.header.ncols && r.tileRing->rows == r.header.nrows &&
           r.tileRing->north[1].size() == static_cast<std::size_t>(r.header.ncols) + 4 &&
           r.tileRing->west[1].size() == static_cast<std::size_t>(r.header.nrows);
}

// The normal the Interpolated surface has at a corner: from the heights of
// the 3 x 3 corners around it as written (z[row][column], north row and
// west column first) and which of the four cells around it are valid
// (north-west, north-east, south-west, south-east). With all four the four
// quads' normals summed in single precision, else the valid ones' in double
// precision; made unit length. A tile's corner gets the whole set's normal
// from the whole set's corners and cells.
void CornerNormal(const float z[3][3], const bool valid[4], double dx, double dy, float normal[3]);

extern const MeshMethodPasses kInterpolatedPasses;
extern const MeshMethodPasses kFloatingPlanesPasses;
extern const MeshMethodPasses kSimplifiedPasses;  // triangles: counts.triangles

// The machine's memory, which bounds what a method keeps at once.
int64_t PhysicalMemoryBytes();

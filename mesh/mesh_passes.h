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
    MeshPass(GridStream& gridInput, OutputFile& output, const JobRequest& jobRequest)
        : GridPass(gridInput, output, jobRequest.header, jobRequest.region, jobRequest.workers),
          request(jobRequest) {}

    // Set before the passes, then only read.
    const JobRequest& request;
    MeshGeometry geometry;

    // Written by the job's thread: what a method keeps from its vertex pass
    // for its face pass, and what a simplified mesh reached.
    std::shared_ptr<void> methodState;
    double maxErrorReached = 0.0;
    int64_t interpolatedVertices = 0;  // the vertices the full surface has
    int64_t largestRegionCells = 0;    // a region refused for its size: the most cells that fit
};

// A mesh method: the file name's suffix and the two passes. Each pass sets
// up its work and runs it with RunRowPass or RunFacePass; the job writes the
// header, the count comments and names, commits and sums up.
struct MeshMethodPasses {
    const wchar_t* fileSuffix;
    void (*vertexPass)(MeshPass& pass);
    void (*facePass)(MeshPass& pass);
};
extern const MeshMethodPasses kInterpolatedPasses;
extern const MeshMethodPasses kFloatingPlanesPasses;
extern const MeshMethodPasses kSimplifiedPasses;  // triangles: counts.triangles, "# N triangles"
